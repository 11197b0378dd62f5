#include "editor/Form2.h"

#include "editor/My.h"
#include "gui/FontScale.h"
#include "gui/FramesAtAnyScale.h"
#include "gui/MessageBox.h"
#include "gui/PictureBox.h"
#include "gui/ReaderViews.h"
#include "store/records/Queries.h"
#include "store/records/RecordSource.h"
#include "store/records/Statements.h"
#include "store/register/Register.h"
#include "ui_Form2.h"

#include <QFile>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QScreen>
#include <QSignalBlocker>
#include <QTimer>

namespace tarvik {
namespace {

const QString kShortTitle = QStringLiteral("Tarvik");
const QString kTitle = QStringLiteral("Тарвик");
const QString kPackageName = QStringLiteral("vrachYZD");
constexpr int kTwipsPerPixel = 15;
constexpr int kFirstFocusMs = 100;

// Where the edit dialog's controls stand apart from the new-part dialog's, in twips; a zero
// width keeps the size.
struct Placement {
    const char* name;
    int left, top, width = 0, height = 0;
};
constexpr int kEditClientWidth = 8880;
constexpr int kEditClientHeight = 6285;
constexpr Placement kEditPlacements[] = {
    {"Label1", 360, 120},       {"Label2", 360, 645},
    {"Fam", 1800, 600},         {"Label3", 360, 1245},
    {"DBCombo8", 1800, 1200},   {"Label5", 3840, 1245},
    {"txtVozrast", 4920, 1200}, {"Label4", 6720, 1245},
    {"Cena", 7320, 1200},       {"txtDisc", 4560, 2400, 4095, 2850},
    {"cmdAdd1", 2280, 5640},    {"Exit", 5040, 5640},
};

bool isDigits(const QString& text)
{
    if (text.isEmpty())
        return false;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    return true;
}

// A price may have a fractional part (stored prices such as "12,5" exist); it takes one
// decimal comma, kept as typed, as the main window reads it. A second one is swallowed.
bool takesDecimalComma(const QLineEdit& price, const QString& typed)
{
    if (typed != QStringLiteral(","))
        return false;
    QString kept = price.text();
    if (price.hasSelectedText())
        kept.remove(price.selectionStart(), price.selectedText().size());
    return !kept.contains(QLatin1Char(','));
}

} // namespace

Form2::Form2(Register& reg, const ProgramPaths& paths, PartSaver save, QWidget* parent)
    : Form2(reg, paths, std::nullopt, PartRow(), std::move(save), parent)
{
}

Form2::Form2(Register& reg, const ProgramPaths& paths, const PartRow& shown, const PartRow& stored,
             PartSaver save, QWidget* parent)
    : Form2(reg, paths, std::optional<PartRow>(shown), stored, std::move(save), parent)
{
}

Form2::Form2(Register& reg, const ProgramPaths& paths, std::optional<PartRow> shown,
             const PartRow& stored, PartSaver save, QWidget* parent)
    : QDialog(parent),
      ui(std::make_unique<Ui::Form2>()),
      m_current(std::move(shown)),
      m_stored(stored),
      m_paths(paths),
      m_save(std::move(save)),
      m_data5(new RecordSource(this)),
      m_timer1(new QTimer(this)),
      m_picturePath(paths.temporaryPicturePath())
{
    ui->setupUi(this);
    m_data5->setObjectName(QStringLiteral("Data5"));
    m_timer1->setObjectName(QStringLiteral("Timer1"));
    if (m_current)
        placeForEditing();
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    placesFollowFontSize(*this);
    keepTextFramesWhole(*this);
    setFixedSize(size());
    centreOnScreen();

    // The list is a view of Data5; its text is the user's, kept through every re-query.
    QComboBox* combo = ui->DBCombo8;
    combo->setCompleter(nullptr);
    combo->setModel(m_data5);
    showReadersNamedChoice(*combo);
    ui->txtVozrast->installEventFilter(this);
    ui->Cena->installEventFilter(this);

    OpenResult opened = m_data5->open(reg);
    if (m_current)
        fill(*m_current);
    else if (opened.ok() || opened.problem == OpenProblem::ReadOnly) {
        opened = reg.connect(m_handle); // only this dialog warns of a stored name
    }
    // A problem of the file itself was told when the program started; this one is new.
    if (!opened.ok() && opened.problem != OpenProblem::ReadOnly &&
        reg.checkResult().problem == OpenProblem::None)
        MessageBox::show(parent, QMessageBox::Warning, kTitle,
                         withDetail(QStringLiteral("Список типов корпусов не прочитан."),
                                    engineDetail(opened.detail)),
                         QMessageBox::Ok);
    // Until the first choice the list holds every type as stored, also those without a name.
    listPackageTypes(Statements::packageTypes());

    connect(combo, &QComboBox::editTextChanged, this, &Form2::choosePackage);
    connect(ui->cmdAdd1, &QPushButton::clicked, this, &Form2::save);
    connect(ui->Exit, &QPushButton::clicked, this, &Form2::reject);

    // The focus starts on the first tab stop, OK, and moves to the name once the dialog is up.
    ui->cmdAdd1->setFocus();
    m_timer1->setSingleShot(true);
    m_timer1->setInterval(kFirstFocusMs);
    connect(m_timer1, &QTimer::timeout, ui->Fam, [this] { ui->Fam->setFocus(); });
    m_timer1->start();
}

Form2::~Form2() = default;

void Form2::reject()
{
    // Not while a save runs: the part would be stored after the dialog said it was not.
    if (!m_saving)
        QDialog::reject();
}

void Form2::placeForEditing()
{
    setObjectName(QStringLiteral("Form12"));
    setWindowTitle(QStringLiteral("Изменение данных"));
    ui->cmdAdd1->setText(QStringLiteral("ОК")); // Cyrillic О and К
    ui->cmdAdd1->setAccessibleName(ui->cmdAdd1->text());
    resize(kEditClientWidth / kTwipsPerPixel, kEditClientHeight / kTwipsPerPixel);
    for (const Placement& place : kEditPlacements) {
        QWidget* widget = findChild<QWidget*>(QLatin1String(place.name));
        widget->move(place.left / kTwipsPerPixel, place.top / kTwipsPerPixel);
        if (place.width > 0)
            widget->resize(place.width / kTwipsPerPixel, place.height / kTwipsPerPixel);
    }
    // Here the name comes right after the buttons, the price last before the package.
    const QWidget* order[] = {ui->cmdAdd1, ui->Exit, ui->Fam,     ui->txtVozrast,
                              ui->txtDisc, ui->Cena, ui->DBCombo8};
    for (size_t i = 1; i < std::size(order); ++i)
        setTabOrder(const_cast<QWidget*>(order[i - 1]), const_cast<QWidget*>(order[i]));
}

void Form2::fill(const PartRow& part)
{
    ui->Fam->setText(part.idFam);
    ui->txtVozrast->setText(part.phone);
    ui->Cena->setText(part.pol);
    ui->txtDisc->setPlainText(part.sorp);
    // The shown package text is looked up like a choice; when it names no type, the part
    // keeps the type it has.
    m_chosenPackage = part.PhotoN;
    ui->DBCombo8->setEditText(part.datebir);
    choosePackage(part.datebir);
}

void Form2::centreOnScreen()
{
    const QScreen* screen =
        parentWidget() ? parentWidget()->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    QRect frame(QPoint(), size());
    frame.moveCenter(screen->availableGeometry().center());
    move(frame.topLeft());
}

// ---- package choice ---------------------------------------------------------------------

void Form2::listPackageTypes(const Statement& statement)
{
    QComboBox* combo = ui->DBCombo8;
    const QString text = combo->currentText();
    const int cursor = combo->lineEdit()->cursorPosition();
    const QSignalBlocker quiet(combo);
    m_data5->setStatement(statement);
    m_data5->refresh();
    if (const int column = m_data5->columnOf(kPackageName); column >= 0)
        combo->setModelColumn(column);
    // A re-read list puts its first name into the box; the user's text goes back.
    combo->setCurrentIndex(-1);
    combo->setEditText(text);
    combo->lineEdit()->setCursorPosition(cursor);
}

void Form2::choosePackage(const QString& text)
{
    // The type of that name, whatever its letter case; none keeps the type chosen before.
    listPackageTypes(Statements::packageTypeNamed(text));
    if (m_data5->hasCurrent())
        m_chosenPackage = m_data5->field(kPackageName).toString();

    listPackageTypes(Statements::packageTypeNamed(m_chosenPackage));
    m_pictureData = m_data5->hasCurrent() ? m_data5->field(QStringLiteral("Photo1")).toByteArray()
                                          : QByteArray();
    showStoredPicture(*ui->Image2, m_pictureData, m_picturePath);

    // From the first choice on, the list holds the named types by name.
    listPackageTypes(Statements::namedPackageTypesByName());
}

// ---- typing -------------------------------------------------------------------------------

bool Form2::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress && (watched == ui->txtVozrast || watched == ui->Cena))
        return filterKey(watched, static_cast<QKeyEvent*>(event));
    return QDialog::eventFilter(watched, event);
}

bool Form2::filterKey(QObject* box, QKeyEvent* key)
{
    // Keys that type no character (arrows, Home, Delete, Tab) keep working as usual.
    const int code = key->key();
    if (key->text().isEmpty() || code == Qt::Key_Tab || code == Qt::Key_Backtab ||
        code == Qt::Key_Delete)
        return false;
    const bool passes = code == Qt::Key_Backspace || isDigits(key->text()) ||
                        (box == ui->Cena && takesDecimalComma(*ui->Cena, key->text()));
    if (box == ui->txtVozrast && !m_current)
        warnIfNameStored();
    return !passes;
}

void Form2::warnIfNameStored()
{
    // A reminder only: the same name may still be saved again.
    if (partNamedExactly(m_handle, ui->Fam->text()).value_or(false))
        MessageBox::show(this, QMessageBox::NoIcon, kShortTitle,
                         QStringLiteral("Такой элемент уже есть в базе!!!"), QMessageBox::Ok);
}

// ---- saving -------------------------------------------------------------------------------

bool Form2::validate()
{
    const char* missing = nullptr;
    if (ui->Fam->text().isEmpty())
        missing = "Вы не заполнили наименование";
    else if (ui->txtVozrast->text().isEmpty())
        missing = "Вы не выбрали количество";
    if (missing)
        MessageBox::show(this, QMessageBox::NoIcon, kTitle, QString::fromUtf8(missing),
                         QMessageBox::Ok);
    return !missing;
}

void Form2::save()
{
    if (m_saving || !validate())
        return;
    // The key routine lets waiting events through once: a second click must find OK off.
    m_saving = true;
    ui->cmdAdd1->setEnabled(false);

    // Taken as they stand at the click, so that the key always belongs to the stored name.
    PartRow part;
    part.idFam = ui->Fam->text();
    part.PhotoN = m_chosenPackage;
    part.pol = ui->Cena->text();
    part.datebir = ui->DBCombo8->currentText().toUpper();
    part.phone = ui->txtVozrast->text();
    part.sorp = ui->txtDisc->toPlainText();
    ui->Text1->setText(My::MakeKont(part.idFam));
    part.kont = ui->Text1->text();
    m_part = part;
    // The row is stored whole or not at all, and an edit only over the row as it was opened.
    const PartSaved saved =
        m_save(part, m_current ? std::optional<PartRow>(m_stored) : std::nullopt);
    if (saved.outcome != PartSaved::Outcome::Saved) {
        m_saving = false;
        ui->cmdAdd1->setEnabled(true);
        // Turned off, it gave the focus to "Отмена": the next Enter would throw the input away
        // where the message says to press OK again.
        ui->cmdAdd1->setFocus();
        if (saved.outcome == PartSaved::Outcome::ChangedElsewhere)
            return changedElsewhere(saved.storedNow);
        MessageBox::show(this, QMessageBox::Warning, kTitle,
                         QStringLiteral("Деталь не сохранена: %1").arg(saved.reason),
                         QMessageBox::Ok);
        return;
    }
    QFile::remove(m_picturePath);
    m_saving = false;
    accept();
}

void Form2::changedElsewhere(const PartRow& now)
{
    // Nothing was written and the input stays: the user decides with the stored row in view.
    const auto answer = MessageBox::show(
        this, QMessageBox::Warning, kTitle,
        QStringLiteral("Запись изменена другой программой. Ничего не сохранено, введённое "
                       "осталось в окне.\n\nПоказать, что записано в базе сейчас?"),
        QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes);
    if (answer == QMessageBox::Yes)
        MessageBox::show(this, QMessageBox::Information, kTitle,
                         QStringLiteral("Сейчас в базе:\nНаименование: %1\nКорпус: %2\n"
                                        "Количество: %3\nЦена: %4\nДоп. информация: %5\n\n"
                                        "Нажмите «ОК» ещё раз, чтобы записать введённое вместо "
                                        "этого.")
                             .arg(now.idFam, now.datebir, now.phone, now.pol, now.sorp),
                         QMessageBox::Ok);
    // The next OK is made knowing what is stored now.
    m_stored = now;
}

} // namespace tarvik

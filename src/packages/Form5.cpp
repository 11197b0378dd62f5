#include "packages/Form5.h"

#include "gui/ClickSignal.h"
#include "gui/FileDialog.h"
#include "gui/FontScale.h"
#include "gui/MessageBox.h"
#include "gui/PictureBox.h"
#include "gui/RecordGrid.h"
#include "gui/WaitCursor.h"
#include "packages/PictureWindows.h"
#include "store/records/PictureText.h"
#include "store/records/Queries.h"
#include "store/records/RecordSource.h"
#include "store/register/Register.h"
#include "store/text/TextFold.h"
#include "ui_Form5.h"

#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QLocale>
#include <QScreen>
#include <QStyle>

namespace tarvik {
namespace {

const QString kTitle = QStringLiteral("Тарвик радиодеталей");
// One entry: its description, then the patterns Qt's dialog matches; the dialog shows the
// description alone.
const QString kPictureFilter =
    QStringLiteral("*(*.bmp;*.jpg;*.gif;*.jpeg) (*.bmp *.jpg *.gif *.jpeg)");

const QString kName = QStringLiteral("vrachYZD");
const QString kNumber = QStringLiteral("IDvrachYZD");
const QString kYzdId = QStringLiteral("yzdID");
const QString kPicture = QStringLiteral("Photo1");

QString megabytes(qint64 bytes)
{
    return QLocale().toString(double(bytes) / (1024 * 1024), 'f', 1);
}

} // namespace

Form5::Form5(const ProgramPaths& paths, Register& reg, QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                         Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      ui(std::make_unique<Ui::Form5>()),
      m_paths(paths),
      m_data13(new RecordSource(this))
{
    ui->setupUi(this);
    placesFollowFontSize(*this);
    setFixedSize(size());
    if (const QScreen* where = owner ? owner->screen() : QGuiApplication::primaryScreen())
        setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, size(),
                                        where->availableGeometry()));

    setUpGrid();
    connect(ui->cPhoto, &QPushButton::clicked, this, &Form5::choosePicture);
    connect(ui->cmdAdd4, &QPushButton::clicked, this, &Form5::addType);
    connect(ui->Select, &QPushButton::clicked, this, &Form5::editType);
    connect(ui->cmdExit12, &QPushButton::clicked, this, &QDialog::accept);
    connect(ClickSignal::of(ui->Image1), &ClickSignal::clicked, this, &Form5::openPicture);
    load(reg);
}

Form5::~Form5() = default;

void Form5::load(Register& reg)
{
    OpenResult opened = m_data13->open(reg);
    if (m_data13->isOpen())
        opened = reg.connect(m_database); // new types are added through it
    m_data13->setStatement(Statements::packageTypesByName());
    m_data13->refresh();
    if (!m_data13->isOpen() || !m_database.isOpen())
        MessageBox::show(this, QMessageBox::Warning, kTitle,
                         describeOpenProblem(reg.path(), opened), QMessageBox::Ok);
}

void Form5::setUpGrid()
{
    m_data13->setCaption(kName, QStringLiteral("Корпус"));
    m_data13->setShownFields({kNumber, kName});
    showAsRecordGrid(*ui->TDBGrid3, *m_data13, [this](int row) { onRowChange(row); });
    ui->TDBGrid3->horizontalHeader()->setSectionsClickable(false);
    connect(m_data13, &QAbstractItemModel::modelReset, this, &Form5::onGridReset);
}

void Form5::onGridReset()
{
    // Two columns, the name first; which fields exist is known once the table is read.
    QHeaderView* header = ui->TDBGrid3->horizontalHeader();
    const int nameColumn = m_data13->columnOf(kName);
    const int numberColumn = m_data13->columnOf(kNumber);
    for (int column = 0; column < m_data13->columnCount(); ++column)
        ui->TDBGrid3->setColumnHidden(column, column != nameColumn && column != numberColumn);
    if (nameColumn >= 0) {
        header->moveSection(header->visualIndex(nameColumn), 0);
        header->setSectionResizeMode(nameColumn, QHeaderView::Stretch);
    }
    if (numberColumn >= 0) {
        // As wide as its caption; measuring the numbers would read every row.
        header->setSectionResizeMode(numberColumn, QHeaderView::Fixed);
        header->resizeSection(numberColumn, header->sectionSizeHint(numberColumn));
    }

    if (m_data13->recordCount() == 0) {
        m_pictureData.clear();
        ui->Image1->clear();
        return;
    }
    ui->TDBGrid3->setCurrentIndex(m_data13->index(0, std::max(nameColumn, 0)));
}

// ---- the selected type's picture ----------------------------------------------------------

void Form5::onRowChange(int row)
{
    WaitCursor wait;
    // A refresh has just read its first row; any other row is read now.
    if (row != m_data13->currentRow() || !m_data13->hasCurrent())
        m_data13->setCurrentRow(row);
    showCurrentPicture();
}

void Form5::showCurrentPicture()
{
    m_pictureData = m_data13->hasCurrent() ? m_data13->field(kPicture).toByteArray() : QByteArray();
    if (m_pictureData.isEmpty()) {
        ui->Image1->clear();
        return;
    }
    // Bytes that are no picture show none, never the previous type's picture under this name.
    showStoredPicture(*ui->Image1, m_pictureData, m_paths.temporaryPicturePath());
}

void Form5::openPicture()
{
    const QPixmap shown = ui->Image1->pixmap();
    if (shown.isNull())
        return; // nothing to enlarge
    // A preview of a chosen file belongs to no type yet: it is named by its file.
    const QString name = !m_chosenPicture.isEmpty() ? QFileInfo(m_chosenPicture).fileName()
                         : m_data13->hasCurrent()   ? m_data13->field(kName).toString()
                                                    : QString();
    picView1 window(shown, name, this);
    window.exec();
}

// ---- "Фото" -------------------------------------------------------------------------------

void Form5::choosePicture()
{
    const QString folder =
        m_chosenPicture.isEmpty() ? QString() : QFileInfo(m_chosenPicture).absolutePath();
    const QString chosen = FileDialog::getOpenFileName(this, QStringLiteral("Рисунок корпуса"),
                                                       folder, kPictureFilter);
    if (!chosen.isEmpty()) {
        const PictureFile file = readPictureFile(chosen, pictureBoundFor(*ui->Image1));
        if (file.ok()) {
            m_chosenPicture = chosen;
            ui->Image1->setPixmap(QPixmap::fromImage(file.image)); // a 0-byte file: empty
            return;
        }
        refuse(chosen, file, QStringLiteral("Выберите другой файл."));
    }
    // Cancelled or refused: the earlier choice stands and is shown again.
    previewChosen();
}

void Form5::previewChosen()
{
    const PictureFile file = m_chosenPicture.isEmpty()
                                 ? PictureFile()
                                 : readPictureFile(m_chosenPicture, pictureBoundFor(*ui->Image1));
    if (file.ok() && !file.image.isNull())
        ui->Image1->setPixmap(QPixmap::fromImage(file.image));
    else
        ui->Image1->clear();
}

QString Form5::fallbackPicturePath(const QString& name) const
{
    return m_paths.resolve(name + QStringLiteral(".jpg"));
}

std::optional<QByteArray> Form5::pictureToStore(const QString& path, const QString& refusedWhat)
{
    // Decoded only to prove it is a picture: at the size it would be shown.
    const PictureFile file = readPictureFile(path, pictureBoundFor(*ui->Image1));
    // No file named after the type, and none chosen: the type simply has no picture.
    if (file.problem == PictureProblem::Missing && m_chosenPicture.isEmpty())
        return QByteArray();
    if (!file.ok()) {
        refuse(path, file, refusedWhat);
        return std::nullopt;
    }
    return file.bytes;
}

void Form5::refuse(const QString& path, const PictureFile& file, const QString& consequence)
{
    const QString name = QDir::toNativeSeparators(path);
    QString reason;
    switch (file.problem) {
    case PictureProblem::None:
        return;
    case PictureProblem::Missing:
        reason = QStringLiteral("Файл «%1» не найден.").arg(name);
        break;
    case PictureProblem::Unreadable:
        reason = file.detail.isEmpty()
                     ? QStringLiteral("Не удалось прочитать файл «%1».").arg(name)
                     : QStringLiteral("Не удалось прочитать файл «%1»: %2.").arg(name, file.detail);
        break;
    case PictureProblem::TooLarge:
        reason = QStringLiteral("Файл «%1» слишком велик (%2 МБ): рисунок корпуса может занимать "
                                "не более %3 МБ.")
                     .arg(name, megabytes(file.fileSize),
                          QString::number(PictureLimits::kMaxFileBytes / (1024 * 1024)));
        break;
    case PictureProblem::NotAPicture:
        reason = QStringLiteral("Файл «%1» не является рисунком BMP, JPEG или GIF.").arg(name);
        break;
    case PictureProblem::TooManyPixels:
        reason = QStringLiteral("Рисунок «%1» слишком велик (%2 × %3 точек): допускается не более "
                                "%4 миллионов точек и не более %5 точек по каждой стороне.")
                     .arg(name)
                     .arg(file.size.width())
                     .arg(file.size.height())
                     .arg(PictureLimits::kMaxPixels / 1'000'000)
                     .arg(PictureLimits::kMaxSide);
        break;
    }
    MessageBox::show(this, QMessageBox::Warning, kTitle, reason + QLatin1Char(' ') + consequence,
                     QMessageBox::Ok);
}

// ---- "Добавить новую" and "Редактировать" -------------------------------------------------

void Form5::askForName()
{
    MessageBox::show(this, QMessageBox::NoIcon, kTitle, QStringLiteral("Заполните тип корпуса"),
                     QMessageBox::Ok);
}

void Form5::addType()
{
    const QString name = ui->Text1->text();
    if (name.isEmpty()) // checked first: the choice stays for the next try
        return askForName();
    const QString path = m_chosenPicture.isEmpty() ? fallbackPicturePath(name) : m_chosenPicture;
    const auto picture = pictureToStore(path, QStringLiteral("Тип корпуса не добавлен."));
    if (!picture)
        return;

    const PackageTypeWrite added =
        addPackageType(m_database, upperCaseLetters(name), QFileInfo(path).fileName(), *picture);
    if (!added.ok) {
        const QString detail = added.error.isValid() ? engineDetail(added.error) : added.reason;
        MessageBox::show(
            this, QMessageBox::Warning, kTitle,
            withDetail(QStringLiteral("Не удалось добавить тип корпуса «%1».").arg(name), detail),
            QMessageBox::Ok);
        return; // the name and the choice stay for another try
    }
    m_pictureData = *picture;
    {
        WaitCursor wait;
        m_data13->refresh();
    }
    ui->Text1->clear();
    m_chosenPicture.clear();
}

void Form5::editType()
{
    if (!m_data13->hasCurrent())
        return; // an empty list: nothing to change
    const QString name = m_data13->field(kName).toString();
    ui->Text1->setText(name);
    if (name.isEmpty())
        return askForName();
    const QString path = m_chosenPicture.isEmpty() ? fallbackPicturePath(name) : m_chosenPicture;
    const auto picture = pictureToStore(path, QStringLiteral("Рисунок типа не изменён."));
    if (!picture)
        return;
    std::optional<TypePicture> newPicture = TypePicture{QFileInfo(path).fileName(), *picture};
    // Nothing to put in its place: one click must not take the picture from every part of
    // the type unasked.
    if (picture->isEmpty() && m_chosenPicture.isEmpty() &&
        !m_data13->field(kPicture).toByteArray().isEmpty() &&
        MessageBox::show(this, QMessageBox::Question, kTitle,
                         QStringLiteral("Рисунок не выбран, и файла «%1» нет. Убрать рисунок у "
                                        "типа «%2»?")
                             .arg(QFileInfo(path).fileName(), name),
                         QMessageBox::Yes | QMessageBox::No, QMessageBox::No) != QMessageBox::Yes)
        newPicture.reset();

    const PackageTypeWrite changed =
        changePackageType(m_database, m_data13->currentKey(), upperCaseLetters(name), newPicture);
    // The list shows what the file holds: a row deleted meanwhile leaves it.
    const bool listed = m_data13->rereadCurrent();
    if (!changed.ok) {
        MessageBox::show(
            this, QMessageBox::Warning, kTitle,
            QStringLiteral("Не удалось изменить тип корпуса «%1»: %2").arg(name, changed.failure()),
            QMessageBox::Ok);
        if (!listed) {
            WaitCursor wait;
            m_data13->refresh();
        }
        return;
    }
    ui->Text1->clear();
    m_chosenPicture.clear();
    WaitCursor wait;
    showCurrentPicture(); // the picture as stored now, also when none was chosen
}

} // namespace tarvik

#include "app/Form1.h"

#include "app/ButtonIcons.h"
#include "gui/FontScale.h"
#include "gui/FramesAtAnyScale.h"
#include "gui/MessageBox.h"
#include "gui/PictureBox.h"
#include "gui/RecordGrid.h"
#include "gui/Version.h"
#include "gui/WaitCursor.h"
#include "store/records/PictureText.h"
#include "store/records/Queries.h"
#include "store/records/RecordSource.h"
#include "store/register/DamageCheck.h"
#include "store/register/Register.h"
#include "store/search/NameCopy.h"
#include "store/search/StockFigures.h"
#include "store/text/NumberText.h"
#include "ui_Form1.h"

#include <QCloseEvent>
#include <QHeaderView>
#include <QMenuBar>
#include <QStatusBar>
#include <QTimer>

namespace tarvik {
namespace {

// The whole file is checked once the window has been shown and filled.
constexpr int kDamageCheckDelayMs = 2000;
// Read before the window is shown: more than the tallest grid shows. The rest of a long list
// follows in the background.
constexpr int kFirstScreenRows = 128;
// The names are read into memory after the rest of a long list, or this long after the
// window opened, whichever is first.
constexpr int kNamesAtTheLatestMs = 3000;

} // namespace

Form1::Form1(const ProgramPaths& paths, Register& reg, QWidget* parent)
    : QMainWindow(parent),
      ui(std::make_unique<Ui::Form1>()),
      m_paths(paths),
      m_register(reg),
      m_data1(new RecordSource(this)),
      m_data7(new RecordSource(this)),
      m_names(new NameCopy(reg, this)),
      m_figures(new StockFigures(reg, this))
{
    ui->setupUi(this);
    setCentralWidget(ui->clientArea);
    placesFollowFontSize(*ui->clientArea);
    keepTextFramesWhole(*ui->clientArea);
    setUpStock();
    // The controls stand where they were placed; the window may be resized around them.
    resize(ui->clientArea->width(), ui->clientArea->height() + menuBar()->sizeHint().height() +
                                        statusBar()->sizeHint().height());
    ui->nPaz->setIcon(ButtonIcons::newPart());
    ui->iPaz->setIcon(ButtonIcons::editPart());
    ui->dPaz->setIcon(ButtonIcons::deletePart());
    for (QToolButton* button : {ui->nPaz, ui->iPaz, ui->dPaz})
        button->setIconSize(QSize(32, 32));
    setUpGrid();
    connectCommands();
    connectPackageCommands();
    connectServiceCommands();
    connectCsvCommands();
    connectPartDialogs();
    connectListKeys();
    connectChangesElsewhere();
    ui->txtDisc->setReadOnly(true); // until a part is current
    m_names->setObjectName(QStringLiteral("partNames"));
    m_data1->setNameCopy(m_names);
    load();
}

Form1::~Form1() = default;

void Form1::load()
{
    setWindowTitle(
        kTitle + QLatin1Char(' ') +
        QStringLiteral("%1.%2.%3").arg(kVersionMajor).arg(kVersionMinor).arg(kVersionPatch));

    const OpenResult opened = m_register.check();
    if (!opened.ok())
        reportOpenProblem(opened);
    // Locked by another program: nothing is read now (each read would wait in vain);
    // the next action tries again.
    const bool busy = opened.problem == OpenProblem::Busy;
    const OpenResult parts = m_data1->open(m_register);
    m_data1->setStatement(Statements::partsByName());
    if (!busy)
        // The grid asks for the rest once it has painted them.
        m_data1->refreshInStages(kFirstScreenRows, RecordSource::RestStart::WhenAsked);

    const OpenResult types = m_data7->open(m_register);
    m_data7->setStatement(Statements::packageTypes());
    if (!busy)
        m_data7->refresh();

    const OpenResult handle = m_register.connect(m_database);
    // The check opened the file, yet a later connection can still fail (the file replaced
    // meanwhile, no handles left): an empty list must not pass for an empty register.
    if (opened.ok()) {
        for (const OpenResult& each : {parts, types, handle}) {
            if (!each.ok()) {
                reportOpenProblem(each);
                break;
            }
        }
    }
    if (opened.ok() || opened.problem == OpenProblem::ReadOnly)
        startDamageCheck();

    // The first current row is shown once everything it reads from is open.
    m_loaded = true;
    if (m_data1->recordCount() > 0)
        onRowChange(ui->TDBGrid2->currentIndex().row());
}

void Form1::reportOpenProblem(const OpenResult& result)
{
    // Said once, before the window opens: an empty list must not pass for an empty register.
    MessageBox::show(this, QMessageBox::Warning, kTitle,
                     m_register.onServer() ? m_register.describeProblem(result)
                                           : describeOpenProblem(m_paths.databasePath(), result),
                     QMessageBox::Ok);
}

void Form1::setUpGrid()
{
    m_data1->setCaption(QStringLiteral("idFam"), QStringLiteral("Наименование"));
    showAsRecordGrid(*ui->TDBGrid2, *m_data1, [this](int row) { onRowChange(row); });
    ui->TDBGrid2->horizontalHeader()->setStretchLastSection(true);
    connect(m_data1, &QAbstractItemModel::modelReset, this, &Form1::onGridReset);
}

void Form1::onGridReset()
{
    // Only the name column is shown; which fields exist is known once the table is read.
    const int nameColumn = m_data1->columnOf(QStringLiteral("idFam"));
    for (int column = 0; column < m_data1->columnCount(); ++column)
        ui->TDBGrid2->setColumnHidden(column, column != nameColumn);

    if (m_data1->recordCount() == 0) {
        clearDetails();
        return;
    }
    // The first row after a refresh; the same part when the rest of a long list came in.
    ui->TDBGrid2->setCurrentIndex(
        m_data1->index(std::max(m_data1->currentRow(), 0), std::max(nameColumn, 0)));
}

void Form1::connectCommands()
{
    connect(ui->Command1, &QPushButton::clicked, this, &QWidget::close);
    connect(ui->Text5, &QLineEdit::textChanged, this, &Form1::quickSearch);
    connect(m_names, &NameCopy::patternFound, this, &Form1::showPatternFound);
    connect(ui->Reset, &QPushButton::clicked, this, &Form1::showAll);
    connect(ui->plus, &QPushButton::clicked, this, [this] { stepQuantity(+1.0); });
    connect(ui->minus, &QPushButton::clicked, this, [this] { stepQuantity(-1.0); });
    connect(ui->dPaz, &QToolButton::clicked, this, &Form1::deletePart);

    connect(ui->txtDisc, &QPlainTextEdit::textChanged, this, [this] {
        if (!m_fillingDetails)
            m_data1->setPendingField(QStringLiteral("sorp"), ui->txtDisc->toPlainText());
    });
    connect(&m_register, &Register::damageFound, this, &Form1::reportDamage);
    connect(m_data1, &RecordSource::pendingSaveFailed, this, [this](const QString& error) {
        if (m_data1->lastFailureBusy())
            return; // kept for the next try; the action that met the lock says so
        MessageBox::show(this, QMessageBox::Warning, kTitle,
                         QStringLiteral("Не удалось сохранить доп. информацию: %1").arg(error),
                         QMessageBox::Ok);
    });
}

// ---- the current part ------------------------------------------------------------------

void Form1::onRowChange(int row)
{
    if (!m_loaded || m_restoringRow)
        return;
    // A refresh has just read its first row; any other row is read now.
    const bool hasPart =
        row == m_data1->currentRow() ? m_data1->hasCurrent() : m_data1->setCurrentRow(row);
    if (!hasPart && m_data1->lastFailureBusy()) {
        // Nothing of that row could be read: the part shown stays, and so does its row.
        restoreGridRow();
        reportBusy();
        return;
    }
    if (!hasPart) {
        clearDetails();
        return;
    }
    {
        WaitCursor wait;
        fillDetails();

        // Kept for the next refresh that sets no statement of its own (a deletion): that one
        // lists the whole table in stored order.
        m_data1->setStatement(Statements::partsInStoredOrder());

        countRecords();
        if (m_recordCount)
            showRecordCount(QString::number(*m_recordCount));

        showPackagePicture();
        ui->TDBGrid2->viewport()->update();
    }
    showStockValue();
}

void Form1::fillDetails()
{
    const auto text = [this](const char* field) {
        return m_data1->field(QLatin1String(field)).toString();
    };
    m_fillingDetails = true;
    ui->Text1->setText(text("idFam"));
    ui->Text2->setText(text("pol"));
    ui->Text3->setText(text("datebir"));
    ui->Text4->setText(text("phone"));
    // Read again unchanged (another computer's change elsewhere): the cursor stays put.
    if (ui->txtDisc->toPlainText() != text("sorp"))
        ui->txtDisc->setPlainText(text("sorp"));
    ui->txtDisc->setReadOnly(false);
    m_fillingDetails = false;
}

void Form1::clearDetails()
{
    m_fillingDetails = true;
    for (QLineEdit* box : {ui->Text1, ui->Text2, ui->Text3, ui->Text4})
        box->clear();
    ui->txtDisc->clear();
    // Typed text would belong to no part and be lost.
    ui->txtDisc->setReadOnly(true);
    m_fillingDetails = false;
    setShownValue(ui->Label9, {});
    ui->Image2->hide();
}

void Form1::countRecords()
{
    if (auto count = countParts(m_database))
        m_recordCount = count;
}

void Form1::showPackagePicture()
{
    const QString package = m_data1->field(QStringLiteral("PhotoN")).toString();
    m_data7->setStatement(Statements::packageTypeNamed(package));
    m_data7->refresh();
    const QByteArray picture = m_data7->hasCurrent()
                                   ? m_data7->field(QStringLiteral("Photo1")).toByteArray()
                                   : QByteArray();

    const QString temporary = m_paths.temporaryPicturePath();
    if (picture.isEmpty()) {
        // The empty file stays: the next picture overwrites it from its first byte.
        writePictureFile(picture, temporary);
        ui->Image2->hide();
        return;
    }
    ui->Image2->show();
    showStoredPicture(*ui->Image2, picture, temporary);
}

void Form1::showStockValue()
{
    const auto price = parseNumber(ui->Text2->text());
    const auto quantity = parseNumber(ui->Text4->text());
    // Without both numbers there is no value: the last part's figure must not stay.
    setShownValue(ui->Label9, price && quantity ? formatNumber(*price * *quantity) : QString());
}

// ---- search and the full list -----------------------------------------------------------

void Form1::quickSearch(const QString& text)
{
    // A pattern is matched off the window's thread; the list follows when it is found,
    // unless the next keystroke came first (it cancels the search).
    if (m_names->startPatternSearch(text) || text.isEmpty())
        return;
    showPatternFound(text);
}

void Form1::showPatternFound(const QString& text)
{
    if (!recheckIfBusy())
        return;
    // Answered from memory at once when the names are there; otherwise the engine searches
    // off the window's thread, and the next keystroke's search cancels it.
    m_data1->setStatement(Statements::partsWithNameLike(text));
    if (!m_data1->refreshInStages(0) && m_data1->lastFailureBusy())
        reportBusy();
}

void Form1::showAll()
{
    m_names->cancelPatternSearch();
    WaitCursor wait;
    if (!recheckIfBusy())
        return;
    m_data1->setStatement(Statements::partsByName());
    if (!m_data1->refresh() && m_data1->lastFailureBusy()) {
        reportBusy();
        return;
    }
    countRecords();
    if (m_recordCount)
        showRecordCount(QStringLiteral("Таблица содержит - %1   записей").arg(*m_recordCount));
}

// ---- the names in memory ------------------------------------------------------------------

void Form1::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    // In the background: a keystroke before the copy is ready is answered by the engine.
    // After the rest of the list, which the user is more likely to need first; on two
    // processors the two reads would also slow the window down. A search or "show all"
    // may replace that read before it ends, hence the latest moment.
    if (m_data1->isLoadingRest()) {
        connect(m_data1, &RecordSource::restLoaded, m_names, &NameCopy::startLoading,
                Qt::SingleShotConnection);
        QTimer::singleShot(kNamesAtTheLatestMs, m_names, &NameCopy::startLoading);
    } else {
        m_names->startLoading();
    }
    startStockFigures();
    startDailyBackup();
}

// ---- shutdown -----------------------------------------------------------------------------

void Form1::closeEvent(QCloseEvent* event)
{
    if (!m_exitConfirmed) {
        if (MessageBox::show(this, QMessageBox::Question, kTitle,
                             QStringLiteral("Действительно хотите выйти ?"),
                             QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes) {
            event->ignore();
            return;
        }
        // Notes typed for the current part are stored now; leaving without them is the
        // user's choice, never a silent loss (another program may hold the file locked).
        if (!m_data1->savePending() && !leaveWithoutNotes()) {
            event->ignore();
            return;
        }
        m_exitConfirmed = true;
        closeDatabases();
    }
    event->accept();
    QCoreApplication::quit();
}

bool Form1::leaveWithoutNotes()
{
    // A failure other than a lock has just been reported with its reason.
    const QString question =
        m_data1->lastFailureBusy()
            ? QStringLiteral("Файл базы данных «%1» занят другой программой, и доп. информация "
                             "к детали не сохранена. Выйти без неё?")
                  .arg(m_paths.databasePath())
            : QStringLiteral("Доп. информация к детали не сохранена. Выйти без неё?");
    return MessageBox::show(this, QMessageBox::Question, kTitle, question,
                            QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

void Form1::closeDatabases()
{
    m_register.closeAll(); // saves an edit of the notes still pending first
}

// ---- the register under other programs ------------------------------------------------------

void Form1::reportBusy()
{
    MessageBox::show(this, QMessageBox::Warning, kTitle,
                     m_register.onServer() ? m_register.describeBusy()
                                           : describeBusy(m_paths.databasePath()),
                     QMessageBox::Ok);
}

void Form1::reportDamage(const QString& detail)
{
    MessageBox::show(this, QMessageBox::Warning, kTitle,
                     describeDamage(m_paths.databasePath(), detail), QMessageBox::Ok);
}

bool Form1::recheckIfBusy()
{
    // The register was locked when the window opened: the check is retried now.
    if (m_register.checkResult().problem != OpenProblem::Busy)
        return true;
    const OpenResult opened = m_register.check();
    if (opened.problem == OpenProblem::Busy) {
        reportBusy();
        return false;
    }
    if (!opened.ok())
        reportOpenProblem(opened);
    if (opened.ok() || opened.problem == OpenProblem::ReadOnly)
        startDamageCheck();
    return true;
}

void Form1::startDamageCheck()
{
    if (!m_damageCheck)
        m_damageCheck = new DamageCheck(m_register, this);
    QTimer::singleShot(kDamageCheckDelayMs, m_damageCheck, &DamageCheck::start);
}

void Form1::setShownValue(QLabel* label, const QString& text)
{
    // A screen reader reads a label's name; the name is what the label shows, and its
    // purpose stays in the description.
    label->setText(text);
    label->setAccessibleName(text);
}

void Form1::showRecordCount(const QString& text)
{
    // The label sizes itself to its text: the sentence of the show-all command is wider than
    // the room the bare number needs.
    setShownValue(ui->lblRecordCount1, text);
    ui->lblRecordCount1->adjustSize();
}

void Form1::restoreGridRow()
{
    const int row = m_data1->currentRow();
    if (row < 0)
        return;
    m_restoringRow = true;
    ui->TDBGrid2->setCurrentIndex(
        m_data1->index(row, std::max(m_data1->columnOf(QStringLiteral("idFam")), 0)));
    m_restoringRow = false;
}

} // namespace tarvik

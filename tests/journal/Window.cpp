// The journal through the real windows: the main window's changes as the journal puts them
// down, and the journal window itself.
#include "TestJournal.h"

#include "MainWindowProbe.h"

#include "app/Form1.h"
#include "app/Startup.h"
#include "gui/MessageBox.h"
#include "service/JournalModel.h"
#include "service/JournalWindow.h"
#include "store/records/Journal.h"
#include "store/register/BackgroundReader.h"
#include "store/register/Dialect.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTimer>
#include <QToolButton>

namespace {

// Runs `drive` on the next modal dialog, then closes it if `drive` did not.
void whenModal(QObject* context, std::function<void(QDialog*)> drive)
{
    QTimer::singleShot(0, context, [drive] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        QVERIFY2(dialog, "no dialog opened");
        drive(dialog);
        if (dialog->isVisible())
            dialog->reject();
    });
}

QStringList shownRows(QTableView* grid, int rows)
{
    QStringList lines;
    auto* model = grid->model();
    for (int row = 0; row < std::min(rows, model->rowCount()); ++row) {
        QStringList cells;
        for (int column = 3; column < model->columnCount(); ++column)
            cells << model->index(row, column).data().toString();
        lines << cells.join(QLatin1Char('|'));
    }
    return lines;
}

} // namespace

void TestJournal::initTestCase()
{
    prepareApplication(*qApp);
}

void TestJournal::cleanup()
{
    MessageBox::takeShown();
}

void TestJournal::mainWindowChangesJournaled()
{
    MainWindowProbe probe;
    probe.m_register = std::make_unique<TestRegister>();
    QVERIFY(probe.m_register->write({part("Диод", "1", "3"), part("Реле", "5", "6")},
                                    {{QStringLiteral("DIP-8"), picture(Qt::red)}}));
    probe.m_window = std::make_unique<Form1>(probe.m_register->paths(), probe.m_register->owner());
    probe.m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(probe.m_window.get()));
    probe.grid()->setFocus();
    waitForList(*probe.m_window);

    // "Диод" is current: "+", "+", "-", then notes saved on leaving the row.
    probe.click("plus");
    probe.click("plus");
    probe.click("minus");
    probe.control<QPlainTextEdit>("txtDisc")->setPlainText(QStringLiteral("проверен"));
    probe.down();
    probe.click("plus"); // "Реле"

    // The edit dialog on "Реле": two fields.
    whenModal(probe.m_window.get(), [](QDialog* dialog) {
        test::control<QLineEdit>(dialog, "Cena")->setText(QStringLiteral("7"));
        test::control<QLineEdit>(dialog, "txtVozrast")->setText(QStringLiteral("9"));
        test::control<QPushButton>(dialog, "cmdAdd1")->click();
    });
    probe.click("iPaz");
    // A new part, then its delete.
    whenModal(probe.m_window.get(), [](QDialog* dialog) {
        test::control<QLineEdit>(dialog, "Fam")->setText(QStringLiteral("Кварц"));
        test::control<QLineEdit>(dialog, "Cena")->setText(QStringLiteral("2"));
        test::control<QLineEdit>(dialog, "txtVozrast")->setText(QStringLiteral("1"));
        test::control<QComboBox>(dialog, "DBCombo8")->setEditText(QStringLiteral("dip-8"));
        test::control<QPushButton>(dialog, "cmdAdd1")->click();
    });
    probe.click("nPaz");
    searchFor(*probe.m_window, QStringLiteral("квар"));
    QCOMPARE(probe.text("Text1"), QStringLiteral("Кварц"));
    MessageBox::setNextAnswer(QMessageBox::Yes);
    probe.click("dPaz");
    QCOMPARE(probe.m_register->storedNames(), QStringList({"Диод", "Реле"}));

    Connection db;
    QVERIFY(probe.m_register->owner().connect(db).ok());
    QStringList lines;
    const QVector<JournalEntry> entries = Journal(db).page({}, 0, 100).entries;
    for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
        if (it->field != QLatin1String("kont")) // a key of random digits, made at each save
            lines << QStringLiteral("%1 %2 %3: %4 → %5")
                         .arg(it->action, it->name, it->field, it->was.toString(),
                              it->became.toString());
    }
    QCOMPARE(lines, QStringList({
                        "plus Диод phone: 3 → 4",
                        "plus Диод phone: 4 → 5",
                        "minus Диод phone: 5 → 4",
                        "notes Диод sorp:  → проверен",
                        "plus Реле phone: 6 → 7",
                        "edit Реле pol: 5 → 7",
                        "edit Реле phone: 7 → 9",
                        "add Кварц idFam:  → Кварц",
                        "add Кварц pol:  → 2",
                        "add Кварц datebir:  → DIP-8",
                        "add Кварц phone:  → 1",
                        "add Кварц PhotoN:  → DIP-8",
                        "delete Кварц idFam: Кварц → ",
                        "delete Кварц pol: 2 → ",
                        "delete Кварц datebir: DIP-8 → ",
                        "delete Кварц phone: 1 → ",
                        "delete Кварц PhotoN: DIP-8 → ",
                    }));
    probe.closeWindow();
}

void TestJournal::journalWindowListsSearchesAndUndoes()
{
    MainWindowProbe probe;
    probe.m_register = std::make_unique<TestRegister>();
    QVERIFY(probe.m_register->write({part("Диод", "1", "3"), part("Реле", "5", "6")}));
    probe.m_window = std::make_unique<Form1>(probe.m_register->paths(), probe.m_register->owner());
    probe.m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(probe.m_window.get()));
    probe.grid()->setFocus();
    waitForList(*probe.m_window);
    probe.click("plus"); // Диод 3 → 4
    probe.down();
    probe.click("minus"); // Реле 6 → 5
    probe.click("minus"); // Реле 5 → 4

    // Ctrl+J: the current part's entries only; "Отменить" on the newest puts 5 back.
    whenModal(probe.m_window.get(), [&](QDialog* dialog) {
        QCOMPARE(dialog->objectName(), QStringLiteral("JournalWindow"));
        auto* grid = test::control<QTableView>(dialog, "entries");
        QVERIFY(test::control<QCheckBox>(dialog, "onePart")->isChecked());
        QTRY_COMPARE(shownRows(grid, 5),
                     QStringList({"Реле|Количество|5|4|−1", "Реле|Количество|6|5|−1"}));
        for (const char* name : {"search", "onePart", "entries", "undo", "close"})
            QVERIFY2(!test::control<QWidget>(dialog, name)->accessibleName().isEmpty(), name);
        QCOMPARE(grid->currentIndex().row(), 0);
        MessageBox::setNextAnswer(QMessageBox::Yes);
        test::control<QPushButton>(dialog, "undo")->click();
        QCOMPARE(MessageBox::takeShown().size(), 1); // the confirmation only
        QTRY_COMPARE(shownRows(grid, 1), QStringList({"Реле|Количество|4|5|отмена"}));

        // The older entry no longer holds: refused, and the box says why.
        grid->setCurrentIndex(grid->model()->index(1, 0));
        MessageBox::setNextAnswer(QMessageBox::Yes);
        MessageBox::setNextAnswer(QMessageBox::Ok);
        test::control<QPushButton>(dialog, "undo")->click();
        const QList<MessageBox::Shown> shown = MessageBox::takeShown();
        QCOMPARE(shown.size(), 2);
        QCOMPARE(shown.last().text,
                 QStringLiteral("Изменение не отменено: значение уже изменено: сейчас «5»."));

        // Every part's entries, searched by name as the quick search folds it.
        test::control<QCheckBox>(dialog, "onePart")->setChecked(false);
        QTRY_COMPARE(grid->model()->rowCount(), 4);
        typeText(test::control<QLineEdit>(dialog, "search"), QStringLiteral("ДИО"));
        QTRY_COMPARE(shownRows(grid, 5), QStringList({"Диод|Количество|3|4|+1"}));
        // Enter presses the focused button; Tab goes from "Отменить" to "Закрыть". The list
        // has the focus first: once it has, nothing moves it any more.
        QTRY_VERIFY(grid->hasFocus());
        auto* undo = test::control<QPushButton>(dialog, "undo");
        undo->setFocus();
        QTest::keyClick(undo, Qt::Key_Tab);
        QVERIFY(test::control<QPushButton>(dialog, "close")->hasFocus());
        QTest::keyClick(test::control<QPushButton>(dialog, "close"), Qt::Key_Return);
        QVERIFY(!dialog->isVisible());
    });
    QTest::keyClick(probe.grid(), Qt::Key_J, Qt::ControlModifier);
    // The main window shows what the undo stored.
    QTRY_COMPARE(probe.text("Text4"), QStringLiteral("5"));
    probe.closeWindow();
}

void TestJournal::journalNotKeptIsSaid()
{
    // A register the program could not give a journal (here: an earlier one, never checked)
    // still opens the window, which says so.
    TestRegister file;
    QVERIFY(file.write({part("Диод")}));
    dropJournal(file.databasePath());
    Register reg(file.databasePath());
    JournalWindow window(reg, std::nullopt);
    auto* said = test::control<QLabel>(&window, "notKept");
    QVERIFY(!said->isHidden());
    QCOMPARE(said->text(), QStringLiteral("В этой базе данных журнал изменений не ведётся."));
    QCOMPARE(test::control<QTableView>(&window, "entries")->model()->rowCount(), 0);
    QVERIFY(!test::control<QPushButton>(&window, "undo")->isEnabled());
}

void TestJournal::journalReadsNeverHoldTheWindow_data()
{
    addBackRows();
}

void TestJournal::journalReadsNeverHoldTheWindow()
{
    JOURNAL_FIXTURE(reg);
    QVERIFY(reg.open({part("Диод", "1", "1"), part("Реле", "1", "1")}));
    const qint64 diode = reg.idOf(QStringLiteral("Диод"));
    const qint64 relay = reg.idOf(QStringLiteral("Реле"));
    const int perPart = JournalModel::kPageSize * 3 / 4; // both parts: more than a page
    {
        PartWriter writer(reg.db());
        for (int i = 0; i < perPart; ++i)
            for (qint64 id : {diode, relay})
                QVERIFY(writer.change(id, {{"phone", QString::number(i + 2)}}, {}, PartAction::Plus)
                            .saved());
    }
    auto window = std::make_unique<JournalWindow>(reg.owner(), std::nullopt);
    window->show();
    auto* grid = test::control<QTableView>(window.get(), "entries");
    auto* model = grid->model();
    // Looked up at each use: an earlier window had no such label.
    const auto status = [&window] {
        auto* label = window->findChild<QLabel*>(QStringLiteral("status"));
        return label ? label->text() + QLatin1Char('|') + label->accessibleName() : QString();
    };
    QTRY_COMPARE(model->rowCount(), JournalModel::kPageSize);
    grid->scrollToBottom(); // the next page, as the grid asks for it
    QTRY_COMPARE(model->rowCount(), 2 * perPart);

    reg.owner().holdBackgroundReads(true);
    QSignalSpy resets(model, &QAbstractItemModel::modelReset);
    auto* search = test::control<QLineEdit>(window.get(), "search");
    typeText(search, QStringLiteral("РЕЛ"));
    // The search starts after the pause in the typing and is read while the window goes on:
    // it says so, keeps its rows, and "Отменить" stays on the row shown.
    QTRY_COMPARE(status(), QStringLiteral("Поиск…|Поиск…"));
    bool timerFired = false;
    QTimer::singleShot(0, window.get(), [&timerFired] { timerFired = true; });
    QTRY_VERIFY(timerFired);
    QCOMPARE(resets.count(), 0);
    QCOMPARE(model->rowCount(), 2 * perPart);
    QCOMPARE(grid->currentIndex().row(), 0);
    QVERIFY(test::control<QPushButton>(window.get(), "undo")->isEnabled());

    // The next keystroke ends that read; only its own rows are ever shown.
    search->clear();
    typeText(search, QStringLiteral("диод"));
    auto* journal = qobject_cast<JournalModel*>(model);
    QTRY_COMPARE(journal->filter().nameText, QStringLiteral("диод"));
    reg.owner().holdBackgroundReads(false);
    QTRY_COMPARE(status(), QStringLiteral("|"));
    QCOMPARE(resets.count(), 1);
    QCOMPARE(model->rowCount(), perPart);
    for (int row = 0; row < model->rowCount(); ++row)
        QCOMPARE(model->index(row, JournalModel::Part).data().toString(), QStringLiteral("Диод"));

    // Closed during a read: the read ends with the window.
    reg.owner().holdBackgroundReads(true);
    test::control<QCheckBox>(window.get(), "onePart")->setChecked(true);
    QCOMPARE(status(), QStringLiteral("Поиск…|Поиск…"));
    window->reject();
    QCOMPARE(status(), QStringLiteral("|"));
    window.reset();
    reg.owner().holdBackgroundReads(false);
}

void TestJournal::serverReadEndsAtItsStop()
{
    TARVIK_SKIP_WITHOUT_SERVER();
    JournalFixture reg(JournalFixture::Back::Server);
    QVERIFY(reg.open({part("Диод")}));
    BackgroundReader reader(reg.owner(), BackgroundReader::Writes::LetRun);
    reader.setCanceller(&reg.db()); // as the journal window gives its own
    QSemaphore entered;
    QString ended;
    QVERIFY(reader.start([&entered, &ended](BackgroundReader::Run& run) {
        QSqlQuery query(run.db.connection());
        entered.release();
        // Longer than the limit the reader sets on one statement: only a cancel ends it sooner.
        if (!query.exec(QStringLiteral("SELECT pg_sleep(600)")))
            ended =
                sqlState(query.lastError()) + QLatin1Char(' ') + query.lastError().databaseText();
        return false;
    }));
    entered.acquire();
    QSqlQuery running(reg.plain());
    QTRY_VERIFY(running.exec(QStringLiteral("SELECT count(*) FROM pg_stat_activity WHERE state = "
                                            "'active' AND query LIKE 'SELECT pg_sleep(600)%'")) &&
                running.next() && running.value(0).toInt() == 1);
    running.finish();
    reader.stop();
    // Cancelled at the user's request, not ended by the limit.
    QVERIFY2(ended.startsWith(QStringLiteral("57014")), qPrintable(ended));
    QVERIFY2(ended.contains(QStringLiteral("user request")), qPrintable(ended));
}

// A list longer than the first screen is shown from its first rows while the rest of its ids
// is read in the background, and a search the engine answers runs off the window's thread.
// The register's background reads are held here, so what the user does meanwhile is seen
// to act on the part it was meant for.
#include "MainWindowProbe.h"
#include "TestRegister.h"
#include "WhenOpen.h"

#include "app/Form1.h"
#include "app/Startup.h"
#include "gui/MessageBox.h"
#include "store/records/RecordSource.h"

#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTableView>
#include <QTest>
#include <QToolButton>

using namespace tarvik;
using namespace tarvik::test;

namespace {

// More than the window reads before it is shown.
constexpr int kParts = 300;

QString nameOf(int number)
{
    return QStringLiteral("Деталь %1").arg(number, 3, 10, QLatin1Char('0'));
}

} // namespace

class TestLongList : public QObject, private MainWindowProbe {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void rowAndQuantityStepDuringTheRestActOnTheRightPart();
    void partOpenedDuringTheRestIsTheOneSaved();
    void jumpToTheEndWaitsForTheTrueEnd();
    void engineSearchLeavesTheWindowFreeAndTheNextKeystrokeWins();

private:
    // The window on the register, its background reads held until the test lets them go.
    void openHeld();
    RecordSource& list() const { return *m_window->Data1(); }
    void hold(bool held) { m_register->owner().holdBackgroundReads(held); }
    QString stored(const QString& name, const char* field) const;
    // Another program's plain SQL on the file.
    void otherProgram(const QString& sql) const;
};

void TestLongList::initTestCase()
{
    prepareApplication(*qApp);
}

void TestLongList::init()
{
    m_register = std::make_unique<TestRegister>();
    QList<PartRow> rows;
    for (int i = kParts; i >= 1; --i) // stored in the reverse of the name order
        rows << part(nameOf(i), QStringLiteral("1"), QStringLiteral("1"));
    QVERIFY(m_register->write(rows));
    openHeld();
}

void TestLongList::openHeld()
{
    hold(true);
    m_window = std::make_unique<Form1>(m_register->paths(), m_register->owner());
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    grid()->setFocus();
    QVERIFY(list().isLoadingRest());
    QVERIFY(grid()->model()->rowCount() < kParts);
    QCOMPARE(text("Text1"), nameOf(1));
}

void TestLongList::cleanup()
{
    if (m_register)
        hold(false);
    QVERIFY2(MessageBox::takeShown().isEmpty(), "a message nobody expected");
    closeWindow();
}

QString TestLongList::stored(const QString& name, const char* field) const
{
    for (const QVariantMap& row : m_register->storedParts()) {
        if (row.value(QStringLiteral("idFam")).toString() == name)
            return row.value(QLatin1String(field)).toString();
    }
    return QStringLiteral("<none>");
}

void TestLongList::otherProgram(const QString& sql) const
{
    const QString error = m_register->runAsOtherClient(sql);
    QVERIFY2(error.isEmpty(), qPrintable(error));
}

void TestLongList::rowAndQuantityStepDuringTheRestActOnTheRightPart()
{
    for (int i = 0; i < 5; ++i)
        down();
    QCOMPARE(text("Text1"), nameOf(6));
    // Read by the background after the first rows: the whole list then differs from them
    // at its top, and the part the user is on moves one row down.
    otherProgram(QStringLiteral("INSERT INTO client (kont, idFam, phone) VALUES ('1', 'Аа', '1')"));
    click("plus");
    QCOMPARE(stored(nameOf(6), "phone"), QStringLiteral("2"));
    QCOMPARE(text("Text4"), QStringLiteral("2"));

    hold(false);
    waitForList(*m_window);
    QCOMPARE(grid()->model()->rowCount(), kParts + 1);
    QCOMPARE(grid()->currentIndex().row(), 6);
    QCOMPARE(text("Text1"), nameOf(6));
    QCOMPARE(text("Text4"), QStringLiteral("2"));
    click("minus");
    QCOMPARE(stored(nameOf(6), "phone"), QStringLiteral("1"));
    QCOMPARE(listed().first(), QStringLiteral("Аа"));
    QCOMPARE(listed().last(), nameOf(kParts));
}

void TestLongList::partOpenedDuringTheRestIsTheOneSaved()
{
    for (int i = 0; i < 7; ++i)
        down();
    QCOMPARE(text("Text1"), nameOf(8));
    bool saved = false;
    whenOpen<QDialog>([&](QDialog* dialog) {
        QCOMPARE(test::control<QLineEdit>(dialog, "Fam")->text(), nameOf(8));
        // The rest of the list arrives while the dialog is open, and differs from the
        // first rows: the part the dialog saves must stay the one it shows.
        otherProgram(
            QStringLiteral("INSERT INTO client (kont, idFam, phone) VALUES ('1', 'Аа', '1')"));
        hold(false);
        QTRY_VERIFY_WITH_TIMEOUT(!list().isLoadingRest(), 20000);
        QCOMPARE(grid()->model()->rowCount(), kParts + 1);
        auto* quantity = test::control<QLineEdit>(dialog, "txtVozrast");
        quantity->clear();
        typeText(quantity, QStringLiteral("42"));
        test::control<QPushButton>(dialog, "cmdAdd1")->click();
        saved = true;
    });
    QTest::mouseClick(control<QToolButton>("iPaz"), Qt::LeftButton);
    QVERIFY(saved);
    QCOMPARE(stored(nameOf(8), "phone"), QStringLiteral("42"));
    QCOMPARE(stored(QStringLiteral("Аа"), "phone"), QStringLiteral("1"));
    QCOMPARE(stored(nameOf(7), "phone"), QStringLiteral("1"));
    // A save lists every part by name afresh, from the top.
    QCOMPARE(text("Text1"), QStringLiteral("Аа"));
}

void TestLongList::jumpToTheEndWaitsForTheTrueEnd()
{
    QTest::keyClick(grid(), Qt::Key_End, Qt::ControlModifier);
    // Not the end of the rows read so far, which would be no part the user asked for.
    QCOMPARE(text("Text1"), nameOf(1));
    hold(false);
    waitForList(*m_window);
    QCOMPARE(grid()->currentIndex().row(), kParts - 1);
    QCOMPARE(text("Text1"), nameOf(kParts));

    // A key pressed before the rest arrived is the user's later word.
    closeWindow();
    m_register->owner().reopen();
    openHeld();
    QTest::keyClick(grid(), Qt::Key_End, Qt::ControlModifier);
    down();
    hold(false);
    waitForList(*m_window);
    QCOMPARE(text("Text1"), nameOf(2));
}

void TestLongList::engineSearchLeavesTheWindowFreeAndTheNextKeystrokeWins()
{
    QSignalSpy resets(&list(), &QAbstractItemModel::modelReset);
    auto* box = control<QLineEdit>("Text5");
    typeText(box, QStringLiteral("ль 01"));
    // The names are not in memory yet: the engine searches, and the window goes on.
    QCOMPARE(resets.count(), 0);
    QVERIFY(list().isLoadingRest());
    QCOMPARE(text("Text1"), nameOf(1));
    down();
    QCOMPARE(text("Text1"), nameOf(2));
    typeText(box, QStringLiteral("7"));
    hold(false);
    QCOMPARE(listed(), QStringList({nameOf(17)}));
    // The earlier keystrokes' searches were cancelled, never shown.
    QCOMPARE(resets.count(), 1);
    QCOMPARE(text("Text1"), nameOf(17));
}

QTEST_MAIN(TestLongList)
#include "tst_longlist.moc"

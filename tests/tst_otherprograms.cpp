// The main window when the register is also written by other programs, locked, damaged or
// holds odd values, and the details it must never get wrong.
#include "MainWindowProbe.h"
#include "TestRegister.h"

#include "app/Form1.h"
#include "app/Startup.h"
#include "gui/MessageBox.h"
#include "store/records/PictureText.h"
#include "store/records/RecordSource.h"
#include "store/register/DamageCheck.h"
#include "store/search/NameCopy.h"

#include <QAccessible>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTableView>
#include <QTest>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

using namespace tarvik;
using namespace tarvik::test;

namespace {

const QLocale kRussian(QLocale::Russian, QLocale::Russia);

// A connection as another program has it: plain SQL, none of the program's functions.
class PlainConnection {
public:
    explicit PlainConnection(const QString& path)
        : m_name(QStringLiteral("plain-%1").arg(++s_count))
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=0"));
        db.open();
    }
    ~PlainConnection()
    {
        QSqlDatabase::database(m_name, false).close();
        QSqlDatabase::removeDatabase(m_name);
    }
    bool exec(const QString& sql)
    {
        QSqlQuery query(QSqlDatabase::database(m_name));
        if (!query.exec(sql))
            qWarning() << sql << query.lastError().text();
        return !query.lastError().isValid();
    }
    QString name() const { return m_name; }
    QVariant value(const QString& sql)
    {
        QSqlQuery query(QSqlDatabase::database(m_name));
        return query.exec(sql) && query.next() ? query.value(0) : QVariant();
    }

private:
    static inline int s_count = 0;
    QString m_name;
};

// Overwrites one page of the file with garbage and marks the file changed, so that open
// connections read it afresh.
void overwritePage(const QString& path, int page)
{
    PlainConnection plain(path);
    const int pageSize = plain.value(QStringLiteral("PRAGMA page_size")).toInt();
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadWrite));
    file.seek(qint64(page - 1) * pageSize);
    file.write(QByteArray(pageSize, '\xA5'));
    file.seek(24); // file change counter
    file.write(QByteArray::fromHex("7fffff01"));
}

bool runningAsRoot()
{
#ifdef Q_OS_UNIX
    return geteuid() == 0;
#else
    return false;
#endif
}

} // namespace

class TestOtherPrograms : public QObject, private MainWindowProbe {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void valueLabelsReadTheirValue();
    void keysStayTrueUnderOtherTools();
    void keysOfAnEarlierBuildAreHealedAtOpen();
    void stepAfterAnotherProgramChangedTheQuantity();
    void oddQuantitiesAreNoNumbers_data();
    void oddQuantitiesAreNoNumbers();
    void commaIsNoGroupSeparator();
    void noStaleValueOrPicture();
    void linkNamedRezervIsNotWrittenThrough();
    void pictureShownFromMemoryWhenTheFileCannotBeWritten();
    void readOnlyProgramFolderStillShowsThePicture();
    void damagedNameIndexIsReportedOnceAndWritesStop();
    void damagedPartsPageIsReported();
    void backgroundCheckFindsDamage();
    void backgroundCheckStopsWhenTheRegisterCloses();
    void missingColumnKeepsTheListEmpty();
    void lockedRegisterIsReportedAndRetried();
    void lockedAtStartUp();
    void notesNeedAPart();
    void notesSavedOnLeavingARowAndOnRefresh();
    void notesUnsavedAtExitAreNeverDroppedSilently();
    void failedNotesSaveIsReported();
    void quantityBoxShowsTheStoredValueAfterAFailedSave();
    void readOnlyRegisterIsDetected();

private:
    void open(const QList<PartRow>& rows, const QList<Package>& packages = {});
    QString stored(const QString& name, const char* field) const;
    // As a user who is not root (root writes anything): the test body runs in a child.
    bool ranAsOtherUser(const char* function);
};

void TestOtherPrograms::initTestCase()
{
    prepareApplication(*qApp);
}

void TestOtherPrograms::init()
{
    QLocale::setDefault(kRussian);
}

void TestOtherPrograms::cleanup()
{
    closeWindow();
    MessageBox::takeShown();
    m_register.reset();
}

void TestOtherPrograms::open(const QList<PartRow>& rows, const QList<Package>& packages)
{
    m_window.reset();
    m_register = std::make_unique<TestRegister>();
    QVERIFY(m_register->write(rows, packages));
    m_window = std::make_unique<Form1>(m_register->paths(), m_register->owner());
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    // The window reads the names in the background once shown; the other programs here
    // write without waiting for a lock, so that read is let finish first.
    auto* names = m_window->findChild<NameCopy*>(QStringLiteral("partNames"));
    QVERIFY(names && QTest::qWaitFor([names] { return !names->isLoading(); }, 5000));
    grid()->setFocus();
}

QString TestOtherPrograms::stored(const QString& name, const char* field) const
{
    // Straight from the table, past the name index (which a test may have damaged).
    PlainConnection shell(m_register->databasePath());
    QSqlQuery query(QSqlDatabase::database(shell.name()));
    query.prepare(QStringLiteral("SELECT %1 FROM client NOT INDEXED WHERE idFam = ?")
                      .arg(QLatin1String(field)));
    query.addBindValue(name);
    return query.exec() && query.next() ? query.value(0).toString() : QStringLiteral("<none>");
}

bool TestOtherPrograms::ranAsOtherUser(const char* function)
{
    if (!runningAsRoot())
        return false;
    const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
    const QStringList asNobody = {"--reuid=65534", "--regid=65534", "--clear-groups"};
    QProcess probe;
    probe.start(setpriv,
                asNobody + QStringList{QCoreApplication::applicationFilePath(), "--probe"});
    if (setpriv.isEmpty() || !probe.waitForFinished(20000) || probe.exitCode() != 0)
        QTest::qSkip("running as root, and no other user can run this test (setpriv, user "
                     "nobody, a build folder others may read)",
                     __FILE__, __LINE__);
    if (setpriv.isEmpty() || probe.exitCode() != 0)
        return true;
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), QDir::tempPath());
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(setpriv, asNobody + QStringList{QCoreApplication::applicationFilePath(), function});
    const bool finished = child.waitForFinished(60000);
    const QByteArray output = child.readAll();
    if (!finished || child.exitCode() != 0)
        qWarning("%s", output.constData());
    [&] {
        QVERIFY2(finished, "the test as another user did not finish");
        QCOMPARE(child.exitCode(), 0);
    }();
    return true;
}

// ---- what every user sees -------------------------------------------------------------------

void TestOtherPrograms::valueLabelsReadTheirValue()
{
    open({part("A", "2,5", "4")});
    for (const auto& [name, purpose] :
         {std::pair{"lblRecordCount1", "Число записей"}, std::pair{"Label9", "Стоимость"}}) {
        QLabel* shown = control<QLabel>(name);
        QAccessibleInterface* reader = QAccessible::queryAccessibleInterface(shown);
        QVERIFY(reader);
        QVERIFY(!shown->text().isEmpty());
        QCOMPARE(reader->text(QAccessible::Name), shown->text());
        QCOMPARE(reader->text(QAccessible::Description), QString::fromUtf8(purpose));
    }
    click("Reset");
    QCOMPARE(QAccessible::queryAccessibleInterface(control<QLabel>("lblRecordCount1"))
                 ->text(QAccessible::Name),
             QStringLiteral("Таблица содержит - 1   записей"));
}

// ---- other tools writing the register -------------------------------------------------------

void TestOtherPrograms::keysStayTrueUnderOtherTools()
{
    open({part("diode 1N4007"), part("Конденсатор"), part("Транзистор")});
    {
        PlainConnection shell(m_register->databasePath());
        QVERIFY(shell.exec("INSERT INTO client (kont, idFam, pol, phone) "
                           "VALUES ('1', 'Мост КЦ405', '1', '1')"));
        QVERIFY(shell.exec("UPDATE client SET idFam = 'ВАРИСТОР' WHERE idFam = 'Транзистор'"));
        QVERIFY(shell.exec("UPDATE client SET pol = '3' WHERE idFam = 'Конденсатор'"));
        // The file stays whole for a tool that knows none of the program's functions.
        QCOMPARE(shell.value("PRAGMA integrity_check").toString(), QStringLiteral("ok"));
    }
    click("Reset");
    QCOMPARE(listed(), QStringList({"diode 1N4007", "ВАРИСТОР", "Конденсатор", "Мост КЦ405"}));
    auto* search = control<QLineEdit>("Text5");
    typeText(search, QStringLiteral("кц4"));
    QCOMPARE(listed(), QStringList({"Мост КЦ405"}));
    search->clear();
    typeText(search, QStringLiteral("транз"));
    QCOMPARE(listed(), QStringList());
    search->clear();
    typeText(search, QStringLiteral("варис"));
    QCOMPARE(listed(), QStringList({"ВАРИСТОР"}));
}

void TestOtherPrograms::keysOfAnEarlierBuildAreHealedAtOpen()
{
    m_register = std::make_unique<TestRegister>();
    QVERIFY(m_register->write({part("Альфа"), part("Бета"), part("Гамма")}));
    {
        PlainConnection shell(m_register->databasePath());
        QVERIFY(shell.exec("DROP TRIGGER client_idFamKey_renamed")); // as earlier builds wrote
        QVERIFY(shell.exec("UPDATE client SET idFam = 'Ящик' WHERE idFam = 'Альфа'"));
        QVERIFY(shell.exec("INSERT INTO client (kont, idFam) VALUES ('1', 'Вал')"));
    }
    m_window = std::make_unique<Form1>(m_register->paths(), m_register->owner());
    m_window->show();
    QCOMPARE(listed(), QStringList({"Бета", "Вал", "Гамма", "Ящик"}));
    typeText(control<QLineEdit>("Text5"), QStringLiteral("ящ"));
    QCOMPARE(listed(), QStringList({"Ящик"}));
    PlainConnection shell(m_register->databasePath());
    QCOMPARE(shell
                 .value("SELECT COUNT(*) FROM sqlite_master WHERE type = 'trigger' "
                        "AND name = 'client_idFamKey_renamed'")
                 .toInt(),
             1);
}

void TestOtherPrograms::stepAfterAnotherProgramChangedTheQuantity()
{
    open({part("A", "2", "5")});
    {
        PlainConnection shell(m_register->databasePath());
        QVERIFY(shell.exec("UPDATE client SET phone = '20'"));
    }
    MessageBox::setNextAnswer(QMessageBox::Ok);
    click("plus");
    const QList<MessageBox::Shown> shown = MessageBox::takeShown();
    QCOMPARE(shown.size(), 1);
    QVERIFY(shown[0].text.contains(QStringLiteral("«20»")));
    QCOMPARE(text("Text4"), QStringLiteral("20"));
    QCOMPARE(stored("A", "phone"), QStringLiteral("20"));
    QCOMPARE(label("Label9"), QStringLiteral("40"));
    click("plus"); // now from what the file holds
    QCOMPARE(stored("A", "phone"), QStringLiteral("21"));
    QVERIFY(MessageBox::takeShown().isEmpty());

    // Fractions and long whole numbers still step as before.
    open({part("B", "1", "2,675"), part("C", "1", "999999999999998")});
    click("plus");
    QCOMPARE(stored("B", "phone"), QStringLiteral("3,675"));
    down();
    click("plus");
    QCOMPARE(stored("C", "phone"), QStringLiteral("999999999999999"));
    QVERIFY(MessageBox::takeShown().isEmpty());
}

// ---- odd values ------------------------------------------------------------------------------

void TestOtherPrograms::oddQuantitiesAreNoNumbers_data()
{
    QTest::addColumn<QString>("quantity");
    QTest::newRow("NaN") << "NaN";
    QTest::newRow("inf") << "inf";
    QTest::newRow("-inf") << "-inf";
    QTest::newRow("2^60") << "1152921504606846976";
    QTest::newRow("too long to write back") << "9007199254740990";
}

void TestOtherPrograms::oddQuantitiesAreNoNumbers()
{
    QFETCH(QString, quantity);
    open({part("A", "1", quantity)});
    QCOMPARE(label("Label9"), QString::number(quantity.toDouble()) == "nan" ? "" : label("Label9"));
    for (const char* button : {"plus", "minus"}) {
        MessageBox::setNextAnswer(QMessageBox::Ok);
        click(button);
        const QList<MessageBox::Shown> shown = MessageBox::takeShown();
        QCOMPARE(shown.size(), 1);
        QVERIFY(shown[0].text.contains(QStringLiteral("не является числом")));
        QCOMPARE(stored("A", "phone"), quantity);
        QCOMPARE(text("Text4"), quantity);
    }
    if (quantity.contains(QLatin1String("n")))
        QCOMPARE(label("Label9"), QString()); // nan and inf make no value either
}

void TestOtherPrograms::commaIsNoGroupSeparator()
{
    QLocale::setDefault(QLocale::c());
    open({part("A", "2", "1,250"), part("B", "1,5", "2")});
    QCOMPARE(label("Label9"), QString());
    MessageBox::setNextAnswer(QMessageBox::Ok);
    click("plus");
    QCOMPARE(MessageBox::takeShown().size(), 1);
    QCOMPARE(stored("A", "phone"), QStringLiteral("1,250"));
    down();
    QCOMPARE(label("Label9"), QString()); // a price of "1,5" is no number here either
}

void TestOtherPrograms::noStaleValueOrPicture()
{
    const QByteArray tooBig = picture(Qt::blue, "BMP", 40000, 1); // a side beyond the cap
    open({part("A", "2", "3", "GOOD"), part("B", "", "3", "GARBAGE"), part("C", "2", "3", "HUGE"),
          part("D", "x", "1", "GOOD")},
         {{"GOOD", picture(Qt::red)},
          {"GARBAGE", QByteArray("no picture at all")},
          {"HUGE", tooBig}});
    auto* image = control<QLabel>("Image2");
    QCOMPARE(label("Label9"), QStringLiteral("6"));
    QVERIFY(image->isVisible());
    down(); // no price, bytes that are no picture
    QCOMPARE(label("Label9"), QString());
    QVERIFY(!image->isVisible() || image->pixmap().isNull());
    QVERIFY(!QFile::exists(m_register->paths().temporaryPicturePath()));
    down(); // a picture beyond the size cap
    QCOMPARE(label("Label9"), QStringLiteral("6"));
    QVERIFY(!image->isVisible() || image->pixmap().isNull());
    down();
    QCOMPARE(label("Label9"), QString());
    QVERIFY(image->isVisible());
    QTest::keyClick(grid(), Qt::Key_Home, Qt::ControlModifier);
    QCOMPARE(text("Text1"), QStringLiteral("A"));
    click("plus");
    QCOMPARE(text("Text4"), QStringLiteral("4"));
    QCOMPARE(label("Label9"), QStringLiteral("8")); // recomputed after the step
    click("minus");
    click("minus");
    QCOMPARE(label("Label9"), QStringLiteral("4"));
}

// ---- files ----------------------------------------------------------------------------------

void TestOtherPrograms::linkNamedRezervIsNotWrittenThrough()
{
#ifndef Q_OS_UNIX
    QSKIP("symbolic links need privileges here");
#endif
    m_register = std::make_unique<TestRegister>();
    QVERIFY(m_register->write({part("A", "1", "1", "GOOD"), part("B", "1", "1", "NONE")},
                              {{"GOOD", picture(Qt::red)}}));
    const QString temporary = m_register->paths().temporaryPicturePath();
    const QString victim = m_register->folder() + QStringLiteral("/victim");
    {
        QFile file(victim);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("precious");
    }
    QVERIFY(QFile::link(victim, temporary));
    QVERIFY(QFile::link(m_register->databasePath(), temporary + QStringLiteral("2")));
    const QByteArray registerBefore = [&] {
        QFile file(m_register->databasePath());
        file.open(QIODevice::ReadOnly);
        return file.readAll();
    }();

    m_window = std::make_unique<Form1>(m_register->paths(), m_register->owner());
    m_window->show();
    QVERIFY(!control<QLabel>("Image2")->pixmap().isNull());
    QFile check(victim);
    QVERIFY(check.open(QIODevice::ReadOnly));
    QCOMPARE(check.readAll(), QByteArray("precious"));
    check.close();
    QVERIFY(!QFileInfo(temporary).isSymLink());

    // A link planted again before a part without a picture: the empty file replaces it.
    QFile::remove(temporary);
    QVERIFY(QFile::link(m_register->databasePath(), temporary));
    down();
    QVERIFY(QFileInfo(temporary).isFile() && !QFileInfo(temporary).isSymLink());
    QCOMPARE(QFileInfo(temporary).size(), 0);
    QCOMPARE(QFileInfo(m_register->databasePath()).size(), qint64(registerBefore.size()));
    PlainConnection shell(m_register->databasePath());
    QCOMPARE(shell.value("PRAGMA integrity_check").toString(), QStringLiteral("ok"));
}

void TestOtherPrograms::pictureShownFromMemoryWhenTheFileCannotBeWritten()
{
    const QImage shown =
        ShowPictureText(picture(Qt::green), QStringLiteral("/nonexistent-folder/Rezerv"));
    QVERIFY(!shown.isNull());
    QCOMPARE(shown.pixelColor(1, 1), QColor(Qt::green));
}

void TestOtherPrograms::readOnlyProgramFolderStillShowsThePicture()
{
    if (ranAsOtherUser("readOnlyProgramFolderStillShowsThePicture"))
        return;
    m_register = std::make_unique<TestRegister>();
    QVERIFY(m_register->write({part("A", "1", "1", "GOOD")}, {{"GOOD", picture(Qt::red)}}));
    QFile::setPermissions(m_register->folder(), QFile::ReadOwner | QFile::ExeOwner);
    m_window = std::make_unique<Form1>(m_register->paths(), m_register->owner());
    m_window->show();
    auto* image = control<QLabel>("Image2");
    const bool shown = image->isVisible() && !image->pixmap().isNull();
    QFile::setPermissions(m_register->folder(),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QVERIFY(shown);
    QCOMPARE(image->pixmap().toImage().pixelColor(2, 2), QColor(Qt::red));
}

// ---- damage ----------------------------------------------------------------------------------

namespace {
QList<PartRow> manyParts(int count)
{
    QList<PartRow> rows;
    for (int i = 0; i < count; ++i)
        rows << part(QStringLiteral("Деталь %1").arg(i, 5, 10, QLatin1Char('0')), "1", "5", {},
                     QString(300, QLatin1Char('x')));
    return rows;
}
} // namespace

void TestOtherPrograms::damagedNameIndexIsReportedOnceAndWritesStop()
{
    open(manyParts(3000));
    const int rows = listed().size();
    int root = 0;
    {
        PlainConnection shell(m_register->databasePath());
        root = shell.value("SELECT rootpage FROM sqlite_master WHERE name = 'client_idFamKey'")
                   .toInt();
    }
    overwritePage(m_register->databasePath(), root);

    MessageBox::setNextAnswer(QMessageBox::Ok);
    click("Reset");
    QList<MessageBox::Shown> shown = MessageBox::takeShown();
    QCOMPARE(shown.size(), 1);
    QVERIFY(shown[0].text.contains(m_register->databasePath()));
    QVERIFY(shown[0].text.contains(QStringLiteral("повреждён")));
    QCOMPARE(grid()->model()->rowCount(), rows); // not an empty list with a full count
    QCOMPARE(text("Text1"), QStringLiteral("Деталь 00000"));

    MessageBox::setNextAnswer(QMessageBox::Ok);
    click("plus");
    shown = MessageBox::takeShown();
    QCOMPARE(shown.size(), 1); // the refusal, not the damage again
    QVERIFY(shown[0].text.contains(QStringLiteral("повреждён")));
    QCOMPARE(stored("Деталь 00000", "phone"), QStringLiteral("5"));
    QCOMPARE(text("Text4"), QStringLiteral("5"));

    MessageBox::setNextAnswer(QMessageBox::Yes);
    MessageBox::setNextAnswer(QMessageBox::Ok);
    click("dPaz");
    QCOMPARE(MessageBox::takeShown().size(), 2); // the question, then the refusal
    QCOMPARE(stored("Деталь 00000", "phone"), QStringLiteral("5"));
}

void TestOtherPrograms::damagedPartsPageIsReported()
{
    open(manyParts(3000));
    int root = 0;
    {
        PlainConnection shell(m_register->databasePath());
        root = shell.value("SELECT rootpage FROM sqlite_master WHERE name = 'client'").toInt();
    }
    overwritePage(m_register->databasePath(), root);
    MessageBox::setNextAnswer(QMessageBox::Ok);
    down();
    const QList<MessageBox::Shown> shown = MessageBox::takeShown();
    QCOMPARE(shown.size(), 1);
    QVERIFY(shown[0].text.contains(m_register->databasePath()));
    QVERIFY(m_register->owner().isDamaged());
    QVERIFY(!m_window->Data1()->addNew({{QStringLiteral("idFam"), QStringLiteral("new")}}));
    MessageBox::takeShown();
}

void TestOtherPrograms::backgroundCheckFindsDamage()
{
    m_register = std::make_unique<TestRegister>();
    QVERIFY(m_register->write(manyParts(3000)));
    int page = 0;
    {
        PlainConnection shell(m_register->databasePath());
        page = shell
                   .value("SELECT pageno FROM dbstat WHERE name = 'client' AND pagetype = 'leaf' "
                          "ORDER BY pageno DESC LIMIT 1")
                   .toInt();
    }
    QVERIFY(page > 0);
    overwritePage(m_register->databasePath(), page); // rows the window does not read at once
    MessageBox::setNextAnswer(QMessageBox::Ok);
    m_window = std::make_unique<Form1>(m_register->paths(), m_register->owner());
    m_window->show();
    QCOMPARE(text("Text1"), QStringLiteral("Деталь 00000"));
    QVERIFY(MessageBox::takeShown().isEmpty());
    QElapsedTimer clock;
    clock.start();
    int messages = 0;
    QTRY_VERIFY_WITH_TIMEOUT((messages += int(MessageBox::takeShown().size())) > 0, 20000);
    qInfo("damage reported %lld ms after the window opened", clock.elapsed());
    QCOMPARE(messages, 1);
    QVERIFY(m_register->owner().isDamaged());
    MessageBox::setNextAnswer(QMessageBox::Ok);
    click("plus");
    QCOMPARE(MessageBox::takeShown().size(), 1);
    QCOMPARE(text("Text4"), QStringLiteral("5"));
}

void TestOtherPrograms::backgroundCheckStopsWhenTheRegisterCloses()
{
    m_register = std::make_unique<TestRegister>();
    QVERIFY(m_register->write(manyParts(3000)));
    Register& reg = m_register->owner();
    QVERIFY(reg.check().ok());
    DamageCheck check(reg);
    bool finished = false;
    connect(&check, &DamageCheck::finished, this, [&] { finished = true; });
    check.start();
    QVERIFY(check.isRunning());
    QElapsedTimer clock;
    clock.start();
    reg.closeAll(); // as compaction does
    QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(!check.isRunning());
    QCOMPARE(reg.openConnections(), 0);
    check.start(); // a closed register is not checked
    QVERIFY(!check.isRunning());
    QCoreApplication::processEvents();
    QVERIFY(!reg.isDamaged());
    Q_UNUSED(finished);
}

void TestOtherPrograms::missingColumnKeepsTheListEmpty()
{
    m_register = std::make_unique<TestRegister>();
    QVERIFY(m_register->write({part("A"), part("B")}));
    {
        PlainConnection shell(m_register->databasePath());
        QVERIFY(shell.exec("ALTER TABLE client DROP COLUMN sorp"));
    }
    MessageBox::setNextAnswer(QMessageBox::Ok);
    m_window = std::make_unique<Form1>(m_register->paths(), m_register->owner());
    m_window->show();
    const QList<MessageBox::Shown> shown = MessageBox::takeShown();
    QCOMPARE(shown.size(), 1);
    QVERIFY(shown[0].text.contains(QStringLiteral("Список деталей будет пуст")));
    QCOMPARE(grid()->model()->rowCount(), 0);
    click("Reset");
    QCOMPARE(grid()->model()->rowCount(), 0);
    QCOMPARE(label("lblRecordCount1"), QString());
    QVERIFY(!m_window->Data1()->addNew({{QStringLiteral("idFam"), QStringLiteral("C")}}));
    PlainConnection shell(m_register->databasePath());
    QCOMPARE(shell.value("SELECT COUNT(*) FROM client").toInt(), 2);
}

// ---- locks ----------------------------------------------------------------------------------

void TestOtherPrograms::lockedRegisterIsReportedAndRetried()
{
    open({part("A", "1", "1"), part("B", "1", "2"), part("C", "1", "3")});
    auto shell = std::make_unique<PlainConnection>(m_register->databasePath());
    QVERIFY(shell->exec("BEGIN EXCLUSIVE"));

    const auto timed = [&](const std::function<void()>& action) {
        MessageBox::setNextAnswer(QMessageBox::Ok);
        QElapsedTimer clock;
        clock.start();
        action();
        const qint64 took = clock.elapsed();
        const QList<MessageBox::Shown> shown = MessageBox::takeShown();
        QCOMPARE(shown.size(), 1);
        QVERIFY2(shown[0].text.contains(QStringLiteral("занят другой программой")),
                 qPrintable(shown[0].text));
        QVERIFY2(took < 3000, qPrintable(QString::number(took)));
    };
    timed([&] { click("Reset"); });
    QCOMPARE(listed(), QStringList({"A", "B", "C"})); // what was shown stays
    QCOMPARE(text("Text1"), QStringLiteral("A"));
    timed([&] { down(); });
    QCOMPARE(text("Text1"), QStringLiteral("A"));
    QCOMPARE(grid()->currentIndex().row(), 0);
    timed([&] { click("plus"); });
    QCOMPARE(text("Text4"), QStringLiteral("1"));
    timed([&] { typeText(control<QLineEdit>("Text5"), QStringLiteral("B")); });
    QCOMPARE(listed(), QStringList({"A", "B", "C"}));

    QVERIFY(shell->exec("ROLLBACK"));
    shell.reset();
    click("Reset"); // the next action simply works
    QVERIFY(MessageBox::takeShown().isEmpty());
    down();
    QCOMPARE(text("Text1"), QStringLiteral("B"));
    click("plus");
    QCOMPARE(stored("B", "phone"), QStringLiteral("3"));
}

void TestOtherPrograms::lockedAtStartUp()
{
    m_register = std::make_unique<TestRegister>();
    QVERIFY(m_register->write({part("A"), part("B")}));
    auto shell = std::make_unique<PlainConnection>(m_register->databasePath());
    QVERIFY(shell->exec("BEGIN EXCLUSIVE"));
    MessageBox::setNextAnswer(QMessageBox::Ok);
    QElapsedTimer clock;
    clock.start();
    m_window = std::make_unique<Form1>(m_register->paths(), m_register->owner());
    QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
    m_window->show();
    const QList<MessageBox::Shown> shown = MessageBox::takeShown();
    QCOMPARE(shown.size(), 1);
    QVERIFY(shown[0].text.contains(QStringLiteral("занят другой программой")));
    QVERIFY(shown[0].text.contains(m_register->databasePath()));
    shell.reset();
    click("Reset");
    QVERIFY(MessageBox::takeShown().isEmpty());
    QCOMPARE(listed(), QStringList({"A", "B"}));
}

// ---- notes ----------------------------------------------------------------------------------

void TestOtherPrograms::notesNeedAPart()
{
    open({part("A"), part("B")});
    auto* notes = control<QPlainTextEdit>("txtDisc");
    QVERIFY(!notes->isReadOnly());
    typeText(control<QLineEdit>("Text5"), QStringLiteral("ЯЯЯ"));
    QCOMPARE(listed(), QStringList());
    QVERIFY(notes->isReadOnly());
    typeText(notes, QStringLiteral("потеряется"));
    QCOMPARE(notes->toPlainText(), QString());
    click("Reset");
    QVERIFY(!notes->isReadOnly());
}

void TestOtherPrograms::notesSavedOnLeavingARowAndOnRefresh()
{
    open({part("A"), part("B")});
    auto* notes = control<QPlainTextEdit>("txtDisc");
    notes->setPlainText(QStringLiteral("первая"));
    down();
    QCOMPARE(stored("A", "sorp"), QStringLiteral("первая"));
    notes->setPlainText(QStringLiteral("вторая"));
    click("Reset");
    QCOMPARE(stored("B", "sorp"), QStringLiteral("вторая"));
    QVERIFY(MessageBox::takeShown().isEmpty());
}

void TestOtherPrograms::notesUnsavedAtExitAreNeverDroppedSilently()
{
    open({part("A"), part("B")});
    control<QPlainTextEdit>("txtDisc")->setPlainText(QStringLiteral("к выходу"));
    auto shell = std::make_unique<PlainConnection>(m_register->databasePath());
    QVERIFY(shell->exec("BEGIN EXCLUSIVE"));

    // Locked: the user is asked, and "No" keeps the window and the typed notes.
    MessageBox::setNextAnswer(QMessageBox::Yes); // do you want to leave?
    MessageBox::setNextAnswer(QMessageBox::No);  // leave without the notes?
    QVERIFY(!m_window->close());
    QList<MessageBox::Shown> shown = MessageBox::takeShown();
    QCOMPARE(shown.size(), 2);
    QVERIFY(shown[1].text.contains(QStringLiteral("занят другой программой")));
    QVERIFY(shown[1].text.contains(QStringLiteral("не сохранена")));
    QVERIFY(m_window->isVisible());

    // Once the other program lets go, leaving stores them.
    QVERIFY(shell->exec("ROLLBACK"));
    shell.reset();
    MessageBox::setNextAnswer(QMessageBox::Yes);
    QVERIFY(m_window->close());
    QCOMPARE(MessageBox::takeShown().size(), 1);
    QCOMPARE(stored("A", "sorp"), QStringLiteral("к выходу"));
    m_window.reset();
}

void TestOtherPrograms::failedNotesSaveIsReported()
{
    open({part("A"), part("B")});
    {
        PlainConnection shell(m_register->databasePath());
        QVERIFY(shell.exec("DELETE FROM client WHERE idFam = 'A'"));
    }
    control<QPlainTextEdit>("txtDisc")->setPlainText(QStringLiteral("некуда"));
    MessageBox::setNextAnswer(QMessageBox::Ok);
    down();
    const QList<MessageBox::Shown> shown = MessageBox::takeShown();
    QCOMPARE(shown.size(), 1);
    QVERIFY(shown[0].text.contains(QStringLiteral("доп. информацию")));
}

void TestOtherPrograms::quantityBoxShowsTheStoredValueAfterAFailedSave()
{
    open({part("A", "1", "7")});
    {
        PlainConnection shell(m_register->databasePath());
        QVERIFY(shell.exec("CREATE TRIGGER refuse BEFORE UPDATE ON client "
                           "BEGIN SELECT RAISE(ABORT, 'refused'); END"));
    }
    MessageBox::setNextAnswer(QMessageBox::Ok);
    click("plus");
    const QList<MessageBox::Shown> shown = MessageBox::takeShown();
    QCOMPARE(shown.size(), 1);
    QVERIFY(shown[0].text.contains(QStringLiteral("Не удалось сохранить количество")));
    QCOMPARE(text("Text4"), QStringLiteral("7"));
    QCOMPARE(stored("A", "phone"), QStringLiteral("7"));
}

void TestOtherPrograms::readOnlyRegisterIsDetected()
{
    if (ranAsOtherUser("readOnlyRegisterIsDetected"))
        return;
    m_register = std::make_unique<TestRegister>();
    QVERIFY(m_register->write({part("A", "1", "7")}));
    QFile::setPermissions(m_register->databasePath(), QFile::ReadOwner | QFile::ReadGroup);
    MessageBox::setNextAnswer(QMessageBox::Ok);
    m_window = std::make_unique<Form1>(m_register->paths(), m_register->owner());
    m_window->show();
    const QList<MessageBox::Shown> shown = MessageBox::takeShown();
    QCOMPARE(shown.size(), 1);
    QVERIFY(shown[0].text.contains(QStringLiteral("только для чтения")));
    QCOMPARE(listed(), QStringList({"A"})); // still shown
    MessageBox::setNextAnswer(QMessageBox::Ok);
    click("plus");
    QCOMPARE(MessageBox::takeShown().size(), 1);
    QCOMPARE(text("Text4"), QStringLiteral("7"));
}

int main(int argc, char* argv[])
{
    if (argc == 2 && qstrcmp(argv[1], "--probe") == 0)
        return 0;
    QApplication app(argc, argv);
    TestOtherPrograms test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_otherprograms.moc"

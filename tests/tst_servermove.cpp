// Moving the register to a PostgreSQL server from the menu, and the password the program asks
// for at start-up. Against the server in TARVIK_TEST_PG (tools/pg-test-cluster.sh, whose
// cluster makes the role tarvik_pw give its password over the socket).
#include "MainWindowProbe.h"
#include "TestServer.h"
#include "WhenOpen.h"

#include "app/ServerStartup.h"
#include "gui/PasswordPrompt.h"
#include "service/ServerMoveWindow.h"
#include "store/server/ServerCopy.h"

#include <QDialogButtonBox>
#include <QDirIterator>
#include <QProgressDialog>
#include <QPushButton>
#include <QSemaphore>

#include <atomic>

using namespace tarvik;
using namespace tarvik::test;

namespace {

// More parts than one slice of the copy, so that a cancel can fall between slices.
QList<PartRow> manyParts()
{
    QList<PartRow> parts;
    for (int i = 0; i < 250; ++i)
        parts << part(QStringLiteral("Резистор %1").arg(i), QStringLiteral("1"),
                      QString::number(i));
    return parts;
}

// Types `address` into the move window and presses its button.
void moveTo(ServerMoveWindow* window, const QString& address)
{
    auto* field = control<QLineEdit>(window, "address");
    field->setText(address);
    auto* buttons = window->findChild<QDialogButtonBox*>();
    buttons->button(QDialogButtonBox::Ok)->click();
}

void triggerMove(MainWindowProbe& probe)
{
    probe.control<QAction>("toServer")->trigger();
}

bool containsBytes(const QString& folder, const QByteArray& bytes)
{
    QDirIterator files(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        QFile file(files.next());
        if (file.open(QIODevice::ReadOnly) && file.readAll().contains(bytes))
            return true;
    }
    return false;
}

const QString kPassword = QStringLiteral("Pw-7kq-Сорок2");

} // namespace

class TestServerMove : public QObject {
    Q_OBJECT

private slots:
    void init() { TARVIK_SKIP_WITHOUT_SERVER(); }
    void cleanup() { ServerMoveWindow::setCopyStepHook({}); }
    void moveThroughTheWindows();
    void cancelAndRefusalLeaveTheServerAsItWas();
    void aRegisterOnAServerIsNotMovedAgain();
    void passwordAskedOnceAndNeverWritten();
};

void TestServerMove::moveThroughTheWindows()
{
    TestRegister file;
    QVERIFY(file.write(manyParts(), {{QStringLiteral("КТ-26"), picture(Qt::red)}}));
    ScratchServerDatabase server;
    QVERIFY2(server.ok(), qPrintable(server.error()));
    MainWindowProbe probe;
    probe.m_window = std::make_unique<Form1>(file.paths(), file.owner());

    // A password in the address is refused before anything is sent; the window stays for
    // the address to be mended.
    bool stayed = false;
    whenOpen<ServerMoveWindow>([&](ServerMoveWindow* window) {
        moveTo(window, QStringLiteral("postgresql://postgres:secret42@/postgres"));
        stayed = window->isVisible();
        moveTo(window, server.address().uri());
    });
    MessageBox::setNextAnswer(QMessageBox::Ok);
    MessageBox::setNextAnswer(QMessageBox::Ok);
    triggerMove(probe);
    QVERIFY(stayed);
    const QList<MessageBox::Shown> shown = MessageBox::takeShown();
    QCOMPARE(shown.size(), 2);
    QVERIFY2(shown[0].text.contains(QStringLiteral("парол")), qPrintable(shown[0].text));
    QVERIFY(!shown[0].text.contains(QStringLiteral("secret42")));
    QVERIFY2(shown[1].text.contains(QStringLiteral("следующего запуска")),
             qPrintable(shown[1].text));

    QCOMPARE(server.value(QStringLiteral("SELECT count(*) FROM client")).toInt(), 250);
    QCOMPARE(server.value(QStringLiteral("SELECT length(photo1) FROM vryzd")).toInt(),
             picture(Qt::red).size());
    const ServerChoice choice = readServerChoice(file.databasePath());
    QVERIFY(choice.server);
    QCOMPARE(*choice.server, server.address());
    // The window goes on with the file meanwhile.
    QCOMPARE(probe.listed().size(), 250);
    probe.closeWindow();
}

void TestServerMove::cancelAndRefusalLeaveTheServerAsItWas()
{
    TestRegister file;
    QVERIFY(file.write(manyParts()));
    ScratchServerDatabase server;
    QVERIFY2(server.ok(), qPrintable(server.error()));
    MainWindowProbe probe;
    probe.m_window = std::make_unique<Form1>(file.paths(), file.owner());

    // The copy is held after its first slice of rows until the user has cancelled.
    std::atomic<bool> reached{false};
    QSemaphore released;
    ServerMoveWindow::setCopyStepHook([&](qint64) {
        if (!reached.exchange(true))
            released.tryAcquire(1, 30000);
    });
    qint64 openCopies = -1;
    whenOpen<ServerMoveWindow>([&](ServerMoveWindow* window) {
        whenOpen<QProgressDialog>([&](QProgressDialog* progress) {
            QVERIFY(QTest::qWaitFor([&] { return reached.load(); }, 30000));
            openCopies =
                server
                    .value(QStringLiteral("SELECT count(*) FROM pg_stat_activity WHERE datname = "
                                          "current_database() AND state = 'idle in transaction'"))
                    .toLongLong();
            progress->findChild<QPushButton*>()->click();
            released.release();
        });
        moveTo(window, server.address().uri());
    });
    MessageBox::setNextAnswer(QMessageBox::Ok);
    triggerMove(probe);
    QCOMPARE(openCopies, 1); // the copy was part way, its transaction open
    QList<MessageBox::Shown> shown = MessageBox::takeShown();
    QCOMPARE(shown.size(), 1);
    QVERIFY2(shown[0].text.contains(QStringLiteral("отменён")), qPrintable(shown[0].text));
    QCOMPARE(server.objects(), 0);
    QVERIFY(!QFileInfo::exists(serverSettingsPath(file.databasePath())));

    // A database that holds a register already is refused, and keeps its rows.
    ServerMoveWindow::setCopyStepHook({});
    TestRegister other;
    QVERIFY(other.write({part(QStringLiteral("Диод"))}));
    QVERIFY(copyRegisterToServer(other.databasePath(), server.address()).ok());
    whenOpen<ServerMoveWindow>(
        [&](ServerMoveWindow* window) { moveTo(window, server.address().uri()); });
    MessageBox::setNextAnswer(QMessageBox::Ok);
    triggerMove(probe);
    shown = MessageBox::takeShown();
    QCOMPARE(shown.size(), 1);
    QVERIFY2(shown[0].text.contains(QStringLiteral("уже есть")), qPrintable(shown[0].text));
    QVERIFY2(shown[0].text.contains(QStringLiteral("не перенесена")), qPrintable(shown[0].text));
    QCOMPARE(server.value(QStringLiteral("SELECT idfam FROM client")).toString(),
             QStringLiteral("Диод"));
    QCOMPARE(server.value(QStringLiteral("SELECT count(*) FROM client")).toInt(), 1);
    QVERIFY(!QFileInfo::exists(serverSettingsPath(file.databasePath())));
    probe.closeWindow();
}

void TestServerMove::aRegisterOnAServerIsNotMovedAgain()
{
    ServerRegister reg;
    QVERIFY2(reg.write({part(QStringLiteral("Диод"))}), qPrintable(reg.error()));
    MainWindowProbe probe;
    probe.m_window = std::make_unique<Form1>(reg.file().paths(), reg.owner());
    bool asked = false;
    whenOpen<ServerMoveWindow>([&](ServerMoveWindow*) { asked = true; });
    MessageBox::setNextAnswer(QMessageBox::Ok);
    triggerMove(probe);
    QCoreApplication::processEvents();
    QVERIFY(!asked);
    const QList<MessageBox::Shown> shown = MessageBox::takeShown();
    QCOMPARE(shown.size(), 1);
    QVERIFY2(shown[0].text.contains(QStringLiteral("уже хранится на сервере")),
             qPrintable(shown[0].text));
    probe.closeWindow();
}

void TestServerMove::passwordAskedOnceAndNeverWritten()
{
    ServerRegister reg;
    QVERIFY2(reg.write({part(QStringLiteral("Диод"))}), qPrintable(reg.error()));
    // The least the program's users need, as the README gives it.
    QCOMPARE(reg.server().run(
                 QStringLiteral("DO $$ BEGIN CREATE ROLE tarvik_pw LOGIN; EXCEPTION WHEN "
                                "duplicate_object THEN NULL; END $$; ALTER ROLE tarvik_pw "
                                "PASSWORD '%1'; GRANT SELECT, INSERT, UPDATE, DELETE ON client, "
                                "vryzd, clientkontcount, clientnamechanges TO tarvik_pw; GRANT "
                                "USAGE ON SEQUENCE client_idnom_seq, vryzd_idvrachyzd_seq TO "
                                "tarvik_pw")
                     .arg(kPassword)),
             QString());
    ServerAddress address = reg.server().address();
    address.user = QStringLiteral("tarvik_pw");
    TestRegister& file = reg.file();
    QString error;
    QVERIFY2(writeServerChoice(file.databasePath(), address, &error), qPrintable(error));
    const QByteArray passFileBefore = qgetenv("PGPASSFILE");
    const QString passFile = file.folder() + QStringLiteral("/pgpass");
    qputenv("PGPASSFILE", passFile.toLocal8Bit()); // none there: no ~/.pgpass either

    // The right password, asked once, opens the register for reading and writing.
    PasswordPrompt::setNextAnswer(kPassword);
    std::unique_ptr<Register> opened = chooseRegister(file.paths());
    QVERIFY(opened);
    QCOMPARE(PasswordPrompt::takeAsked().size(), 1);
    QVERIFY(opened->checkResult().ok());
    QVERIFY(MessageBox::takeShown().isEmpty());
    {
        MainWindowProbe probe;
        probe.m_window = std::make_unique<Form1>(file.paths(), *opened);
        QCOMPARE(probe.listed(), QStringList{QStringLiteral("Диод")});
        probe.closeWindow();
    }
    opened.reset();

    // A wrong one is refused with a message, and not asked for again.
    PasswordPrompt::setNextAnswer(QStringLiteral("wrong-") + kPassword);
    MessageBox::setNextAnswer(QMessageBox::Ok);
    QVERIFY(!chooseRegister(file.paths()));
    QCOMPARE(PasswordPrompt::takeAsked().size(), 1);
    QList<MessageBox::Shown> shown = MessageBox::takeShown();
    QCOMPARE(shown.size(), 1);
    QVERIFY2(shown[0].text.contains(QStringLiteral("Программа будет закрыта")),
             qPrintable(shown[0].text));
    QVERIFY(!shown[0].text.contains(kPassword));

    // The file PGPASSFILE names answers for the user: no question.
    {
        QFile pass(passFile);
        QVERIFY(pass.open(QIODevice::WriteOnly));
        pass.write(("*:*:*:tarvik_pw:" + kPassword + "\n").toUtf8());
        pass.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    }
    opened = chooseRegister(file.paths());
    QVERIFY(opened);
    QVERIFY(PasswordPrompt::takeAsked().isEmpty());
    QVERIFY(MessageBox::takeShown().isEmpty());
    opened.reset();
    QFile::remove(passFile);
    if (passFileBefore.isNull())
        qunsetenv("PGPASSFILE");
    else
        qputenv("PGPASSFILE", passFileBefore);

    // Nothing the program wrote holds the password.
    QVERIFY(!containsBytes(file.folder(), kPassword.toUtf8()));
}

QTEST_MAIN(TestServerMove)
#include "tst_servermove.moc"

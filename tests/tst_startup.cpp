// Start-up: one running copy per register, and the main window as the program opens it.
#include "AccessFixtures.h"
#include "TestRegister.h"

#include "app/Form1.h"
#include "app/SingleInstance.h"
#include "app/Startup.h"
#include "gui/MessageBox.h"
#include "store/register/Register.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QMenuBar>
#include <QProcess>
#include <QScreen>
#include <QSqlError>
#include <QSqlQuery>
#include <QStatusBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <functional>

using namespace tarvik;
using namespace tarvik::test;

namespace {

// Run as a child: take the lock, say so, and wait to be killed.
int holdLock(const QString& folder)
{
    SingleInstance instance(folder);
    if (!instance.acquire())
        return 2;
    printf("locked\n");
    fflush(stdout);
    QThread::sleep(60);
    return 0;
}

QString registerFolder(const TestRegister& reg)
{
    return QFileInfo(reg.databasePath()).absolutePath();
}

// Starts a child holding the lock of `folder`, with its own temporary folder when given.
bool startHolder(QProcess& child, const QString& folder, const QString& tmpdir = {})
{
    if (!tmpdir.isEmpty()) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TMPDIR"), tmpdir);
        child.setProcessEnvironment(env);
    }
    child.start(QCoreApplication::applicationFilePath(), {"--hold-lock", folder});
    return child.waitForReadyRead(10000) && child.readAll().trimmed() == "locked";
}

// Runs the program as main() does; `whileShown` sees the main window, then it is closed.
int runAndClose(const ProgramPaths& paths, const std::function<void(Form1*)>& whileShown)
{
    QTimer::singleShot(0, [&] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (auto* window = qobject_cast<Form1*>(widget); window && window->isVisible()) {
                whileShown(window);
                MessageBox::setNextAnswer(QMessageBox::Yes);
                window->close();
                return;
            }
        }
        QCoreApplication::exit(3); // no window was shown
    });
    return runProgram(*qApp, paths);
}

// Where the program must refuse to start: a window it opens anyway is closed again after a
// while, so the test fails instead of waiting forever.
class ClosesAStrayWindow {
public:
    ClosesAStrayWindow()
    {
        m_timer.setSingleShot(true);
        QObject::connect(&m_timer, &QTimer::timeout, [] {
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                auto* window = qobject_cast<Form1*>(widget);
                // An answer meant for the refusal may still wait: asked until it closes.
                for (int tries = 0; window && window->isVisible() && tries < 3; ++tries) {
                    MessageBox::setNextAnswer(QMessageBox::Yes);
                    window->close();
                }
            }
        });
        m_timer.start(3000);
    }

private:
    QTimer m_timer;
};

// Puts a folder or a named pipe at `path` (which must not exist).
// Runs the program where it must not start: a window it opens anyway is closed.
int runRefused(const ProgramPaths& paths)
{
    ClosesAStrayWindow guard;
    return runProgram(*qApp, paths);
}

} // namespace

class TestStartup : public QObject {
    Q_OBJECT

private slots:
    void secondCopyOnlySaysSo();
    void crashedCopyDoesNotLockOut();
    void windowOpensWholeAndCentred();
    void lockIsTheRegistersWhateverTheTemporaryFolder();
    void lockNamingNoOneIsTakenOver_data();
    void lockNamingNoOneIsTakenOver();
    void otherThingInTheLocksPlaceIsNamed_data();
    void otherThingInTheLocksPlaceIsNamed();
    void otherThingInTheRegistersPlaceIsNamedAtOnce_data();
    void otherThingInTheRegistersPlaceIsNamedAtOnce();
    void registerWhoseTableIsAViewSaysSo();
    void openMessagesNameWhatFailedFirst();
    void checkResultIsSafeFromAnyThread();
    void startedCheckAnswersAsCheckDoes();
};

void TestStartup::secondCopyOnlySaysSo()
{
    TestRegister reg;
    QVERIFY(reg.write({part("a")}));
    SingleInstance first(registerFolder(reg));
    QVERIFY(first.acquire());

    MessageBox::setNextAnswer(QMessageBox::Ok);
    {
        ClosesAStrayWindow guard;
        QCOMPARE(runProgram(*qApp, reg.paths()), 0);
    }
    const QList<MessageBox::Shown> shown = MessageBox::takeShown();
    QCOMPARE(shown.size(), 1);
    QCOMPARE(shown[0].text, QStringLiteral("Программа уже запущена!"));
    QCOMPARE(shown[0].title, QStringLiteral("Tarvik"));
    QCOMPARE(shown[0].icon, QMessageBox::NoIcon);
    QCOMPARE(shown[0].buttons, QMessageBox::Ok);
    // No window was made, so nothing opened the register or asked to exit.
    for (QWidget* widget : QApplication::topLevelWidgets())
        QVERIFY(!qobject_cast<Form1*>(widget));

    // Another program folder is another program.
    TestRegister other;
    SingleInstance elsewhere(registerFolder(other));
    QVERIFY(elsewhere.acquire());
}

void TestStartup::crashedCopyDoesNotLockOut()
{
    TestRegister reg;
    QVERIFY(reg.write({part("a")}));
    QProcess child;
    QVERIFY(startHolder(child, registerFolder(reg)));

    // A live copy is honoured, by the lock and by the program.
    SingleInstance second(registerFolder(reg));
    QVERIFY(!second.acquire());
    MessageBox::setNextAnswer(QMessageBox::Ok);
    {
        ClosesAStrayWindow guard;
        QCOMPARE(runProgram(*qApp, reg.paths()), 0);
    }
    QCOMPARE(MessageBox::takeShown().size(), 1);

    child.kill(); // no chance to remove its lock
    QVERIFY(child.waitForFinished(10000));
    QVERIFY(QFile::exists(SingleInstance::lockPathFor(registerFolder(reg))));
    // Its stale lock is taken over: the program opens.
    QCOMPARE(runAndClose(reg.paths(), [](Form1*) {}), 0);
    QCOMPARE(MessageBox::takeShown().size(), 1); // only the exit question
}

void TestStartup::windowOpensWholeAndCentred()
{
    TestRegister reg;
    QVERIFY(reg.write({part("a")}));
    QSize client, menu, status;
    QRect frame, screen;
    QCOMPARE(runAndClose(reg.paths(),
                         [&](Form1* window) {
                             client = window->centralWidget()->size();
                             menu = window->menuBar()->size();
                             status = window->statusBar()->sizeHint();
                             frame = window->geometry();
                             screen = window->screen()->availableGeometry();
                         }),
             0);
    MessageBox::takeShown();
    // The whole client area of 11820 x 8115 twips under the menu bar, not a shrunk stub, and
    // the stock's status line below it.
    QCOMPARE(client, QSize(788, 541));
    QCOMPARE(frame.size(), QSize(788, 541 + menu.height() + status.height()));
    QVERIFY2(qAbs(frame.center().x() - screen.center().x()) <= 1, "not centred across");
    QVERIFY2(qAbs(frame.center().y() - screen.center().y()) <= 1, "not centred down");
}

void TestStartup::lockIsTheRegistersWhateverTheTemporaryFolder()
{
    TestRegister reg;
    QVERIFY(reg.write({part("a")}));
    QTemporaryDir tmpA, tmpB;
    QProcess child;
    QVERIFY(startHolder(child, registerFolder(reg), tmpA.path()));

    const QByteArray saved = qgetenv("TMPDIR");
    qputenv("TMPDIR", tmpB.path().toLocal8Bit());
    MessageBox::setNextAnswer(QMessageBox::Ok);
    ClosesAStrayWindow guard;
    const int result = runProgram(*qApp, reg.paths());
    qputenv("TMPDIR", saved);
    child.kill();
    child.waitForFinished(10000);
    QCOMPARE(result, 0);
    const QList<MessageBox::Shown> shown = MessageBox::takeShown();
    QCOMPARE(shown.size(), 1);
    QCOMPARE(shown[0].text, QStringLiteral("Программа уже запущена!"));
}

void TestStartup::lockNamingNoOneIsTakenOver_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("garbage") << QByteArray("\x00\xff\xfe garbage\n\x01", 13);
    QTest::newRow("no number") << QByteArray("tarvik\nhost\n");
}

void TestStartup::lockNamingNoOneIsTakenOver()
{
    QFETCH(QByteArray, content);
    TestRegister reg;
    QVERIFY(reg.write({part("a")}));
    const QString lockPath = SingleInstance::lockPathFor(registerFolder(reg));
    writeFile(lockPath, content, true);

    // Left by a crash or a full disk, it names no process: the program opens.
    QCOMPARE(runAndClose(reg.paths(), [](Form1*) {}), 0);
    QCOMPARE(MessageBox::takeShown().size(), 1); // only the exit question

    // And once this copy holds the lock, it is honoured as ever.
    writeFile(lockPath, content, true);
    SingleInstance first(registerFolder(reg));
    QVERIFY(first.acquire());
    SingleInstance second(registerFolder(reg));
    QVERIFY(!second.acquire());
    QVERIFY(second.blockedBy().isEmpty());
}

void TestStartup::otherThingInTheLocksPlaceIsNamed_data()
{
    nonFileRows(QStringLiteral("находится папка"),
                QStringLiteral("находится канал или устройство"));
}

void TestStartup::otherThingInTheLocksPlaceIsNamed()
{
    QFETCH(QString, kind);
    QFETCH(QString, named);
    TestRegister reg;
    QVERIFY(reg.write({part("a")}));
    const QString lockPath = SingleInstance::lockPathFor(registerFolder(reg));
    QVERIFY(makeNonFile(lockPath, kind));

    MessageBox::setNextAnswer(QMessageBox::Ok);
    QCOMPARE(runRefused(reg.paths()), 1);
    const QList<MessageBox::Shown> shown = MessageBox::takeShown();
    QCOMPARE(shown.size(), 1);
    QVERIFY2(shown[0].text.contains(QStringLiteral("«%1»").arg(QDir::toNativeSeparators(lockPath))),
             qPrintable(shown[0].text));
    QVERIFY2(shown[0].text.contains(named), qPrintable(shown[0].text));
    QCOMPARE(shown[0].icon, QMessageBox::Warning);
    for (QWidget* widget : QApplication::topLevelWidgets())
        QVERIFY(!qobject_cast<Form1*>(widget));
}

void TestStartup::otherThingInTheRegistersPlaceIsNamedAtOnce_data()
{
    nonFileRows(QStringLiteral("это папка, а не файл"),
                QStringLiteral("это канал или устройство, а не файл"));
}

void TestStartup::otherThingInTheRegistersPlaceIsNamedAtOnce()
{
    QFETCH(QString, kind);
    QFETCH(QString, named);
    TestRegister reg;
    QVERIFY(reg.write({part("a")}));
    QVERIFY(QFile::remove(reg.databasePath()));
    QVERIFY(makeNonFile(reg.databasePath(), kind));

    // Reading a pipe would wait for ever, with the lock held: the window opens and says so.
    MessageBox::setNextAnswer(QMessageBox::Ok);
    int rows = -1;
    QCOMPARE(runAndClose(reg.paths(),
                         [&](Form1* window) {
                             rows =
                                 test::control<QTableView>(window, "TDBGrid2")->model()->rowCount();
                         }),
             0);
    QCOMPARE(rows, 0);
    const QList<MessageBox::Shown> shown = MessageBox::takeShown();
    QCOMPARE(shown.size(), 2); // what is wrong, then the exit question
    QCOMPARE(shown[0].text, QStringLiteral("Не удаётся открыть файл базы данных «%1» (%2). "
                                           "Список деталей будет пуст.")
                                .arg(reg.databasePath(), named));
    QCOMPARE(shown[0].icon, QMessageBox::Warning);
}

void TestStartup::registerWhoseTableIsAViewSaysSo()
{
    TestRegister reg;
    QVERIFY(reg.write({part("a"), part("b")}));
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "view");
        db.setDatabaseName(reg.databasePath());
        QVERIFY(db.open());
        QSqlQuery query(db);
        for (const char* statement : {"ALTER TABLE client RENAME TO client_rows",
                                      "CREATE VIEW client AS SELECT * FROM client_rows"})
            QVERIFY2(query.exec(QLatin1String(statement)), qPrintable(query.lastError().text()));
        query.finish();
        db.close();
    }
    QSqlDatabase::removeDatabase("view");

    MessageBox::setNextAnswer(QMessageBox::Ok);
    int rows = -1;
    QCOMPARE(runAndClose(reg.paths(),
                         [&](Form1* window) {
                             rows =
                                 test::control<QTableView>(window, "TDBGrid2")->model()->rowCount();
                         }),
             0);
    QCOMPARE(rows, 0); // no blank rows that fail on every change
    const QList<MessageBox::Shown> shown = MessageBox::takeShown();
    QCOMPARE(shown.size(), 2);
    QVERIFY2(shown[0].text.startsWith(QStringLiteral("В базе данных «%1» «client» — не обычная "
                                                     "таблица")
                                          .arg(reg.databasePath())),
             qPrintable(shown[0].text));
}

void TestStartup::openMessagesNameWhatFailedFirst()
{
    // The engine's words as the driver gives them: two parts, a second line, a statement.
    const QString raw = QStringLiteral("Error opening database unable to open database file: "
                                       "SELECT name FROM sqlite_master\nsecond line");
    const QString path = QStringLiteral("/reg/vorlend.mdb");
    QCOMPARE(describeOpenProblem(path, {OpenProblem::CannotOpen, raw}),
             QStringLiteral("Не удаётся открыть файл базы данных «/reg/vorlend.mdb» (Error "
                            "opening database unable to open database file). Список деталей "
                            "будет пуст."));
    QCOMPARE(describeDamage(path, QStringLiteral("database disk image is malformed\nUPDATE "
                                                 "client SET phone = '1'")),
             QStringLiteral("Файл базы данных «/reg/vorlend.mdb» повреждён (database disk image "
                            "is malformed). Изменения больше не сохраняются: закройте программу "
                            "и восстановите файл из резервной копии."));
    // Nothing to add: the sentence alone.
    QCOMPARE(describeDamage(path, {}),
             QStringLiteral("Файл базы данных «/reg/vorlend.mdb» повреждён. Изменения больше не "
                            "сохраняются: закройте программу и восстановите файл из резервной "
                            "копии."));
}

void TestStartup::checkResultIsSafeFromAnyThread()
{
    // The name loader asks for the result on its own thread while the window checks the
    // file (ThreadSanitizer tells a race here).
    TestRegister reg;
    QVERIFY(reg.write({part("a")}));
    Register owner(reg.databasePath());
    std::atomic<bool> done{false};
    std::atomic<int> asked{0};
    std::unique_ptr<QThread> loader(QThread::create([&] {
        while (!done) {
            if (owner.checkResult().detail.isNull())
                ++asked;
            Connection db;
            owner.connect(db);
        }
    }));
    loader->start();
    for (int i = 0; i < 20 || asked == 0; ++i)
        QVERIFY(owner.check().ok());
    done = true;
    QVERIFY(loader->wait(10000));
    QVERIFY(owner.checkResult().ok());
}

void TestStartup::startedCheckAnswersAsCheckDoes()
{
    TestRegister reg;
    QVERIFY(reg.write({part("a")}));
    const auto answers = [&](bool started) {
        Register owner(reg.databasePath());
        if (started)
            owner.startCheck();
        const OpenResult result = owner.check();
        return std::tuple(result.problem, owner.checkResult().problem, owner.isDamaged());
    };
    const auto same = [&] { return answers(true) == answers(false); };
    QCOMPARE(std::get<0>(answers(true)), OpenProblem::None);
    QVERIFY(same());
    QFile file(reg.databasePath());
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(QByteArray(8192, 'x')) == 8192);
    file.close();
    QVERIFY(std::get<0>(answers(true)) != OpenProblem::None);
    QVERIFY(same());
    // Given up before anyone asks: the check's thread and connection end with the register.
    {
        Register(reg.databasePath()).startCheck();
    }
}

int main(int argc, char* argv[])
{
    if (argc == 3 && qstrcmp(argv[1], "--hold-lock") == 0) {
        QCoreApplication app(argc, argv);
        return holdLock(QString::fromLocal8Bit(argv[2]));
    }
    QApplication app(argc, argv);
    prepareApplication(app);
    TestStartup test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_startup.moc"

// Start-up: one running copy per register, and the main window as the program opens it.
#include "TestRegister.h"

#include "app/Form1.h"
#include "app/MessageBox.h"
#include "app/SingleInstance.h"
#include "app/Startup.h"

#include <QApplication>
#include <QFileInfo>
#include <QMenuBar>
#include <QProcess>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

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

} // namespace

class TestStartup : public QObject {
    Q_OBJECT

private slots:
    void secondCopyOnlySaysSo();
    void crashedCopyDoesNotLockOut();
    void windowOpensWholeAndCentred();
    void lockIsTheRegistersWhateverTheTemporaryFolder();
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
    QSize client, menu;
    QRect frame, screen;
    QCOMPARE(runAndClose(reg.paths(),
                         [&](Form1* window) {
                             client = window->centralWidget()->size();
                             menu = window->menuBar()->size();
                             frame = window->geometry();
                             screen = window->screen()->availableGeometry();
                         }),
             0);
    MessageBox::takeShown();
    // The whole client area of 11820 x 8115 twips under the menu bar, not a shrunk stub.
    QCOMPARE(client, QSize(788, 541));
    QCOMPARE(frame.size(), QSize(788, 541 + menu.height()));
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

// Start-up: one running copy per program folder.
#include "TestRegister.h"

#include "app/Form1.h"
#include "app/MessageBox.h"
#include "app/SingleInstance.h"
#include "app/Startup.h"

#include <QApplication>
#include <QProcess>
#include <QTest>
#include <QThread>

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

} // namespace

class TestStartup : public QObject {
    Q_OBJECT

private slots:
    void secondCopyOnlySaysSo();
    void crashedCopyDoesNotLockOut();
};

void TestStartup::secondCopyOnlySaysSo()
{
    TestRegister reg;
    QVERIFY(reg.write({part("a")}));
    SingleInstance first(reg.folder());
    QVERIFY(first.acquire());

    MessageBox::setNextAnswer(QMessageBox::Ok);
    QCOMPARE(runProgram(*qApp, reg.paths()), 0);
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
    SingleInstance elsewhere(other.folder());
    QVERIFY(elsewhere.acquire());
}

void TestStartup::crashedCopyDoesNotLockOut()
{
    TestRegister reg;
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), {"--hold-lock", reg.folder()});
    QVERIFY(child.waitForReadyRead(10000));
    QCOMPARE(child.readAll().trimmed(), QByteArray("locked"));

    SingleInstance second(reg.folder());
    QVERIFY(!second.acquire());
    child.kill(); // no chance to remove its lock
    QVERIFY(child.waitForFinished(10000));
    QVERIFY(second.acquire());
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

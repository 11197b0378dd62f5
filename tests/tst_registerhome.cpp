// Where the register lives: beside the program as always, or, for an installed program, in
// the user's data folder, made there on first start.
#include "app/RegisterHome.h"
#include "gui/MessageBox.h"
#include "store/records/Seeding.h"
#include "store/register/Register.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace tarvik;

namespace {

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeDemo(const QString& path)
{
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    Seeder demo(path);
    return demo.addPackageType(QStringLiteral("DIP-8"), QStringLiteral("DIP-8.jpg"), {}) &&
           demo.commit();
}

bool usable(const QString& path)
{
    Register reg(path);
    return reg.check().ok();
}

} // namespace

class TestRegisterHome : public QObject {
    Q_OBJECT

private slots:
    void cleanup();
    void installedProgramMakesTheUsersRegisterOnce();
    void withoutDemoTheFirstRegisterIsEmpty();
    void aProgramFolderThatCanHoldItStaysAsItWas();
    void aRegisterThatCannotBeMadeEndsTheProgram();

private:
    QTemporaryDir m_dir;
    QString at(const QString& relative) const { return m_dir.filePath(relative); }
};

void TestRegisterHome::cleanup()
{
    QVERIFY2(MessageBox::takeShown().isEmpty(), "a message nobody expected");
}

void TestRegisterHome::installedProgramMakesTheUsersRegisterOnce()
{
    const ProgramPaths program(at("usr/bin"));
    QVERIFY(QDir().mkpath(program.folder()));
    QVERIFY(writeDemo(at("usr/share/tarvik/vorlend.mdb")));
    const QString user = at("home/.local/share/Tarvik");
    const QString made = user + QStringLiteral("/base/vorlend.mdb");

    MessageBox::setNextAnswer(QMessageBox::Ok);
    std::optional<ProgramPaths> home = settleRegisterHome(program, user);
    QVERIFY(home);
    QCOMPARE(home->folder(), user);
    QCOMPARE(home->databasePath(), made);
    QCOMPARE(contents(made), contents(at("usr/share/tarvik/vorlend.mdb")));
    QVERIFY(QFileInfo(made).isWritable());
    QVERIFY(usable(made));
    const QList<MessageBox::Shown> shown = MessageBox::takeShown();
    QCOMPARE(shown.size(), 1);
    QCOMPARE(shown[0].icon, QMessageBox::Information);
    QVERIFY2(shown[0].text.contains(QDir::toNativeSeparators(made)), qPrintable(shown[0].text));
    QVERIFY(!QFileInfo::exists(program.databasePath()));

    // Next start: the same register, nothing asked or made.
    home = settleRegisterHome(program, user);
    QVERIFY(home);
    QCOMPARE(home->databasePath(), made);

    // A register beside the program wins, installed or not.
    QVERIFY(writeDemo(program.databasePath()));
    home = settleRegisterHome(program, user);
    QVERIFY(home);
    QCOMPARE(home->folder(), program.folder());
}

void TestRegisterHome::withoutDemoTheFirstRegisterIsEmpty()
{
    // No folder can be made below a file: the program's folder cannot hold the register.
    QFile blocker(at("opt"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    const ProgramPaths program(at("opt/tarvik"));
    const QString user = at("user");

    MessageBox::setNextAnswer(QMessageBox::Ok);
    const std::optional<ProgramPaths> home = settleRegisterHome(program, user);
    QVERIFY(home);
    QCOMPARE(home->folder(), user);
    QVERIFY(usable(home->databasePath()));
    const QList<MessageBox::Shown> shown = MessageBox::takeShown();
    QCOMPARE(shown.size(), 1);
    QVERIFY2(
        shown[0].text.contains(
            QStringLiteral("пустая база «%1»").arg(QDir::toNativeSeparators(home->databasePath()))),
        qPrintable(shown[0].text));
}

void TestRegisterHome::aProgramFolderThatCanHoldItStaysAsItWas()
{
    // Not installed and writable: the register is looked for beside the program, as always,
    // and its absence is the main window's to report.
    const ProgramPaths program(at("portable"));
    QVERIFY(QDir().mkpath(program.folder()));
    const std::optional<ProgramPaths> home = settleRegisterHome(program, at("unused"));
    QVERIFY(home);
    QCOMPARE(home->folder(), program.folder());
    QVERIFY(!QFileInfo::exists(at("unused")));
}

void TestRegisterHome::aRegisterThatCannotBeMadeEndsTheProgram()
{
    const ProgramPaths program(at("inst/bin"));
    QVERIFY(QDir().mkpath(at("inst/share/tarvik")));
    QFile blocker(at("blocked"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();

    MessageBox::setNextAnswer(QMessageBox::Ok);
    QVERIFY(!settleRegisterHome(program, at("blocked/Tarvik")));
    const QList<MessageBox::Shown> shown = MessageBox::takeShown();
    QCOMPARE(shown.size(), 1);
    QCOMPARE(shown[0].icon, QMessageBox::Warning);
    QVERIFY2(shown[0].text.startsWith(
                 QStringLiteral("Не удалось создать базу «%1»")
                     .arg(QDir::toNativeSeparators(at("blocked/Tarvik/base/vorlend.mdb")))),
             qPrintable(shown[0].text));
}

QTEST_MAIN(TestRegisterHome)
#include "tst_registerhome.moc"

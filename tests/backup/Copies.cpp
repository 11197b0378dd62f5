// The store's backups and restores: what a copy holds, the register's own writes while it is
// written, failures at every step, the daily copies kept, and a restore's swap.
#include "backup/TestBackup.h"

#include "gui/FileDialog.h"
#include "gui/MessageBox.h"
#include "gui/ProgramEnd.h"
#include "store/records/PartWriter.h"
#include "store/register/DamageCheck.h"

#include <QSettings>
#include <QSignalSpy>

void TestBackup::initTestCase()
{
    ProgramEnd::setStandIn([this] { ++m_ends; });
}

void TestBackup::init()
{
    m_ends = 0;
    MessageBox::takeShown();
    FileDialog::takeAsked();
}

void TestBackup::cleanup()
{
    failNextBackupAt(BackupStep::None);
    setBackupStepHook({});
    failNextRestoreAt(RestoreStep::None);
    setRestoreStepHook({});
}

void TestBackup::backupHoldsEveryRowAndLeavesNothingElse()
{
    TARVIK_FILE_ONLY("the copy is read from the file");
    TestRegister files;
    writeParts(files, 300);
    const QString path = files.databasePath();
    const QByteArray before = contentsOf(path);
    const QString target = files.folder() + QStringLiteral("/out/copy.mdb");
    // A register kept from other users has a copy kept from them too.
    const QFile::Permissions ownerOnly = QFile::ReadOwner | QFile::WriteOwner;
    QVERIFY(QFile::setPermissions(path, ownerOnly));

    BackupControl control;
    control.pagesPerStep = 7; // many steps
    const BackupResult result = backupRegisterFile(path, target, control);
    QVERIFY2(result.ok(), qPrintable(result.detail));
    QCOMPARE(result.parts, 300);
    QCOMPARE(result.packageTypes, 4);
    QCOMPARE(contentsOf(target), before);
    QVERIFY(checkRegisterFile(target).ok());
    QCOMPARE(filesIn(files.folder() + QStringLiteral("/out")), QStringList{"copy.mdb"});
    const QFile::Permissions ownerGroupOther(0x7077); // not the bits for this process's user
    QCOMPARE(QFileInfo(target).permissions() & ownerGroupOther, ownerOnly);
    // A copy opens as any register does.
    Register copy(target);
    QVERIFY(copy.check().ok());

    // A file that appears at the name while a copy that must not replace one is written
    // stays as it is, however late it came.
    const QString late = files.folder() + QStringLiteral("/out/late.mdb");
    setBackupStepHook([&](BackupStep step, const QString&) {
        if (step == BackupStep::Rename) {
            QFile file(late);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write("someone's") == 9);
        }
    });
    control.keepExisting = true;
    const BackupResult refused = backupRegisterFile(path, late, control);
    setBackupStepHook({});
    QCOMPARE(refused.failedStep, BackupStep::Rename);
    QFile kept(late);
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(kept.readAll(), QByteArray("someone's"));
    QCOMPARE(filesIn(files.folder() + QStringLiteral("/out")),
             QStringList({"copy.mdb", "late.mdb"}));
}

void TestBackup::writesBetweenStepsGoOnAndTheCopyIsConsistent()
{
    TARVIK_FILE_ONLY("the engine's read lock on the file");
    TestRegister files;
    writeParts(files, 300);
    const QString path = files.databasePath();
    const QString target = files.folder() + QStringLiteral("/copy.mdb");

    // The program's "+" between the copy's steps: it never waits for the whole copy, and
    // the copy, begun again, holds every change made before it ended.
    Register owner(path);
    QVERIFY(owner.check().ok());
    Connection db;
    QVERIFY(owner.connect(db).ok());
    PartWriter writer(db);
    int steps = 0;
    int written = 0;
    setBackupStepHook([&](BackupStep step, const QString&) {
        if (step != BackupStep::Copy || ++steps % 10 != 3 || written >= 3)
            return;
        // The fourth, fourteenth and twenty-fourth steps each see a committed change.
        const PartWrite write = writer.change(
            1, {{QStringLiteral("phone"), QString::number(100 + written)}}, {}, PartAction::Plus);
        QCOMPARE(write.outcome, PartWrite::Outcome::Saved);
        ++written;
    });
    BackupControl control;
    control.pagesPerStep = 8;
    const BackupResult result = backupRegisterFile(path, target, control);
    setBackupStepHook({});
    QVERIFY2(result.ok(), qPrintable(result.detail));
    QCOMPARE(written, 3);
    QVERIFY(result.restarts >= 1);
    QCOMPARE(contentsOf(target), contentsOf(path));
}

void TestBackup::failureOrCancelLeavesNoFileUnderTheName_data()
{
    QTest::addColumn<int>("step");
    QTest::addColumn<bool>("cancel");
    QTest::newRow("prepare") << int(BackupStep::Prepare) << false;
    QTest::newRow("copy: disk full") << int(BackupStep::Copy) << false;
    QTest::newRow("check") << int(BackupStep::Check) << false;
    QTest::newRow("flush") << int(BackupStep::Flush) << false;
    QTest::newRow("rename") << int(BackupStep::Rename) << false;
    QTest::newRow("cancelled while copying") << int(BackupStep::Copy) << true;
}

void TestBackup::failureOrCancelLeavesNoFileUnderTheName()
{
    TARVIK_FILE_ONLY("the copy is read from the file");
    QFETCH(int, step);
    QFETCH(bool, cancel);
    TestRegister files;
    writeParts(files, 100);
    const QString path = files.databasePath();
    const QByteArray before = QFileInfo(path).lastModified().toString().toUtf8() + contentsOf(path);
    const QString folder = files.folder() + QStringLiteral("/out");
    const QString target = folder + QStringLiteral("/copy.mdb");

    std::atomic<bool> stop{false};
    BackupControl control;
    control.pagesPerStep = 5;
    control.cancel = &stop;
    if (cancel)
        setBackupStepHook([&](BackupStep at, const QString&) {
            if (at == BackupStep::Copy)
                stop = true;
        });
    else
        failNextBackupAt(BackupStep(step), qt_error_string(ENOSPC));
    const BackupResult result = backupRegisterFile(path, target, control);
    QVERIFY(!result.ok());
    QCOMPARE(result.cancelled, cancel);
    if (!cancel) {
        QCOMPARE(int(result.failedStep), step);
        QVERIFY(describeBackupFailure(target, result).contains(qt_error_string(ENOSPC)));
    }
    QCOMPARE(filesIn(folder), QStringList{});
    QCOMPARE(QFileInfo(path).lastModified().toString().toUtf8() + contentsOf(path), before);
}

void TestBackup::dailyCopiesKeepTheNewestAndOnlyTheirOwn()
{
    TARVIK_FILE_ONLY("the copies are files beside the register's file");
    TestRegister files;
    writeParts(files, 10);
    const QString path = files.databasePath();
    const QString folder = backupFolder(path);
    QCOMPARE(dailyBackupsToKeep(path), 14);
    {
        QSettings ini(serverSettingsPath(path), QSettings::IniFormat);
        ini.setValue(QStringLiteral("backup/keep"), QStringLiteral("zwei"));
    }
    QCOMPARE(dailyBackupsToKeep(path), 14);
    {
        QSettings ini(serverSettingsPath(path), QSettings::IniFormat);
        ini.setValue(QStringLiteral("backup/keep"), 3);
    }
    QCOMPARE(dailyBackupsToKeep(path), 3);

    const QDate today(2026, 3, 10);
    QCOMPARE(dailyBackupPath(path, today), folder + QStringLiteral("/vorlend-2026-03-10.mdb"));
    QVERIFY(QDir().mkpath(folder));
    const QStringList others = {"notes.txt", "vorlend-2026-03-01-120000-before-restore.mdb",
                                "other-2026-01-01.mdb", "vorlend-2026-1-1.mdb"};
    for (const QString& name : others) {
        QFile file(folder + QLatin1Char('/') + name);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    for (int day = 0; day < 5; ++day)
        QVERIFY(backupRegisterFile(path, dailyBackupPath(path, today.addDays(-day))).ok());
    // A copy cut off is cleared away with the old ones.
    QFile leftover(folder + QStringLiteral("/vorlend-2026-03-11.mdbTemp"));
    QVERIFY(leftover.open(QIODevice::WriteOnly));
    leftover.close();

    const QStringList removed = pruneDailyBackups(path, 3);
    QCOMPARE(removed.size(), 3);
    QStringList expected = others;
    expected << "vorlend-2026-03-08.mdb"
             << "vorlend-2026-03-09.mdb"
             << "vorlend-2026-03-10.mdb";
    expected.sort();
    QCOMPARE(filesIn(folder), expected);
}

void TestBackup::restoreSwapsTheCopyInAndKeepsTheRegister()
{
    TARVIK_FILE_ONLY("a restore replaces the register's file");
    TestRegister files;
    writeParts(files, 50, QStringLiteral("Старая"));
    const QString path = files.databasePath();
    const QString copy = files.folder() + QStringLiteral("/copy.mdb");
    QVERIFY(backupRegisterFile(path, copy).ok());
    const QByteArray inCopy = contentsOf(copy);
    // The register moves on after the copy was made.
    QVERIFY(
        files.runAsOtherClient(QStringLiteral("DELETE FROM client WHERE idnom > 10")).isEmpty());
    const QByteArray current = contentsOf(path);
    QVERIFY(current != inCopy);

    Register& owner = files.owner();
    QVERIFY(owner.check().ok());
    Connection held;
    QVERIFY(owner.connect(held).ok());
    const QString keep = keptBeforeRestorePath(path, QDateTime(QDate(2026, 5, 4), QTime(3, 2, 1)));
    QCOMPARE(QFileInfo(keep).fileName(),
             QStringLiteral("vorlend-2026-05-04-030201-before-restore.mdb"));
    const RestoreResult result = restoreRegister(owner, copy, keep);
    QVERIFY2(result.ok(), qPrintable(result.detail));
    QVERIFY(!held.isOpen());
    QCOMPARE(result.copy.parts, 50);
    QCOMPARE(contentsOf(path), inCopy);
    QCOMPARE(contentsOf(keep), current);
    QVERIFY(!QFileInfo::exists(restoreCopyPath(path)));
    QCOMPARE(filesIn(QFileInfo(path).path()), QStringList{"vorlend.mdb"});
}

void TestBackup::damagedRegisterIsRestoredAndKeptAsItWas()
{
    TARVIK_FILE_ONLY("a restore replaces the register's file");
    TestRegister files;
    writeParts(files, 200);
    const QString path = files.databasePath();
    const QString copy = files.folder() + QStringLiteral("/copy.mdb");
    QVERIFY(backupRegisterFile(path, copy).ok());
    damagePages(path);
    QVERIFY(!checkRegisterFile(path).ok());
    const QByteArray damaged = bytesOf(path);

    Register& owner = files.owner();
    owner.check();
    const QString keep = keptBeforeRestorePath(path, QDateTime::currentDateTime());
    const RestoreResult result = restoreRegister(owner, copy, keep);
    QVERIFY2(result.ok(), qPrintable(result.detail));
    QCOMPARE(contentsOf(path), contentsOf(copy));
    QVERIFY(bytesOf(keep) == damaged);
    QCOMPARE(filesIn(backupFolder(path)), QStringList{QFileInfo(keep).fileName()});
}

void TestBackup::damagedOrForeignCopyIsRefusedAndNothingChanges_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("damaged") << "damaged";
    QTest::newRow("not a database") << "text";
    QTest::newRow("another program's database") << "foreign";
    QTest::newRow("missing") << "missing";
}

void TestBackup::damagedOrForeignCopyIsRefusedAndNothingChanges()
{
    TARVIK_FILE_ONLY("a restore replaces the register's file");
    QFETCH(QString, kind);
    TestRegister files;
    writeParts(files, 200);
    const QString path = files.databasePath();
    const QString copy = files.folder() + QStringLiteral("/copy.mdb");
    if (kind == "damaged") {
        QVERIFY(backupRegisterFile(path, copy).ok());
        damagePages(copy);
    } else if (kind == "text") {
        QFile file(copy);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray("Наименование;Корпус\n").repeated(200));
    } else if (kind == "foreign") {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "foreign");
        db.setDatabaseName(copy);
        QVERIFY(db.open());
        QVERIFY(QSqlQuery(db).exec("CREATE TABLE client (idnom INTEGER PRIMARY KEY)"));
        QVERIFY(QSqlQuery(db).exec("CREATE TABLE vrYZD (IDvrachYZD INTEGER PRIMARY KEY)"));
        db.close();
        db = {};
        QSqlDatabase::removeDatabase("foreign");
    }
    const QByteArray bytes = bytesOf(path);
    Register& owner = files.owner();
    QVERIFY(owner.check().ok());
    Connection held;
    QVERIFY(owner.connect(held).ok());
    const QString keep = keptBeforeRestorePath(path, QDateTime::currentDateTime());
    const RestoreResult result = restoreRegister(owner, copy, keep);
    QCOMPARE(result.failedStep, RestoreStep::CheckCopy);
    QVERIFY(!result.registerClosed());
    QVERIFY(held.isOpen()); // nothing was closed: the program goes on
    QVERIFY(describeRestoreFailure(path, copy, result).contains(QStringLiteral("не годится")));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.readAll() == bytes);
    QVERIFY(!QFileInfo::exists(keep));
    QVERIFY(!QFileInfo::exists(restoreCopyPath(path)));
}

void TestBackup::failedRestoreLeavesTheRegisterAsItWas_data()
{
    QTest::addColumn<int>("step");
    for (RestoreStep step :
         {RestoreStep::Prepare, RestoreStep::Lock, RestoreStep::KeepCurrent, RestoreStep::Copy,
          RestoreStep::Check, RestoreStep::Attributes, RestoreStep::Flush, RestoreStep::Replace})
        QTest::newRow(QByteArray::number(int(step)).constData()) << int(step);
}

void TestBackup::failedRestoreLeavesTheRegisterAsItWas()
{
    TARVIK_FILE_ONLY("a restore replaces the register's file");
    QFETCH(int, step);
    TestRegister files;
    writeParts(files, 40);
    const QString path = files.databasePath();
    const QString copy = files.folder() + QStringLiteral("/copy.mdb");
    QVERIFY(backupRegisterFile(path, copy).ok());
    QVERIFY(
        files.runAsOtherClient(QStringLiteral("DELETE FROM client WHERE idnom > 10")).isEmpty());
    const QByteArray before = contentsOf(path);

    failNextRestoreAt(RestoreStep(step));
    const RestoreResult result = restoreRegister(
        files.owner(), copy, keptBeforeRestorePath(path, QDateTime::currentDateTime()));
    QCOMPARE(int(result.failedStep), step);
    QVERIFY(result.registerClosed());
    QVERIFY(!result.copyLeftBehind);
    QVERIFY(describeRestoreFailure(path, copy, result)
                .startsWith(QStringLiteral("База данных не восстановлена")));
    QCOMPARE(contentsOf(path), before);
    QCOMPARE(filesIn(QFileInfo(path).path()), QStringList{"vorlend.mdb"});
}

void TestBackup::damageCheckRunsAgainAfterTheRegisterReopens()
{
    TARVIK_FILE_ONLY("the quick check reads the file");
    TestRegister files;
    writeParts(files, 20);
    Register& owner = files.owner();
    QVERIFY(owner.check().ok());
    DamageCheck check(owner);
    QSignalSpy finished(&check, &DamageCheck::finished);
    check.start();
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 20000);
    QCOMPARE(finished[0][0].toString(), QString());

    // As after a compaction or a restore: closed, the file replaced, open again.
    owner.closeAll();
    QVERIFY(!check.isRunning());
    owner.reopen();
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 2, 20000);
    QCOMPARE(finished[1][0].toString(), QString());
}

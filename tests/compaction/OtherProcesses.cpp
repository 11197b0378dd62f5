// Other processes on the register: one that holds it locked, one that writes while it is
// compacted, a journal left live, and the compacting process killed at any moment.
#include "TestCompaction.h"

namespace {

QString childProgram()
{
    return QStringLiteral(TARVIK_COMPACT_CHILD);
}

const QString kInsertedName = QStringLiteral("Вставлена другой программой");

// The sqlite3 shell adding a part, as another program on the machine would. It says
// "inserted" only once the insert has reported success.
QString insertStatements()
{
    return QStringLiteral("INSERT INTO client (kont, idFam, idFamKey) VALUES ('1', '%1', '%2');\n"
                          ".print inserted\n")
        .arg(kInsertedName, kInsertedName.toLower());
}

bool startShell(QProcess& shell, const QString& path, const QString& statements)
{
    shell.start(QStringLiteral("sqlite3"), {QStringLiteral("-bail"), path});
    if (!shell.waitForStarted(10000))
        return false;
    shell.write(statements.toUtf8());
    shell.closeWriteChannel();
    return true;
}

} // namespace

void TestCompaction::registerLockedElsewhereIsNotCompacted()
{
    TestRegister files;
    QVERIFY(files.write({part("Резистор"), part("Диод")}));
    const QString path = files.databasePath();
    const QByteArray bytes = fileBytes(path);
    {
        // Another program (the sqlite3 shell, say) in the middle of its own transaction.
        QSqlDatabase other =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("other-program"));
        other.setDatabaseName(path);
        QVERIFY(other.open());
        QSqlQuery lock(other);
        QVERIFY(lock.exec(QStringLiteral("BEGIN EXCLUSIVE")));

        Register owner(path);
        const CompactionResult result = compactRegister(owner);
        QVERIFY(result.failedStep != CompactionStep::None);
        QVERIFY2(describeCompactionFailure(path, result)
                     .contains(QStringLiteral("занят другой программой")),
                 qPrintable(describeCompactionFailure(path, result)));
        QVERIFY(!QFileInfo::exists(compactionCopyPath(path)));
        QVERIFY(lock.exec(QStringLiteral("ROLLBACK")));
        other.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("other-program"));
    QVERIFY(fileBytes(path) == bytes);
}

void TestCompaction::anotherProgramsWriteIsNeverLost_data()
{
    QTest::addColumn<int>("step");
    QTest::newRow("between the count and the copy") << int(CompactionStep::Vacuum);
    QTest::newRow("between the copy and the rename") << int(CompactionStep::Replace);
}

void TestCompaction::anotherProgramsWriteIsNeverLost()
{
    // The sqlite3 shell inserts while the compaction runs: it is told the register is busy,
    // or its row is in the compacted register. Never a success that the rename undoes.
    if (QStandardPaths::findExecutable(QStringLiteral("sqlite3")).isEmpty())
        QSKIP("the sqlite3 shell is not installed");
    QFETCH(int, step);
    TestRegister files;
    writeRegisterWithGaps(files, 30);
    const QString path = files.databasePath();

    QProcess waiting; // opened the file before the rename, waits up to 20 s for the lock
    QProcess at_once; // gives up at once when the file is locked
    bool ran = false;
    setCompactionStepHook([&](CompactionStep at, const QString&) {
        if (int(at) != step || ran)
            return;
        ran = true;
        if (!startShell(waiting, path,
                        QStringLiteral(".timeout 20000\nSELECT COUNT(*) FROM client;\n") +
                            insertStatements()))
            return;
        waiting.waitForReadyRead(10000); // the count: the shell has the file open
        if (startShell(at_once, path, insertStatements()))
            at_once.waitForFinished(30000);
    });
    Register owner(path);
    QVERIFY(owner.check().ok());
    const CompactionResult result = compactRegister(owner);
    setCompactionStepHook({});
    QVERIFY(ran);
    QVERIFY2(result.ok(), qPrintable(describeCompactionFailure(path, result)));
    QVERIFY(waiting.waitForFinished(30000));

    const int landed = int(files.storedNames().count(kInsertedName));
    const QByteArray atOnceSaid = at_once.readAllStandardOutput() + at_once.readAllStandardError();
    const QByteArray waitingSaid = waiting.readAllStandardOutput() + waiting.readAllStandardError();
    const int reported =
        int(atOnceSaid.contains("inserted")) + int(waitingSaid.contains("inserted"));
    QVERIFY2(reported == landed, atOnceSaid + " | " + waitingSaid);
    QVERIFY2(atOnceSaid.contains("database is locked"), atOnceSaid);
    const FileCheck check = checkRegisterFile(path);
    QVERIFY2(check.ok(), qPrintable(check.problem));
}

void TestCompaction::liveJournalStopsTheReplace()
{
    // A journal that would be played back belongs to the old file: the copy must not take
    // the register's name while one lies beside it.
    TestRegister files;
    writeRegisterWithGaps(files, 30);
    const QString path = files.databasePath();
    const QString journal = path + QStringLiteral("-journal");
    const QByteArray bytes = fileBytes(path);
    setCompactionStepHook([&](CompactionStep step, const QString&) {
        if (step != CompactionStep::Replace)
            return;
        QFile file(journal);
        if (file.open(QIODevice::WriteOnly))
            file.write(QByteArray::fromHex("d9d505f920a163d7") + QByteArray(600, '\x5a'));
    });
    Register owner(path);
    const CompactionResult result = compactRegister(owner);
    QCOMPARE(result.failedStep, CompactionStep::Replace);
    QVERIFY(!result.copyLeftBehind);
    QVERIFY(QFile::remove(journal));
    QVERIFY(fileBytes(path) == bytes);
    QCOMPARE(QDir(QFileInfo(path).path()).entryList(QDir::Files), QStringList{"vorlend.mdb"});
}

void TestCompaction::killedAtAnyMomentLeavesRegisterWhole()
{
    TestRegister files;
    writeRegisterWithGaps(files, 600);
    const QString path = files.databasePath();
    const QByteArray expected = contentsOf(path);
    QVERIFY(!expected.isEmpty());

    // How long one compaction takes here, so the kills spread over whole runs.
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QElapsedTimer timer;
    child.start(childProgram(), {path});
    QVERIFY(child.waitForReadyRead(10000));
    timer.start();
    QVERIFY(child.waitForFinished(30000));
    QCOMPARE(child.exitCode(), 0);
    const int cycle = std::max<int>(int(timer.elapsed()), 5);

    const quint32 seed = QRandomGenerator::global()->generate();
    QRandomGenerator random(seed);
    int killedWithCopy = 0;
    int killedAfterReplacing = 0;
    constexpr int kKills = 50;
    for (int kill = 0; kill < kKills; ++kill) {
        child.start(childProgram(), {path, QStringLiteral("--repeat")});
        QVERIFY(child.waitForStarted(10000));
        QVERIFY(child.waitForReadyRead(10000)); // "ready": start-up is over
        QTest::qSleep(int(random.bounded(cycle * 2 + 1)));
        child.kill();
        QVERIFY(child.waitForFinished(10000));
        QCOMPARE(child.exitStatus(), QProcess::CrashExit);
        if (child.readAllStandardOutput().contains("compacted"))
            ++killedAfterReplacing;
        if (QFileInfo::exists(compactionCopyPath(path)))
            ++killedWithCopy;

        const QString context =
            QStringLiteral("kill %1 of %2, seed %3").arg(kill).arg(kKills).arg(seed);
        const FileCheck check = checkRegisterFile(path);
        QVERIFY2(check.ok(), qPrintable(context + QStringLiteral(": ") + check.problem));
        QVERIFY2(contentsOf(path) == expected, qPrintable(context));
    }
    qInfo("%d kills: %d with a copy being written, %d after at least one replacement (cycle %d ms)",
          kKills, killedWithCopy, killedAfterReplacing, cycle);
    QVERIFY(killedWithCopy > 0);
    QVERIFY(killedAfterReplacing > 0);

    // The next run clears what the last kill left and finishes cleanly.
    child.start(childProgram(), {path});
    QVERIFY(child.waitForFinished(30000));
    QCOMPARE(child.exitCode(), 0);
    QCOMPARE(QDir(QFileInfo(path).path()).entryList(QDir::Files), QStringList{"vorlend.mdb"});
    QVERIFY(contentsOf(path) == expected);
}

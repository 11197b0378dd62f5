// A backup or a restore killed at any moment: the register stays whole, and a file under a
// copy's final name is always a whole copy.
#include "backup/TestBackup.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>

#include <functional>

namespace {

QString childProgram()
{
    return QStringLiteral(TARVIK_BACKUP_CHILD);
}

// How long one round of the child takes here, so the kills spread over whole rounds.
int roundMilliseconds(QProcess& child, const QStringList& arguments, const char* roundDone)
{
    child.start(childProgram(), arguments);
    if (!child.waitForReadyRead(10000))
        return -1;
    child.readAllStandardOutput();
    QElapsedTimer timer;
    timer.start();
    int rounds = 0;
    while (rounds < 3 && child.waitForReadyRead(30000))
        rounds += int(child.readAllStandardOutput().count(roundDone));
    child.kill();
    child.waitForFinished(10000);
    return rounds == 0 ? -1 : std::max<int>(int(timer.elapsed() / rounds), 5);
}

// Starts the child `kills` times and kills it after a random part of two rounds; `look` then
// sees what it left, told which kill it was. The round's length, or -1 when the child failed.
int killRepeatedly(const QStringList& arguments, const char* roundDone, int kills,
                   const std::function<void(const QString& context)>& look)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    const int round = roundMilliseconds(child, arguments, roundDone);
    if (round < 0)
        return -1;
    const quint32 seed = QRandomGenerator::global()->generate();
    QRandomGenerator random(seed);
    for (int kill = 0; kill < kills && !QTest::currentTestFailed(); ++kill) {
        child.start(childProgram(), arguments);
        if (!child.waitForReadyRead(10000))
            return -1;
        QTest::qSleep(int(random.bounded(round * 2 + 1)));
        child.kill();
        child.waitForFinished(10000);
        look(QStringLiteral("kill %1, seed %2").arg(kill).arg(seed));
    }
    return round;
}

} // namespace

void TestBackup::backupKilledAtAnyMomentLeavesNoPartialCopy()
{
    TARVIK_FILE_ONLY("the child copies the file");
    TestRegister files;
    writeParts(files, 600);
    const QString path = files.databasePath();
    const QByteArray expected = contentsOf(path);
    const QString target = backupFolder(path) + QStringLiteral("/vorlend-2026-01-01.mdb");
    const QStringList arguments = {QStringLiteral("backup"), path, target};

    int withCopyBeingWritten = 0;
    int withWholeCopy = 0;
    constexpr int kKills = 40;
    const int round = killRepeatedly(arguments, "copied", kKills, [&](const QString& context) {
        if (QFileInfo::exists(backupCopyPath(target)))
            ++withCopyBeingWritten;
        if (QFileInfo::exists(target)) {
            ++withWholeCopy;
            const FileCheck copy = checkRegisterFile(target);
            QVERIFY2(copy.ok(), qPrintable(context + QStringLiteral(": ") + copy.problem));
            QVERIFY2(contentsOf(target) == expected, qPrintable(context));
            QVERIFY(QFile::remove(target));
        }
        QVERIFY2(contentsOf(path) == expected, qPrintable(context));
        // What a cut-off copy left is cleared by the next day's pruning.
        pruneDailyBackups(path, 14);
        QCOMPARE(filesIn(backupFolder(path)), QStringList{});
    });
    QVERIFY(round > 0);
    qInfo("%d kills: %d with a copy being written, %d with a whole copy (round %d ms)", kKills,
          withCopyBeingWritten, withWholeCopy, round);
    QVERIFY(withCopyBeingWritten > 0);
    QVERIFY(checkRegisterFile(path).ok());
}

void TestBackup::restoreKilledAtAnyMomentLeavesTheRegisterWhole()
{
    TARVIK_FILE_ONLY("the child replaces the file");
    TestRegister files;
    writeParts(files, 400, QStringLiteral("Первая"));
    const QString path = files.databasePath();
    const QString first = files.folder() + QStringLiteral("/first.mdb");
    const QString second = files.folder() + QStringLiteral("/second.mdb");
    QVERIFY(backupRegisterFile(path, first).ok());
    QVERIFY(
        files.runAsOtherClient(QStringLiteral("DELETE FROM client WHERE idnom % 3 = 0")).isEmpty());
    QVERIFY(backupRegisterFile(path, second).ok());
    const QByteArray firstContents = contentsOf(first);
    const QByteArray secondContents = contentsOf(second);
    QVERIFY(firstContents != secondContents);
    const QStringList arguments = {QStringLiteral("restore"), path, first, second};

    int withCopyBeside = 0;
    constexpr int kKills = 40;
    const int round = killRepeatedly(arguments, "restored", kKills, [&](const QString& context) {
        if (QFileInfo::exists(restoreCopyPath(path)) ||
            QFileInfo::exists(backupCopyPath(restoreCopyPath(path))))
            ++withCopyBeside;
        const FileCheck check = checkRegisterFile(path);
        QVERIFY2(check.ok(), qPrintable(context + QStringLiteral(": ") + check.problem));
        const QByteArray now = contentsOf(path);
        QVERIFY2(now == firstContents || now == secondContents, qPrintable(context));
        // Every register kept before a restore is whole under its name.
        for (const QString& name : filesIn(backupFolder(path))) {
            const QString kept = backupFolder(path) + QLatin1Char('/') + name;
            if (name.endsWith(QLatin1String(".mdb"))) {
                const QByteArray keptContents = contentsOf(kept);
                QVERIFY2(keptContents == firstContents || keptContents == secondContents,
                         qPrintable(context + QStringLiteral(": ") + name));
            }
            QVERIFY(QFile::remove(kept));
        }
    });
    QVERIFY(round > 0);
    qInfo("%d kills: %d with the copy being written beside the register (round %d ms)", kKills,
          withCopyBeside, round);
    QVERIFY(withCopyBeside > 0);
}

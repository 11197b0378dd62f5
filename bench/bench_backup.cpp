// Backs up a copy of a large register and reports: our backup beside the sqlite3 shell's
// .backup of the same file; how long the program's "+" waits while the day's copy is written
// in the background (one every quarter second, as a quick user's clicks); and the main
// window's first paint with the day's copy due and not due, with the longest the window's
// event loop stood still while the copy ran.
//
//   bench_backup <program folder with base/vorlend.mdb> [runs]
#include "app/Form1.h"
#include "service/DailyBackup.h"
#include "store/records/PartWriter.h"
#include "store/records/RecordSource.h"
#include "store/register/Backup.h"
#include "store/register/Platform.h"
#include "store/register/Register.h"

#include "BenchStats.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

using namespace tarvik;
using namespace tarvik::bench;

namespace {

// The shell's .backup of `database` into `target`, the whole process timed.
double shellBackupMs(const QString& database, const QString& target)
{
    QFile::remove(target);
    QProcess shell;
    QElapsedTimer timer;
    timer.start();
    shell.start(QStringLiteral("sqlite3"), {database, QStringLiteral(".backup '%1'").arg(target)});
    if (!shell.waitForFinished(600000) || shell.exitCode() != 0)
        return -1;
    return timer.nsecsElapsed() / 1e6;
}

// One "+" on the part `id` through the parts' write path, in milliseconds; -1 when refused.
double plusMs(PartWriter& writer, qint64 id, int value)
{
    QElapsedTimer timer;
    timer.start();
    const PartWrite write = writer.change(id, {{QStringLiteral("phone"), QString::number(value)}},
                                          {}, PartAction::Plus);
    return write.saved() ? timer.nsecsElapsed() / 1e6 : -1;
}

// From the window's construction until it has been shown and painted, in milliseconds, and
// the longest gap between 10 ms ticks of its event loop from 3 s after the show (when the day's
// copy starts) until the copy has ended, or for `watchMs` when none runs.
struct Paint {
    double painted = -1, stall = 0, watched = 0;
};
Paint firstPaint(const ProgramPaths& paths, double watchMs)
{
    Register reg(paths.databasePath());
    QElapsedTimer timer;
    timer.start();
    Form1 window(paths, reg);
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return {-1, -1};
    QApplication::processEvents();
    Paint result;
    result.painted = timer.nsecsElapsed() / 1e6;
    DailyBackup* daily = window.findChild<DailyBackup*>();
    QElapsedTimer gap;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        result.stall = std::max(result.stall, gap.nsecsElapsed() / 1e6);
        gap.restart();
    });
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < 3000 && !daily->isRunning())
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    QElapsedTimer watched;
    watched.start();
    gap.start();
    tick.start(10);
    while (watchMs > 0 ? watched.elapsed() < watchMs
                       : daily->isRunning() && waited.elapsed() < 300000)
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    result.watched = watched.nsecsElapsed() / 1e6;
    window.hide();
    return result;
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_backup <program folder with base/vorlend.mdb> [runs]\n");
        return 2;
    }
    const QString source = ProgramPaths(QString::fromLocal8Bit(argv[1])).databasePath();
    const int runs = argc > 2 ? std::max(1, atoi(argv[2])) : 3;
    QTemporaryDir work;
    const ProgramPaths paths(work.path());
    QDir(work.path()).mkpath(QStringLiteral("base"));
    const QString path = paths.databasePath();
    if (!QFile::copy(source, path)) {
        std::fprintf(stderr, "cannot copy %s\n", qPrintable(source));
        return 1;
    }
    QFile(path).setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    ::sync();
    std::printf("register %s, %.1f MB\n", qPrintable(source), QFileInfo(path).size() / 1e6);

    // Ours and the shell's, alternately, so both meet the same page cache.
    std::vector<double> shell, ours, oursFull;
    const QString target = work.filePath(QStringLiteral("copy.mdb"));
    for (int run = 0; run < runs; ++run) {
        shell.push_back(shellBackupMs(path, target));
        QFile::remove(target);
        ours.push_back(timeMs([&] {
            if (!backupRegisterFile(path, target).ok())
                std::fprintf(stderr, "backup failed\n");
        }));
        QFile::remove(target);
        BackupControl full;
        full.depth = FileCheckDepth::Full;
        oursFull.push_back(timeMs([&] { backupRegisterFile(path, target, full); }));
        QFile::remove(target);
    }
    const Stats shellStats = statsOf(shell), ourStats = statsOf(ours),
                fullStats = statsOf(oursFull);
    std::printf("sqlite3 .backup (no check, no fsync)      median %8.0f ms\n", shellStats.median);
    std::printf("ours, quick_check, fsync, rename          median %8.0f ms  (%.2f x shell)\n",
                ourStats.median, ourStats.median / shellStats.median);
    std::printf("ours, integrity_check, fsync, rename      median %8.0f ms\n", fullStats.median);

    // "+" while the day's copy is written on a thread of lower priority.
    {
        Register reg(path);
        reg.check();
        Connection db;
        reg.connect(db);
        PartWriter writer(db);
        std::vector<double> idle;
        for (int i = 0; i < 20; ++i) {
            idle.push_back(plusMs(writer, 1, i));
            QThread::msleep(50);
        }
        std::atomic<bool> done{false};
        BackupResult result;
        double backupMs = 0;
        std::thread copier([&] {
            platform::lowerThisThreadsPriority();
            backupMs = timeMs([&] { result = backupRegisterFile(path, target); });
            done = true;
        });
        std::vector<double> during;
        int refused = 0;
        // Clicks for two seconds, then the user pauses and the copy can finish.
        QElapsedTimer clicking;
        clicking.start();
        for (int i = 0; !done && clicking.elapsed() < 2000; ++i) {
            const double ms = plusMs(writer, 1, 1000 + i);
            if (ms < 0)
                ++refused;
            else
                during.push_back(ms);
            QThread::msleep(250);
        }
        copier.join();
        const Stats idleStats = statsOf(idle), duringStats = statsOf(during);
        std::printf("\"+\" without a backup                      median %8.2f ms  max %8.2f ms\n",
                    idleStats.median, idleStats.max);
        std::printf("\"+\" during the day's backup (%2zu clicks)    median %8.2f ms  max %8.2f ms"
                    "  refused %d\n",
                    during.size(), duringStats.median, duringStats.max, refused);
        std::printf("that backup: %s in %.0f ms, begun again %d times\n",
                    result.ok() ? "written" : "FAILED", backupMs, result.restarts);
        QFile::remove(target);
    }

    // The first paint, the day's copy due (none in base/backup) and not due.
    std::vector<double> due, notDue;
    double stallDue = 0, stallNotDue = 0, watched = 0;
    for (int run = 0; run < runs; ++run) {
        QDir(backupFolder(path)).removeRecursively();
        const Paint withCopy = firstPaint(paths, 0);
        due.push_back(withCopy.painted);
        stallDue = std::max(stallDue, withCopy.stall);
        watched = std::max(watched, withCopy.watched);
        const Paint without = firstPaint(paths, withCopy.watched);
        notDue.push_back(without.painted);
        stallNotDue = std::max(stallNotDue, without.stall);
    }
    std::printf("first paint, day's backup due             median %8.0f ms\n", statsOf(due).median);
    std::printf("first paint, day's backup not due         median %8.0f ms\n",
                statsOf(notDue).median);
    std::printf("longest stall of the window's event loop, 3 s after the show for %.0f ms:\n"
                "  while the day's backup ran %.0f ms, with none due %.0f ms\n",
                watched, stallDue, stallNotDue);
    return 0;
}

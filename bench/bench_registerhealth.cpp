// What keeping the register true under other programs costs on a large file: healing the
// name keys at open (a file of an earlier build, keys of the earlier form, then keys
// cleared by another tool's renames), the background quick check, and how long a change
// made meanwhile waits.
//
//   bench_registerhealth <program folder with base/vorlend.mdb>   (the file is changed)
#include "store/records/RecordSource.h"
#include "store/register/DamageCheck.h"
#include "store/register/NameKeys.h"
#include "store/register/Register.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cstdio>

using namespace tarvik;

namespace {

double openMs(const QString& path, NameKeyHealing* healed = nullptr)
{
    Register reg(path);
    QElapsedTimer timer;
    timer.start();
    const OpenResult result = reg.check();
    const double ms = timer.nsecsElapsed() / 1e6;
    if (!result.ok())
        std::printf("  open problem %d\n", int(result.problem));
    if (healed) {
        Connection db;
        reg.connect(db);
        *healed = healNameKeys(db.connection());
    }
    return ms;
}

void plain(const QString& path, const QString& sql)
{
    {
        QSqlDatabase db =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("plain"));
        db.setDatabaseName(path);
        db.open();
        QSqlQuery query(db);
        if (!query.exec(sql))
            std::printf("  failed: %s\n", qPrintable(sql));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("plain"));
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <program folder>\n", argv[0]);
        return 2;
    }
    const QString path = QString::fromLocal8Bit(argv[1]) + QStringLiteral("/base/vorlend.mdb");

    std::printf("open, file of an earlier build (trigger added, every key checked): %.0f ms\n",
                openMs(path));
    std::printf("open, nothing to heal: %.1f ms\n", openMs(path));
    // As an earlier build left it: a bare ё in the keys and no index of such keys.
    plain(path, QStringLiteral("DROP INDEX IF EXISTS client_idFamKey_earlier_form"));
    plain(path, QStringLiteral("UPDATE client SET idFamKey = replace(idFamKey, "
                               "char(1077, 1114111), char(1105)) "
                               "WHERE instr(idFamKey, char(1077, 1114111)) > 0"));
    std::printf("open, keys of the earlier form (index added, every key checked once): %.0f ms\n",
                openMs(path));
    std::printf("open again, nothing to heal: %.1f ms\n", openMs(path));
    for (int every : {1000, 100}) {
        plain(path, QStringLiteral("UPDATE client SET idFam = idFam || '.' WHERE rowid % %1 = 0")
                        .arg(every));
        std::printf("open after another tool renamed every %dth part: %.0f ms\n", every,
                    openMs(path));
    }

    // The quick check alone, then with a change made through the window's source meanwhile.
    Register reg(path);
    reg.check();
    DamageCheck check(reg);
    QElapsedTimer timer;
    QEventLoop loop;
    QString verdict;
    QObject::connect(&check, &DamageCheck::finished, &loop, [&](const QString& problems) {
        verdict = problems.isEmpty() ? QStringLiteral("ok") : problems;
        loop.quit();
    });
    double longestGapMs = 0;
    QElapsedTimer gap;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        longestGapMs = std::max(longestGapMs, gap.nsecsElapsed() / 1e6);
        gap.restart();
    });
    tick.start(10);
    gap.start();
    timer.start();
    check.start();
    loop.exec();
    std::printf("quick_check on its own thread: %.0f ms (%s); longest pause of the window's "
                "event loop meanwhile %.0f ms\n",
                timer.nsecsElapsed() / 1e6, qPrintable(verdict), longestGapMs);

    RecordSource source;
    source.open(reg);
    source.setStatement(Statements::partsByName());
    source.refresh();
    check.setRetryDelay(100);
    check.start();
    QThread::msleep(100); // well inside the check
    const bool runningBefore = check.isRunning();
    timer.restart();
    const QString before = source.field(QStringLiteral("phone")).toString();
    const auto replaced =
        source.replaceCurrentIf(QStringLiteral("phone"), before, before, PartAction::Plus);
    const double waited = timer.nsecsElapsed() / 1e6;
    QThread::msleep(20);
    std::printf("a change made 100 ms into the check (running: %s) waited %.1f ms (%s); "
                "check still running afterwards: %s\n",
                runningBefore ? "yes" : "no", waited,
                replaced == RecordSource::Replaced::Saved ? "saved" : "not saved",
                check.isRunning() ? "yes" : "no, it gave way");
    check.stop();

    // Compaction closes the register: the check must let go at once.
    check.start();
    QThread::msleep(100);
    timer.restart();
    reg.closeAll();
    std::printf("closeAll 100 ms into the check returned after %.1f ms\n",
                timer.nsecsElapsed() / 1e6);
    return 0;
}

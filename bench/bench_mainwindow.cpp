// Drives the real main window headless on a large register and reports what a user waits
// for: the first filled list after a cold and a warm start, a row change, a search
// keystroke, a jump to the end, and the peak memory. Beside each, the sqlite3 shell's time
// for the nearest plain statement on the same file shows what the program's own layers add.
//
//   bench_mainwindow <program folder with base/vorlend.mdb>
//
// A start is timed in a process of its own, from its main() until its list and details are
// filled, as earlier figures were; below each, the same from just before the process is
// launched, which adds loading the libraries. The cold start needs the page cache dropped,
// which only root may do; without it the line says why it is missing. The warm start is
// taken five times and its median shown; a fixed loop timed before and after the starts
// tells whether the machine ran at its full speed meanwhile.
#include "app/Form1.h"
#include "app/Startup.h"
#include "store/records/RecordSource.h"
#include "store/register/Platform.h"
#include "store/register/Register.h"

#include "AnsweredKeystroke.h"
#include "BenchStats.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QRegularExpression>
#include <QTableView>
#include <QTest>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

using namespace tarvik;

using namespace tarvik::bench;

namespace {

// The shell's own "Run Time: real" for one statement, in milliseconds; -1 if unavailable.
double shellMs(const QString& database, const QString& sql)
{
    QProcess shell;
    shell.start(QStringLiteral("sqlite3"), {database});
    if (!shell.waitForStarted(5000))
        return -1;
    shell.write(".timer on\n.output /dev/null\n");
    shell.write(sql.toUtf8() + ";\n");
    shell.closeWriteChannel();
    shell.waitForFinished(120000);
    const QString out =
        QString::fromUtf8(shell.readAllStandardOutput() + shell.readAllStandardError());
    const auto match = QRegularExpression(QStringLiteral("real ([0-9.]+)")).match(out);
    return match.hasMatch() ? match.captured(1).toDouble() * 1000 : -1;
}

void row(const char* what, const Stats& ours, double shell, const char* shellWhat)
{
    std::printf("%-34s median %9.2f ms  p95 %9.2f ms   sqlite3 %9.2f ms  (%s)\n", what, ours.median,
                ours.p95, shell, shellWhat);
}

void single(const char* what, double ours, double shell, const char* shellWhat)
{
    std::printf("%-34s %9.2f ms                          sqlite3 %9.2f ms  (%s)\n", what, ours,
                shell, shellWhat);
    std::fflush(stdout);
}

const char kAllIdsByName[] = "SELECT idnom FROM client ORDER BY idFamKey, idnom";

// The same clock in every process on the machine, so a child's moment can be compared
// with the parent's.
qint64 monotonicNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Empties the kernel's page cache, so the next reads come from the disk. An empty answer
// means it was done; otherwise the reason it was not.
QString dropPageCache()
{
    ::sync();
    // The C library's words rather than Qt's, which the program's translation would render
    // in Russian.
    std::FILE* control = std::fopen("/proc/sys/vm/drop_caches", "w");
    if (!control)
        return QString::fromLocal8Bit(std::strerror(errno));
    const bool written = std::fputs("3\n", control) >= 0;
    const bool closed = std::fclose(control) == 0;
    return written && closed ? QString() : QString::fromLocal8Bit(std::strerror(errno));
}

// A start in a process of its own, in milliseconds until its list is filled: from its
// main(), and from its launch; then until every id of the list has arrived, the longest the
// window's event loop stood still meanwhile and a row change made meanwhile; -1 if it failed.
struct Start {
    double fromMain = -1, fromLaunch = -1;
    double whole = -1, stall = -1, rowChange = -1;
};

Start timedStart(const QString& folder)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    const qint64 launched = monotonicNs();
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--start"), folder});
    if (!child.waitForFinished(300000) || child.exitCode() != 0)
        return {};
    const QList<QByteArray> words =
        child.readAllStandardOutput().trimmed().split('\n').last().split(' ');
    bool filledOk = false, fromMainOk = false;
    const qint64 filled = words.value(0).toLongLong(&filledOk);
    const double fromMain = words.value(1).toDouble(&fromMainOk);
    if (!filledOk || !fromMainOk || words.size() != 5)
        return {};
    return {fromMain, (filled - launched) / 1e6, words.value(2).toDouble(),
            words.value(3).toDouble(), words.value(4).toDouble()};
}

// Until the ids a long list reads in the background have all arrived; false after a minute.
bool waitWhole(const RecordSource& list)
{
    QElapsedTimer waited;
    waited.start();
    while (list.isLoadingRest()) {
        if (waited.elapsed() > 60000)
            return false;
        QApplication::processEvents(QEventLoop::AllEvents, 1);
    }
    return true;
}

// Waits until the list shows parts and the current part's name; false after a minute.
bool waitFilled(QTableView* grid, QLineEdit* name)
{
    QElapsedTimer waited;
    waited.start();
    while (grid->model()->rowCount() == 0 || name->text().isEmpty()) {
        if (waited.elapsed() > 60000)
            return false;
        QApplication::processEvents(QEventLoop::AllEvents, 1);
    }
    return true;
}

// The child of timedStart: opens the window, and prints the moment its list is filled, the
// time since its main(), the time since its main() until the whole list is known, the
// longest stall of the event loop until then, and a row change made meanwhile.
int startOnly(Form1& window, const QElapsedTimer& sinceMain)
{
    window.show();
    QApplication::processEvents();
    auto* grid = window.findChild<QTableView*>(QStringLiteral("TDBGrid2"));
    if (!waitFilled(grid, window.findChild<QLineEdit*>(QStringLiteral("Text1")))) {
        std::fprintf(stderr, "the list did not fill\n");
        return 1;
    }
    const qint64 filled = monotonicNs();
    const double fromMain = sinceMain.nsecsElapsed() / 1e6;
    bench::StallWatch stalls;
    stalls.start();
    grid->setFocus();
    const double rowChange = timeMs([&] { QTest::keyClick(grid, Qt::Key_Down); });
    if (!waitWhole(*window.Data1())) {
        std::fprintf(stderr, "the rest of the list did not arrive\n");
        return 1;
    }
    const double whole = sinceMain.nsecsElapsed() / 1e6;
    std::printf("%lld %.3f %.3f %.3f %.3f\n", static_cast<long long>(filled), fromMain, whole,
                stalls.stop(), rowChange);
    return 0;
}

// One start on this virtual machine can take 15-20 ms longer than the next for reasons of
// its host; the warm figure is the median of several, its range printed beside it.
constexpr int kWarmStarts = 5;

// Both starts and the shell's figures, taken before anything is printed so the list's
// size can head the output.
struct StartTimes {
    QString coldMissing;
    Start cold, warm;
    double coldShell = -1, warmShell = -1;
    double warmLeast = -1, warmMost = -1; // over all warm starts; `warm` is their median

    static void withLaunch(const Start& start)
    {
        std::printf("  %-32s %9.2f ms\n", "the same from the launch", start.fromLaunch);
        std::printf("  %-32s %9.2f ms\n", "from main() to every id listed", start.whole);
        std::printf("  %-32s %9.2f ms\n", "meanwhile: longest stall", start.stall);
        std::printf("  %-32s %9.2f ms\n", "meanwhile: a row change", start.rowChange);
    }

    void print() const
    {
        if (coldMissing.isEmpty()) {
            single("start to first filled grid, cold", cold.fromMain, coldShell,
                   "all ids by folded name, cold");
            withLaunch(cold);
        } else {
            std::printf("%-34s not taken: the page cache could not be dropped (%s)\n",
                        "start to first filled grid, cold", qPrintable(coldMissing));
        }
        single("start to first filled grid, warm", warm.fromMain, warmShell,
               "all ids by folded name");
        std::printf("  %-32s %9.2f - %.2f ms (the median of %d starts above)\n", "all warm starts",
                    warmLeast, warmMost, kWarmStarts);
        withLaunch(warm);
    }
};

// The shell's cold run first: dropping the cache after the cold start would leave the warm
// start to read the plugins and fonts again.
StartTimes timedStarts(const QString& folder, const QString& database)
{
    StartTimes times;
    times.coldMissing = dropPageCache();
    if (times.coldMissing.isEmpty()) {
        times.coldShell = shellMs(database, kAllIdsByName);
        times.coldMissing = dropPageCache();
    }
    if (times.coldMissing.isEmpty())
        times.cold = timedStart(folder);
    else
        timedStart(folder); // reads what the warm start should find cached
    std::vector<Start> warm;
    for (int i = 0; i < kWarmStarts; ++i)
        warm.push_back(timedStart(folder));
    std::sort(warm.begin(), warm.end(),
              [](const Start& a, const Start& b) { return a.fromMain < b.fromMain; });
    times.warm = warm[kWarmStarts / 2];
    times.warmLeast = warm.front().fromMain;
    times.warmMost = warm.back().fromMain;
    times.warmShell = shellMs(database, kAllIdsByName);
    return times;
}

} // namespace

int main(int argc, char* argv[])
{
    QElapsedTimer sinceMain;
    sinceMain.start();
    if (!qEnvironmentVariableIsSet("TARVIK_BENCH_PLAIN_HEAP"))
        platform::prepareHeap(); // as the program does
    qputenv("QT_QPA_PLATFORM", "offscreen");
    const bool child = argc == 3 && qstrcmp(argv[1], "--start") == 0;
    if (argc != 2 && !child) {
        std::fprintf(stderr, "usage: bench_mainwindow <program folder>\n");
        return 2;
    }
    QApplication app(argc, argv);
    prepareApplication(app);
    const QString folder = QString::fromLocal8Bit(argv[argc - 1]);
    const ProgramPaths paths(folder);
    const QString database = paths.databasePath();
    if (child) {
        Register reg(database);
        reg.startCheck(); // as the program does
        Form1 window(paths, reg);
        const int status = startOnly(window, sinceMain);
        std::fflush(stdout);
        std::_Exit(status); // skip the exit question
    }

    const double loopBefore = machineLoopMs();
    // Before this process reads the file, or the cold start would find it cached.
    const StartTimes starts = timedStarts(folder, database);

    Register reg(database);
    Form1 window(paths, reg);
    window.show();
    auto* grid = window.findChild<QTableView*>(QStringLiteral("TDBGrid2"));
    auto* search = window.findChild<QLineEdit*>(QStringLiteral("Text5"));
    auto* name = window.findChild<QLineEdit*>(QStringLiteral("Text1"));
    if (!waitFilled(grid, name) || !waitWhole(*window.Data1())) {
        std::fprintf(stderr, "the list did not fill\n");
        return 1;
    }
    std::printf("parts: %d   machine loop: %.1f ms before, %.1f ms after the starts\n",
                grid->model()->rowCount(), loopBefore, machineLoopMs());
    starts.print();

    grid->setFocus();
    std::vector<double> rowChanges;
    for (int i = 0; i < 300; ++i)
        rowChanges.push_back(timeMs([&] { QTest::keyClick(grid, Qt::Key_Down); }));
    row("row change (arrow down)", statsOf(rowChanges),
        shellMs(database, "SELECT COUNT(kont) FROM client"), "COUNT(kont)");

    std::vector<double> jumps;
    for (int i = 0; i < 10; ++i) {
        jumps.push_back(timeMs([&] { QTest::keyClick(grid, Qt::Key_End, Qt::ControlModifier); }));
        jumps.push_back(timeMs([&] { QTest::keyClick(grid, Qt::Key_Home, Qt::ControlModifier); }));
    }
    row("jump Ctrl+End / Ctrl+Home", statsOf(jumps),
        shellMs(database, "SELECT * FROM client ORDER BY idFamKey DESC LIMIT 1"),
        "last by folded name");

    std::vector<double> keystrokes;
    for (const QString& text : {QStringLiteral("кт3"), QStringLiteral("lm"), QStringLiteral("рез"),
                                QStringLiteral("к50-35"), QStringLiteral("stm32f")}) {
        search->clear(); // an emptied box runs no search
        for (const QChar ch : text) {
            keystrokes.push_back(timeMs([&] {
                QTest::sendKeyEvent(QTest::Click, search, Qt::Key_unknown, QString(ch),
                                    Qt::NoModifier);
            }));
        }
    }
    row("search keystroke", statsOf(keystrokes),
        shellMs(database,
                "SELECT idnom FROM client WHERE idFamKey LIKE '%кт3%' ORDER BY idFamKey, idnom"),
        "built-in LIKE '%кт3%', one keystroke");
    std::printf("%-34s %9.1f MB\n", "peak memory (whole run)", peakKilobytes() / 1024.0);
    std::fflush(stdout);
    std::_Exit(0); // skip the exit question; nothing was changed
}

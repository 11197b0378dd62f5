// Drives the real main window headless on a large register and reports what a user waits
// for: the first filled list, a row change, a search keystroke, a jump to the end, and the
// peak memory. Beside each, the sqlite3 shell's time for the nearest plain statement on the
// same file shows what the program's own layers add.
//
//   bench_mainwindow <program folder with base/vorlend.mdb>
#include "app/Form1.h"
#include "app/Startup.h"
#include "store/records/RecordSource.h"
#include "store/register/Register.h"

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

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace tarvik;

using namespace tarvik::bench;

namespace {

template <typename F> double timeMs(F&& step)
{
    QElapsedTimer timer;
    timer.start();
    step();
    return timer.nsecsElapsed() / 1e6;
}

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

} // namespace

int main(int argc, char* argv[])
{
    QElapsedTimer sinceStart;
    sinceStart.start();
    qputenv("QT_QPA_PLATFORM", "offscreen");
    if (argc != 2) {
        std::fprintf(stderr, "usage: bench_mainwindow <program folder>\n");
        return 2;
    }
    QApplication app(argc, argv);
    prepareApplication(app);
    const ProgramPaths paths(QString::fromLocal8Bit(argv[1]));
    const QString database = paths.databasePath();

    Register reg(paths.databasePath());
    Form1 window(paths, reg);
    window.show();
    QApplication::processEvents();
    auto* grid = window.findChild<QTableView*>(QStringLiteral("TDBGrid2"));
    auto* search = window.findChild<QLineEdit*>(QStringLiteral("Text5"));
    auto* name = window.findChild<QLineEdit*>(QStringLiteral("Text1"));
    const double firstGrid = sinceStart.nsecsElapsed() / 1e6;
    const int parts = grid->model()->rowCount();
    if (parts == 0 || name->text().isEmpty()) {
        std::fprintf(stderr, "the list did not fill\n");
        return 1;
    }
    std::printf("parts: %d\n", parts);
    std::printf("%-34s %9.2f ms                          sqlite3 %9.2f ms  (%s)\n",
                "start to first filled grid", firstGrid,
                shellMs(database, "SELECT idnom FROM client ORDER BY idFamKey, idnom"),
                "all ids by folded name");

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

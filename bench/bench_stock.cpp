// The stock's figures at scale, in the real main window: the time from the window being shown
// until the figures are in memory and their memory, the status line's shown-list figures after
// each keystroke of a quick search (the sums alone, and the whole keystroke with them), and a
// "+" press with the figures following it.
//
//   bench_stock <program folder with base/vorlend.mdb> [runs]
//
// The register is copied to a temporary folder first: the benchmark writes.
#include "app/Form1.h"
#include "app/Startup.h"
#include "store/records/RecordSource.h"
#include "store/register/Register.h"
#include "store/search/NameCopy.h"
#include "store/search/StockFigures.h"

#include "BenchStats.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <vector>

using namespace tarvik;
using namespace tarvik::bench;

namespace {

const char* const kWords[] = {"резистор", "кт315", "lm317", "к50-35", "конденсатор", "smd 0805",
                              "1n4148",   "диод",  "ne555", "ом",     "z",           "ы"};

void print(const char* what, const Stats& stats, std::size_t count)
{
    std::printf("%-44s median %7.2f ms  p95 %7.2f ms  max %7.2f ms  (%zu)\n", what, stats.median,
                stats.p95, stats.max, count);
}

} // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_stock <program folder> [runs]\n");
        return 2;
    }
    QApplication app(argc, argv);
    prepareApplication(app);
    const int runs = argc > 2 ? std::max(1, atoi(argv[2])) : 3;

    QTemporaryDir folder;
    QDir(folder.path()).mkpath(QStringLiteral("base"));
    const ProgramPaths source(QString::fromLocal8Bit(argv[1]));
    const ProgramPaths paths(folder.path());
    if (!QFile::copy(source.databasePath(), paths.databasePath())) {
        std::fprintf(stderr, "cannot copy %s\n", qPrintable(source.databasePath()));
        return 1;
    }

    Register reg(paths.databasePath());
    Form1 window(paths, reg);
    StockFigures& figures = *window.stockFigures();
    const long before = peakKilobytes();
    QElapsedTimer shown;
    shown.start();
    window.show();
    if (!QTest::qWaitFor([&] { return figures.isReady(); }, 120000)) {
        std::fprintf(stderr, "the figures did not get ready\n");
        return 1;
    }
    const double readyMs = shown.nsecsElapsed() / 1e6;
    (void)QTest::qWaitFor([&] { return window.findChild<NameCopy*>()->isReady(); }, 60000);
    const int parts = window.Data1()->recordCount();
    std::printf("parts: %d   runs: %d\n", parts, runs);
    std::printf("%-44s %8.1f ms\n", "window shown -> figures ready", readyMs);
    std::printf("%-44s %8.1f MB; peak RSS %.1f -> %.1f MB\n", "figures in memory",
                figures.memoryBytes() / 1048576.0, before / 1024.0, peakKilobytes() / 1024.0);
    auto* label = window.statusBar()->findChild<QLabel*>(QStringLiteral("stockValue"));
    std::printf("%-44s %s\n", "status line", qPrintable(label->text()));

    auto* box = window.findChild<QLineEdit*>(QStringLiteral("Text5"));
    std::vector<double> sums, keystrokes;
    std::vector<int> sizes;
    for (int run = 0; run < runs; ++run) {
        for (const char* word : kWords) {
            box->clear();
            (void)QTest::qWaitFor([&] { return !window.Data1()->isLoadingRest(); }, 60000);
            for (const QChar c : QString::fromUtf8(word)) {
                QElapsedTimer keystroke;
                keystroke.start();
                box->insert(QString(c));
                (void)QTest::qWaitFor([&] { return !window.Data1()->isLoadingRest(); }, 60000);
                keystrokes.push_back(keystroke.nsecsElapsed() / 1e6);
                const QVector<qint64> keys = window.Data1()->keys();
                sums.push_back(timeMs([&] { figures.of(keys); }));
                sizes.push_back(int(keys.size()));
            }
        }
    }
    print("shown-list figures alone", statsOf(sums), sums.size());
    print("keystroke with the status line", statsOf(keystrokes), keystrokes.size());
    std::printf("%-44s %d .. %d parts\n", "shown lists",
                *std::min_element(sizes.begin(), sizes.end()),
                *std::max_element(sizes.begin(), sizes.end()));
    // The largest list a keystroke gives: every part.
    const QVector<qint64> all = [&] {
        QVector<qint64> ids;
        for (qint64 id = 0; id <= parts + 1; ++id)
            ids << id;
        return ids;
    }();
    std::vector<double> whole;
    for (int i = 0; i < 20; ++i)
        whole.push_back(timeMs([&] { figures.of(all); }));
    print("figures of every part as a shown list", statsOf(whole), whole.size());

    box->clear();
    (void)QTest::qWaitFor([&] { return !window.Data1()->isLoadingRest(); }, 60000);
    auto* plus = window.findChild<QPushButton*>(QStringLiteral("plus"));
    std::vector<double> presses;
    const int loads = figures.loadsCompleted();
    for (int i = 0; i < 50; ++i)
        presses.push_back(timeMs([&] { QTest::mouseClick(plus, Qt::LeftButton); }));
    print("\"+\" with the figures following", statsOf(presses), presses.size());
    std::printf("%-44s %d\n", "reloads caused by \"+\"", figures.loadsCompleted() - loads);
    std::printf("%-44s %s\n", "status line", qPrintable(label->text()));
    return 0;
}

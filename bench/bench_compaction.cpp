// Compacts a copy of a large register, with a tenth of its parts deleted first, and reports
// the time of each step and the file size before and after. Beside it, the sqlite3 shell's
// own VACUUM INTO on the same file: it neither checks nor syncs what it writes, so its time
// is also given with a sync of the output added.
//
//   bench_compaction <register file> [runs]
#include "store/register/Compaction.h"
#include "store/register/Platform.h"
#include "store/register/Register.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <tuple>
#include <vector>

using namespace tarvik;

namespace {

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

// The shell's own "Run Time: real" for the statements, in milliseconds; -1 if unavailable.
double shellMs(const QString& database, const QString& sql)
{
    QProcess shell;
    shell.start(QStringLiteral("sqlite3"), {database});
    if (!shell.waitForStarted(5000))
        return -1;
    shell.write(".timer on\n.output /dev/null\n" + sql.toUtf8() + ";\n");
    shell.closeWriteChannel();
    shell.waitForFinished(600000);
    const QString out =
        QString::fromUtf8(shell.readAllStandardOutput() + shell.readAllStandardError());
    const auto match = QRegularExpression(QStringLiteral("real ([0-9.]+)")).match(out);
    return match.hasMatch() ? match.captured(1).toDouble() * 1000 : -1;
}

bool copyFresh(const QString& from, const QString& to)
{
    QFile::remove(to);
    const bool copied = QFile::copy(from, to);
    ::sync(); // nothing of the copy left to write while we time
    return copied;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_compaction <register file> [runs]\n");
        return 2;
    }
    const QString source = QString::fromLocal8Bit(argv[1]);
    const int runs = argc > 2 ? std::max(1, atoi(argv[2])) : 3;
    QTemporaryDir work;
    QDir(work.path()).mkpath(QStringLiteral("base"));
    const QString prepared = work.filePath(QStringLiteral("prepared.mdb"));
    const QString ours = work.filePath(QStringLiteral("base/vorlend.mdb"));
    const QString shellIn = work.filePath(QStringLiteral("shell.mdb"));
    const QString shellOut = work.filePath(QStringLiteral("shell-out.mdb"));

    if (!QFile::copy(source, prepared)) {
        std::fprintf(stderr, "cannot copy %s\n", argv[1]);
        return 1;
    }
    const double deleteMs =
        shellMs(prepared, QStringLiteral("DELETE FROM client WHERE idnom % 10 = 0"));
    std::printf("register %s, a tenth of the parts deleted (%.0f ms)\n", argv[1], deleteMs);

    std::vector<double> shellVacuum, shellSynced, total, quickTotal, quickCheck;
    std::vector<std::vector<double>> steps(
        std::tuple_size_v<decltype(CompactionResult::nanoseconds)>);
    qint64 sizeBefore = 0, sizeAfter = 0, shellSize = 0;
    for (int run = 0; run < runs; ++run) {
        copyFresh(prepared, shellIn);
        QFile::remove(shellOut);
        const double vacuum = shellMs(shellIn, QStringLiteral("VACUUM INTO '%1'").arg(shellOut));
        QElapsedTimer sync;
        sync.start();
        platform::syncFile(shellOut, nullptr);
        shellVacuum.push_back(vacuum);
        shellSynced.push_back(vacuum + sync.nsecsElapsed() / 1e6);
        shellSize = QFileInfo(shellOut).size();
        QFile::remove(shellIn);
        QFile::remove(shellOut);

        copyFresh(prepared, ours);
        Register reg(ours);
        reg.check();
        QElapsedTimer timer;
        timer.start();
        const CompactionResult result = compactRegister(reg);
        total.push_back(timer.nsecsElapsed() / 1e6);
        if (!result.ok()) {
            std::fprintf(stderr, "compaction failed: %s\n",
                         qPrintable(describeCompactionFailure(ours, result)));
            return 1;
        }
        for (size_t step = 0; step < steps.size(); ++step)
            steps[step].push_back(result.nanoseconds[step] / 1e6);
        sizeBefore = result.sizeBefore;
        sizeAfter = result.sizeAfter;

        copyFresh(prepared, ours);
        Register quickReg(ours);
        quickReg.check();
        timer.restart();
        const CompactionResult quick = compactRegister(quickReg, FileCheckDepth::Quick);
        quickTotal.push_back(timer.nsecsElapsed() / 1e6);
        quickCheck.push_back(quick.nanoseconds[size_t(CompactionStep::Check)] / 1e6);
        if (!quick.ok())
            return 1;
        QFile::remove(ours);
    }

    std::printf("size before %.1f MB, after %.1f MB (shell's copy %.1f MB)\n", sizeBefore / 1e6,
                sizeAfter / 1e6, shellSize / 1e6);
    std::printf("medians over %d runs:\n", runs);
    std::printf("  ours, total                  %8.0f ms\n", median(total));
    const char* names[] = {"",
                           "prepare (close, clear)",
                           "lock, count, VACUUM INTO",
                           "check (integrity, rows)",
                           "owner, mode, attributes",
                           "flush (fsync copy, folder)",
                           "rename, fsync folder"};
    static_assert(std::size(names) == std::tuple_size_v<decltype(CompactionResult::nanoseconds)>);
    for (size_t step = 1; step < steps.size(); ++step)
        std::printf("    %-26s %8.0f ms\n", names[step], median(steps[step]));
    std::printf("  ours with quick_check        %8.0f ms   (check %.0f ms)\n", median(quickTotal),
                median(quickCheck));
    std::printf(
        "  sqlite3 VACUUM INTO          %8.0f ms   ours / shell %.2f, with quick_check %.2f\n",
        median(shellVacuum), median(total) / median(shellVacuum),
        median(quickTotal) / median(shellVacuum));
    std::printf(
        "  sqlite3 VACUUM INTO + fsync  %8.0f ms   ours / shell %.2f, with quick_check %.2f\n",
        median(shellSynced), median(total) / median(shellSynced),
        median(quickTotal) / median(shellSynced));
    return 0;
}

// Times bringing an Access register over: the command-line form (read, write, check) and
// the start-up switch (the same plus keeping the Access file and moving the new one into
// place), and reports parts per second and the peak memory.
//
//   bench_accessimport [Access file]   (default: the register-large fixture, 20,000 parts)
#include "BenchStats.h"
#include "store/access/AccessImport.h"
#include "store/access/AccessRows.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace tarvik;

using namespace tarvik::bench;

namespace {

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QString source = argc > 1 ? QString::fromLocal8Bit(argv[1])
                                    : QStringLiteral(TARVIK_JET_FIXTURES "/register-large.mdb");
    constexpr int kRuns = 5;
    std::printf("Access file: %s (%lld bytes)\n", qPrintable(source), QFileInfo(source).size());
    const long before = peakKilobytes();

    std::vector<double> imports, switches, reads;
    ImportSummary summary;
    for (int run = 0; run < kRuns; ++run) {
        QTemporaryDir dir;
        const QString target = dir.filePath(QStringLiteral("new.mdb"));
        QElapsedTimer timer;
        timer.start();
        const ImportResult result = importAccessRegister(source, target);
        imports.push_back(timer.nsecsElapsed() / 1e6);
        if (!result.ok()) {
            std::fprintf(stderr, "%s\n", qPrintable(describeImportProblem(source, result)));
            return 1;
        }
        summary = result.summary;

        // Reading alone: what the Access library and the decoding take of the whole.
        timer.restart();
        QString error;
        if (auto reader = openAccessFile(source, &error)) {
            QVariantList row;
            for (const char* table : {"vrYZD", "client"}) {
                reader->openTable(QLatin1String(table));
                while (reader->nextRow(row)) {
                }
            }
        }
        reads.push_back(timer.nsecsElapsed() / 1e6);

        const QString inPlace = dir.filePath(QStringLiteral("vorlend.mdb"));
        QFile::copy(source, inPlace);
        timer.restart();
        if (!replaceAccessRegister(inPlace).ok())
            return 1;
        switches.push_back(timer.nsecsElapsed() / 1e6);
    }
    std::sort(imports.begin(), imports.end());
    std::sort(switches.begin(), switches.end());
    std::sort(reads.begin(), reads.end());
    const double median = imports[kRuns / 2];
    std::printf("%lld parts, %lld types, %lld pictures (%lld bytes)\n", summary.parts,
                summary.types, summary.pictures, summary.pictureBytes);
    std::printf("--import:       median %.0f ms (min %.0f, max %.0f) = %.0f parts/s\n", median,
                imports.front(), imports.back(), summary.parts / (median / 1000.0));
    std::printf("start-up switch: median %.0f ms (min %.0f, max %.0f)\n", switches[kRuns / 2],
                switches.front(), switches.back());
    std::printf("reading alone:   median %.0f ms (min %.0f, max %.0f)\n", reads[kRuns / 2],
                reads.front(), reads.back());
    std::printf("peak memory: %.1f MB (%.1f MB before the first import)\n",
                peakKilobytes() / 1024.0, before / 1024.0);
    return 0;
}

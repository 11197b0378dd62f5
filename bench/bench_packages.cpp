// Drives the real package-type window headless on a register of many package types, each
// with a photograph-sized JPEG, and reports what a user waits for: the window opening with
// the first type's picture, and a move to another type in its grid.
//
//   bench_packages [types] [kilobytes per picture]     (defaults: 1000 types, 200 KB)
//
// The register is written into a temporary folder first and removed afterwards.
#include "app/Startup.h"
#include "packages/Form5.h"
#include "store/records/Seeding.h"
#include "store/register/ProgramPaths.h"
#include "store/register/Register.h"

#include "BenchStats.h"

#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QRandomGenerator>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace tarvik;

using namespace tarvik::bench;

namespace {

double sinceMs(const QElapsedTimer& timer)
{
    return timer.nsecsElapsed() / 1e6;
}

QByteArray jpeg(const QImage& image, int quality)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPG", quality);
    return bytes;
}

// An 800 x 600 picture with shading and grain, as a photograph of a part on a desk, saved
// at the JPEG quality that comes closest to `bytes`.
QByteArray photograph(qint64 bytes, QSize* size)
{
    QImage image(800, 600, QImage::Format_RGB32);
    QRandomGenerator random(7);
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const int grain = int(random.bounded(64));
            line[x] = qRgb((x * 255 / 800 + grain) % 256, (y * 255 / 600 + grain) % 256,
                           (128 + grain) % 256);
        }
    }
    QPainter painter(&image);
    painter.fillRect(250, 200, 300, 200, QColor(40, 40, 40));
    painter.end();
    *size = image.size();
    int low = 1, high = 100;
    while (low < high) { // the highest quality that stays within the size
        const int mid = (low + high + 1) / 2;
        if (jpeg(image, mid).size() <= bytes)
            low = mid;
        else
            high = mid - 1;
    }
    return jpeg(image, low);
}

// Resident memory now, in megabytes (the peak would be the generator's page cache).
long residentMegabytes()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toLong() * sysconf(_SC_PAGESIZE) / (1024 * 1024) : -1;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    prepareApplication(app);
    const int types = argc > 1 ? std::max(1, atoi(argv[1])) : 1000;
    const qint64 pictureBytes = (argc > 2 ? std::max(1, atoi(argv[2])) : 200) * 1000LL;

    QTemporaryDir folder;
    const ProgramPaths paths(folder.path());
    QDir(folder.path()).mkpath(QStringLiteral("base"));

    QElapsedTimer timer;
    timer.start();
    QSize size;
    const QByteArray picture = photograph(pictureBytes, &size);
    {
        Seeder seeder(paths.databasePath());
        for (int i = 0; i < types; ++i)
            seeder.addPackageType(QStringLiteral("TYPE-%1").arg(i, 5, 10, QLatin1Char('0')),
                                  QStringLiteral("type%1.jpg").arg(i), picture);
        if (!seeder.commit()) {
            std::fprintf(stderr, "register not written: %s\n", qPrintable(seeder.error()));
            return 1;
        }
    }
    std::printf("register: %d package types, each a %dx%d JPEG of %lld bytes; written in %.0f ms\n",
                types, size.width(), size.height(), qint64(picture.size()), sinceMs(timer));

    const long residentBefore = residentMegabytes();
    Register reg(paths.databasePath());
    if (!reg.check().ok()) {
        std::fprintf(stderr, "register not usable\n");
        return 1;
    }

    // Opening: built afresh, loaded, the first type's picture decoded and everything painted.
    std::vector<double> openings;
    for (int run = 0; run < 11; ++run) {
        timer.restart();
        Form5 window(paths, reg);
        window.show();
        QCoreApplication::processEvents();
        const double ms = sinceMs(timer);
        if (window.findChild<QLabel*>(QStringLiteral("Image1"))->pixmap().isNull()) {
            std::fprintf(stderr, "the first picture is not shown\n");
            return 1;
        }
        if (run > 0) // the first run also loads the image plugins
            openings.push_back(ms);
    }

    // Row changes: down through the list, each move read, shown and painted.
    std::vector<double> moves;
    long residentOpen = -1;
    {
        Form5 window(paths, reg);
        window.show();
        if (!QTest::qWaitForWindowExposed(&window))
            qWarning("the window was not exposed; row changes are timed without painting");
        auto* grid = window.findChild<QTableView*>(QStringLiteral("TDBGrid3"));
        grid->setFocus();
        const int count = std::min(types - 1, 200);
        for (int i = 0; i < count; ++i) {
            timer.restart();
            QTest::keyClick(grid, Qt::Key_Down);
            QCoreApplication::processEvents();
            moves.push_back(sinceMs(timer));
        }
        if (grid->currentIndex().row() != count) {
            std::fprintf(stderr, "the grid did not move\n");
            return 1;
        }
        QTest::keyClick(grid, Qt::Key_End); // every name read once
        QCoreApplication::processEvents();
        residentOpen = residentMegabytes();
    }

    const Stats open = statsOf(openings);
    const Stats move = statsOf(moves);
    std::printf("open Form5 (10 runs)      median %7.2f ms  p95 %7.2f ms  worst %7.2f ms  "
                "(target 150 ms)\n",
                open.median, open.p95, open.max);
    std::printf("row change (%zu moves)    median %7.2f ms  p95 %7.2f ms  worst %7.2f ms  "
                "(target 20 ms median)\n",
                moves.size(), move.median, move.p95, move.max);
    std::printf("resident memory %ld MB before opening, %ld MB with the window open after the "
                "moves and a jump to the last row\n",
                residentBefore, residentOpen);
    return 0;
}

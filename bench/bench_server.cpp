// The main window on a register kept on a PostgreSQL server beside the same register in its
// file, in one run: the first filled list after a start, a row change, a search keystroke until
// its answer is listed, the "+" button until the new quantity is shown, and on the server
// another computer's change until the window shows it; then the server's register restored from
// the file, as the menu's restore does (the server's rows kept in a file first, then replaced in
// one transaction). The file is copied first (the "+"
// writes), and moved to the server once: a database of that name that already holds the same
// number of parts is used as it is.
//
//   bench_server <program folder with base/vorlend.mdb> [server address]
//
// The address defaults to TARVIK_TEST_PG_TCP, else TARVIK_TEST_PG (tools/pg-test-cluster.sh
// [--tcp]); the register goes into the database tarvik_bench there.
#include "app/Form1.h"
#include "app/ServerStartup.h"
#include "app/Startup.h"
#include "store/records/RecordSource.h"
#include "store/register/Register.h"
#include "store/search/NameCopy.h"
#include "store/server/ServerCopy.h"
#include "store/server/ServerRestore.h"
#include "store/text/NumberText.h"

#include "AnsweredKeystroke.h"
#include "BenchStats.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTableView>
#include <QTemporaryDir>

#include <cstdio>
#include <vector>

using namespace tarvik;
using namespace tarvik::bench;

namespace {

void row(const char* what, const Stats& s)
{
    std::printf("  %-34s median %8.2f ms  p95 %8.2f ms  max %8.2f ms\n", what, s.median, s.p95,
                s.max);
    std::fflush(stdout);
}

// Until the list shows parts, the current part's name and every id; false after two minutes.
bool waitFilled(Form1& window, bool whole)
{
    auto* grid = window.findChild<QTableView*>(QStringLiteral("TDBGrid2"));
    auto* name = window.findChild<QLineEdit*>(QStringLiteral("Text1"));
    QElapsedTimer waited;
    waited.start();
    while (grid->model()->rowCount() == 0 || name->text().isEmpty() ||
           (whole && window.Data1()->isLoadingRest())) {
        if (waited.elapsed() > 120000)
            return false;
        QApplication::processEvents(QEventLoop::AllEvents, 1);
    }
    return true;
}

// The child of a timed start: the program's own start-up (tarvik.ini chooses the back end),
// then the time from main() until the list is filled.
int startOnly(const QString& folder, const QElapsedTimer& sinceMain)
{
    std::unique_ptr<Register> reg = chooseRegister(ProgramPaths(folder));
    if (!reg)
        return 1;
    Form1 window(ProgramPaths(folder), *reg);
    window.show();
    if (!waitFilled(window, false))
        return 1;
    std::printf("%.3f\n", sinceMain.nsecsElapsed() / 1e6);
    return 0;
}

Stats timedStarts(const QString& folder)
{
    std::vector<double> ms;
    for (int i = 0; i < 3; ++i) {
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--start"), folder});
        if (child.waitForFinished(300000) && child.exitCode() == 0)
            ms.push_back(child.readAllStandardOutput().trimmed().split('\n').last().toDouble());
    }
    return statsOf(ms);
}

// Another computer sets the quantity of the part the window is on, 20 times, each through a
// plain connection of its own; the time from its commit until the window shows the new value.
void measureChangeElsewhere(Form1& window, const ServerAddress& server)
{
    auto* quantity = window.findChild<QLineEdit*>(QStringLiteral("Text4"));
    const qint64 id = window.Data1()->currentKey();
    const std::optional<double> start = parseQuantity(quantity->text());
    if (id < 0 || !start) {
        std::printf("  no part with a quantity to change elsewhere\n");
        return;
    }
    std::vector<double> ms;
    int unseen = 0;
    {
        QSqlDatabase other = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), "bench-other");
        server.applyTo(other);
        if (!other.open()) {
            std::printf("  no second connection: %s\n", qPrintable(other.lastError().text()));
            other = {};
            QSqlDatabase::removeDatabase(QStringLiteral("bench-other"));
            return;
        }
        QSqlQuery update(other);
        update.prepare(QStringLiteral("UPDATE client SET phone = ? WHERE idnom = ?"));
        for (int i = 0; i < 20; ++i) {
            // Apart by more than the window's gathering of a burst, as changes by hand are.
            QTest::qWait(300);
            const double value = *start + (i % 2 == 0 ? 1 : 0);
            update.addBindValue(QString::number(value, 'g', 15));
            update.addBindValue(id);
            if (!update.exec()) {
                std::printf("  the change elsewhere failed: %s\n",
                            qPrintable(update.lastError().text()));
                break;
            }
            QElapsedTimer sinceCommit; // the statement commits by itself
            sinceCommit.start();
            const auto shown = [&] { return parseQuantity(quantity->text()) == value; };
            while (!shown() && sinceCommit.elapsed() < 10000)
                QApplication::processEvents(QEventLoop::AllEvents, 1);
            if (shown())
                ms.push_back(sinceCommit.nsecsElapsed() / 1e6);
            else
                ++unseen;
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("bench-other"));
    row("another computer's change visible", statsOf(ms));
    if (unseen > 0)
        std::printf("  %d of 20 changes not shown within 10 s\n", unseen);
}

// The window on `reg`: row changes, keystrokes once the names are in memory, "+" and "-", and
// on a server another computer's change.
void measureWindow(const QString& folder, Register& reg, const ServerAddress* server)
{
    Form1 window(ProgramPaths(folder), reg);
    window.show();
    if (!waitFilled(window, true)) {
        std::printf("  the list did not fill\n");
        return;
    }
    auto* grid = window.findChild<QTableView*>(QStringLiteral("TDBGrid2"));
    auto* names = window.findChild<NameCopy*>(QStringLiteral("partNames"));
    if (!QTest::qWaitFor([&] { return names->isReady(); }, 300000))
        std::printf("  the names were not read into memory\n");
    std::printf("  parts listed: %d\n", grid->model()->rowCount());

    grid->setFocus();
    std::vector<double> rows;
    for (int i = 0; i < 300; ++i)
        rows.push_back(timeMs([&] { QTest::keyClick(grid, Qt::Key_Down); }));
    row("row change (arrow down)", statsOf(rows));

    auto* search = window.findChild<QLineEdit*>(QStringLiteral("Text5"));
    StallWatch stalls;
    std::vector<double> keys;
    double stall = 0;
    for (const QString& text : {QStringLiteral("кт3"), QStringLiteral("lm"), QStringLiteral("рез"),
                                QStringLiteral("к50-35"), QStringLiteral("stm32f")}) {
        search->clear();
        for (const QChar ch : text) {
            const Answer answer = answeredKey(search, grid->model(), ch, stalls);
            keys.push_back(answer.ms);
            stall = std::max(stall, answer.stallMs);
        }
    }
    row("search keystroke until listed", statsOf(keys));
    std::printf("  %-34s %8.2f ms\n", "meanwhile: longest stall", stall);
    search->clear();
    waitFilled(window, true);

    // A part whose quantity is a number the buttons can step.
    auto* quantity = window.findChild<QLineEdit*>(QStringLiteral("Text4"));
    for (int i = 0; i < 100 && !parseQuantity(quantity->text()); ++i)
        QTest::keyClick(grid, Qt::Key_Down);
    auto* plus = window.findChild<QPushButton*>(QStringLiteral("plus"));
    auto* minus = window.findChild<QPushButton*>(QStringLiteral("minus"));
    const QString before = quantity->text();
    std::vector<double> plusMs, minusMs;
    plus->click();
    if (quantity->text() == before)
        std::printf("  \"+\" changed nothing: %s\n", qPrintable(before));
    minus->click();
    for (int i = 0; i < 100; ++i) {
        plusMs.push_back(timeMs([&] { plus->click(); }));
        minusMs.push_back(timeMs([&] { minus->click(); }));
    }
    row("\"+\" until the quantity is shown", statsOf(plusMs));
    row("\"-\" until the quantity is shown", statsOf(minusMs));
    if (quantity->text() != before)
        std::printf("  the quantity did not come back: %s, was %s\n", qPrintable(quantity->text()),
                    qPrintable(before));
    if (server)
        measureChangeElsewhere(window, *server);
}

// The register in the database tarvik_bench of the server `admin` names, moved there once.
std::optional<ServerAddress> serverCopy(const ServerAddress& admin, const QString& file,
                                        qint64 parts)
{
    ServerAddress bench = admin;
    bench.database = QStringLiteral("tarvik_bench");
    {
        Register there(bench);
        if (there.check().ok()) {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), "bench-count");
            bench.applyTo(db);
            qint64 held = -1;
            if (db.open()) {
                QSqlQuery count(db);
                if (count.exec(QStringLiteral("SELECT count(*) FROM client")) && count.next())
                    held = count.value(0).toLongLong();
            }
            db = {};
            QSqlDatabase::removeDatabase(QStringLiteral("bench-count"));
            if (held == parts) {
                std::printf("server database tarvik_bench holds the register already\n");
                return bench;
            }
        }
    }
    QString failed;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), "bench-admin");
        admin.applyTo(db);
        if (!db.open()) {
            failed = db.lastError().text();
        } else {
            QSqlQuery query(db);
            if (!query.exec(QStringLiteral("DROP DATABASE IF EXISTS tarvik_bench WITH (FORCE)")) ||
                !query.exec(QStringLiteral("CREATE DATABASE tarvik_bench")))
                failed = query.lastError().text();
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("bench-admin"));
    if (!failed.isEmpty()) {
        std::fprintf(stderr, "no database for the bench: %s\n", qPrintable(failed));
        return std::nullopt;
    }
    QElapsedTimer clock;
    clock.start();
    const ServerCopyResult copied = copyRegisterToServer(file, bench);
    if (!copied.ok()) {
        std::fprintf(stderr, "%s\n", qPrintable(copied.error));
        return std::nullopt;
    }
    std::printf("moved to the server (tarvik --copy-to-server): %lld parts in %.1f s\n",
                static_cast<long long>(copied.parts), clock.nsecsElapsed() / 1e9);
    return bench;
}

qint64 partsIn(const QString& file)
{
    Register reg(file);
    reg.check();
    Connection db;
    if (!reg.connect(db).ok())
        return -1;
    QSqlQuery count(db.connection());
    return count.exec(QStringLiteral("SELECT count(*) FROM client")) && count.next()
               ? count.value(0).toLongLong()
               : -1;
}

} // namespace

int main(int argc, char* argv[])
{
    QElapsedTimer sinceMain;
    sinceMain.start();
    qputenv("QT_QPA_PLATFORM", "offscreen");
    const bool child = argc == 3 && qstrcmp(argv[1], "--start") == 0;
    if ((argc < 2 || argc > 3) && !child) {
        std::fprintf(stderr, "usage: bench_server <program folder> [server address]\n");
        return 2;
    }
    QApplication app(argc, argv);
    prepareApplication(app);
    if (child) {
        const int status = startOnly(QString::fromLocal8Bit(argv[2]), sinceMain);
        std::fflush(stdout);
        std::_Exit(status); // skip the exit question
    }

    QString uri = argc == 3 ? QString::fromLocal8Bit(argv[2])
                            : qEnvironmentVariable("TARVIK_TEST_PG_TCP",
                                                   qEnvironmentVariable("TARVIK_TEST_PG"));
    const ParsedServerAddress admin = parseServerAddress(uri);
    if (!admin.address) {
        std::fprintf(stderr, "no server address: %s\n", qPrintable(admin.error));
        return 2;
    }
    // The file is copied: "+" and "-" write, and the given register is only read.
    QTemporaryDir work;
    const QString fileFolder = work.filePath(QStringLiteral("file"));
    const QString serverFolder = work.filePath(QStringLiteral("server"));
    const ProgramPaths filePaths(fileFolder), serverPaths(serverFolder);
    QDir().mkpath(fileFolder + QStringLiteral("/base"));
    QDir().mkpath(serverFolder + QStringLiteral("/base"));
    if (!QFile::copy(ProgramPaths(QString::fromLocal8Bit(argv[1])).databasePath(),
                     filePaths.databasePath())) {
        std::fprintf(stderr, "the register could not be copied\n");
        return 1;
    }
    const qint64 parts = partsIn(filePaths.databasePath());
    const std::optional<ServerAddress> server =
        serverCopy(*admin.address, filePaths.databasePath(), parts);
    QString error;
    if (!server || !writeServerChoice(serverPaths.databasePath(), *server, &error)) {
        std::fprintf(stderr, "no server register %s\n", qPrintable(error));
        return 1;
    }
    std::printf("parts: %lld; server %s (%s)\n", static_cast<long long>(parts),
                qPrintable(server->display()),
                server->effectiveHost().startsWith(QLatin1Char('/')) ? "Unix socket" : "TCP");

    for (const bool onServer : {false, true}) {
        const QString folder = onServer ? serverFolder : fileFolder;
        std::printf("== %s\n", onServer ? "server" : "file");
        row("start to first filled grid, warm", timedStarts(folder));
        std::unique_ptr<Register> reg = chooseRegister(ProgramPaths(folder));
        if (!reg)
            return 1;
        measureWindow(folder, *reg, onServer ? &*server : nullptr);
    }
    QElapsedTimer restoring;
    restoring.start();
    const RestoreResult restored = restoreServerRegister(*server, {}, filePaths.databasePath(),
                                                         work.filePath(QStringLiteral("kept.mdb")));
    if (!restored.ok()) {
        std::fprintf(stderr, "%s\n",
                     qPrintable(describeServerRestoreFailure(server->display(),
                                                             filePaths.databasePath(), restored)));
        return 1;
    }
    std::printf("%-36s %8.1f s\n", "restore on the server, kept first",
                restoring.nsecsElapsed() / 1e9);
    std::printf("%-36s %8.1f MB\n", "peak memory (whole run)", peakKilobytes() / 1024.0);
    std::fflush(stdout);
    std::_Exit(0); // skip the exit question
}

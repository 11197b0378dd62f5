// The journal of changes on a large register: a journal of millions of entries written
// straight into the file, the names of such a journal found at the first open of a build that
// reads them first, then opening the journal window and its first page, one part's entries
// and searches over part names (held by many parts, by some, by few, by none), and in the
// window a search for a name no entry has and one many have: the time to the answer and the
// longest the window's event loop waited meanwhile. Works on a copy: the given register is
// only read.
//
//   bench_journal <program folder with base/vorlend.mdb> [entries, 10000000 by default]
#include "service/JournalModel.h"
#include "service/JournalWindow.h"
#include "store/records/Journal.h"
#include "store/register/Register.h"

#include "BenchStats.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <functional>
#include <vector>

using namespace tarvik;
using namespace tarvik::bench;

namespace {

void print(const char* what, const Stats& s, std::size_t n)
{
    std::printf("%-40s median %8.2f ms  p95 %8.2f ms  max %8.2f ms  (%zu)\n", what, s.median, s.p95,
                s.max, n);
}

std::vector<double> repeat(int times, const std::function<void()>& step)
{
    std::vector<double> samples;
    for (int i = 0; i < times; ++i) {
        QElapsedTimer clock;
        clock.start();
        step();
        samples.push_back(clock.nsecsElapsed() / 1e6);
    }
    return samples;
}

// Entries as "+" on every part in turn would leave them, written by one statement.
bool fill(const QString& path, qint64 entries, qint64 parts)
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("fill"));
    db.setDatabaseName(path);
    if (!db.open())
        return false;
    QSqlQuery query(db);
    query.exec(QStringLiteral("PRAGMA cache_size = -524288"));
    query.prepare(QStringLiteral(
        "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < ?) "
        "INSERT INTO partJournal (changedAt, computer, login, outside, action, operation, part, "
        "name, nameKey, field, was, became) "
        "SELECT '2026-01-01T00:00:00.000Z', 'bench', 'bench', 0, 'plus', 'edit', i % ? + 1, "
        "'Деталь ' || (i % ? + 1), 'деталь ' || (i % ? + 1), 'phone', i, i + 1 FROM n"));
    query.addBindValue(entries);
    query.addBindValue(parts);
    query.addBindValue(parts);
    query.addBindValue(parts);
    const bool ok = query.exec();
    if (!ok)
        std::printf("journal not written: %s\n", qPrintable(query.lastError().text()));
    query.finish();
    db.close();
    return ok;
}

// Runs the event loop until `done`, or 60 s; the longest gap between ticks of a 1 ms timer is
// the longest the window could not answer.
double longestStall(const std::function<bool()>& done)
{
    QElapsedTimer clock;
    clock.start();
    qint64 last = clock.nsecsElapsed();
    double longest = 0;
    QTimer tick;
    tick.setInterval(1);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        longest = std::max(longest, (now - last) / 1e6);
        last = now;
    });
    tick.start();
    while (!done() && clock.elapsed() < 60000)
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    const qint64 now = clock.nsecsElapsed();
    return std::max(longest, (now - last) / 1e6);
}

// The window's grid holds the first page of what it shows and reads nothing more.
bool answered(JournalWindow& window)
{
    auto* grid = window.findChild<QTableView*>(QStringLiteral("entries"));
    auto* model = grid ? qobject_cast<JournalModel*>(grid->model()) : nullptr;
    return model && !model->isReading();
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_journal FOLDER [entries]\n");
        return 2;
    }
    const qint64 entries = argc > 2 ? std::max<qint64>(1, std::atoll(argv[2])) : 10000000;
    QTemporaryDir work;
    const QString path = work.filePath(QStringLiteral("vorlend.mdb"));
    if (!QFile::copy(
            QDir(QString::fromLocal8Bit(argv[1])).filePath(QStringLiteral("base/vorlend.mdb")),
            path)) {
        std::fprintf(stderr, "cannot copy the register\n");
        return 1;
    }
    qint64 parts = 0;
    {
        Register reg(path); // adds the journal to a register without one
        if (!reg.check().ok())
            return 1;
        Connection db;
        reg.connect(db);
        QSqlQuery count(db.connection());
        count.exec(QStringLiteral("SELECT count(*) FROM client"));
        parts = count.next() ? std::max<qint64>(1, count.value(0).toLongLong()) : 1;
    }
    QElapsedTimer clock;
    clock.start();
    if (!fill(path, entries, parts))
        return 1;
    std::printf("%-40s %lld entries over %lld parts in %.1f s\n", "journal written",
                static_cast<long long>(entries), static_cast<long long>(parts),
                clock.nsecsElapsed() / 1e9);

    // As a journal written before its names were kept: they are read at the next open.
    {
        QSqlDatabase db =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("earlier"));
        db.setDatabaseName(path);
        db.open();
        QSqlQuery query(db);
        for (const char* sql :
             {"DROP TRIGGER partJournal_names_insert", "DROP TRIGGER partJournal_names_update",
              "DROP TABLE partJournalNames"})
            query.exec(QLatin1String(sql));
        query.finish();
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("earlier"));
    clock.restart();
    Register reg(path);
    reg.check();
    std::printf("%-40s %.1f s\n", "earlier journal's names read at open",
                clock.nsecsElapsed() / 1e9);
    const auto window = repeat(10, [&] {
        JournalWindow shown(reg, std::nullopt);
        shown.show();
        longestStall([&] { return answered(shown); });
        auto* grid = shown.findChild<QTableView*>(QStringLiteral("entries"));
        if (!grid || grid->model()->rowCount() == 0)
            std::printf("no entries shown\n");
    });
    print("window opened, first page shown", statsOf(window), window.size());

    // From the last keystroke: the pause in the typing the window waits for, then the read.
    const auto searched = [&](const char* what, const QString& text, const QString& other) {
        std::vector<double> answers, stalls;
        JournalWindow shown(reg, std::nullopt);
        shown.show();
        longestStall([&] { return answered(shown); });
        auto* search = shown.findChild<QLineEdit*>(QStringLiteral("search"));
        auto* grid = shown.findChild<QTableView*>(QStringLiteral("entries"));
        int shownAnswers = 0;
        QObject::connect(grid->model(), &QAbstractItemModel::modelReset,
                         [&shownAnswers] { ++shownAnswers; });
        for (int i = 0; i < 3; ++i) {
            search->setText(i % 2 ? other : text);
            QElapsedTimer clock;
            clock.start();
            const int before = shownAnswers;
            stalls.push_back(longestStall([&] { return shownAnswers > before; }));
            answers.push_back(clock.nsecsElapsed() / 1e6);
        }
        std::printf("window: %s\n", what);
        print("  answer shown", statsOf(answers), answers.size());
        print("  its longest stall meanwhile", statsOf(stalls), stalls.size());
    };
    searched("no name matches", QStringLiteral("нет такой детали!"),
             QStringLiteral("нет такой детали"));
    searched("a name many parts have", QStringLiteral("деталь 1"), QStringLiteral("деталь 2"));

    Connection db;
    reg.connect(db);
    const Journal journal(db);
    qint64 last = 0;
    const auto first = repeat(20, [&] { last = journal.page({}, 0, 200).entries.last().entry; });
    print("first page (200)", statsOf(first), first.size());
    const auto deep = repeat(20, [&] { journal.page({}, last - 5000000, 200); });
    print("a page 5,000,000 entries down", statsOf(deep), deep.size());
    const auto onePart = repeat(20, [&] { journal.page({parts / 2, {}}, 0, 200); });
    print("one part's first page", statsOf(onePart), onePart.size());
    for (const auto& [what, text] :
         {std::pair{"name search, many parts: first page", "деталь 1"},
          std::pair{"name search, 1,111 parts: first page", "деталь 123"},
          std::pair{"name search, 11 parts: first page", "деталь 12345"},
          std::pair{"name search, no part: first page", "нет такой детали"}}) {
        const auto named = repeat(5, [&, text = text] {
            journal.page({std::nullopt, QString::fromUtf8(text)}, 0, 200);
        });
        print(what, statsOf(named), named.size());
    }
    std::printf("%-40s %.1f MB\n", "file size", QFileInfo(path).size() / (1024.0 * 1024.0));
    return 0;
}

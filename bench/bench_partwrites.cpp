// The parts' write path on a large register: what one add, rename, "+" and delete of a part
// costs, with the names held in memory for the quick search (as in the main window) and
// without, and with the journal of changes written by the triggers and without it. Works on a
// copy: the given register is only read.
//
//   bench_partwrites <program folder with base/vorlend.mdb> [writes]
#include "store/records/RecordSource.h"
#include "store/records/Statements.h"
#include "store/register/Register.h"
#include "store/search/NameCopy.h"

#include "BenchStats.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <functional>
#include <vector>

using namespace tarvik;
using namespace tarvik::bench;

namespace {

void print(const char* what, const Stats& s, std::size_t n)
{
    std::printf("%-36s median %7.2f ms  p95 %7.2f ms  max %7.2f ms  (%zu)\n", what, s.median, s.p95,
                s.max, n);
}

double timed(const std::function<bool()>& step, bool* ok)
{
    QElapsedTimer clock;
    clock.start();
    *ok = step() && *ok;
    return clock.nsecsElapsed() / 1e6;
}

// Takes the journal away again after the open added it: the writes as earlier builds made
// them, for comparison.
void dropJournal(const QString& path)
{
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "drop");
        db.setDatabaseName(path);
        db.open();
        QSqlQuery query(db);
        for (const char* trigger : {"client_journal_insert", "client_journal_update",
                                    "client_journal_delete", "partMinimum_journal_insert",
                                    "partMinimum_journal_update", "partMinimum_journal_delete"})
            query.exec(QStringLiteral("DROP TRIGGER IF EXISTS %1").arg(QLatin1String(trigger)));
        query.exec(QStringLiteral("DROP TABLE IF EXISTS journalContext"));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("drop"));
}

void run(const QString& path, int writes, bool withCopy, bool journal)
{
    Register reg(path);
    reg.check();
    if (!journal)
        dropJournal(path);
    NameCopy copy(reg);
    RecordSource parts;
    parts.open(reg);
    if (withCopy) {
        parts.setNameCopy(&copy);
        copy.startLoading();
        if (!QTest::qWaitFor([&] { return copy.isReady(); }, 120000))
            std::printf("the names were not read into memory\n");
    }
    // A few rows to work on: the parts named like the search the user typed.
    parts.setStatement(Statements::partsWithNameLike(QStringLiteral("бенч-запись")));
    parts.refresh();

    std::vector<double> add, rename, plus, remove;
    bool ok = true;
    for (int i = 0; i < writes; ++i) {
        const QString name = QStringLiteral("Бенч-запись %1").arg(i, 5, 10, QLatin1Char('0'));
        add.push_back(timed(
            [&] {
                return parts.addNew({{"kont", "1"}, {"idFam", name}, {"phone", "1"}});
            },
            &ok));
    }
    parts.refresh();
    for (int i = 0; i < writes && i < parts.recordCount(); ++i) {
        parts.setCurrentRow(i);
        const QString shown = parts.field(QStringLiteral("phone")).toString();
        plus.push_back(timed(
            [&] {
                return parts.replaceCurrentIf(QStringLiteral("phone"), shown, QStringLiteral("2"),
                                              PartAction::Plus) == RecordSource::Replaced::Saved;
            },
            &ok));
        const QString name = QStringLiteral("Бенч-запись правка %1").arg(i);
        rename.push_back(timed(
            [&] {
                return parts.updateCurrent({{"idFam", name}}, PartAction::Edit);
            },
            &ok));
    }
    parts.refresh();
    while (parts.recordCount() > 0 && int(remove.size()) < writes) {
        parts.setCurrentRow(0);
        remove.push_back(timed([&] { return parts.deleteCurrent(); }, &ok));
        parts.refresh();
    }
    const char* with = withCopy ? "names in memory" : "engine only";
    std::printf("-- %s, %s%s\n", with, journal ? "journal kept" : "no journal",
                ok ? "" : " (SOME WRITES FAILED)");
    print("add", statsOf(add), add.size());
    print("\"+\" (checked against the shown value)", statsOf(plus), plus.size());
    print("rename", statsOf(rename), rename.size());
    print("delete", statsOf(remove), remove.size());
    if (withCopy)
        std::printf("%-36s %d\n", "loads of the names (1: all followed)", copy.loadsCompleted());
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_partwrites FOLDER [writes]\n");
        return 2;
    }
    const int writes = argc > 2 ? std::max(1, std::atoi(argv[2])) : 200;
    QTemporaryDir work;
    const QString copyPath = work.filePath(QStringLiteral("vorlend.mdb"));
    if (!QFile::copy(
            QDir(QString::fromLocal8Bit(argv[1])).filePath(QStringLiteral("base/vorlend.mdb")),
            copyPath)) {
        std::fprintf(stderr, "cannot copy the register\n");
        return 1;
    }
    run(copyPath, writes, true, true);
    run(copyPath, writes, false, true);
    run(copyPath, writes, false, false);
    std::printf("%-36s %.1f MB\n", "peak memory", peakKilobytes() / 1024.0);
    return 0;
}

#include "store/search/StockLoad.h"

#include "store/text/NumberText.h"
#include "store/text/RawStatement.h"

#include <QSqlError>
#include <QSqlQuery>

#include <sqlite3.h>

namespace tarvik {
namespace {

std::optional<qint64> single(sqlite3* db, const char* sql)
{
    RawStatement statement(db, sql);
    if (!statement.statement || sqlite3_step(statement.statement) != SQLITE_ROW)
        return std::nullopt;
    return sqlite3_column_int64(statement.statement, 0);
}

QString columnText(sqlite3_stmt* statement, int column)
{
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
    return text ? QString::fromUtf8(text, sqlite3_column_bytes(statement, column)) : QString();
}

// Room for parts added after the load without leaving the plain array.
qint64 denseIds(qint64 largestId, qint64 count)
{
    return std::min<qint64>(largestId + 1 + 65536, 4 * count + (1 << 20));
}

// In slices by row id, each its own read transaction, so that no writer waits longer than a
// slice: a change committed between slices has a journal entry after the one read first and
// is followed once the load is taken in. Without the journal nothing would tell which rows
// moved meanwhile, so the whole read is one transaction.
bool readFile(BackgroundReader::Run& run, StockLoad& load)
{
    sqlite3* db = run.handle;
    load.journal = run.db.keepsJournal();
    if (!run.proceed(0) || sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK)
        return false;
    const auto entry =
        load.journal ? single(db, "SELECT coalesce(max(entry), 0) FROM partJournal") : 0;
    const auto largest = single(db, "SELECT coalesce(max(rowid), 0) FROM client");
    const auto count = single(db, "SELECT count(*) FROM client");
    RawStatement slice(db, load.journal
                               ? "SELECT c.rowid, c.pol, c.phone, m.minimum FROM client AS c "
                                 "LEFT JOIN partMinimum AS m ON m.idnom = c.rowid "
                                 "WHERE c.rowid > ? ORDER BY c.rowid LIMIT ?"
                               : "SELECT rowid, pol, phone, NULL FROM client "
                                 "WHERE rowid > ? ORDER BY rowid LIMIT ?");
    bool ok = entry && largest && count && slice.statement;
    if (ok) {
        load.entry = *entry;
        load.table = std::make_unique<StockTable>(denseIds(*largest, *count));
    }
    qint64 last = std::numeric_limits<qint64>::min();
    const NumberReader number;
    for (unsigned step = 1; ok; ++step) {
        sqlite3_bind_int64(slice.statement, 1, last);
        sqlite3_bind_int(slice.statement, 2, int(load.rowsPerSlice));
        unsigned rows = 0;
        int result = SQLITE_ROW;
        while (!run.stopping() && (result = sqlite3_step(slice.statement)) == SQLITE_ROW) {
            last = sqlite3_column_int64(slice.statement, 0);
            const std::optional<qint64> minimum =
                sqlite3_column_type(slice.statement, 3) == SQLITE_NULL
                    ? std::nullopt
                    : std::optional<qint64>(sqlite3_column_int64(slice.statement, 3));
            load.table->set(last, stockPart(number, columnText(slice.statement, 1),
                                            columnText(slice.statement, 2), minimum));
            ++rows;
        }
        sqlite3_reset(slice.statement);
        ok = !run.stopping() && result == SQLITE_DONE;
        if (!ok || rows < load.rowsPerSlice)
            break;
        if (load.journal) {
            sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
            ok = run.proceed(step) &&
                 sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr) == SQLITE_OK;
        }
    }
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    if (!ok)
        load.table.reset();
    return ok;
}

// On a server: one snapshot, which holds up no writer; the job looks at its stop flag between
// rows.
bool readServer(BackgroundReader::Run& run, StockLoad& load)
{
    const QSqlDatabase db = run.db.connection();
    load.journal = run.db.keepsJournal();
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!run.proceed(0) ||
        !query.exec(QStringLiteral("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY")))
        return false;
    bool ok = query.exec(QStringLiteral("SELECT coalesce(max(idnom), 0), count(*) FROM client")) &&
              query.next();
    if (ok)
        load.table = std::make_unique<StockTable>(
            denseIds(query.value(0).toLongLong(), query.value(1).toLongLong()));
    ok = ok &&
         query.exec(load.journal ? QStringLiteral("SELECT c.idnom, c.pol, c.phone, m.minimum FROM "
                                                  "client AS c LEFT JOIN partMinimum AS m ON "
                                                  "m.idnom = c.idnom")
                                 : QStringLiteral("SELECT idnom, pol, phone, NULL FROM "
                                                  "client"));
    const NumberReader number;
    while (ok && !run.stopping() && query.next()) {
        const QVariant minimum = query.value(3);
        load.table->set(query.value(0).toLongLong(),
                        stockPart(number, query.value(1).toString(), query.value(2).toString(),
                                  minimum.isNull() ? std::nullopt
                                                   : std::optional<qint64>(minimum.toLongLong())));
    }
    ok = ok && !run.stopping() && !query.lastError().isValid();
    query.finish();
    query.exec(QStringLiteral("COMMIT"));
    if (!ok)
        load.table.reset();
    return ok;
}

} // namespace

StockTable::Part stockPart(const QString& price, const QString& quantity,
                           std::optional<qint64> minimum)
{
    return stockPart(NumberReader(), price, quantity, minimum);
}

StockTable::Part stockPart(const NumberReader& number, const QString& price,
                           const QString& quantity, std::optional<qint64> minimum)
{
    return {number(price), number(quantity), minimum};
}

bool readStock(BackgroundReader::Run& run, StockLoad& load)
{
    return run.db.onServer() ? readServer(run, load) : readFile(run, load);
}

} // namespace tarvik

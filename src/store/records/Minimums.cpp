#include "store/records/Minimums.h"

#include <QSqlQuery>
#include <QVariant>

namespace tarvik::Minimums {
namespace {

MinimumsRead read(const Connection& db, std::optional<qint64> id)
{
    MinimumsRead result;
    if (!db.keepsJournal())
        return result;
    QSqlQuery query(db.connection());
    query.setForwardOnly(true);
    query.prepare(
        QStringLiteral("SELECT idnom, minimum FROM partMinimum WHERE minimum IS NOT NULL") +
        (id ? QStringLiteral(" AND idnom = ?") : QString()));
    if (id)
        query.addBindValue(*id);
    if (!query.exec()) {
        result.ok = false;
        result.error = query.lastError();
        db.noteError(result.error);
        return result;
    }
    while (query.next())
        result.minimums.insert(query.value(0).toLongLong(), query.value(1).toLongLong());
    if (query.lastError().isValid()) {
        result.ok = false;
        result.error = query.lastError();
        result.minimums.clear();
        db.noteError(result.error);
    }
    return result;
}

} // namespace

MinimumsRead all(const Connection& db)
{
    return read(db, std::nullopt);
}

MinimumsRead of(const Connection& db, qint64 id)
{
    return read(db, id);
}

} // namespace tarvik::Minimums

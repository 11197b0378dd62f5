#include "store/records/PartExport.h"

#include "store/records/PartImport.h"
#include "store/records/Statements.h"
#include "store/register/Dialect.h"
#include "store/text/CsvWriter.h"
#include "store/text/NumberText.h"

#include <QHash>
#include <QIODevice>
#include <QSqlQuery>

#include <algorithm>

namespace tarvik {
namespace {

constexpr qsizetype kSlice = 100;

struct Shown {
    QString name, package, price, quantity, notes;
};

bool writeOut(QIODevice& out, CsvWriter& writer, PartExport& result)
{
    const QByteArray bytes = writer.takeBytes();
    if (out.write(bytes) == bytes.size())
        return true;
    result.reason = out.errorString();
    return false;
}

} // namespace

std::optional<QVector<qint64>> partIdsByName(const Connection& db, QSqlError* error)
{
    const QSqlDatabase connection = db.connection();
    QSqlQuery query(connection);
    query.setForwardOnly(true);
    const Statement byName = Statements::partsByName();
    if (!query.exec(QStringLiteral("SELECT %1 FROM client ORDER BY %2")
                        .arg(keyColumn(QStringLiteral("client"), connection), byName.orderBy))) {
        *error = query.lastError();
        return std::nullopt;
    }
    QVector<qint64> ids;
    while (query.next())
        ids << query.value(0).toLongLong();
    return ids;
}

PartExport exportPartsCsv(const Connection& db, const QVector<qint64>& ids, QIODevice& out,
                          const std::function<bool(qint64 done)>& progress)
{
    PartExport result;
    CsvWriter writer;
    for (const QString& column : partCsvColumns())
        writer.text(column);
    writer.endLine();
    if (!writeOut(out, writer, result))
        return result;

    const QSqlDatabase connection = db.connection();
    const QString key = keyColumn(QStringLiteral("client"), connection);
    QSqlQuery query(connection);
    query.setForwardOnly(true);
    QHash<qint64, Shown> slice;
    for (qsizetype start = 0; start < ids.size(); start += kSlice) {
        const qsizetype count = std::min(kSlice, ids.size() - start);
        query.prepare(QStringLiteral("SELECT %1, idFam, datebir, pol, phone, sorp FROM client "
                                     "WHERE %1 IN (%2)")
                          .arg(key, Statements::placeholders(count)));
        for (qsizetype i = start; i < start + count; ++i)
            query.addBindValue(ids.at(i));
        if (!query.exec()) {
            result.error = query.lastError();
            db.noteError(result.error);
            return result;
        }
        slice.clear();
        while (query.next()) {
            slice.insert(query.value(0).toLongLong(),
                         {query.value(1).toString(), query.value(2).toString(),
                          query.value(3).toString(), query.value(4).toString(),
                          query.value(5).toString()});
        }
        query.finish();
        for (qsizetype i = start; i < start + count; ++i) {
            const auto part = slice.constFind(ids.at(i));
            if (part == slice.constEnd())
                continue;
            const auto price = parseNumber(part->price);
            const auto quantity = parseNumber(part->quantity);
            writer.text(part->name).text(part->package).text(part->price).text(part->quantity);
            writer.number(price && quantity ? formatNumber(*price * *quantity) : QString());
            writer.text(part->notes);
            writer.endLine();
            ++result.rows;
        }
        if (!writeOut(out, writer, result))
            return result;
        if (progress && !progress(start + count)) {
            result.reason = QStringLiteral("прервано");
            return result;
        }
    }
    return result;
}

} // namespace tarvik

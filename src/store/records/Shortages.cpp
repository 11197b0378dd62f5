#include "store/records/Shortages.h"

#include "store/records/Statements.h"
#include "store/register/Dialect.h"
#include "store/text/NumberText.h"

#include <QSqlQuery>

namespace tarvik {

ShortagesRead readShortages(const Connection& db)
{
    ShortagesRead result;
    if (!db.keepsJournal())
        return result; // no minimums kept: nothing is short
    const QSqlDatabase connection = db.connection();
    const QString key = keyColumn(QStringLiteral("client"), connection);
    QSqlQuery query(connection);
    query.setForwardOnly(true);
    // Only parts with a minimum, few beside the whole register; the quantity is read as the
    // user's locale reads it, which the engine cannot do.
    const QString sql =
        QStringLiteral(
            "SELECT %1, idFam, PhotoN, phone, pol, sorp, (SELECT minimum FROM partMinimum "
            "WHERE partMinimum.idnom = client.%1) FROM client WHERE %1 IN (SELECT "
            "idnom FROM partMinimum WHERE minimum IS NOT NULL) ORDER BY %2")
            .arg(key, Statements::partsByName().orderBy);
    if (!query.exec(sql)) {
        result.ok = false;
        result.error = query.lastError();
        db.noteError(result.error);
        return result;
    }
    while (query.next()) {
        Shortage part;
        part.id = query.value(0).toLongLong();
        part.name = query.value(1).toString();
        part.package = query.value(2).toString();
        part.quantityText = query.value(3).toString();
        part.priceText = query.value(4).toString();
        part.notes = query.value(5).toString();
        part.minimum = query.value(6).toLongLong();
        const auto quantity = parseNumber(part.quantityText);
        if (!quantity || *quantity > double(part.minimum) || query.value(6).isNull())
            continue;
        part.quantity = *quantity;
        part.price = parseNumber(part.priceText);
        result.parts << part;
    }
    if (query.lastError().isValid()) {
        result.ok = false;
        result.error = query.lastError();
        result.parts.clear();
        db.noteError(result.error);
    }
    return result;
}

} // namespace tarvik

#include "store/records/ServerKeys.h"

#include "store/register/Dialect.h"
#include "store/register/NameKeys.h"
#include "store/text/LikePattern.h"
#include "store/text/TextFold.h"

#include <QSqlQuery>

#include <algorithm>

namespace tarvik {
namespace {

struct Named {
    qint64 id;
    bool hasKey;
    QByteArray key;
};

// The statements that call a function of the file's engine, told by what they are.
enum class Form { Plain, NamePattern, TypesByName, TypeNamed };

Form formOf(const Statement& statement)
{
    if (Statements::nameLikeText(statement))
        return Form::NamePattern;
    if (statement == Statements::packageTypesByName() ||
        statement == Statements::namedPackageTypesByName())
        return Form::TypesByName;
    if (statement.binds.size() == 1 &&
        statement == Statements::packageTypeNamed(statement.binds.front().toString()))
        return Form::TypeNamed;
    return Form::Plain;
}

// ORDER BY rowid is the file's; the server's rows are named by their identity column.
QString serverOrder(const Statement& statement)
{
    if (statement.orderBy.compare(QLatin1String("rowid"), Qt::CaseInsensitive) == 0)
        return keyColumn(statement.table, Engine::Server);
    return statement.orderBy;
}

bool run(QSqlQuery& query, const QString& sql, const QVariantList& binds, QSqlError& error)
{
    query.setForwardOnly(true);
    bool ok = query.prepare(sql);
    for (const QVariant& value : binds)
        query.addBindValue(value);
    ok = ok && query.exec();
    if (!ok)
        error = query.lastError();
    return ok;
}

} // namespace

std::optional<QVector<qint64>> readServerKeys(const QSqlDatabase& db, const Statement& statement,
                                              int limit, QSqlError& error)
{
    QSqlQuery query(db);
    QVector<qint64> keys;
    const auto full = [&] { return limit > 0 && keys.size() >= limit; };
    switch (formOf(statement)) {
    case Form::Plain: {
        QString sql = QStringLiteral("SELECT %1 FROM %2")
                          .arg(keyColumn(statement.table, Engine::Server), statement.table);
        if (!statement.where.isEmpty())
            sql += QStringLiteral(" WHERE ") + statement.where;
        if (const QString order = serverOrder(statement); !order.isEmpty())
            sql += QStringLiteral(" ORDER BY ") + order;
        if (limit > 0)
            sql += QStringLiteral(" LIMIT %1").arg(limit);
        if (!run(query, sql, statement.binds, error))
            return std::nullopt;
        while (query.next())
            keys << query.value(0).toLongLong();
        break;
    }
    case Form::NamePattern: {
        // The names come in the list's order (idFamKey is byte-ordered on the server too);
        // each is matched as tarvik_like_folded matches it in the file.
        const KeyPattern pattern(statement.binds.front().toString());
        std::u32string buffer;
        if (!run(query,
                 QStringLiteral("SELECT idnom, idFamKey FROM client WHERE idFamKey IS NOT NULL "
                                "ORDER BY ") +
                     statement.orderBy,
                 {}, error))
            return std::nullopt;
        while (!full() && query.next()) {
            const QByteArray key = query.value(1).toString().toUtf8();
            if (pattern.matches({key.constData(), std::size_t(key.size())}, buffer))
                keys << query.value(0).toLongLong();
        }
        break;
    }
    case Form::TypesByName:
    case Form::TypeNamed: {
        // A handful of rows: sorted or compared here by the name's key, as the file's
        // engine does with tarvik_name_key and tarvik_fold.
        const bool named = formOf(statement) == Form::TypeNamed;
        const bool onlyNamed = statement == Statements::namedPackageTypesByName();
        if (!run(query,
                 QStringLiteral("SELECT IDvrachYZD, vrachYZD FROM vrYZD") +
                     (onlyNamed ? QStringLiteral(" WHERE vrachYZD <> ''") : QString()),
                 {}, error))
            return std::nullopt;
        const QString wanted = named ? foldCase(statement.binds.front().toString()) : QString();
        std::vector<Named> rows;
        while (query.next()) {
            const QVariant name = query.value(1);
            if (named && (name.isNull() || foldCase(name.toString()) != wanted))
                continue;
            const QVariant key = nameKey(name);
            rows.push_back({query.value(0).toLongLong(), !key.isNull(), key.toString().toUtf8()});
        }
        if (!named) {
            // NULL first, then the keys' bytes, then the number: the file's ORDER BY.
            std::sort(rows.begin(), rows.end(), [](const Named& a, const Named& b) {
                if (a.hasKey != b.hasKey)
                    return !a.hasKey;
                if (a.key != b.key)
                    return a.key < b.key;
                return a.id < b.id;
            });
        } else {
            std::sort(rows.begin(), rows.end(),
                      [](const Named& a, const Named& b) { return a.id < b.id; });
        }
        for (const Named& row : rows) {
            if (full())
                break;
            keys << row.id;
        }
        break;
    }
    }
    if (query.lastError().isValid()) {
        error = query.lastError();
        return std::nullopt;
    }
    return keys;
}

} // namespace tarvik

#include "store/records/Statements.h"

#include "store/register/NameKeys.h"

namespace tarvik {
namespace {

QString tail(const Statement& s)
{
    QString sql;
    if (!s.where.isEmpty())
        sql += QStringLiteral(" WHERE ") + s.where;
    if (!s.orderBy.isEmpty())
        sql += QStringLiteral(" ORDER BY ") + s.orderBy;
    return sql;
}

} // namespace

QString Statement::selectSql() const
{
    return QStringLiteral("SELECT * FROM ") + table + tail(*this);
}

QString Statement::keysSql(int limit) const
{
    // tarvik_keys() gathers the ids in the order the inner query delivers them.
    return QStringLiteral("SELECT tarvik_keys(k) FROM (SELECT rowid AS k FROM ") + table +
           tail(*this) + (limit > 0 ? QStringLiteral(" LIMIT %1").arg(limit) : QString()) +
           QLatin1Char(')');
}

namespace Statements {

// idFamKey is the name key (folded, Ё in its place in the alphabet) that the program keeps
// beside idFam; sorting on it uses its index, and the row id settles the order of equal names.
Statement partsByName()
{
    return {QStringLiteral("client"), {}, {}, QStringLiteral("idFamKey, idnom")};
}

Statement partsNamed(const QString& name)
{
    // The key is worked out here, so that both engines compare it unchanged.
    return {QStringLiteral("client"), QStringLiteral("idFamKey = ?"), {nameKey(name)}, {}};
}

// Spelled out, because without it the engine may walk a smaller index instead of the table.
Statement partsInStoredOrder()
{
    return {QStringLiteral("client"), {}, {}, QStringLiteral("rowid")};
}

Statement partsWithNameLike(const QString& text)
{
    return {QStringLiteral("client"),
            QStringLiteral("tarvik_like_folded(?, idFamKey)"),
            {QStringLiteral("*") + text + QStringLiteral("*")},
            QStringLiteral("idFamKey, idnom")};
}

std::optional<QString> nameLikeText(const Statement& statement)
{
    if (statement.binds.size() != 1)
        return std::nullopt;
    const QString pattern = statement.binds.front().toString();
    if (pattern.size() < 2 || !pattern.startsWith(QLatin1Char('*')) ||
        !pattern.endsWith(QLatin1Char('*')))
        return std::nullopt;
    const QString text = pattern.mid(1, pattern.size() - 2);
    if (statement != partsWithNameLike(text))
        return std::nullopt;
    return text;
}

Statement packageTypes()
{
    return {QStringLiteral("vrYZD"), {}, {}, QStringLiteral("rowid")};
}

Statement packageTypesByName()
{
    return {
        QStringLiteral("vrYZD"), {}, {}, QStringLiteral("tarvik_name_key(vrachYZD), IDvrachYZD")};
}

Statement namedPackageTypesByName()
{
    return {QStringLiteral("vrYZD"),
            QStringLiteral("vrachYZD <> ''"),
            {},
            QStringLiteral("tarvik_name_key(vrachYZD), IDvrachYZD")};
}

Statement packageTypeNamed(const QString& name)
{
    return {QStringLiteral("vrYZD"),
            QStringLiteral("tarvik_fold(vrachYZD) = tarvik_fold(?)"),
            {name},
            {}};
}

QString largestPackageTypeId()
{
    return QStringLiteral("SELECT MAX(IDvrachYZD) AS \"Max _ IDvrachYZD\" FROM vrYZD");
}

QString countParts()
{
    // clientKontCount is kept by triggers in the same transaction as every change, so it
    // always equals COUNT(kont) without a scan of a million rows.
    return QStringLiteral("SELECT n AS Cnt FROM clientKontCount");
}

QString countPartsByScan()
{
    return QStringLiteral("SELECT COUNT(kont) AS Cnt FROM client");
}

QString placeholders(qsizetype count)
{
    QStringList marks(count, QStringLiteral("?"));
    return marks.join(QStringLiteral(", "));
}

} // namespace Statements
} // namespace tarvik

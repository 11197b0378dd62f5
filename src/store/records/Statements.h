#pragma once

#include <QString>
#include <QVariantList>

#include <optional>

namespace tarvik {

// A record source's row source: which rows of one table, in which order. Kept in pieces
// rather than as finished SQL so that user text only ever travels as bound values.
struct Statement {
    QString table;
    QString where;      // condition with `?` placeholders, or empty for every row
    QVariantList binds; // one value per placeholder
    QString orderBy;    // empty: the table's stored order

    // The statement as the engine runs it.
    QString selectSql() const;
    // The same rows and order, giving only the row ids; the first `limit` of them when it is
    // above zero.
    QString keysSql(int limit = 0) const;

    bool operator==(const Statement&) const = default;
};

// Every statement the program issues on the register.
namespace Statements {

// All parts sorted by name, ignoring case (start-up, "show all", after a save).
Statement partsByName();
// All parts in the table's stored order.
Statement partsInStoredOrder();
// Parts whose name contains `text`, where * ? # [ ] keep their pattern meaning.
Statement partsWithNameLike(const QString& text);
// The text of a partsWithNameLike() statement; nothing for any other statement.
std::optional<QString> nameLikeText(const Statement& statement);

// Parts whose name equals `name`, ignoring case (the duplicate-name check).
Statement partsNamed(const QString& name);

// The package-type table itself, in stored order.
Statement packageTypes();
// Package types by name.
Statement packageTypesByName();
// Package types that have a name, by name (the dialogs' package list).
Statement namedPackageTypesByName();
// The package type of the given name (the look-up of a part's picture).
Statement packageTypeNamed(const QString& name);

// The largest package-type number; NULL for an empty table. Result column "Max _ IDvrachYZD".
QString largestPackageTypeId();

// Number of parts that carry a key: always the whole table, whatever a list shows.
QString countParts();
// The same count for a file without the counter table.
QString countPartsByScan();

// `count` bound-parameter marks, "?, ?, …", for a statement built around given columns.
QString placeholders(qsizetype count);

} // namespace Statements
} // namespace tarvik

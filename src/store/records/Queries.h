#pragma once

#include "store/register/Connection.h"

#include <QByteArray>
#include <QVariant>

#include <optional>

namespace tarvik {

// Statements run on a window's direct handle rather than through a record source.

// Parts that carry a key, over the whole table; nothing when the count cannot be read.
std::optional<qint64> countParts(const Connection& db);

// Whether a stored part is named exactly `name`, letter case included. The folded-name index
// finds the few candidates; the exact comparison is made here. Nothing when it cannot be read.
std::optional<bool> partNamedExactly(const Connection& db, const QString& name);

// The largest package-type number; nothing for an empty table or a failed read.
std::optional<qint64> largestPackageTypeId(const Connection& db);

// What a write of a package type came to. An added type's yzdID is one more than the largest
// number at that moment (NULL in an empty table).
struct PackageTypeWrite {
    bool ok = false;
    QVariant yzdId;
    QSqlError error; // the engine's, when it failed
    QString reason;  // the program's words, when it failed otherwise

    // Why it failed, in the program's words with the engine's in brackets.
    QString failure() const;
};
// Reads the largest number and adds the type in one write transaction, so no other writer
// can take the number in between; a failed read adds nothing.
PackageTypeWrite addPackageType(const Connection& db, const QString& name, const QString& fileName,
                                const QByteArray& picture);
// A package type's picture as stored: the name of the file it came from, and its bytes.
struct TypePicture {
    QString fileName;
    QByteArray bytes;
};
// Gives the type stored in row `rowId` its name and, unless `picture` is nothing, its picture
// file name and picture, in one statement; nothing leaves the stored picture as it is. A type
// deleted meanwhile is not written and says so.
PackageTypeWrite changePackageType(const Connection& db, qint64 rowId, const QString& name,
                                   const std::optional<TypePicture>& picture);

} // namespace tarvik

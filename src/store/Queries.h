#pragma once

#include "store/Database.h"

#include <optional>

namespace tarvik {

// Statements run on a window's direct handle rather than through a record source.

// Parts that carry a key, over the whole table; nothing when the count cannot be read.
std::optional<qint64> countParts(const Database& db);

// Whether a stored part is named exactly `name`, letter case included. The folded-name index
// finds the few candidates; the exact comparison is made here. Nothing when it cannot be read.
std::optional<bool> partNamedExactly(const Database& db, const QString& name);

// The largest package-type number; nothing for an empty table or a failed read.
std::optional<qint64> largestPackageTypeId(const Database& db);

} // namespace tarvik

#pragma once

#include <QSqlDatabase>

namespace tarvik {

// Registers on a freshly opened connection the functions our statements use:
//   tarvik_fold(text)           text case-folded (Cyrillic and Latin alike)
//   tarvik_like_folded(pattern, key)  1 when the key, a text already folded by
//                               tarvik_fold, matches the pattern, ignoring case
//   tarvik_keys(integer)        aggregate: the values as one blob of native int64s
// Returns false when the driver's SQLite is not the library we link (calling a second
// copy of SQLite on its handle would be undefined), or registration fails.
bool registerSqlFunctions(const QSqlDatabase& db);

// True when the engine opened the file but cannot write to it.
bool isReadOnly(const QSqlDatabase& db);

} // namespace tarvik

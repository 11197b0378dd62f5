#pragma once

#include <QSqlDatabase>

struct sqlite3;

namespace tarvik {

// Registers on a freshly opened connection the functions our statements use:
//   tarvik_fold(text)           text case-folded (Cyrillic and Latin alike)
//   tarvik_name_key(text)       the key a name sorts and is searched by (nameKeyOf)
//   tarvik_like_folded(pattern, key)  1 when the key, a name key as tarvik_name_key
//                               gives it, matches the pattern, ignoring case
//   tarvik_keys(integer)        aggregate: the values as one blob of native int64s
// Returns false when the driver's SQLite is not the library we link (calling a second
// copy of SQLite on its handle would be undefined), or registration fails.
bool registerSqlFunctions(const QSqlDatabase& db);

// The engine's own handle behind a connection, for what Qt has no call for; null when the
// driver is not SQLite. Use it only on a connection whose functions were registered
// (which proves the driver's SQLite is the library we link).
sqlite3* sqliteHandle(const QSqlDatabase& db);

// True when the engine opened the file but cannot write to it.
bool isReadOnly(const QSqlDatabase& db);

} // namespace tarvik

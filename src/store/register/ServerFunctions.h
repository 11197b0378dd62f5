#pragma once

#include <QSqlDatabase>
#include <QSqlError>

namespace tarvik {

// The functions behind a server register's triggers (server-functions.sql and the journal's).
// This build's stand aside in a session that has set tarvik.restoring to 'on' for its
// transaction, so a restore that replaces every row is not counted, journaled and announced row
// by row. Earlier builds run them unchanged: no session of theirs sets it.

// The functions as this build has them, the journal's too when the register keeps one, inside
// the caller's transaction (its owner's right).
bool createServerFunctions(const QSqlDatabase& db, QSqlError* error);

// Whether no function there is of an earlier build. False also when that cannot be read.
bool serverFunctionsCurrent(const QSqlDatabase& db);

// At open: an earlier build's functions are replaced, in one transaction. False when they are
// still earlier ones afterwards (a user who may not replace them); the program works on, and a
// restore then replaces them itself or is refused.
bool ensureServerFunctions(const QSqlDatabase& db, QSqlError* error = nullptr);

} // namespace tarvik

#pragma once

#include <QSqlDatabase>
#include <QSqlError>
#include <QString>

namespace tarvik {

// The register's tables, indexes and triggers on a PostgreSQL database. Names are written
// unquoted in every statement, so the server keeps them in lower case and the store's
// statements, also unquoted, may spell them as the file does (idFamKey, vrYZD).

struct SchemaResult {
    bool ok = true;
    QSqlError error;
};

// Whether the database already holds a register's table (in the connection's schema).
// False with an error when it could not be asked.
bool serverHoldsRegister(const QSqlDatabase& db, bool* holds, QSqlError* error);

// The tables, their indexes and the two counters' rows, with the journal's and the minimums'
// tables (JournalSchema), inside the caller's transaction.
SchemaResult createServerTables(const QSqlDatabase& db);

// The triggers that keep what the program derives, write the journal, and tell other
// computers of changes.
// Created after the rows are copied, so a large register is not counted row by row.
SchemaResult createServerTriggers(const QSqlDatabase& db);

} // namespace tarvik

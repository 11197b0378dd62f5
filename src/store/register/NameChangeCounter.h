#pragma once

#include <QSqlDatabase>

namespace tarvik {

// clientNameChanges.n counts every change to the parts' names (insert, delete, a changed
// idFam, idFamKey or row id), kept by plain-SQL triggers in the file, so that writers the
// program does not know of (another copy, the sqlite3 shell) count too. A reader that
// remembers the value can tell whether the names are still as it saw them.
//
// Adds the table and its triggers to a file that lacks them (files written by earlier
// builds); does nothing to a file that has them. One transaction.
bool ensureNameChangeCounter(const QSqlDatabase& db);

} // namespace tarvik

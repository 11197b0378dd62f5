#pragma once

#include <QSqlDatabase>
#include <QSqlError>

namespace tarvik {

// The tables kept beside the parts, on either engine: each part's minimum stock
// (partMinimum) and the journal of every change to a part (partJournal), written by
// triggers; the program tells them what it is doing through journalContext. The tables of
// the parts stay as they were, so earlier builds and other tools still write the register;
// their changes are journaled as made outside the program.

// The tables and their index, inside the caller's transaction (a copy fills them before the
// triggers come).
bool createJournalTables(const QSqlDatabase& db, QSqlError* error);
// The triggers, inside the caller's transaction.
bool createJournalTriggers(const QSqlDatabase& db, QSqlError* error);

// Whether the register holds all of it. False also when that cannot be read.
bool hasJournal(const QSqlDatabase& db);

// Whether it also keeps the names each part had in the journal (partJournalNames), which a
// search over names reads first. An earlier journal has it after its first writable open.
bool hasJournalNames(const QSqlDatabase& db);

// At open: a register without them gets them, in one transaction. False when it has none
// afterwards (a read-only file, a server role that may not create), with the engine's error
// when one was met; the program then works without a journal.
bool ensureJournal(const QSqlDatabase& db, QSqlError* error = nullptr);

} // namespace tarvik

#pragma once

#include <QSqlDatabase>
#include <QSqlError>
#include <QVariant>

#include <functional>

namespace tarvik {

// client.idFamKey, the folded name the list sorts and searches by, is computed by the
// program, yet the file must stay usable with other tools (the sqlite3 shell) that know
// nothing of it. Plain-SQL triggers therefore clear the key of a row whose name changes
// without it, and the program fills every cleared key before it lists parts. A row
// inserted without a key arrives cleared. The triggers call no function of ours, so other
// tools can still write the file.

// The stored key of a part's name: the name case-folded with Ё in its place in the alphabet
// (nameKeyOf), as the engine's tarvik_name_key() gives it; a missing name has no key. Every
// writer of a name derives its key here.
QVariant nameKey(const QVariant& name);

struct NameKeyHealing {
    bool ok = true;             // false: the keys could not be read or written (see error)
    bool triggersAdded = false; // the file lacked the trigger or the index of keys of the
                                // earlier form: every key was checked
    int keysWritten = 0;
    QSqlError error;
};

// At open: adds the trigger and the index of keys of the earlier form to a file that lacks
// them (written by an earlier build or another program) and then checks every key once,
// since renames made before cannot be seen; otherwise fills the cleared keys and rewrites
// those of the earlier form. One write transaction.
NameKeyHealing prepareNameKeys(const QSqlDatabase& db);

// Fills the cleared keys and rewrites those of the earlier form (an earlier build may write
// while this one runs): indexed look-ups that find nothing in the usual case.
// `beforeWrite` runs only when there is something to write.
NameKeyHealing healNameKeys(const QSqlDatabase& db, const std::function<void()>& beforeWrite = {});

// Adds the trigger and the index when missing, inside the caller's transaction (new files).
bool addNameKeyTriggers(const QSqlDatabase& db);

} // namespace tarvik

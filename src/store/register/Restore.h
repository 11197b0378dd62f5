#pragma once

#include "store/register/RegisterFiles.h"

#include <QDateTime>
#include <QString>

#include <functional>

namespace tarvik {

class Register;

// The steps of a restore, in order; a failure names the step where it happened.
enum class RestoreStep {
    None,
    CheckCopy,   // the chosen copy read in full: sound, the register's tables and fields
    Prepare,     // close every connection, remove what an earlier run left behind
    Lock,        // take the register's write lock
    KeepCurrent, // the register's bytes as they are now kept in a file of their own
    Copy,        // the chosen copy written beside the register
    Check,       // that file read back: sound, and holding the copy's rows
    Attributes,  // it takes the register's owner, group, mode and extended attributes
    Flush,       // it and its name on the disk
    Replace,     // it takes the register's name; then the write lock is let go
};

struct RestoreResult {
    RestoreStep failedStep = RestoreStep::None;
    QString detail;              // the engine's or the system's own words
    bool copyLeftBehind = false; // after a failure, the file beside the register stayed
    FileCheck copy;              // what the chosen copy holds
    QString keptAs;              // where the register as it was went

    bool ok() const { return failedStep == RestoreStep::None; }
    // Every connection was closed: the program cannot go on with the register.
    bool registerClosed() const { return failedStep != RestoreStep::CheckCopy; }
};

// Reads `copyPath` as a candidate for a restore: SQLite's integrity check and the register's
// tables and fields. `depth` Quick for a look before the user decides.
FileCheck checkRestoreCandidate(const QString& copyPath, FileCheckDepth depth);

// Where the register as it was is kept before a restore:
// backup/<register's name>-YYYY-MM-DD-HHMMSS-before-restore.mdb. Daily pruning leaves it.
QString keptBeforeRestorePath(const QString& registerPath, const QDateTime& now);

// The file a restore writes beside the register before it takes the register's name.
QString restoreCopyPath(const QString& registerPath);

// Puts the register file `copyPath` in the register's place. The copy is checked in full
// first: when it fails nothing else happens and the register stays open. Otherwise every
// connection `reg` handed out is closed (the program ends afterwards, as after a compaction),
// the register's write lock taken, the register's bytes kept in `keepCurrentAs` (also when the
// register is damaged, which is what a restore is often for), and the
// copy, written beside the register, checked, given the register's attributes and flushed,
// replaces it in one atomic rename. On any failure the register is left as it was.
RestoreResult restoreRegister(Register& reg, const QString& copyPath, const QString& keepCurrentAs);

// The first sentence for a copy refused by its check, without the closing full stop.
QString describeUnusableCopy(const QString& copyPath, const QString& detail);

// The sentence shown to the user for a failed restore.
QString describeRestoreFailure(const QString& registerPath, const QString& copyPath,
                               const RestoreResult& result);

// Test seams, as compaction's: the next restore fails at `step`; the hook is called as each
// step's own work begins.
void failNextRestoreAt(RestoreStep step);
void setRestoreStepHook(std::function<void(RestoreStep step)> hook);
// For a restore of another kind (a server's) as its step begins: the hook is called; false
// when the seam makes the step fail.
bool restoreStepBegins(RestoreStep step);

} // namespace tarvik

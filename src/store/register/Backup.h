#pragma once

#include "store/register/RegisterFiles.h"

#include <QDate>
#include <QString>

#include <atomic>
#include <functional>

namespace tarvik {

// The steps of a backup, in order; a failure names the step where it happened.
enum class BackupStep {
    None,
    Prepare, // the folder made, what an earlier run left behind removed
    Copy,    // the register's pages into the copy, a few hundred at a time
    Check,   // the copy read back: sound, with the register's tables
    Flush,   // the copy and its name on the disk
    Rename,  // the copy takes its final name
};

struct BackupResult {
    BackupStep failedStep = BackupStep::None;
    QString detail;         // the engine's or the system's own words
    bool cancelled = false; // stopped from outside; nothing is left behind
    qint64 parts = -1;      // the copy's rows, as its check counted them
    qint64 packageTypes = -1;
    int restarts = 0; // the copy began again after another connection's change

    bool ok() const { return failedStep == BackupStep::None && !cancelled; }
};

struct BackupControl {
    const std::atomic<bool>* cancel = nullptr; // looked at between the copy's steps
    // Pages copied under one read lock; a writer waits at most for one step.
    int pagesPerStep = 256;
    FileCheckDepth depth = FileCheckDepth::Quick;
    // A file that appears at the target while the copy is written is kept and the backup
    // fails, where otherwise the copy takes its place (after the user was asked).
    bool keepExisting = false;
};

// The name a copy is written under before it is complete, checked and on the disk.
QString backupCopyPath(const QString& target);

// Writes a consistent copy of the register file `source` to `target` with SQLite's online
// backup, in steps between which the register's lock is let go, so the program's own writes
// go on meanwhile (each one makes the copy begin again). The copy is written under
// backupCopyPath(target), given the register's permissions (a copy is readable by no one
// the register is not), checked, flushed and renamed to `target`, replacing a file there:
// `target` never names a partial copy, and on any failure or cancel nothing is left behind.
BackupResult backupRegisterFile(const QString& source, const QString& target,
                                const BackupControl& control = {});

// "Резервная копия не записана: …", naming the step and the target, for the user.
QString describeBackupFailure(const QString& target, const BackupResult& result);

// base/backup beside the register.
QString backupFolder(const QString& registerPath);
// The day's copy: backup/<register's name>-YYYY-MM-DD.mdb.
QString dailyBackupPath(const QString& registerPath, const QDate& day);
// How many daily copies are kept: [backup] keep= in tarvik.ini beside the register; 14 when
// it is missing or not a number of 0 or more; 0 turns daily copies off.
int dailyBackupsToKeep(const QString& registerPath);
// Removes the oldest daily copies beyond the newest `keep`, and leftovers of a daily copy
// cut off; files of any other name stay. The names removed.
QStringList pruneDailyBackups(const QString& registerPath, int keep);

// Test seams: the next backup fails at `step` with `detail`, as if the step itself had failed;
// the hook is called as each step begins (the copy's once before each group of pages).
void failNextBackupAt(BackupStep step, const QString& detail = QStringLiteral("injected failure"));
void setBackupStepHook(std::function<void(BackupStep step, const QString& copy)> hook);

} // namespace tarvik

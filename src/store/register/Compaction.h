#pragma once

#include "store/register/RegisterFiles.h"

#include <QString>

#include <array>
#include <functional>

namespace tarvik {

class Register;

// The steps of a compaction, in order; a failure names the step where it happened.
enum class CompactionStep {
    None,
    Prepare,    // close every connection, remove what an earlier run left behind
    Vacuum,     // take the register's write lock, count its rows, write the compacted copy
    Check,      // read the copy back: sound, and holding every row
    Attributes, // the copy takes the register's owner, group, mode and extended attributes
    Flush,      // the copy and its name on the disk
    Replace,    // the copy takes the register's name; then the write lock is let go
};

struct CompactionResult {
    CompactionStep failedStep = CompactionStep::None;
    QString detail;              // the engine's or the system's own words
    bool copyLeftBehind = false; // after a failure, the copy could not be removed
    QString copyPath;            // where the copy was written
    qint64 sizeBefore = -1;
    qint64 sizeAfter = -1;
    std::array<qint64, 7> nanoseconds{}; // time spent in each step, by CompactionStep

    bool ok() const { return failedStep == CompactionStep::None; }
};

// The compacted copy's name while it is written: the register's own followed by "Temp".
QString compactionCopyPath(const QString& registerPath);

// Compacts the register's file. Closes every connection `reg` handed out first (holders hear
// aboutToClose and save what they still hold), and leaves the register closed: the program
// ends after a compaction. The copy replaces the register only once it is complete, checked
// and on the disk, in one atomic rename; on any failure the register is left byte for byte
// as it was and the copy is removed. From the row count to the rename the register's write
// lock is held, so another program's change either waits and fails on the replaced file or
// is refused as busy; none is committed into the old file only to vanish with it. When the
// register's name is a symbolic link, the file it leads to is compacted beside itself and
// the link stays.
CompactionResult compactRegister(Register& reg, FileCheckDepth depth = FileCheckDepth::Full);

// The sentence shown to the user for a failed compaction.
QString describeCompactionFailure(const QString& registerPath, const CompactionResult& result);

// Test seam: the next compaction fails at `step` as if the step itself had failed.
void failNextCompactionAt(CompactionStep step);

// Test seam: called as each step's own work begins, with the copy's path; for Vacuum once
// the rows are counted under the write lock, just before the copy is written. An empty
// function removes it.
void setCompactionStepHook(std::function<void(CompactionStep step, const QString& copy)> hook);

} // namespace tarvik

#pragma once

#include <QString>

#include <functional>

namespace tarvik {

class AccessRowReader;

// Bringing a register over from an Access (Jet 3 or Jet 4) file into a new register file.

enum class ImportProblem {
    None,
    Unreadable,   // the Access file cannot be read at all
    NotAccess,    // some other kind of file
    NewerFormat,  // Access 2007 or later
    Password,     // a database password is set
    Encrypted,    // the pages are encrypted
    Damaged,      // truncated or corrupt
    MissingTable, // no client or vrYZD
    MissingField, // a field of those tables is missing
    BadValue,     // a value that cannot come over unchanged
    TargetExists, // the new file's name is taken: never overwritten
    CannotWrite,  // the new file could not be written or did not pass its check
    DiskFull,
    Cancelled,
};

struct ImportSummary {
    qint64 parts = 0;
    qint64 types = 0;
    qint64 pictures = 0;     // package types with a picture
    qint64 pictureBytes = 0; // the pictures' bytes together
};

struct ImportResult {
    ImportProblem problem = ImportProblem::None;
    QString detail;     // which table, field, value, or the system's own words
    QString targetPath; // the file that was (or was to be) written
    ImportSummary summary;
    QString keptAccessPath; // after a switch: where the Access file is now

    bool ok() const { return problem == ImportProblem::None; }
};

// Told rows done and rows in all now and then; returning false cancels the import.
using ImportProgress = std::function<bool(qint64 done, qint64 total)>;

// Writes a new register at `newPath`, which must not exist, from the rows `reader` gives,
// then reads the file back to check it. On any failure nothing is left at `newPath`.
ImportResult writeImportedRegister(AccessRowReader& reader, const QString& newPath,
                                   const ImportProgress& progress = {});

// Imports the Access file into a new register at `newPath`. An existing `newPath` is never
// replaced; the Access file is only read.
ImportResult importAccessRegister(const QString& accessPath, const QString& newPath,
                                  const ImportProgress& progress = {});

// Replaces the Access register at `registerPath` with an imported one. The new file is
// written and checked beside it first; then the Access file gets the name
// registerPath + ".access" (or ".access.2", ... when that is taken) and the new file takes
// its place. At every moment `registerPath` is either the untouched Access file or the
// complete new register; a failure or a cancel leaves the Access file where it was.
ImportResult replaceAccessRegister(const QString& registerPath,
                                   const ImportProgress& progress = {});

// One sentence for the user, naming the file and what is wrong with it.
QString describeImportProblem(const QString& accessPath, const ImportResult& result);

// The temporary file an import of `registerPath` writes before the switch.
QString importTemporaryPath(const QString& targetPath);

// Test seam: called once the new file is committed, before it is read back to be checked.
// An empty function removes it.
void setImportWrittenHook(std::function<void(const QString& newPath)> hook);

} // namespace tarvik

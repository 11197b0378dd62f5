#pragma once

#include <QString>

#include <functional>

namespace tarvik {

// What an import of an Access register tells its caller, and the user's sentence for it.
// Apart from the import's steps so that the copy of the tables (TableCopy) and the file
// switch (AccessImport) build their failures alike and the sentences sit in one place.

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

// One sentence for the user, naming the file and what is wrong with it.
QString describeImportProblem(const QString& accessPath, const ImportResult& result);

// A failed result; `detail` goes inside the brackets of the user's sentence.
ImportResult importFailure(ImportProblem problem, const QString& detail = {});

// What failed, then the system's or the engine's words: a detail for the brackets of the
// user's sentence, so without brackets of its own.
QString withCause(const QString& what, const QString& words);

} // namespace tarvik

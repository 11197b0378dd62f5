#pragma once

#include "store/register/Connection.h"

#include <QSqlDatabase>
#include <QString>

#include <optional>

// What compaction, backups and restores share: reading a register file back, holding the
// register's write lock on a connection of their own, and the steps a whole new file takes
// to reach the disk and the register's name.

namespace tarvik {

// How deeply a file is read back. Full is SQLite's integrity_check: also every index entry
// against its row, O(n log n), about 4 s at a million parts. Quick is quick_check: every
// page, record and the free list, O(n), a tenth of that.
enum class FileCheckDepth { Full, Quick };

// What reading a register file back finds.
struct FileCheck {
    QString problem; // empty when SQLite's integrity check passes and the rows can be counted
    qint64 parts = -1;
    qint64 packageTypes = -1;

    bool ok() const { return problem.isEmpty(); }
};

// Reads the file at `path` through a read-only connection of its own: integrity check and
// the rows of both tables.
FileCheck checkRegisterFile(const QString& path, FileCheckDepth depth = FileCheckDepth::Full);

struct RowCounts {
    qint64 parts = -1;
    qint64 packageTypes = -1;
};
std::optional<RowCounts> countRegisterRows(const QSqlDatabase& db, QString* error);

// A read-only connection of its own to a file, removed when it goes out of scope.
class FileReader {
public:
    explicit FileReader(const QString& path);
    ~FileReader();
    FileReader(const FileReader&) = delete;
    FileReader& operator=(const FileReader&) = delete;

    QSqlDatabase connection() const { return QSqlDatabase::database(m_name, false); }
    QString error() const { return m_error; }

private:
    QString m_name;
    QString m_error;
};

// Why a connection of our own to the register did not open, for a failure's detail.
QString whyNotOpened(const OpenResult& result);

// The register's write lock, held on a connection of its own from take() until release()
// (or its end): another program's change waits and then fails on a replaced file, or is
// refused as busy; none is committed into a file about to be replaced.
class WriteLock {
public:
    // Empty on success, with the register's rows counted under the lock; else why not.
    QString take(const QString& path, RowCounts* counts);
    // Nothing was written under the lock: closing rolls back an empty transaction.
    void release() { m_db.close(); }

private:
    Connection m_db;
};

// The file a register's name leads to: a symbolic link keeps leading to the register, so
// the file it names is replaced, in its own folder, and the link itself is left alone.
QString fileBehind(const QString& path);

// Removes `path` and the journal files SQLite may have left beside it; a journal left beside
// a copy by a run that was cut off would be played back into the next copy. False with the
// reason when one stays.
bool removeWithCompanions(const QString& path, QString* error = nullptr);

// The new file's contents, then its name, on the disk: a rename that reaches the disk before
// the data would leave a file of zeros after a power cut.
bool flushNewFile(const QString& path, QString* error);

// Puts the complete, flushed file `copy` in place of the register at `path` in one atomic
// rename, refused while a journal of the register lies beside it (played back into the new
// file it would corrupt it).
bool putInRegistersPlace(const QString& copy, const QString& path, QString* error);

} // namespace tarvik

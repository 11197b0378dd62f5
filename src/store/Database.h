#pragma once

#include <QSqlDatabase>
#include <QString>

namespace tarvik {

class Register;

// Why a database file could not be used; the window turns it into one sentence for the user.
enum class OpenProblem {
    None,
    Missing,        // no file at the path (we never create one)
    CannotOpen,     // exists but the engine cannot open it (permissions, a folder, ...)
    NotADatabase,   // some other kind of file
    Damaged,        // a database whose pages are corrupt or truncated
    ReadOnly,       // opened, but changes could not be saved
    MissingTables,  // a database without the register's tables or fields
    EngineMismatch, // Qt's SQLite is not the library our functions were built against
};

struct OpenResult {
    OpenProblem problem = OpenProblem::None;
    QString detail; // the engine's own words, for the message

    bool ok() const { return problem == OpenProblem::None; }
};

// One connection of its own to the register's file. Every window's record source and
// direct handle is one of these, so each is an independent view of the same file.
class Database {
public:
    Database();
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    // Opens an existing file read-write. A missing file stays missing: the engine's
    // create-if-missing default would silently turn it into an empty register.
    OpenResult open(const QString& path);
    void close();

    bool isOpen() const;
    QString path() const { return m_path; }
    QSqlDatabase connection() const;

private:
    friend class Register;
    OpenResult verify();

    QString m_connectionName;
    QString m_path;
    Register* m_owner = nullptr; // set when the register handed this connection out
};

// The sentence shown to the user for a failed open.
QString describeOpenProblem(const QString& path, const OpenResult& result);

} // namespace tarvik

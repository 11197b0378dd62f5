#pragma once

#include "store/register/ServerAddress.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QString>

#include <atomic>
#include <optional>

namespace tarvik {

class Register;
struct NameChange;

// Why a database file could not be used; the window turns it into one sentence for the user.
enum class OpenProblem {
    None,
    Missing,        // no file at the path (we never create one)
    CannotOpen,     // exists but cannot be opened (permissions, a folder or pipe, ...)
    NotADatabase,   // some other kind of file
    Damaged,        // a database whose pages are corrupt or truncated
    ReadOnly,       // opened, but changes could not be saved
    MissingTables,  // a database without the register's tables or fields
    NotATable,      // a view or virtual table stands for one of them (detail: its name)
    EngineMismatch, // Qt's SQLite is not the library our functions were built against
    Busy,           // another program holds the file locked
    Unreachable,    // the server cannot be reached or refused us (detail: the whole sentence)
    NoPassword,     // the server wants a password and none was found or given
};

struct OpenResult {
    OpenProblem problem = OpenProblem::None;
    QString detail; // the engine's own words, short (engineDetail), or what the problem names

    bool ok() const { return problem == OpenProblem::None; }
};

// One connection of its own to the register's file. Every window's record source and
// direct handle is one of these, so each is an independent view of the same file.
class Connection {
public:
    Connection();
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Opens an existing file read-write. A missing file stays missing: the engine's
    // create-if-missing default would silently turn it into an empty register.
    OpenResult open(const QString& path);
    // Opens a register on a server; `password` empty: libpq looks in ~/.pgpass or PGPASSFILE.
    OpenResult open(const ServerAddress& address, const QString& password = {});
    void close();

    // An error met on this connection, told to the register that handed it out: damage
    // is remembered there and reported once.
    void noteError(const QSqlError& error) const;
    // The register refuses every change (its file was found damaged).
    bool writesRefused() const;
    // Said before every change, so background reads of the file give way at once.
    void aboutToWrite() const;
    // Said after every committed write of a part (the parts' write path does).
    void partChanged(const NameChange& change) const;

    bool isOpen() const;
    // The file's path, or the server as sentences name it.
    QString path() const { return m_path; }
    bool onServer() const { return m_server.has_value(); }
    // The connection. A server connection found lost by noteError() is opened again here,
    // so the action after a lost connection finds it back.
    QSqlDatabase connection() const;
    // For connections that read for long in the background: the server's limit on one
    // statement, in milliseconds (0: none). Kept across reconnections.
    void setStatementLimit(int ms);
    // The server's process for this session (pg_backend_pid), 0 on the file or before it is
    // known. The server names it in what it announces, so the program knows its own changes.
    qint64 serverProcess() const { return m_serverProcess.load(); }
    // Whether the register keeps the journal and the minimums (JournalSchema), asked once
    // per connection: a register without them is read and written as before.
    bool keepsJournal() const;

private:
    friend class Register;
    OpenResult verify();
    OpenResult verifyServer();
    OpenResult open(const QString& path, bool verifyFile);
    OpenResult open(const ServerAddress& address, const QString& password, bool verify);
    bool startSession(QSqlDatabase& db) const;

    QString m_connectionName;
    QString m_path;
    std::optional<ServerAddress> m_server;
    QString m_password;          // a typed password, in memory only, for reconnecting
    int m_statementLimitMs = 0;  // set in open()
    mutable bool m_lost = false; // the server connection broke: reopened at the next use
    Register* m_owner = nullptr; // set when the register handed this connection out
    mutable std::atomic<qint64> m_serverProcess{0}; // read by the register on any thread
    mutable std::optional<bool> m_keepsJournal;
};

// The engine's verdicts that matter to the user.
bool isDamageError(const QSqlError& error); // SQLITE_CORRUPT, SQLITE_NOTADB
bool isBusyError(const QSqlError& error);   // SQLITE_BUSY, SQLITE_LOCKED

// The engine's own words about a failure, short enough to follow the program's sentence in
// brackets: the engine's message (not Qt's generic "unable to fetch row"), its first line,
// never a statement's text, at most about a hundred characters. Empty when there are none.
QString engineDetail(const QSqlError& error);
QString engineDetail(const QString& text);
// "sentence (detail)", or the sentence alone when there is no detail.
QString withDetail(const QString& sentence, const QString& detail);
// What a failed statement came to, in the program's words with the engine's in brackets, to
// follow "…: " in a message.
QString describeFailure(const QSqlError& error);

// The sentence shown to the user for a failed open.
QString describeOpenProblem(const QString& path, const OpenResult& result);
// The same for a register on a server, `server` as ServerAddress::display() gives it.
QString describeServerOpenProblem(const QString& server, const OpenResult& result);
// The sentences for a register locked by another program, and for damage met at work.
QString describeBusy(const QString& path);
QString describeDamage(const QString& path, const QString& detail);

} // namespace tarvik

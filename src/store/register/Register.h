#pragma once

#include "store/register/Connection.h"
#include "store/register/PartChange.h"

#include <QMutex>
#include <QObject>
#include <QSet>
#include <QString>

#include <atomic>
#include <future>
#include <memory>
#include <optional>

namespace tarvik {

class ChangeListener;

// The register file's one owner. It checks the file once, hands out every connection the
// program opens on it (each window's record sources and direct handles, background readers)
// and can close all of them at once, which compaction needs before it may touch the file.
// Windows are given the Register; none of them opens the file by path.
class Register : public QObject {
    Q_OBJECT

public:
    explicit Register(const QString& path, QObject* parent = nullptr);
    // A register on a PostgreSQL server; the file beside the program is not used.
    explicit Register(const ServerAddress& server, QObject* parent = nullptr);
    ~Register() override;

    // The file's path, or the server as sentences name it.
    QString path() const { return m_path; }
    bool onServer() const { return m_server.has_value(); }
    std::optional<ServerAddress> server() const { return m_server; }
    // A password the user typed: handed to every connection, kept in memory only.
    void setPassword(const QString& password) { m_password = password; }
    // For the program's own further connections elsewhere (a backup of the server's register).
    QString password() const { return m_password; }

    // The user's sentences about this register, naming the file or the server.
    QString describeProblem(const OpenResult& result) const;
    QString describeBusy() const;
    QString describeDamage(const QString& detail) const;

    // Opens the file once and checks it: a database, the register's tables and fields,
    // writable. The result is kept; connections are handed out even after a failed check,
    // so a read-only or partly damaged register can still be shown.
    OpenResult check();
    // Starts the check of a register file on a thread of its own, so that the file is opened
    // and checked while the window is being built; the next check() takes its result
    // instead of checking again. On a server the check stays where check() is called.
    void startCheck();
    // The last check's result; any thread.
    OpenResult checkResult() const;

    // Opens `db` on the register and counts it among the connections closeAll() closes.
    // Safe to call from a background thread for a connection used only there.
    OpenResult connect(Connection& db) { return connect(db, true); }

    // Asks every holder to finish (aboutToClose: unsaved edits are saved, background work
    // stops), then closes every connection still open. Afterwards connect() refuses, until
    // reopen(). Must be called on the thread that created the Register.
    void closeAll();
    void reopen();
    bool isClosed() const;
    int openConnections() const;

    // Damage met on any connection at any time (SQLITE_CORRUPT, SQLITE_NOTADB): from then
    // on every change is refused, so a damaged file is not made worse. Any thread.
    void noteError(const QSqlError& error);
    void noteDamage(const QString& detail);
    bool isDamaged() const { return m_damaged.load(); }
    // Changes are refused: damage found, or a register the program cannot use.
    bool writesRefused() const;

    // Called before every change made through a connection of this register.
    void announceWrite();
    // Called by the parts' write path after each committed write.
    void announcePartChange(const NameChange& change) { emit partChanged(change); }

    // Whether `process` (pg_backend_pid) is the server's side of one of this register's open
    // connections: a change announced from there is the program's own. Any thread.
    bool isOwnSession(qint64 process) const;
    // For tests: the server's announcements heard so far (own ones included), and whether an
    // announcement of changes made elsewhere is about to follow. Nothing on the file.
    int changesHeard() const;
    bool changesPending() const;

    // For tests: while held, every background reader of the register waits before each step
    // of its job, so that what the window does meanwhile can be seen.
    void holdBackgroundReads(bool hold) { m_readsHeld = hold; }
    bool backgroundReadsHeld() const { return m_readsHeld.load(); }

signals:
    // Emitted synchronously by closeAll() before any connection is closed.
    void aboutToClose();
    // Emitted by reopen(): connections are handed out again.
    void reopened();
    // Once, for the first damage found after the open (damage found by check() is part of
    // its result instead). Emitted on the thread that met it.
    void damageFound(const QString& detail);
    // Emitted synchronously by announceWrite(): background readers stop so the change
    // does not wait for them.
    void writeWanted();
    // Every committed write of a part through a connection of this register, on the thread
    // that made it: caches of the parts follow it or drop what it makes stale.
    void partChanged(const tarvik::NameChange& change);
    // On a server: another computer or client committed changes to the parts, or to the
    // package types, since the last announcement. Gathered: a burst is told once, on the
    // thread that made the Register, while its event loop runs.
    void partsChangedElsewhere();
    void packageTypesChangedElsewhere();

private:
    friend class Connection;
    friend class ChangeListener;
    void forget(Connection* db);
    // `counted` false: the register's own listening connection, which belongs to no holder
    // and is closed by stopping the listener, stays out of openConnections().
    OpenResult connect(Connection& db, bool counted);
    // check() but for listening to the server, which belongs to the Register's thread.
    OpenResult checkHere();

    QString m_path;
    std::optional<ServerAddress> m_server;
    QString m_password;
    OpenResult m_checked;
    mutable QMutex m_mutex;
    QSet<Connection*> m_open;
    bool m_closed = false;
    bool m_hasChecked = false;
    std::atomic<bool> m_damaged{false};
    std::atomic<bool> m_damageReported{false};
    std::atomic<bool> m_readsHeld{false};
    std::unique_ptr<ChangeListener> m_listener; // on a server, from the first check on
    std::future<OpenResult> m_startedCheck;
};

} // namespace tarvik

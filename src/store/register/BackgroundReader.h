#pragma once

#include "store/register/Connection.h"

#include <QObject>
#include <QThread>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>

struct sqlite3;

namespace tarvik {

class Register;

// Runs one reading job at a time on a thread of its own, on a connection of its own from the
// Register, so that the window never waits for it. It always gives way to the window: the
// register closing (and the reader's destruction) stops the job and joins its thread within
// milliseconds, and, where asked, a change the program is about to make interrupts it, so
// that the change does not wait behind a long read.
class BackgroundReader : public QObject {
    Q_OBJECT

public:
    enum class Writes { LetRun, Interrupt };
    enum class Outcome { Finished, Failed, InterruptedByWrite };

    // What the job is given on its thread.
    class Run {
    public:
        const Connection& db;
        sqlite3* handle; // the engine's own handle of `db`; none on a server

        // Whether the job is to end now.
        bool stopping() const;
        // Between steps of a job that reads in several steps (the seam holdSteps() holds):
        // waits while step `step` is held; false when the job is to end.
        bool proceed(unsigned step);

    private:
        friend class BackgroundReader;
        Run(BackgroundReader& reader, const Connection& db, sqlite3* handle)
            : db(db),
              handle(handle),
              m_reader(reader)
        {
        }
        BackgroundReader& m_reader;
    };
    // True when the job ran to its end.
    using Job = std::function<bool(Run&)>;

    explicit BackgroundReader(Register& reg, Writes writes, QObject* parent = nullptr);
    ~BackgroundReader() override;

    // Starts `job`, unless one is running (or its end was not told yet) or the register is
    // closed; the connection is opened on the new thread. Its end is told by ended(). A
    // connection that cannot be opened, or whose engine is not the one this program calls
    // directly, fails the job without running it.
    bool start(Job job, QThread::Priority priority = QThread::InheritPriority);
    // Ends a running job and joins its thread; its end is never told.
    void stop();
    Register& owner() const { return m_register; }
    // From start() until its end is told.
    bool isRunning() const { return m_thread != nullptr; }
    // Tells now the end of a job that has ended, rather than when the window's thread gets to
    // it; a caller that wants the result at once calls this first.
    void takeEnded();

    // On a server: the owner's own connection, through which stop() asks the server to cancel
    // the job's running statement, which the driver cannot interrupt; else the stop waits for
    // the statement's limit. Used on the owner's thread; nullptr before it closes.
    void setCanceller(const Connection* db) { m_canceller = db; }

    // For tests: while held, a job waits in proceed() before step `fromStep` and every later
    // one, until released. Kept for later jobs. Register::holdBackgroundReads() holds every
    // step of every reader of the register.
    void holdSteps(bool hold, unsigned fromStep = 0);

signals:
    // On the owner's thread, once for each job not stopped. A job that did not finish after a
    // change interrupted it ends InterruptedByWrite.
    void ended(tarvik::BackgroundReader::Outcome outcome);

private:
    void runOnThread(const Job& job);
    void runOnServer(const Job& job, Connection& db);
    void interrupt();
    void cancelOnServer();

    Register& m_register;
    QThread* m_thread = nullptr;
    bool m_finished = false;            // the job returned true
    std::atomic<bool> m_done{false};    // the job's thread is past the job
    std::atomic<bool> m_stop{false};    // the job is to end
    std::atomic<bool> m_byWrite{false}; // a change interrupted it
    std::mutex m_mutex;                 // guards the four below
    std::condition_variable m_wake;
    sqlite3* m_handle = nullptr; // set while the engine may be working for the job
    qint64 m_serverProcess = 0;  // the job's session on a server while it is open
    const Connection* m_canceller = nullptr;
    bool m_hold = false;
    unsigned m_holdFrom = 0;
};

} // namespace tarvik

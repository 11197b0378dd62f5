#include "store/register/BackgroundReader.h"

#include "store/register/Dialect.h"
#include "store/register/Register.h"
#include "store/text/SqlFunctions.h"

#include <sqlite3.h>

#include <chrono>

namespace tarvik {
namespace {

// Asked every few thousand engine steps: a non-zero answer ends the statement. It also ends
// a statement begun just after sqlite3_interrupt(), which only reaches running ones.
int shouldStop(void* flag)
{
    return static_cast<std::atomic<bool>*>(flag)->load() ? 1 : 0;
}

} // namespace

bool BackgroundReader::Run::stopping() const
{
    return m_reader.m_stop.load();
}

bool BackgroundReader::Run::proceed(unsigned step)
{
    BackgroundReader& r = m_reader;
    const auto free = [&r, step] {
        return r.m_stop ||
               ((!r.m_hold || step < r.m_holdFrom) && !r.m_register.backgroundReadsHeld());
    };
    std::unique_lock lock(r.m_mutex);
    // The register's hold cannot wake the reader, so it is looked at again now and then.
    while (!free())
        r.m_wake.wait_for(lock, std::chrono::milliseconds(5));
    return !r.m_stop;
}

BackgroundReader::BackgroundReader(Register& reg, Writes writes, QObject* parent)
    : QObject(parent),
      m_register(reg)
{
    // Direct: the close and the change are under way on the window's thread and wait for
    // the reader to give way.
    connect(&reg, &Register::aboutToClose, this, &BackgroundReader::stop, Qt::DirectConnection);
    if (writes == Writes::Interrupt)
        connect(
            &reg, &Register::writeWanted, this,
            [this] {
                if (m_thread && !m_done) {
                    m_byWrite = true;
                    interrupt();
                }
            },
            Qt::DirectConnection);
}

BackgroundReader::~BackgroundReader()
{
    stop();
}

bool BackgroundReader::start(Job job, QThread::Priority priority)
{
    if (m_thread || m_register.isClosed())
        return false;
    m_stop = false;
    m_byWrite = false;
    m_done = false;
    m_finished = false;
    m_thread = QThread::create([this, job = std::move(job)] {
        runOnThread(job);
        m_done = true;
        QMetaObject::invokeMethod(this, &BackgroundReader::takeEnded, Qt::QueuedConnection);
    });
    m_thread->start(priority);
    return true;
}

void BackgroundReader::runOnThread(const Job& job)
{
    Connection db;
    if (m_stop)
        return;
    // Interrupting a statement takes the engine's own handle, which belongs to another
    // library when the engines differ.
    const OpenResult opened = m_register.connect(db);
    if (db.isOpen() && db.onServer()) {
        runOnServer(job, db);
        return;
    }
    sqlite3* handle = db.isOpen() && opened.problem != OpenProblem::EngineMismatch
                          ? sqliteHandle(db.connection())
                          : nullptr;
    if (!handle)
        return;
    bool started = false;
    {
        std::lock_guard lock(m_mutex);
        started = !m_stop;
        m_handle = started ? handle : nullptr;
    }
    if (started) {
        sqlite3_progress_handler(handle, 4096, shouldStop, &m_stop);
        Run run(*this, db, handle);
        m_finished = job(run);
        {
            std::lock_guard lock(m_mutex);
            m_handle = nullptr;
        }
        sqlite3_progress_handler(handle, 0, nullptr, nullptr);
    }
    db.close();
}

// The server's driver cannot cancel a running statement (QPSQL has no cancelQuery): the job
// looks at the stop flag between rows, stop() asks the server to cancel the statement where
// the owner gave a connection for it, and one statement is bounded by the server's limit, set
// long enough for a million names.
void BackgroundReader::runOnServer(const Job& job, Connection& db)
{
    constexpr int kReadLimitMs = 120000;
    db.setStatementLimit(kReadLimitMs);
    bool started = false;
    {
        std::lock_guard lock(m_mutex);
        started = !m_stop;
        m_serverProcess = started ? db.serverProcess() : 0;
    }
    if (started) {
        Run run(*this, db, nullptr);
        m_finished = job(run);
    }
    {
        // Waits for a cancel under way: it is never sent to a session that is no longer ours.
        std::lock_guard lock(m_mutex);
        m_serverProcess = 0;
    }
    db.close();
}

void BackgroundReader::interrupt()
{
    std::lock_guard lock(m_mutex);
    m_stop = true;
    if (m_handle)
        sqlite3_interrupt(m_handle);
    m_wake.notify_all();
}

void BackgroundReader::cancelOnServer()
{
    if (!m_canceller || !m_canceller->isOpen() || !m_canceller->onServer())
        return;
    std::lock_guard lock(m_mutex);
    if (m_serverProcess != 0)
        cancelServerStatement(m_canceller->connection(), m_serverProcess);
}

void BackgroundReader::stop()
{
    if (!m_thread)
        return;
    interrupt();
    cancelOnServer();
    m_thread->wait();
    delete std::exchange(m_thread, nullptr);
}

void BackgroundReader::takeEnded()
{
    if (!m_thread || !m_done)
        return;
    m_thread->wait();
    delete std::exchange(m_thread, nullptr);
    // Told after the reader is ready for the next job: the owner may start one at once.
    emit ended(m_finished         ? Outcome::Finished
               : m_byWrite.load() ? Outcome::InterruptedByWrite
                                  : Outcome::Failed);
}

void BackgroundReader::holdSteps(bool hold, unsigned fromStep)
{
    {
        std::lock_guard lock(m_mutex);
        m_hold = hold;
        m_holdFrom = fromStep;
    }
    m_wake.notify_all();
}

} // namespace tarvik

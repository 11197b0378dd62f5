#include "store/register/Register.h"

#include "store/register/ChangeListener.h"
#include "store/register/JournalSchema.h"
#include "store/register/NameChangeCounter.h"
#include "store/register/NameKeys.h"
#include "store/register/ServerFunctions.h"

#include <QMutexLocker>

namespace tarvik {

Register::Register(const QString& path, QObject* parent) : QObject(parent), m_path(path) {}

Register::Register(const ServerAddress& server, QObject* parent)
    : QObject(parent),
      m_path(server.display()),
      m_server(server),
      m_listener(std::make_unique<ChangeListener>(*this))
{
    QObject::connect(m_listener.get(), &ChangeListener::partsChanged, this,
                     &Register::partsChangedElsewhere);
    QObject::connect(m_listener.get(), &ChangeListener::packageTypesChanged, this,
                     &Register::packageTypesChangedElsewhere);
}

QString Register::describeProblem(const OpenResult& result) const
{
    return m_server ? describeServerOpenProblem(m_path, result)
                    : describeOpenProblem(m_path, result);
}

QString Register::describeBusy() const
{
    return m_server ? describeServerOpenProblem(m_path, {OpenProblem::Busy, {}})
                    : tarvik::describeBusy(m_path);
}

QString Register::describeDamage(const QString& detail) const
{
    return tarvik::describeDamage(m_path, detail);
}

Register::~Register()
{
    closeAll();
    m_listener.reset();
}

OpenResult Register::check()
{
    const OpenResult result = m_startedCheck.valid() ? m_startedCheck.get() : checkHere();
    // Other computers' changes are heard from now on, whatever the window does.
    if (m_listener && (result.ok() || result.problem == OpenProblem::ReadOnly))
        m_listener->start();
    return result;
}

void Register::startCheck()
{
    if (!m_server && !m_startedCheck.valid())
        m_startedCheck = std::async(std::launch::async, [this] { return checkHere(); });
}

OpenResult Register::checkHere()
{
    Connection probe;
    {
        QMutexLocker lock(&m_mutex);
        m_hasChecked = false; // the probe itself is checked in full
    }
    // Worked out here and published once under the lock: background readers ask for the
    // result (connect(), checkResult()) while the check runs.
    OpenResult result = connect(probe);
    if (result.problem == OpenProblem::Damaged || result.problem == OpenProblem::NotADatabase) {
        // Told as the open's result; the same damage is not told twice.
        m_damageReported = true;
        m_damaged = true;
    }
    if (probe.isOpen() && (result.ok() || result.problem == OpenProblem::ReadOnly)) {
        // Keys left stale by other tools or earlier builds are put right before any list
        // is read. A read-only file keeps what it has.
        const NameKeyHealing healed = prepareNameKeys(probe.connection());
        if (!healed.ok) {
            if (isBusyError(healed.error))
                result = {OpenProblem::Busy, engineDetail(healed.error)};
            else if (result.ok())
                noteError(healed.error);
        }
    }
    // Files of earlier builds get the name-change counter the search's copy relies on; a
    // server has it from the start.
    if (result.ok() && !m_server)
        ensureNameChangeCounter(probe.connection());
    // The journal and the minimums come to an earlier register here; a read-only one, or a
    // server where this user may not create them, is used without.
    if (result.ok())
        ensureJournal(probe.connection());
    // An earlier build's trigger functions would journal and announce a restore row by row.
    if (result.ok() && m_server)
        ensureServerFunctions(probe.connection());
    {
        QMutexLocker lock(&m_mutex);
        m_checked = result;
        m_hasChecked = true;
    }
    return result;
}

OpenResult Register::checkResult() const
{
    QMutexLocker lock(&m_mutex);
    return m_checked;
}

OpenResult Register::connect(Connection& db, bool counted)
{
    {
        QMutexLocker lock(&m_mutex);
        if (m_closed)
            return {OpenProblem::CannotOpen, QStringLiteral("the register is closed")};
    }
    bool verify = true;
    OpenProblem checked = OpenProblem::None;
    {
        QMutexLocker lock(&m_mutex);
        verify = !m_hasChecked;
        checked = m_checked.problem;
    }
    // Checked once by check(); every later connection trusts that result.
    const OpenResult result = m_server ? db.open(*m_server, m_password, verify)
                              : verify ? db.open(m_path, true)
                                       : db.open(m_path, false);
    // Tracked even when the check found a problem: an open connection is a connection.
    if (db.isOpen()) {
        QMutexLocker lock(&m_mutex);
        if (counted)
            m_open.insert(&db);
        db.m_owner = this;
    }
    if (!verify && (checked == OpenProblem::MissingTables || checked == OpenProblem::NotATable)) {
        // The user was told the list stays empty: so it is, and nothing is written.
        db.close();
        return {checked, {}};
    }
    return result;
}

void Register::forget(Connection* db)
{
    QMutexLocker lock(&m_mutex);
    m_open.remove(db);
}

void Register::closeAll()
{
    // The started check's connection is its thread's: it is let finish, and its result
    // kept for check().
    if (m_startedCheck.valid())
        m_startedCheck.wait();
    {
        QMutexLocker lock(&m_mutex);
        m_closed = true;
    }
    if (m_listener)
        m_listener->stop();
    emit aboutToClose();
    QSet<Connection*> open;
    {
        QMutexLocker lock(&m_mutex);
        open = m_open;
    }
    for (Connection* db : open)
        db->close(); // calls forget()
}

void Register::reopen()
{
    {
        QMutexLocker lock(&m_mutex);
        m_closed = false;
    }
    emit reopened();
}

bool Register::isClosed() const
{
    QMutexLocker lock(&m_mutex);
    return m_closed;
}

void Register::noteError(const QSqlError& error)
{
    if (isDamageError(error))
        noteDamage(error.databaseText());
}

void Register::noteDamage(const QString& detail)
{
    m_damaged = true;
    if (!m_damageReported.exchange(true))
        emit damageFound(detail);
}

bool Register::writesRefused() const
{
    return m_damaged.load();
}

void Register::announceWrite()
{
    emit writeWanted();
}

bool Register::isOwnSession(qint64 process) const
{
    if (process <= 0)
        return false;
    QMutexLocker lock(&m_mutex);
    for (const Connection* db : m_open) {
        if (db->serverProcess() == process)
            return true;
    }
    return false;
}

int Register::changesHeard() const
{
    return m_listener ? m_listener->heard() : 0;
}

bool Register::changesPending() const
{
    return m_listener && m_listener->reactionPending();
}

int Register::openConnections() const
{
    QMutexLocker lock(&m_mutex);
    return int(m_open.size());
}

} // namespace tarvik

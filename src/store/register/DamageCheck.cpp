#include "store/register/DamageCheck.h"

#include "store/register/Connection.h"
#include "store/register/Register.h"
#include "store/text/SqlFunctions.h"

#include <QMutexLocker>
#include <QSqlQuery>
#include <QThread>
#include <QTimer>

#include <sqlite3.h>

namespace tarvik {
namespace {

// Asked every few thousand engine steps: a non-zero answer ends the statement.
int shouldStop(void* flag)
{
    return static_cast<std::atomic<bool>*>(flag)->load() ? 1 : 0;
}

} // namespace

DamageCheck::DamageCheck(Register& reg, QObject* parent) : QObject(parent), m_register(reg)
{
    connect(
        &reg, &Register::aboutToClose, this,
        [this] {
            m_closing = true;
            stop();
        },
        Qt::DirectConnection);
    connect(
        &reg, &Register::writeWanted, this,
        [this] {
            if (isRunning()) {
                m_interruptedByWrite = true;
                interrupt();
            }
        },
        Qt::DirectConnection);
}

DamageCheck::~DamageCheck()
{
    m_closing = true;
    stop();
}

bool DamageCheck::isRunning() const
{
    return m_thread && m_thread->isRunning();
}

void DamageCheck::start()
{
    if (isRunning() || m_closing || m_register.isDamaged())
        return;
    stop(); // a finished thread is collected first
    m_stop = false;
    m_interruptedByWrite = false;
    m_thread = QThread::create([this] { run(); });
    connect(m_thread, &QThread::finished, this, &DamageCheck::onThreadFinished);
    m_thread->start(QThread::LowPriority);
}

void DamageCheck::interrupt()
{
    m_stop = true;
    QMutexLocker lock(&m_handleMutex);
    if (m_handle)
        sqlite3_interrupt(m_handle);
}

void DamageCheck::stop()
{
    if (!m_thread)
        return;
    interrupt();
    m_thread->wait();
    delete m_thread;
    m_thread = nullptr;
}

void DamageCheck::onThreadFinished()
{
    // A change interrupted it: tried again once the user has been left alone for a while.
    if (m_interruptedByWrite && !m_closing)
        QTimer::singleShot(m_retryDelayMs, this, [this] {
            if (!isRunning())
                start();
        });
}

void DamageCheck::run()
{
    Connection db;
    if (m_stop || (!m_register.connect(db).ok() && !db.isOpen()))
        return;
    sqlite3* handle = sqliteHandle(db.connection());
    if (!handle)
        return;
    {
        QMutexLocker lock(&m_handleMutex);
        m_handle = handle;
    }
    sqlite3_progress_handler(handle, 4096, shouldStop, &m_stop);

    QString problems;
    bool complete = false;
    if (!m_stop) {
        QSqlQuery query(db.connection());
        query.setForwardOnly(true);
        if (query.exec(QStringLiteral("PRAGMA quick_check"))) {
            QStringList lines;
            while (query.next())
                lines << query.value(0).toString();
            complete = !query.lastError().isValid();
            if (complete && lines != QStringList{QStringLiteral("ok")})
                problems = lines.join(QLatin1Char('\n'));
        }
        // The engine may report the damage as an error of the check itself.
        if (isDamageError(query.lastError())) {
            complete = true;
            problems = query.lastError().databaseText();
        }
    }
    {
        QMutexLocker lock(&m_handleMutex);
        m_handle = nullptr;
    }
    sqlite3_progress_handler(handle, 0, nullptr, nullptr);
    db.close();
    if (!complete)
        return; // interrupted or locked: no verdict
    if (!problems.isEmpty())
        m_register.noteDamage(problems.section(QLatin1Char('\n'), 0, 0));
    emit finished(problems);
}

} // namespace tarvik

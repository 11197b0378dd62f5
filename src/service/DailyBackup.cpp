#include "service/DailyBackup.h"

#include "store/register/Platform.h"
#include "store/register/Register.h"
#include "store/server/ServerBackup.h"

#include <QFileInfo>
#include <QThread>

namespace tarvik {

DailyBackup::DailyBackup(Register& reg, const QString& registerPath, QObject* parent)
    : QObject(parent),
      m_register(reg),
      m_registerPath(registerPath)
{
    // Compaction and restore replace the file only after every reader let go of it.
    connect(&reg, &Register::aboutToClose, this, &DailyBackup::stop, Qt::DirectConnection);
}

DailyBackup::~DailyBackup()
{
    stop();
}

bool DailyBackup::startIfDue(const QDate& today)
{
    const int keep = dailyBackupsToKeep(m_registerPath);
    m_target = dailyBackupPath(m_registerPath, today);
    if (m_thread || keep == 0 || m_register.isClosed() || QFileInfo::exists(m_target))
        return false;
    m_cancel = false;
    const std::optional<ServerAddress> server = m_register.server();
    const QString password = m_register.password();
    const QString source = m_register.path();
    const QString target = m_target;
    const QString registerPath = m_registerPath;
    m_thread = QThread::create([=, this] {
        // The window's thread goes first whenever the two compete for a core.
        platform::lowerThisThreadsPriority();
        BackupControl control;
        control.cancel = &m_cancel;
        m_result = server ? backupServerRegister(*server, password, target, &m_cancel)
                          : backupRegisterFile(source, target, control);
        if (m_result.ok())
            pruneDailyBackups(registerPath, keep);
    });
    connect(m_thread, &QThread::finished, this, &DailyBackup::onThreadDone);
    m_thread->start();
    return true;
}

void DailyBackup::stop()
{
    if (!m_thread)
        return;
    m_cancel = true;
    m_thread->wait();
    delete m_thread;
    m_thread = nullptr;
}

void DailyBackup::onThreadDone()
{
    if (!m_thread)
        return; // stopped: its end is not told
    m_thread->wait();
    delete m_thread;
    m_thread = nullptr;
    if (!m_result.cancelled)
        emit finished(m_result, m_target);
}

} // namespace tarvik

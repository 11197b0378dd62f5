#include "app/SingleInstance.h"

#include <QCryptographicHash>
#include <QDir>

namespace tarvik {
namespace {

std::unique_ptr<QLockFile> lockAt(const QString& path)
{
    auto lock = std::make_unique<QLockFile>(path);
    // Stale means "its process is gone", never "it is old": a copy may run for weeks.
    lock->setStaleLockTime(0);
    return lock;
}

} // namespace

SingleInstance::SingleInstance(const QString& registerFolder)
    : m_folder(registerFolder), m_lock(lockAt(lockPathFor(registerFolder)))
{
}

bool SingleInstance::acquire()
{
    if (m_lock->tryLock(0))
        return true;
    if (m_lock->error() == QLockFile::LockFailedError)
        return false; // a live copy holds it
    // The folder takes no lock file: a lock of this user's own must do.
    m_lock = lockAt(fallbackLockPathFor(m_folder));
    return m_lock->tryLock(0) || m_lock->error() != QLockFile::LockFailedError;
}

QString SingleInstance::lockPathFor(const QString& registerFolder)
{
    return QDir(registerFolder).filePath(QStringLiteral("tarvik.lock"));
}

QString SingleInstance::fallbackLockPathFor(const QString& registerFolder)
{
    const QByteArray hash =
        QCryptographicHash::hash(QDir::cleanPath(QDir(registerFolder).absolutePath()).toUtf8(),
                                 QCryptographicHash::Sha1)
            .toHex()
            .left(16);
    return QDir::temp().filePath(QStringLiteral("tarvik-%1.lock").arg(QLatin1String(hash)));
}

} // namespace tarvik

#include "app/SingleInstance.h"

#include <QCryptographicHash>
#include <QDir>

namespace tarvik {

SingleInstance::SingleInstance(const QString& programFolder)
    : m_lock(lockPathFor(programFolder))
{
    // Stale means "its process is gone", never "it is old": a copy may run for weeks.
    m_lock.setStaleLockTime(0);
}

bool SingleInstance::acquire()
{
    return m_lock.tryLock(0);
}

QString SingleInstance::lockPathFor(const QString& programFolder)
{
    const QByteArray hash = QCryptographicHash::hash(
        QDir::cleanPath(programFolder).toUtf8(), QCryptographicHash::Sha1).toHex().left(16);
    return QDir::temp().filePath(QStringLiteral("tarvik-%1.lock").arg(QLatin1String(hash)));
}

} // namespace tarvik

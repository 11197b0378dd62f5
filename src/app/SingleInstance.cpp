#include "app/SingleInstance.h"

#include "store/register/FileKind.h"

#include <QCryptographicHash>
#include <QDir>

namespace tarvik {
namespace {

// A copy that is starting writes its details into the lock file moments after creating
// it: an unreadable lock is looked at again for this long before it counts as nobody's.
constexpr int kSettleMs = 300;

std::unique_ptr<QLockFile> lockAt(const QString& path)
{
    auto lock = std::make_unique<QLockFile>(path);
    // Stale means "its process is gone", never "it is old": a copy may run for weeks.
    lock->setStaleLockTime(0);
    return lock;
}

bool namesAnOwner(const QLockFile& lock)
{
    qint64 pid = 0;
    QString host, application;
    return lock.getLockInfo(&pid, &host, &application);
}

} // namespace

SingleInstance::SingleInstance(const QString& registerFolder) : m_folder(registerFolder) {}

bool SingleInstance::acquire()
{
    m_blockedBy.clear();
    m_blockedByWhat.clear();
    switch (attempt(lockPathFor(m_folder))) {
    case Attempt::Taken:
        return true;
    case Attempt::Held:
    case Attempt::NotALockFile:
        return false;
    case Attempt::Unwritable:
        break;
    }
    // The folder takes no lock file: a lock of this user's own must do.
    const Attempt fallback = attempt(fallbackLockPathFor(m_folder));
    return fallback == Attempt::Taken || fallback == Attempt::Unwritable;
}

SingleInstance::Attempt SingleInstance::attempt(const QString& path)
{
    m_lock = lockAt(path);
    // Qt reads a lock it cannot take to learn its owner: from a pipe that read never ends.
    if (const FileKind kind = fileKindAt(path, false);
        kind != FileKind::Missing && kind != FileKind::Regular) {
        m_blockedBy = path;
        m_blockedByWhat = describeFileKind(kind);
        return Attempt::NotALockFile;
    }
    if (m_lock->tryLock(0))
        return Attempt::Taken;
    if (m_lock->error() != QLockFile::LockFailedError)
        return Attempt::Unwritable;
    // A lock naming a live owner is honoured; Qt has already taken over a dead one's.
    if (namesAnOwner(*m_lock))
        return Attempt::Held;
    if (m_lock->tryLock(kSettleMs))
        return Attempt::Taken;
    if (m_lock->error() != QLockFile::LockFailedError)
        return Attempt::Unwritable;
    if (namesAnOwner(*m_lock))
        return Attempt::Held;
    // Names no one: left by a crash between creating and filling it, or spoilt. One
    // starting copy at a time removes it, and only while no process keeps it locked.
    QLockFile guard(path + QStringLiteral(".rmlock"));
    if (!guard.tryLock(kSettleMs) || namesAnOwner(*m_lock) || !m_lock->removeStaleLockFile())
        return Attempt::Held;
    if (m_lock->tryLock(0))
        return Attempt::Taken;
    return m_lock->error() == QLockFile::LockFailedError ? Attempt::Held : Attempt::Unwritable;
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

#pragma once

#include <QLockFile>
#include <QString>

#include <memory>

namespace tarvik {

// One running copy per register. The lock lives beside the register, so every copy that
// would open that file sees it, whatever its user or temporary folder. The lock names the
// owning process, so a copy that crashed leaves a stale lock that the next start takes
// over instead of refusing forever; so does a lock file that names no one (left empty or
// spoilt by a crash or a full disk).
class SingleInstance {
public:
    // `registerFolder`: the folder that holds the register file.
    explicit SingleInstance(const QString& registerFolder);

    // True when this process now holds the lock (until it is destroyed).
    bool acquire();

    // After a failed acquire(): the path where something other than a lock file (a
    // folder, a pipe) stands in the lock's place, so no copy can ever take the lock there.
    // Empty when a live copy holds the lock.
    QString blockedBy() const { return m_blockedBy; }
    // What stands there, in a few Russian words ("папка", ...).
    QString blockedByWhat() const { return m_blockedByWhat; }

    static QString lockPathFor(const QString& registerFolder);
    // Where the lock goes when the register's folder cannot be written (a read-only
    // medium): the user's temporary folder, keyed by the register's folder.
    static QString fallbackLockPathFor(const QString& registerFolder);

private:
    enum class Attempt { Taken, Held, NotALockFile, Unwritable };
    Attempt attempt(const QString& path);

    QString m_folder;
    std::unique_ptr<QLockFile> m_lock;
    QString m_blockedBy;
    QString m_blockedByWhat;
};

} // namespace tarvik

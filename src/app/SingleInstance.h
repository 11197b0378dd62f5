#pragma once

#include <QLockFile>
#include <QString>

#include <memory>

namespace tarvik {

// One running copy per register. The lock lives beside the register, so every copy that
// would open that file sees it, whatever its user or temporary folder. The lock names the
// owning process, so a copy that crashed leaves a stale lock that the next start takes
// over instead of refusing forever.
class SingleInstance {
public:
    // `registerFolder`: the folder that holds the register file.
    explicit SingleInstance(const QString& registerFolder);

    // True when this process now holds the lock (until it is destroyed).
    bool acquire();

    static QString lockPathFor(const QString& registerFolder);
    // Where the lock goes when the register's folder cannot be written (a read-only
    // medium): the user's temporary folder, keyed by the register's folder.
    static QString fallbackLockPathFor(const QString& registerFolder);

private:
    QString m_folder;
    std::unique_ptr<QLockFile> m_lock;
};

} // namespace tarvik

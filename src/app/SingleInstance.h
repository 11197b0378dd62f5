#pragma once

#include <QLockFile>
#include <QString>

namespace tarvik {

// One running copy per program folder. The lock names the owning process, so a copy that
// crashed leaves a stale lock that the next start takes over instead of refusing forever.
class SingleInstance {
public:
    explicit SingleInstance(const QString& programFolder);

    // True when this process now holds the lock (until it is destroyed).
    bool acquire();

    static QString lockPathFor(const QString& programFolder);

private:
    QLockFile m_lock;
};

} // namespace tarvik

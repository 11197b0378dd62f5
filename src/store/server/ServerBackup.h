#pragma once

#include "store/register/Backup.h"
#include "store/register/ServerAddress.h"

#include <QString>

#include <atomic>

namespace tarvik {

// A backup of a register on a server: its rows, from one snapshot, written as a register
// file at `target` (replacing a file there only once the copy is complete, checked and on
// the disk), so it opens and restores as any backup does.
BackupResult backupServerRegister(const ServerAddress& address, const QString& password,
                                  const QString& target, const std::atomic<bool>* cancel = nullptr);

} // namespace tarvik

#include "store/server/ServerBackup.h"

#include "store/server/ServerCopy.h"

#include <QDir>
#include <QFileInfo>

namespace tarvik {

BackupResult backupServerRegister(const ServerAddress& address, const QString& password,
                                  const QString& target, const std::atomic<bool>* cancel)
{
    BackupResult result;
    const QString copy = backupCopyPath(target);
    const QString folder = QFileInfo(target).absolutePath();
    QString error;
    if (!QDir().mkpath(folder)) {
        result.failedStep = BackupStep::Prepare;
        result.detail = QStringLiteral("папка «%1» не создаётся").arg(folder);
        return result;
    }
    if (!removeWithCompanions(copy, &error)) {
        result.failedStep = BackupStep::Prepare;
        result.detail = error;
        return result;
    }
    CopyControl control;
    control.cancel = cancel;
    // The copy back checks what it wrote and flushes it before it takes the copy's name.
    const ServerCopyResult written = copyRegisterFromServer(address, copy, password, control);
    if (written.outcome == ServerCopyResult::Outcome::Cancelled) {
        result.cancelled = true;
        return result;
    }
    if (!written.ok()) {
        result.failedStep = BackupStep::Copy;
        result.detail = written.error;
        return result;
    }
    result.parts = written.parts;
    result.packageTypes = written.types;
    if (!flushNewFile(copy, &error))
        result.failedStep = BackupStep::Flush;
    else if (!putInRegistersPlace(copy, target, &error))
        result.failedStep = BackupStep::Rename;
    if (!result.ok()) {
        result.detail = error;
        removeWithCompanions(copy);
    }
    return result;
}

} // namespace tarvik

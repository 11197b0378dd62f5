#include "app/BackupCommand.h"

#include "app/ConsoleOutput.h"
#include "store/register/Backup.h"
#include "store/register/ProgramPaths.h"
#include "store/register/ServerAddress.h"
#include "store/server/ServerBackup.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <cstdio>

namespace tarvik {

int backupCommand(const QStringList& arguments)
{
    if (arguments.size() != 3) {
        printLine(stderr, QStringLiteral("Использование: tarvik --backup НОВЫЙ.mdb"));
        return 2;
    }
    const QString target = QFileInfo(arguments[2]).absoluteFilePath();
    if (QFileInfo::exists(target) || QFileInfo(target).isSymLink()) {
        printLine(stderr, QStringLiteral("Файл «%1» уже есть; резервная копия пишется только в "
                                         "новый файл.")
                              .arg(QDir::toNativeSeparators(target)));
        return 1;
    }
    const ProgramPaths home = ProgramPaths::registerHome(
        ProgramPaths::ofExecutable(),
        QStandardPaths::writableLocation(QStandardPaths::AppDataLocation));
    const QString registerPath = home.databasePath();
    const ServerChoice choice = readServerChoice(registerPath);
    if (!choice.error.isEmpty()) {
        printLine(stderr, choice.error);
        return 1;
    }
    BackupControl control;
    control.depth = FileCheckDepth::Full;
    control.keepExisting = true;
    const BackupResult result = choice.server ? backupServerRegister(*choice.server, {}, target)
                                              : backupRegisterFile(registerPath, target, control);
    if (!result.ok()) {
        printLine(stderr, describeBackupFailure(target, result));
        return 1;
    }
    printLine(stdout, QStringLiteral("%1 -> %2: деталей %3, корпусов %4")
                          .arg(choice.server ? choice.server->uri()
                                             : QDir::toNativeSeparators(registerPath),
                               QDir::toNativeSeparators(target))
                          .arg(result.parts)
                          .arg(result.packageTypes));
    return 0;
}

} // namespace tarvik

#include "app/CommandLine.h"

#include "app/BackupCommand.h"
#include "app/ConsoleOutput.h"
#include "app/CsvCommands.h"
#include "app/ServerCommands.h"
#include "store/access/AccessImport.h"
#include "store/register/ProgramPaths.h"

#include <QCoreApplication>
#include <QStandardPaths>
#include <QStringList>

#include <cstdio>

namespace tarvik {
namespace {

int importCommand(const QString& accessPath, const QString& newPath)
{
    const ImportResult result = importAccessRegister(accessPath, newPath);
    if (!result.ok()) {
        printLine(stderr, describeImportProblem(accessPath, result));
        return 1;
    }
    printLine(stdout, QStringLiteral("%1 -> %2: деталей %3, корпусов %4, рисунков %5 (%6 байт)")
                          .arg(accessPath, newPath)
                          .arg(result.summary.parts)
                          .arg(result.summary.types)
                          .arg(result.summary.pictures)
                          .arg(result.summary.pictureBytes));
    return 0;
}

} // namespace

std::optional<int> runCommandLine(int argc, char* argv[])
{
    if (argc < 2)
        return std::nullopt;
    const QByteArray command = argv[1];
    const bool csv = command == "--export-csv" || command == "--import-csv";
    if (command != "--import" && command != "--copy-to-server" && command != "--copy-from-server" &&
        command != "--backup" && !csv)
        return std::nullopt;
    QCoreApplication app(argc, argv);
    // The same name as the windowed program, so the register is looked for where it is.
    app.setApplicationName(QStringLiteral("Tarvik"));
    const QStringList arguments = QCoreApplication::arguments();
    if (csv)
        return csvCommand(arguments);
    if (command == "--backup")
        return backupCommand(arguments);
    if (command == "--import") {
        if (arguments.size() != 4) {
            printLine(stderr,
                      QStringLiteral("Использование: tarvik --import СТАРЫЙ.mdb НОВЫЙ.mdb"));
            return 2;
        }
        return importCommand(arguments[2], arguments[3]);
    }
    if (command == "--copy-to-server") {
        if (arguments.size() != 3) {
            printLine(stderr, QStringLiteral("Использование: tarvik --copy-to-server "
                                             "postgresql://ПОЛЬЗОВАТЕЛЬ@СЕРВЕР[:ПОРТ]/БАЗА"));
            return 2;
        }
        const ProgramPaths home = ProgramPaths::registerHome(
            ProgramPaths::ofExecutable(),
            QStandardPaths::writableLocation(QStandardPaths::AppDataLocation));
        return copyToServerCommand(home.databasePath(), arguments[2]);
    }
    if (arguments.size() != 4) {
        printLine(stderr, QStringLiteral("Использование: tarvik --copy-from-server "
                                         "postgresql://ПОЛЬЗОВАТЕЛЬ@СЕРВЕР[:ПОРТ]/БАЗА НОВЫЙ.mdb"));
        return 2;
    }
    return copyFromServerCommand(arguments[2], arguments[3]);
}

} // namespace tarvik

#include "app/ServerCommands.h"

#include "app/ConsoleOutput.h"

#include "store/register/ServerAddress.h"
#include "store/server/ServerCopy.h"

#include <cstdio>

namespace tarvik {
namespace {

QString summary(const ServerCopyResult& result)
{
    return QStringLiteral("деталей %1, корпусов %2, рисунков %3 (%4 байт)")
        .arg(result.parts)
        .arg(result.types)
        .arg(result.pictures)
        .arg(result.pictureBytes);
}

} // namespace

int copyToServerCommand(const QString& registerPath, const QString& address)
{
    const ParsedServerAddress parsed = parseServerAddress(address);
    if (!parsed.address) {
        printLine(stderr, parsed.error);
        return 2;
    }
    const ServerCopyResult result = copyRegisterToServer(registerPath, *parsed.address);
    if (!result.ok()) {
        printLine(stderr, result.error);
        return 1;
    }
    printLine(
        stdout,
        QStringLiteral("%1 -> %2: %3").arg(registerPath, parsed.address->uri(), summary(result)));
    QString error;
    if (!writeServerChoice(registerPath, *parsed.address, &error)) {
        printLine(stderr, QStringLiteral("База перенесена на сервер, но %1: запишите в него "
                                         "[register] server=%2")
                              .arg(error, parsed.address->uri()));
        return 1;
    }
    printLine(stdout,
              QStringLiteral("Адрес сервера записан в %1.").arg(serverSettingsPath(registerPath)));
    return 0;
}

int copyFromServerCommand(const QString& address, const QString& filePath)
{
    const ParsedServerAddress parsed = parseServerAddress(address);
    if (!parsed.address) {
        printLine(stderr, parsed.error);
        return 2;
    }
    const ServerCopyResult result = copyRegisterFromServer(*parsed.address, filePath);
    if (!result.ok()) {
        printLine(stderr, result.error);
        return 1;
    }
    printLine(stdout,
              QStringLiteral("%1 -> %2: %3").arg(parsed.address->uri(), filePath, summary(result)));
    return 0;
}

} // namespace tarvik

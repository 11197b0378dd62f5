#include "app/CommandLine.h"

#include "store/access/AccessImport.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>

namespace tarvik {
namespace {

void print(FILE* stream, const QString& text)
{
    const QByteArray bytes = (text + QLatin1Char('\n')).toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

int importCommand(const QString& accessPath, const QString& newPath)
{
    const ImportResult result = importAccessRegister(accessPath, newPath);
    if (!result.ok()) {
        print(stderr, describeImportProblem(accessPath, result));
        return 1;
    }
    print(stdout, QStringLiteral("%1 -> %2: деталей %3, корпусов %4, рисунков %5 (%6 байт)")
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
    if (argc < 2 || qstrcmp(argv[1], "--import") != 0)
        return std::nullopt;
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() != 4) {
        print(stderr, QStringLiteral("Использование: tarvik --import СТАРЫЙ.mdb НОВЫЙ.mdb"));
        return 2;
    }
    return importCommand(arguments[2], arguments[3]);
}

} // namespace tarvik

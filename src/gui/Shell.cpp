#include "gui/Shell.h"

#include <QDesktopServices>
#include <QProcess>
#include <QStandardPaths>

namespace tarvik {
namespace {

Shell::ProgramStarter& programStarter()
{
    static Shell::ProgramStarter starter;
    return starter;
}

Shell::UrlOpener& urlOpener()
{
    static Shell::UrlOpener opener;
    return opener;
}

} // namespace

Shell::Start Shell::startDetached(const QString& program, const QStringList& arguments)
{
    if (programStarter())
        return programStarter()(program, arguments);
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    if (process.startDetached())
        return Start::Started;
    // The start failed; whether the program exists at all tells the two cases apart.
    return QStandardPaths::findExecutable(program).isEmpty() ? Start::NotFound : Start::Failed;
}

bool Shell::openUrl(const QUrl& url)
{
    if (urlOpener())
        return urlOpener()(url);
    return QDesktopServices::openUrl(url);
}

void Shell::setProgramStarter(ProgramStarter starter)
{
    programStarter() = std::move(starter);
}

void Shell::setUrlOpener(UrlOpener opener)
{
    urlOpener() = std::move(opener);
}

} // namespace tarvik

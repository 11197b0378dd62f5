#include "store/register/ProgramPaths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace tarvik {

ProgramPaths::ProgramPaths(const QString& folder) : m_folder(QDir::fromNativeSeparators(folder))
{
    while (m_folder.endsWith(QLatin1Char('/')))
        m_folder.chop(1);
}

ProgramPaths ProgramPaths::ofExecutable()
{
    return ProgramPaths(QCoreApplication::applicationDirPath());
}

ProgramPaths ProgramPaths::registerHome(const ProgramPaths& program, const QString& userFolder)
{
    if (QFileInfo::exists(program.databasePath()))
        return program;
    const QFileInfo base(program.resolve(QStringLiteral("base")));
    const bool writable =
        base.exists() ? base.isWritable() : QFileInfo(program.folder()).isWritable();
    if (!writable || QFileInfo(program.bundledFolder()).isDir())
        return ProgramPaths(userFolder);
    return program;
}

QString ProgramPaths::bundledFolder() const
{
    return QDir::cleanPath(resolve(QStringLiteral("../share/tarvik")));
}

QString ProgramPaths::resolve(const QString& relative) const
{
    return m_folder + QLatin1Char('/') + relative;
}

} // namespace tarvik

#include "store/register/ProgramPaths.h"

#include <QCoreApplication>
#include <QDir>

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

QString ProgramPaths::resolve(const QString& relative) const
{
    return m_folder + QLatin1Char('/') + relative;
}

} // namespace tarvik

#pragma once

#include <QString>

namespace tarvik {

// Where the program finds its files: everything hangs off the executable's folder.
class ProgramPaths {
public:
    // `folder` may end with a separator (a filesystem root does); it is kept without one.
    explicit ProgramPaths(const QString& folder);

    // The folder of the running executable.
    static ProgramPaths ofExecutable();

    // Joins with exactly one separator, also when the folder is a root ("/" or "C:/").
    QString resolve(const QString& relative) const;

    QString folder() const { return m_folder; }
    QString databasePath() const { return resolve(QStringLiteral("base/vorlend.mdb")); }
    // No extension on purpose: the picture loader tells the format from the content.
    QString temporaryPicturePath() const { return resolve(QStringLiteral("Rezerv")); }

private:
    QString m_folder;
};

} // namespace tarvik

#pragma once

#include <QString>

namespace tarvik {

// Where the program finds its files: everything hangs off one folder, the executable's or,
// for an installed program, the user's data folder (see registerHome).
class ProgramPaths {
public:
    // `folder` may end with a separator (a filesystem root does); it is kept without one.
    explicit ProgramPaths(const QString& folder);

    // The folder of the running executable.
    static ProgramPaths ofExecutable();

    // The folder the register, the temporary picture and the pictures named after package
    // types hang off. A register beside the program wins, as it always did. An installed
    // program (one with its bundled folder) or one whose folder cannot be written keeps them
    // in `userFolder` instead.
    static ProgramPaths registerHome(const ProgramPaths& program, const QString& userFolder);

    // What an installed program brings along (the demo register, Qt's Russian texts):
    // <prefix>/share/tarvik beside <prefix>/bin. Nothing is there in the build folder.
    QString bundledFolder() const;

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

#include "service/Help.h"

#include "gui/MessageBox.h"
#include "gui/Shell.h"

#include <QDir>

namespace tarvik {

void showHelp(QWidget* parent, const ProgramPaths& paths)
{
    const QString viewer = QStringLiteral("HH.exe");
    // One argument, so a folder with blanks in its name still reaches the viewer whole.
    const QString file = QDir::toNativeSeparators(paths.resolve(QStringLiteral("vorlend.chm")));
    if (Shell::startDetached(viewer, {file}) == Shell::Start::NotFound)
        MessageBox::show(parent, QMessageBox::NoIcon, QStringLiteral("Tarvik"),
                         viewer + QStringLiteral(" Программа не найдена"), QMessageBox::Ok);
}

} // namespace tarvik

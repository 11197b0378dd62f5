#include "app/Startup.h"

#include "app/AccessImportStartup.h"
#include "app/Form1.h"
#include "app/MessageBox.h"
#include "app/SingleInstance.h"
#include "store/Register.h"

#include <QApplication>
#include <QFontDatabase>
#include <QScreen>

namespace tarvik {

void prepareApplication(QApplication& app)
{
    app.setApplicationName(QStringLiteral("Tarvik"));
    if (!QFontDatabase::families().contains(QStringLiteral("Arial")))
        QFont::insertSubstitutions(QStringLiteral("Arial"),
                                   {QStringLiteral("Liberation Sans"), QStringLiteral("Arimo")});
    app.setFont(QFont(QStringLiteral("Arial"), 9));
}

void showAlreadyRunning()
{
    MessageBox::show(nullptr, QMessageBox::NoIcon, QStringLiteral("Tarvik"),
                     QStringLiteral("Программа уже запущена!"), QMessageBox::Ok);
}

int runProgram(QApplication& app, const ProgramPaths& paths)
{
    SingleInstance instance(paths.folder());
    if (!instance.acquire()) {
        showAlreadyRunning();
        return 0;
    }
    if (const std::optional<int> exitCode = bringOverAccessRegister(paths))
        return *exitCode;
    Register reg(paths.databasePath());
    Form1 window(paths, reg);
    if (const QScreen* screen = window.screen()) {
        window.adjustSize();
        QRect frame = window.frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        window.move(frame.topLeft());
    }
    window.show();
    return app.exec();
}

} // namespace tarvik

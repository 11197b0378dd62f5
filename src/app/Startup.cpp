#include "app/Startup.h"

#include "app/AccessImportStartup.h"
#include "app/Form1.h"
#include "app/RegisterHome.h"
#include "app/ServerStartup.h"
#include "app/SingleInstance.h"
#include "gui/EnterKey.h"
#include "gui/MessageBox.h"
#include "gui/QtTexts.h"
#include "store/register/Register.h"
#include "store/register/ServerAddress.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QFontDatabase>
#include <QLibraryInfo>
#include <QLocale>
#include <QScreen>
#include <QStandardPaths>
#include <QTranslator>

namespace tarvik {

void prepareApplication(QApplication& app)
{
    app.setApplicationName(QStringLiteral("Tarvik"));
    if (!QFontDatabase::families().contains(QStringLiteral("Arial")))
        QFont::insertSubstitutions(QStringLiteral("Arial"),
                                   {QStringLiteral("Liberation Sans"), QStringLiteral("Arimo")});
    app.setFont(QFont(QStringLiteral("Arial"), 9));
    EnterPressesButtons::installOn(app);

    // The interface is Russian whatever the system's language: Qt's own texts too (file
    // dialog, context menus). The message boxes name their buttons themselves, so they read
    // right also where this translation is not installed.
    if (!app.findChild<MissingQtTexts*>())
        app.installTranslator(new MissingQtTexts(&app));
    // An installed program brings its own copy, so it reads right also where Qt's
    // translations are not installed.
    auto* qtTexts = new QTranslator(&app);
    const QLocale russian(QLocale::Russian, QLocale::Russia);
    const QString bundled =
        ProgramPaths::ofExecutable().bundledFolder() + QStringLiteral("/translations");
    if (qtTexts->load(russian, QStringLiteral("qtbase"), QStringLiteral("_"), bundled) ||
        qtTexts->load(russian, QStringLiteral("qtbase"), QStringLiteral("_"),
                      QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        app.installTranslator(qtTexts);
    else
        delete qtTexts;
}

void showAlreadyRunning()
{
    MessageBox::show(nullptr, QMessageBox::NoIcon, QStringLiteral("Tarvik"),
                     QStringLiteral("Программа уже запущена!"), QMessageBox::Ok);
}

void showLockBlocked(const QString& path, const QString& what)
{
    MessageBox::show(nullptr, QMessageBox::Warning, QStringLiteral("Тарвик радиодеталей"),
                     QStringLiteral("Программа не может запуститься: на месте её файла "
                                    "блокировки «%1» находится %2. Удалите или переименуйте "
                                    "его и запустите программу снова.")
                         .arg(QDir::toNativeSeparators(path), what),
                     QMessageBox::Ok);
}

int runProgram(QApplication& app, const ProgramPaths& program)
{
    const std::optional<ProgramPaths> home = settleRegisterHome(
        program, QStandardPaths::writableLocation(QStandardPaths::AppDataLocation));
    if (!home)
        return 1;
    const ProgramPaths& paths = *home;
    SingleInstance instance(QFileInfo(paths.databasePath()).absolutePath());
    if (!instance.acquire()) {
        if (!instance.blockedBy().isEmpty()) {
            showLockBlocked(instance.blockedBy(), instance.blockedByWhat());
            return 1;
        }
        showAlreadyRunning();
        return 0;
    }
    // A register on a server leaves the file beside the program alone.
    if (!readServerChoice(paths.databasePath()).server) {
        if (const std::optional<int> exitCode = bringOverAccessRegister(paths))
            return *exitCode;
    }
    const std::unique_ptr<Register> reg = chooseRegister(paths);
    if (!reg)
        return 1;
    reg->startCheck(); // while the window is built
    Form1 window(paths, *reg);
    // The window already has its full size; adjustSize() would shrink a window whose
    // controls stand at fixed places to a stub.
    // Centred by its client area and menu bar; the frame is not known before it is shown.
    if (const QScreen* screen = window.screen()) {
        QRect area = window.geometry();
        area.moveCenter(screen->availableGeometry().center());
        window.setGeometry(area);
    }
    window.show();
    return app.exec();
}

} // namespace tarvik

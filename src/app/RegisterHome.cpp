#include "app/RegisterHome.h"

#include "gui/MessageBox.h"
#include "store/records/Seeding.h"
#include "store/register/Connection.h"

#include <QDir>
#include <QFileInfo>

namespace tarvik {

std::optional<ProgramPaths> settleRegisterHome(const ProgramPaths& program,
                                               const QString& userFolder)
{
    const ProgramPaths home = ProgramPaths::registerHome(program, userFolder);
    const QString path = home.databasePath();
    if (home.folder() == program.folder() || QFileInfo::exists(path))
        return home;

    const QString where = QDir::toNativeSeparators(path);
    const QString title = QStringLiteral("Тарвик радиодеталей");
    const FirstRegister made =
        createFirstRegister(path, program.bundledFolder() + QStringLiteral("/vorlend.mdb"));
    if (!made.error.isEmpty()) {
        MessageBox::show(nullptr, QMessageBox::Warning, title,
                         withDetail(QStringLiteral("Не удалось создать базу «%1». Программа будет "
                                                   "закрыта.")
                                        .arg(where),
                                    made.error),
                         QMessageBox::Ok);
        return std::nullopt;
    }
    MessageBox::show(nullptr, QMessageBox::Information, title,
                     (made.fromDemo ? QStringLiteral("Создана база «%1» с примерами деталей и "
                                                     "корпусов.")
                                    : QStringLiteral("Создана пустая база «%1»."))
                             .arg(where) +
                         QStringLiteral(" Рядом с установленной программой базы нет, "
                                        "поэтому ваша база хранится здесь."),
                     QMessageBox::Ok);
    return home;
}

} // namespace tarvik

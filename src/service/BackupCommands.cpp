#include "service/BackupCommands.h"

#include "gui/FileDialog.h"
#include "gui/MessageBox.h"
#include "gui/ProgramEnd.h"
#include "gui/WaitCursor.h"
#include "store/register/Backup.h"
#include "store/register/Register.h"
#include "store/register/Restore.h"
#include "store/server/ServerBackup.h"
#include "store/server/ServerRestore.h"

#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

namespace tarvik {
namespace {

const QString kTitle = QStringLiteral("Тарвик радиодеталей");
const QString kFilter = QStringLiteral("База данных (*.mdb);;Все файлы (*)");

QString shown(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

// The date a daily copy's name carries, if it carries one.
QString dateInName(const QString& path)
{
    static const QRegularExpression date(QStringLiteral("(\\d{4}-\\d{2}-\\d{2})"));
    const QRegularExpressionMatch match = date.match(QFileInfo(path).fileName());
    const QDate day = match.hasMatch()
                          ? QDate::fromString(match.captured(1), QStringLiteral("yyyy-MM-dd"))
                          : QDate();
    return day.isValid() ? day.toString(QStringLiteral("dd.MM.yyyy")) : QString();
}

QString describeCopy(const QString& path, const FileCheck& check)
{
    const QString named = dateInName(path);
    const QString written =
        QFileInfo(path).lastModified().toString(QStringLiteral("dd.MM.yyyy HH:mm"));
    QString text = named.isEmpty()
                       ? QStringLiteral("Копия записана %1").arg(written)
                       : QStringLiteral("Копия от %1 (файл записан %2)").arg(named, written);
    return text +
           QStringLiteral(": деталей %1, корпусов %2.").arg(check.parts).arg(check.packageTypes);
}

} // namespace

void writeBackupNow(QWidget* parent, Register& reg, const QString& registerPath)
{
    const QString suggested =
        backupFolder(registerPath) + QLatin1Char('/') + QFileInfo(registerPath).completeBaseName() +
        QLatin1Char('-') +
        QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd-HHmmss")) +
        QStringLiteral(".mdb");
    QDir().mkpath(backupFolder(registerPath));
    const QString target = FileDialog::getSaveFileName(
        parent, QStringLiteral("Резервная копия базы"), suggested, kFilter);
    if (target.isEmpty())
        return;
    BackupResult result;
    {
        WaitCursor wait;
        if (const std::optional<ServerAddress> server = reg.server())
            result = backupServerRegister(*server, reg.password(), target);
        else
            result = backupRegisterFile(reg.path(), target);
    }
    if (!result.ok()) {
        MessageBox::show(parent, QMessageBox::Warning, kTitle,
                         describeBackupFailure(target, result), QMessageBox::Ok);
        return;
    }
    MessageBox::show(parent, QMessageBox::Information, kTitle,
                     QStringLiteral("Резервная копия базы записана в файл «%1»: деталей %2, "
                                    "корпусов %3.")
                         .arg(shown(target))
                         .arg(result.parts)
                         .arg(result.packageTypes),
                     QMessageBox::Ok);
}

void restoreFromBackup(QWidget* parent, Register& reg, const QString& registerPath)
{
    const std::optional<ServerAddress> server = reg.server();
    // The server's wording names the server; its register's backups live by registerPath.
    const auto failure = [&](const QString& chosen, const RestoreResult& result) {
        return server ? describeServerRestoreFailure(reg.path(), chosen, result)
                      : describeRestoreFailure(registerPath, chosen, result);
    };
    const QString chosen = FileDialog::getOpenFileName(
        parent, QStringLiteral("Восстановить базу из копии"), backupFolder(registerPath), kFilter);
    if (chosen.isEmpty())
        return;
    FileCheck look;
    {
        WaitCursor wait;
        look = checkRestoreCandidate(chosen, FileCheckDepth::Quick);
    }
    if (!look.ok()) {
        RestoreResult refused;
        refused.failedStep = RestoreStep::CheckCopy;
        refused.detail = look.problem;
        MessageBox::show(parent, QMessageBox::Warning, kTitle, failure(chosen, refused),
                         QMessageBox::Ok);
        return;
    }
    const QString keep = keptBeforeRestorePath(registerPath, QDateTime::currentDateTime());
    const QString what =
        server ? QStringLiteral("базу на сервере %1").arg(reg.path()) : QStringLiteral("базу");
    if (MessageBox::show(parent, QMessageBox::Question, kTitle,
                         QStringLiteral("Восстановить %1 из файла «%2»?\n%3\nТекущая база "
                                        "будет сохранена в файл «%4». После восстановления "
                                        "программа закроется; запустите её снова.")
                             .arg(what, shown(chosen), describeCopy(chosen, look), shown(keep)),
                         QMessageBox::Yes | QMessageBox::No, QMessageBox::No) != QMessageBox::Yes)
        return;
    RestoreResult result;
    {
        WaitCursor wait;
        result = server ? restoreServerRegister(*server, reg.password(), chosen, keep)
                        : restoreRegister(reg, chosen, keep);
    }
    if (!result.ok())
        MessageBox::show(parent, QMessageBox::Warning, kTitle, failure(chosen, result),
                         QMessageBox::Ok);
    else
        MessageBox::show(parent, QMessageBox::Information, kTitle,
                         QStringLiteral("%1 восстановлена из файла «%2». Прежняя база сохранена "
                                        "в файл «%3». Программа закроется; запустите её снова.")
                             .arg(server ? QStringLiteral("База на сервере %1").arg(reg.path())
                                         : QStringLiteral("База"),
                                  shown(chosen), shown(keep)),
                         QMessageBox::Ok);
    // The windows' copies of the parts describe the register as it was (and for a file their
    // connections were closed): the program starts afresh on the restored one. A server's
    // register that failed to restore is as it was, and the program goes on with it.
    if (server ? result.ok() : result.registerClosed())
        ProgramEnd::now();
}

} // namespace tarvik

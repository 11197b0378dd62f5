#include "service/BackupCommands.h"

#include "gui/FileDialog.h"
#include "gui/MessageBox.h"
#include "gui/ProgramEnd.h"
#include "gui/WaitCursor.h"
#include "store/register/Backup.h"
#include "store/register/Register.h"
#include "store/register/Restore.h"
#include "store/server/ServerBackup.h"

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
    if (reg.onServer()) {
        // Replacing every table of a shared register under other computers' feet is the
        // server's own business; a copy can be made the server's register the way a file is.
        MessageBox::show(
            parent, QMessageBox::Information, kTitle,
            QStringLiteral("База данных хранится на сервере %1. Базу на сервере "
                           "восстанавливают средствами самого сервера (например, pg_restore из "
                           "его резервной копии). Резервную копию из файла можно перенести в "
                           "новую пустую базу на сервере: положите её на место файла «%2» и "
                           "выполните «tarvik --copy-to-server postgresql://ПОЛЬЗОВАТЕЛЬ@СЕРВЕР/"
                           "БАЗА».")
                .arg(reg.path(), shown(registerPath)),
            QMessageBox::Ok);
        return;
    }
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
        MessageBox::show(parent, QMessageBox::Warning, kTitle,
                         describeRestoreFailure(registerPath, chosen, refused), QMessageBox::Ok);
        return;
    }
    const QString keep = keptBeforeRestorePath(registerPath, QDateTime::currentDateTime());
    if (MessageBox::show(parent, QMessageBox::Question, kTitle,
                         QStringLiteral("Восстановить базу из файла «%1»?\n%2\nТекущая база "
                                        "будет сохранена в файл «%3». После восстановления "
                                        "программа закроется; запустите её снова.")
                             .arg(shown(chosen), describeCopy(chosen, look), shown(keep)),
                         QMessageBox::Yes | QMessageBox::No, QMessageBox::No) != QMessageBox::Yes)
        return;
    RestoreResult result;
    {
        WaitCursor wait;
        result = restoreRegister(reg, chosen, keep);
    }
    if (!result.ok())
        MessageBox::show(parent, QMessageBox::Warning, kTitle,
                         describeRestoreFailure(registerPath, chosen, result), QMessageBox::Ok);
    else
        MessageBox::show(parent, QMessageBox::Information, kTitle,
                         QStringLiteral("База восстановлена из файла «%1». Прежняя база сохранена "
                                        "в файл «%2». Программа закроется; запустите её снова.")
                             .arg(shown(chosen), shown(keep)),
                         QMessageBox::Ok);
    // The windows' connections were closed and their copies of the parts describe the old
    // file: the program starts afresh on the new one.
    if (result.registerClosed())
        ProgramEnd::now();
}

} // namespace tarvik

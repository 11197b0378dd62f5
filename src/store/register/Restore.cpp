#include "store/register/Restore.h"

#include "store/register/Backup.h"
#include "store/register/Platform.h"
#include "store/register/Register.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

#include <atomic>

namespace tarvik {
namespace {

RestoreStep g_failNextAt = RestoreStep::None;

std::function<void(RestoreStep)>& stepHook()
{
    static std::function<void(RestoreStep)> hook;
    return hook;
}

// The register's write lock on a plain connection: a damaged register, which the program's
// own connections refuse, is still locked while the copy replaces it.
class AnyFileLock {
public:
    AnyFileLock()
    {
        static std::atomic<quint64> counter{0};
        m_name = QStringLiteral("tarvik-restore-lock-%1").arg(counter.fetch_add(1));
    }
    ~AnyFileLock() { release(); }
    // False with the reason when another program holds the register; a file the engine
    // does not take for a database at all needs no lock, as nobody can be writing it.
    bool take(const QString& path, QString* error)
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=2000"));
        db.setDatabaseName(path);
        QSqlQuery begin(db);
        if (db.open() && begin.exec(QStringLiteral("BEGIN IMMEDIATE")))
            return true;
        const QSqlError failed = db.isOpen() ? begin.lastError() : db.lastError();
        if (isDamageError(failed))
            return true;
        *error = whyNotOpened({isBusyError(failed) ? OpenProblem::Busy : OpenProblem::CannotOpen,
                               engineDetail(failed)});
        return false;
    }
    // Nothing was written under the lock: closing rolls back an empty transaction.
    void release()
    {
        if (!QSqlDatabase::contains(m_name))
            return;
        {
            QSqlDatabase db = QSqlDatabase::database(m_name, false);
            db.close();
        }
        QSqlDatabase::removeDatabase(m_name);
    }

private:
    QString m_name;
};

// The file's bytes as they are, under a temporary name until complete and on the disk: under
// the write lock they cannot change, and a damaged register is kept exactly as it was.
bool keepBytes(const QString& from, const QString& to, QString* error)
{
    const QString copy = backupCopyPath(to);
    if (!QDir().mkpath(QFileInfo(to).absolutePath())) {
        *error = QStringLiteral("папка «%1» не создаётся").arg(QFileInfo(to).absolutePath());
        return false;
    }
    if (!removeWithCompanions(copy, error))
        return false;
    QFile source(from);
    if (!source.copy(copy)) {
        *error = source.errorString();
        removeWithCompanions(copy);
        return false;
    }
    if (flushNewFile(copy, error) && platform::replaceFile(copy, to, error))
        return true;
    removeWithCompanions(copy);
    return false;
}

class Restorer {
public:
    Restorer(Register& reg, const QString& copyPath, const QString& keepCurrentAs)
        : m_reg(reg),
          m_path(fileBehind(reg.path())),
          m_chosen(copyPath),
          m_copy(restoreCopyPath(m_path))
    {
        m_result.keptAs = keepCurrentAs;
    }

    RestoreResult run()
    {
        const bool done = checkCopy() && prepare() && lock() && keepCurrent() && copy() &&
                          check() && attributes() && flush() && replace();
        if (!done && m_result.registerClosed())
            m_result.copyLeftBehind = !removeWithCompanions(m_copy);
        m_writeLock.release();
        return m_result;
    }

private:
    bool fail(RestoreStep step, const QString& detail)
    {
        m_result.failedStep = step;
        m_result.detail = detail;
        return false;
    }
    // Calls the hook; false when the step is to fail as the seam says.
    bool beginning(RestoreStep step)
    {
        return restoreStepBegins(step) || fail(step, QStringLiteral("injected failure"));
    }

    bool checkCopy()
    {
        if (!beginning(RestoreStep::CheckCopy))
            return false;
        if (fileBehind(m_chosen) == m_path)
            return fail(RestoreStep::CheckCopy, QStringLiteral("это сам файл базы"));
        m_result.copy = checkRestoreCandidate(m_chosen, FileCheckDepth::Full);
        return m_result.copy.ok() || fail(RestoreStep::CheckCopy, m_result.copy.problem);
    }
    bool prepare()
    {
        if (!beginning(RestoreStep::Prepare))
            return false;
        m_reg.closeAll();
        if (m_reg.openConnections() != 0)
            return fail(RestoreStep::Prepare,
                        QStringLiteral("%1 connections still open").arg(m_reg.openConnections()));
        QString error;
        return removeWithCompanions(m_copy, &error) || fail(RestoreStep::Prepare, error);
    }
    bool lock()
    {
        if (!beginning(RestoreStep::Lock))
            return false;
        QString error;
        return m_writeLock.take(m_path, &error) || fail(RestoreStep::Lock, error);
    }
    bool keepCurrent()
    {
        if (!beginning(RestoreStep::KeepCurrent))
            return false;
        QString error;
        return keepBytes(m_path, m_result.keptAs, &error) || fail(RestoreStep::KeepCurrent, error);
    }
    bool copy()
    {
        if (!beginning(RestoreStep::Copy))
            return false;
        // Through the engine rather than byte for byte: what it writes is what it read as
        // one consistent file.
        const BackupResult written = backupRegisterFile(m_chosen, m_copy);
        return written.ok() || fail(RestoreStep::Copy, written.detail);
    }
    bool check()
    {
        if (!beginning(RestoreStep::Check))
            return false;
        const FileCheck written = checkRegisterFile(m_copy, FileCheckDepth::Quick);
        if (!written.ok())
            return fail(RestoreStep::Check, written.problem);
        if (written.parts != m_result.copy.parts ||
            written.packageTypes != m_result.copy.packageTypes)
            return fail(RestoreStep::Check, QStringLiteral("rows client %1/%2, vrYZD %3/%4")
                                                .arg(written.parts)
                                                .arg(m_result.copy.parts)
                                                .arg(written.packageTypes)
                                                .arg(m_result.copy.packageTypes));
        return true;
    }
    bool attributes()
    {
        if (!beginning(RestoreStep::Attributes))
            return false;
        // The file takes the register's place, so it serves the same users.
        QString error;
        return platform::copyFileMetadata(m_path, m_copy, &error) ||
               fail(RestoreStep::Attributes, error);
    }
    bool flush()
    {
        if (!beginning(RestoreStep::Flush))
            return false;
        QString error;
        return flushNewFile(m_copy, &error) || fail(RestoreStep::Flush, error);
    }
    bool replace()
    {
        if (!beginning(RestoreStep::Replace))
            return false;
        QString error;
        return putInRegistersPlace(m_copy, m_path, &error) || fail(RestoreStep::Replace, error);
    }

    Register& m_reg;
    QString m_path;
    QString m_chosen;
    QString m_copy;
    AnyFileLock m_writeLock; // from before the register is kept to the rename
    RestoreResult m_result;
};

} // namespace

FileCheck checkRestoreCandidate(const QString& copyPath, FileCheckDepth depth)
{
    FileCheck result;
    if (!QFileInfo(copyPath).isFile()) {
        result.problem = QStringLiteral("файла нет");
        return result;
    }
    result = checkRegisterFile(copyPath, depth);
    if (!result.ok())
        return result;
    // The register's tables and fields, as the program itself checks a register it opens.
    Connection copy;
    const OpenResult opened = copy.open(copyPath);
    if (!opened.ok() && opened.problem != OpenProblem::ReadOnly)
        result.problem = whyNotOpened(opened);
    return result;
}

QString keptBeforeRestorePath(const QString& registerPath, const QDateTime& now)
{
    return backupFolder(registerPath) + QLatin1Char('/') +
           QFileInfo(registerPath).completeBaseName() + QLatin1Char('-') +
           now.toString(QStringLiteral("yyyy-MM-dd-HHmmss")) +
           QStringLiteral("-before-restore.mdb");
}

QString restoreCopyPath(const QString& registerPath)
{
    return registerPath + QStringLiteral("Restore");
}

RestoreResult restoreRegister(Register& reg, const QString& copyPath, const QString& keepCurrentAs)
{
    return Restorer(reg, copyPath, keepCurrentAs).run();
}

QString describeUnusableCopy(const QString& copyPath, const QString& detail)
{
    return withDetail(QStringLiteral("Файл «%1» не годится для восстановления: это не база "
                                     "данных программы или она повреждена")
                          .arg(QDir::toNativeSeparators(copyPath)),
                      engineDetail(detail));
}

QString describeRestoreFailure(const QString& registerPath, const QString& copyPath,
                               const RestoreResult& result)
{
    QString reason;
    switch (result.failedStep) {
    case RestoreStep::None:
        return {};
    case RestoreStep::CheckCopy:
        return describeUnusableCopy(copyPath, result.detail) +
               QStringLiteral(". База данных не изменилась.");
    case RestoreStep::Prepare:
        reason = QStringLiteral("не удалось подготовить восстановление");
        break;
    case RestoreStep::Lock:
        reason = QStringLiteral("файл базы занят");
        break;
    case RestoreStep::KeepCurrent:
        reason = QStringLiteral("не удалось сохранить копию текущей базы");
        break;
    case RestoreStep::Copy:
        reason = QStringLiteral("не удалось записать копию рядом с базой");
        break;
    case RestoreStep::Check:
        reason = QStringLiteral("записанная копия не прошла проверку");
        break;
    case RestoreStep::Attributes:
        reason = QStringLiteral("копии не удалось дать владельца и права доступа файла базы");
        break;
    case RestoreStep::Flush:
        reason = QStringLiteral("не удалось сохранить копию на диск");
        break;
    case RestoreStep::Replace:
        reason = QStringLiteral("не удалось поставить копию на место базы");
        break;
    }
    QString text =
        withDetail(QStringLiteral("База данных не восстановлена: ") + reason,
                   engineDetail(result.detail)) +
        QStringLiteral(". Файл «%1» остался прежним.").arg(QDir::toNativeSeparators(registerPath));
    if (result.copyLeftBehind)
        text += QStringLiteral(" Файл «%1» удалить не удалось.")
                    .arg(QDir::toNativeSeparators(restoreCopyPath(registerPath)));
    return text;
}

void failNextRestoreAt(RestoreStep step)
{
    g_failNextAt = step;
}

void setRestoreStepHook(std::function<void(RestoreStep step)> hook)
{
    stepHook() = std::move(hook);
}

bool restoreStepBegins(RestoreStep step)
{
    if (stepHook())
        stepHook()(step);
    if (g_failNextAt != step)
        return true;
    g_failNextAt = RestoreStep::None;
    return false;
}

} // namespace tarvik

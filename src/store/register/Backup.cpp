#include "store/register/Backup.h"

#include "store/register/Platform.h"
#include "store/register/ServerAddress.h"
#include "store/text/SqlFunctions.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <QRegularExpression>
#include <QSettings>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>

#include <sqlite3.h>

#include <algorithm>
#include <utility>

namespace tarvik {
namespace {

constexpr int kDefaultKeep = 14;

// Backups run on threads of their own; the seams are set on the tests' thread.
struct Seams {
    QMutex mutex;
    BackupStep failAt = BackupStep::None;
    QString failDetail;
    std::function<void(BackupStep, const QString&)> hook;
};
Seams& seams()
{
    static Seams instance;
    return instance;
}

QString nextConnectionName()
{
    static std::atomic<quint64> counter{0};
    return QStringLiteral("tarvik-backup-%1").arg(counter.fetch_add(1));
}

// The copy's own connection, which creates the file.
class NewFile {
public:
    explicit NewFile(const QString& path) : m_name(nextConnectionName())
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
        db.setDatabaseName(path);
        if (!db.open())
            m_error = engineDetail(db.lastError());
    }
    ~NewFile()
    {
        {
            QSqlDatabase db = connection();
            db.close();
        }
        QSqlDatabase::removeDatabase(m_name);
    }
    QSqlDatabase connection() const { return QSqlDatabase::database(m_name, false); }
    QString error() const { return m_error; }

private:
    QString m_name;
    QString m_error;
};

class Backup {
public:
    Backup(const QString& source, const QString& target, const BackupControl& control)
        : m_source(source),
          m_target(target),
          m_copy(backupCopyPath(target)),
          m_control(control)
    {
    }

    BackupResult run()
    {
        const bool done = prepare() && copy() && check() && flush() && rename();
        if (!done) {
            QString ignored;
            removeWithCompanions(m_copy, &ignored);
        }
        return m_result;
    }

private:
    bool fail(BackupStep step, const QString& detail)
    {
        m_result.failedStep = step;
        m_result.detail = detail;
        return false;
    }
    // Calls the hook; false when the step is to fail as the seam says.
    bool beginning(BackupStep step)
    {
        std::function<void(BackupStep, const QString&)> hook;
        {
            QMutexLocker lock(&seams().mutex);
            hook = seams().hook;
            if (seams().failAt == step) {
                seams().failAt = BackupStep::None;
                return fail(step, std::exchange(seams().failDetail, {}));
            }
        }
        if (hook)
            hook(step, m_copy);
        return true;
    }
    bool cancelled()
    {
        if (m_control.cancel && m_control.cancel->load())
            m_result.cancelled = true;
        return m_result.cancelled;
    }

    bool prepare();
    bool copy();
    bool copyPages(sqlite3* from, sqlite3* to);
    bool check();
    bool flush();
    bool rename();

    QString m_source;
    QString m_target;
    QString m_copy;
    BackupControl m_control;
    BackupResult m_result;
};

bool Backup::prepare()
{
    if (!beginning(BackupStep::Prepare))
        return false;
    const QString folder = QFileInfo(m_copy).absolutePath();
    if (!QDir().mkpath(folder))
        return fail(BackupStep::Prepare, QStringLiteral("папка «%1» не создаётся").arg(folder));
    // Only a copy written now may take the name.
    QString error;
    if (!removeWithCompanions(m_copy, &error))
        return fail(BackupStep::Prepare, error);
    return true;
}

bool Backup::copy()
{
    FileReader source(m_source);
    if (!source.error().isEmpty())
        return fail(BackupStep::Copy, engineDetail(source.error()));
    NewFile copy(m_copy);
    if (!copy.error().isEmpty())
        return fail(BackupStep::Copy, copy.error());
    // The engine's own calls take handles of the library we link; registering our functions
    // proves the driver's is that one.
    if (!registerSqlFunctions(source.connection()) || !registerSqlFunctions(copy.connection()))
        return fail(BackupStep::Copy, whyNotOpened({OpenProblem::EngineMismatch, {}}));
    // No journal for a file nobody else opens: a cut-off copy is removed, never rolled back,
    // and it is flushed once, whole, before it takes its name.
    QSqlQuery settings(copy.connection());
    settings.exec(QStringLiteral("PRAGMA journal_mode = OFF"));
    settings.exec(QStringLiteral("PRAGMA synchronous = OFF"));
    settings.finish();
    return copyPages(sqliteHandle(source.connection()), sqliteHandle(copy.connection()));
}

bool Backup::copyPages(sqlite3* from, sqlite3* to)
{
    sqlite3_backup* backup = sqlite3_backup_init(to, "main", from, "main");
    if (!backup)
        return fail(BackupStep::Copy, QString::fromUtf8(sqlite3_errmsg(to)));
    int result = SQLITE_OK;
    int done = -1;
    while (result != SQLITE_DONE) {
        if (cancelled() || !beginning(BackupStep::Copy))
            break;
        // The read lock is held only inside the step; a writer between steps goes first, and
        // its change makes the next step begin again from the first page.
        result = sqlite3_backup_step(backup, std::max(m_control.pagesPerStep, 1));
        if (result == SQLITE_BUSY || result == SQLITE_LOCKED) {
            QThread::msleep(5);
            continue;
        }
        if (result != SQLITE_OK && result != SQLITE_DONE)
            break;
        const int copied = sqlite3_backup_pagecount(backup) - sqlite3_backup_remaining(backup);
        if (copied < done)
            ++m_result.restarts;
        done = copied;
    }
    const int finished = sqlite3_backup_finish(backup);
    if (m_result.failedStep != BackupStep::None || m_result.cancelled)
        return false;
    if (result != SQLITE_DONE || finished != SQLITE_OK)
        return fail(BackupStep::Copy, QString::fromUtf8(sqlite3_errmsg(to)));
    return true;
}

bool Backup::check()
{
    if (cancelled() || !beginning(BackupStep::Check))
        return false;
    const FileCheck copy = checkRegisterFile(m_copy, m_control.depth);
    if (!copy.ok())
        return fail(BackupStep::Check, copy.problem);
    m_result.parts = copy.parts;
    m_result.packageTypes = copy.packageTypes;
    return true;
}

bool Backup::flush()
{
    if (cancelled() || !beginning(BackupStep::Flush))
        return false;
    // Best effort: a file system without permissions (a memory stick) keeps its own.
    QFile::setPermissions(m_copy, QFileInfo(m_source).permissions());
    QString error;
    return flushNewFile(m_copy, &error) || fail(BackupStep::Flush, error);
}

bool Backup::rename()
{
    if (cancelled() || !beginning(BackupStep::Rename))
        return false;
    QString error;
    if (m_control.keepExisting) {
        // Never over a file: the rename itself refuses one, however late it appeared.
        QFile copy(m_copy);
        if (!copy.rename(m_target))
            return fail(BackupStep::Rename, copy.errorString());
        (void)platform::syncFolder(QFileInfo(m_target).absolutePath(), &error);
        return true;
    }
    if (!putInRegistersPlace(m_copy, m_target, &error))
        return fail(BackupStep::Rename, error);
    return true;
}

QRegularExpression dailyName(const QString& registerPath)
{
    return QRegularExpression(
        QStringLiteral("^%1-(\\d{4}-\\d{2}-\\d{2})\\.mdb(Temp(-journal)?)?$")
            .arg(QRegularExpression::escape(QFileInfo(registerPath).completeBaseName())));
}

} // namespace

QString backupCopyPath(const QString& target)
{
    return target + QStringLiteral("Temp");
}

BackupResult backupRegisterFile(const QString& source, const QString& target,
                                const BackupControl& control)
{
    return Backup(source, target, control).run();
}

QString describeBackupFailure(const QString& target, const BackupResult& result)
{
    QString reason;
    switch (result.failedStep) {
    case BackupStep::None:
        return {};
    case BackupStep::Prepare:
        reason = QStringLiteral("не удалось подготовить папку копии");
        break;
    case BackupStep::Copy:
        reason = QStringLiteral("не удалось записать копию");
        break;
    case BackupStep::Check:
        reason = QStringLiteral("копия не прошла проверку");
        break;
    case BackupStep::Flush:
        reason = QStringLiteral("не удалось сохранить копию на диск");
        break;
    case BackupStep::Rename:
        reason = QStringLiteral("не удалось дать копии её имя");
        break;
    }
    return withDetail(QStringLiteral("Резервная копия базы в файл «%1» не записана: %2")
                          .arg(QDir::toNativeSeparators(target), reason),
                      engineDetail(result.detail)) +
           QStringLiteral(". База данных не изменилась.");
}

QString backupFolder(const QString& registerPath)
{
    return QFileInfo(registerPath).absolutePath() + QStringLiteral("/backup");
}

QString dailyBackupPath(const QString& registerPath, const QDate& day)
{
    return backupFolder(registerPath) + QLatin1Char('/') +
           QFileInfo(registerPath).completeBaseName() + QLatin1Char('-') +
           day.toString(QStringLiteral("yyyy-MM-dd")) + QStringLiteral(".mdb");
}

int dailyBackupsToKeep(const QString& registerPath)
{
    const QString path = serverSettingsPath(registerPath);
    if (!QFileInfo::exists(path))
        return kDefaultKeep;
    const QSettings settings(path, QSettings::IniFormat);
    bool number = false;
    const int keep =
        settings.value(QStringLiteral("backup/keep")).toString().trimmed().toInt(&number);
    return number && keep >= 0 ? keep : kDefaultKeep;
}

QStringList pruneDailyBackups(const QString& registerPath, int keep)
{
    const QRegularExpression pattern = dailyName(registerPath);
    QStringList copies;
    QStringList removed;
    QDir folder(backupFolder(registerPath));
    for (const QString& name : folder.entryList(QDir::Files | QDir::Hidden)) {
        const QRegularExpressionMatch match = pattern.match(name);
        if (!match.hasMatch())
            continue;
        // A copy cut off before it was complete is never one of those kept.
        if (!match.captured(2).isEmpty()) {
            if (folder.remove(name))
                removed << name;
            continue;
        }
        copies << name;
    }
    // The date in the name, not the file's time, says which is newest.
    std::sort(copies.begin(), copies.end(), std::greater<>());
    for (qsizetype i = keep; i < copies.size(); ++i) {
        if (folder.remove(copies[i]))
            removed << copies[i];
    }
    return removed;
}

void failNextBackupAt(BackupStep step, const QString& detail)
{
    QMutexLocker lock(&seams().mutex);
    seams().failAt = step;
    seams().failDetail = detail;
}

void setBackupStepHook(std::function<void(BackupStep step, const QString& copy)> hook)
{
    QMutexLocker lock(&seams().mutex);
    seams().hook = std::move(hook);
}

} // namespace tarvik

#include "store/register/Compaction.h"

#include "store/register/Connection.h"
#include "store/register/Platform.h"
#include "store/register/Register.h"

#include <QAtomicInteger>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>

#include <optional>
#include <utility>

namespace tarvik {
namespace {

CompactionStep g_failNextAt = CompactionStep::None;

std::function<void(CompactionStep, const QString&)>& stepHook()
{
    static std::function<void(CompactionStep, const QString&)> hook;
    return hook;
}

// The files SQLite may keep beside a database; a journal left beside the copy by a run that
// was cut off would be played back into the next copy.
const char* const kCompanions[] = {"", "-journal", "-wal", "-shm"};

struct RowCounts {
    qint64 parts = -1;
    qint64 packageTypes = -1;
};

class Compactor {
public:
    Compactor(Register& reg, FileCheckDepth depth)
        : m_reg(reg),
          m_depth(depth),
          m_path(fileBehind(reg.path())),
          m_copy(compactionCopyPath(m_path)),
          m_folder(QFileInfo(m_path).absolutePath())
    {
        m_result.copyPath = m_copy;
    }

    CompactionResult run();

private:
    bool prepare();
    bool vacuum();
    bool check();
    bool keepAttributes();
    bool flush();
    bool replace();

    bool fail(CompactionStep step, const QString& detail)
    {
        m_result.failedStep = step;
        m_result.detail = detail;
        return false;
    }
    bool injected(CompactionStep step)
    {
        if (g_failNextAt != step)
            return false;
        g_failNextAt = CompactionStep::None;
        fail(step, QStringLiteral("injected failure"));
        return true;
    }
    void beginning(CompactionStep step) const
    {
        if (stepHook())
            stepHook()(step, m_copy);
    }
    bool removeCopy();

    // A symbolic link keeps leading to the register: the file it names is compacted, in its
    // own folder, and the link itself is left alone.
    static QString fileBehind(const QString& path)
    {
        const QString target = QFileInfo(path).canonicalFilePath();
        return target.isEmpty() ? QFileInfo(path).absoluteFilePath() : target;
    }

    Register& m_reg;
    FileCheckDepth m_depth;
    QString m_path;
    QString m_copy;
    QString m_folder;
    Connection m_writeLock; // holds the register's write lock from the row count to the rename
    RowCounts m_counts;
    CompactionResult m_result;
};

std::optional<qint64> countRows(const QSqlDatabase& db, const QString& table, QString* error)
{
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("SELECT COUNT(*) FROM %1").arg(table)) || !query.next()) {
        *error = query.lastError().text();
        return std::nullopt;
    }
    return query.value(0).toLongLong();
}

std::optional<RowCounts> countAll(const QSqlDatabase& db, QString* error)
{
    const auto parts = countRows(db, QStringLiteral("client"), error);
    const auto packageTypes = parts ? countRows(db, QStringLiteral("vrYZD"), error) : parts;
    if (!packageTypes)
        return std::nullopt;
    return RowCounts{*parts, *packageTypes};
}

QString whyNotOpened(const OpenResult& result)
{
    QString why;
    switch (result.problem) {
    case OpenProblem::None:
        break;
    case OpenProblem::Missing:
        why = QStringLiteral("файла базы нет");
        break;
    case OpenProblem::CannotOpen:
        why = QStringLiteral("файл базы не открывается");
        break;
    case OpenProblem::NotADatabase:
        why = QStringLiteral("файл не является базой данных");
        break;
    case OpenProblem::Damaged:
        why = QStringLiteral("файл базы повреждён");
        break;
    case OpenProblem::ReadOnly:
        why = QStringLiteral("файл базы доступен только для чтения");
        break;
    case OpenProblem::MissingTables:
        why = QStringLiteral("в базе нет нужной таблицы или поля");
        break;
    case OpenProblem::NotATable:
        why = QStringLiteral("таблица базы — не обычная таблица");
        break;
    case OpenProblem::EngineMismatch:
        why = QStringLiteral("библиотека SQLite не совпадает с библиотекой драйвера Qt");
        break;
    case OpenProblem::Busy:
        why = QStringLiteral("файл базы занят другой программой");
        break;
    case OpenProblem::Unreachable:
    case OpenProblem::NoPassword:
        why = QStringLiteral("база хранится на сервере, а не в файле");
        break;
    }
    return result.detail.trimmed().isEmpty() ? why
                                             : why + QStringLiteral(": ") + result.detail.trimmed();
}

// A rollback journal that SQLite would play back (it starts with the journal's magic number;
// a finished one is deleted, truncated or zeroed), or a write-ahead log.
bool hasLiveJournal(const QString& path)
{
    static const QByteArray magic = QByteArray::fromHex("d9d505f920a163d7");
    QFile journal(path + QStringLiteral("-journal"));
    if (journal.open(QIODevice::ReadOnly) && journal.read(magic.size()) == magic)
        return true;
    return QFileInfo::exists(path + QStringLiteral("-wal"));
}

QString nextConnectionName()
{
    static QAtomicInteger<quint64> counter;
    return QStringLiteral("tarvik-file-check-%1").arg(counter.fetchAndAddRelaxed(1));
}

// A read-only connection of its own to a file, removed when it goes out of scope.
class CopyReader {
public:
    explicit CopyReader(const QString& path) : m_name(nextConnectionName())
    {
        QUrl url = QUrl::fromLocalFile(path);
        url.setQuery(QStringLiteral("mode=ro"));
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_URI"));
        db.setDatabaseName(url.toString(QUrl::FullyEncoded));
        if (!db.open())
            m_error = db.lastError().text();
    }
    ~CopyReader()
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

CompactionResult Compactor::run()
{
    const auto timed = [this](CompactionStep step, bool (Compactor::*run)()) {
        QElapsedTimer timer;
        timer.start();
        const bool done = (this->*run)();
        m_result.nanoseconds[size_t(step)] = timer.nsecsElapsed();
        return done;
    };
    const bool done = timed(CompactionStep::Prepare, &Compactor::prepare) &&
                      timed(CompactionStep::Vacuum, &Compactor::vacuum) &&
                      timed(CompactionStep::Check, &Compactor::check) &&
                      timed(CompactionStep::Attributes, &Compactor::keepAttributes) &&
                      timed(CompactionStep::Flush, &Compactor::flush) &&
                      timed(CompactionStep::Replace, &Compactor::replace);
    if (!done)
        m_result.copyLeftBehind = !removeCopy();
    // Nothing was written under the lock: closing rolls back an empty transaction. A writer
    // that waited now finds the old file unlinked and gets an error, not a lost success.
    m_writeLock.close();
    return m_result;
}

bool Compactor::prepare()
{
    beginning(CompactionStep::Prepare);
    m_reg.closeAll();
    if (m_reg.openConnections() != 0)
        return fail(CompactionStep::Prepare,
                    QStringLiteral("%1 connections still open").arg(m_reg.openConnections()));
    // Only a copy written now may replace the register.
    for (const char* suffix : kCompanions) {
        const QString name = m_copy + QLatin1String(suffix);
        QFile file(name);
        if (QFileInfo(name).exists() || QFileInfo(name).isSymLink()) {
            if (!file.remove())
                return fail(CompactionStep::Prepare,
                            name + QStringLiteral(": ") + file.errorString());
        }
    }
    m_result.sizeBefore = QFileInfo(m_path).size();
    return !injected(CompactionStep::Prepare);
}

bool Compactor::vacuum()
{
    // Connections of our own; the register hands out none any more. The engine refuses
    // VACUUM inside a transaction, so one connection holds the write lock and another,
    // a reader the lock lets in, writes the copy.
    const OpenResult locked = m_writeLock.open(m_path);
    if (!locked.ok())
        return fail(CompactionStep::Vacuum, whyNotOpened(locked));
    QSqlQuery begin(m_writeLock.connection());
    if (!begin.exec(QStringLiteral("BEGIN IMMEDIATE")))
        return fail(CompactionStep::Vacuum,
                    whyNotOpened({isBusyError(begin.lastError()) ? OpenProblem::Busy
                                                                 : OpenProblem::CannotOpen,
                                  engineDetail(begin.lastError())}));
    QString error;
    const auto counts = countAll(m_writeLock.connection(), &error);
    if (!counts)
        return fail(CompactionStep::Vacuum, error);
    m_counts = *counts;
    if (injected(CompactionStep::Vacuum))
        return false;

    beginning(CompactionStep::Vacuum);
    Connection source;
    const OpenResult opened = source.open(m_path);
    if (!opened.ok())
        return fail(CompactionStep::Vacuum, whyNotOpened(opened));
    QSqlQuery query(source.connection());
    query.prepare(QStringLiteral("VACUUM INTO ?"));
    query.addBindValue(m_copy);
    if (!query.exec())
        return fail(CompactionStep::Vacuum, query.lastError().text());
    return true;
}

bool Compactor::check()
{
    beginning(CompactionStep::Check);
    const FileCheck copy = checkRegisterFile(m_copy, m_depth);
    if (!copy.ok())
        return fail(CompactionStep::Check, copy.problem);
    if (copy.parts != m_counts.parts || copy.packageTypes != m_counts.packageTypes)
        return fail(CompactionStep::Check, QStringLiteral("rows client %1/%2, vrYZD %3/%4")
                                               .arg(copy.parts)
                                               .arg(m_counts.parts)
                                               .arg(copy.packageTypes)
                                               .arg(m_counts.packageTypes));
    return !injected(CompactionStep::Check);
}

bool Compactor::keepAttributes()
{
    beginning(CompactionStep::Attributes);
    if (injected(CompactionStep::Attributes))
        return false;
    // The copy takes the register's place, so it serves the same users: a register of
    // another user in a shared folder stays theirs.
    QString error;
    if (!platform::copyFileMetadata(m_path, m_copy, &error))
        return fail(CompactionStep::Attributes, error);
    return true;
}

bool Compactor::flush()
{
    beginning(CompactionStep::Flush);
    if (injected(CompactionStep::Flush))
        return false;
    QString error;
    // Contents first, then the name: a rename that reaches the disk before the data would
    // leave a register of zeros after a power cut.
    if (!platform::syncFile(m_copy, &error) || !platform::syncFolder(m_folder, &error))
        return fail(CompactionStep::Flush, error);
    m_result.sizeAfter = QFileInfo(m_copy).size();
    return true;
}

bool Compactor::replace()
{
    beginning(CompactionStep::Replace);
    if (injected(CompactionStep::Replace))
        return false;
    // A journal beside the register belongs to the old file; played back into the new one it
    // would corrupt it. Our own connection rolled back any hot journal and then closed.
    if (hasLiveJournal(m_path))
        return fail(CompactionStep::Replace,
                    QStringLiteral("a journal of the register is present"));
    QString error;
    if (!platform::replaceFile(m_copy, m_path, &error))
        return fail(CompactionStep::Replace, error);
    // The register is replaced whatever this says: after a power cut the name holds the old
    // file or the new one, each complete. It only hastens the new name to the disk.
    (void)platform::syncFolder(m_folder, &error);
    return true;
}

bool Compactor::removeCopy()
{
    bool removed = true;
    for (const char* suffix : kCompanions) {
        const QString name = m_copy + QLatin1String(suffix);
        const QFileInfo info(name);
        if (info.exists() || info.isSymLink())
            removed = QFile::remove(name) && removed;
    }
    return removed;
}

} // namespace

FileCheck checkRegisterFile(const QString& path, FileCheckDepth depth)
{
    FileCheck result;
    CopyReader file(path);
    if (!file.error().isEmpty()) {
        result.problem = file.error();
        return result;
    }
    QSqlQuery query(file.connection());
    if (!query.exec(depth == FileCheckDepth::Full ? QStringLiteral("PRAGMA integrity_check")
                                                  : QStringLiteral("PRAGMA quick_check"))) {
        result.problem = query.lastError().text();
        return result;
    }
    QStringList findings;
    while (query.next())
        findings << query.value(0).toString();
    query.finish();
    if (findings != QStringList{QStringLiteral("ok")}) {
        result.problem = findings.join(QLatin1Char(' ')).left(500);
        return result;
    }
    const auto counts = countAll(file.connection(), &result.problem);
    if (counts) {
        result.parts = counts->parts;
        result.packageTypes = counts->packageTypes;
    }
    return result;
}

QString compactionCopyPath(const QString& registerPath)
{
    return registerPath + QStringLiteral("Temp");
}

CompactionResult compactRegister(Register& reg, FileCheckDepth depth)
{
    return Compactor(reg, depth).run();
}

void failNextCompactionAt(CompactionStep step)
{
    g_failNextAt = step;
}

void setCompactionStepHook(std::function<void(CompactionStep step, const QString& copy)> hook)
{
    stepHook() = std::move(hook);
}

QString describeCompactionFailure(const QString& registerPath, const CompactionResult& result)
{
    QString reason;
    switch (result.failedStep) {
    case CompactionStep::None:
        return {};
    case CompactionStep::Prepare:
        reason = QStringLiteral("не удалось подготовить сжатие");
        break;
    case CompactionStep::Vacuum:
        reason = QStringLiteral("не удалось записать сжатую копию");
        break;
    case CompactionStep::Check:
        reason = QStringLiteral("сжатая копия не прошла проверку");
        break;
    case CompactionStep::Attributes:
        reason = QStringLiteral("сжатой копии не удалось дать владельца и права доступа файла "
                                "базы");
        break;
    case CompactionStep::Flush:
        reason = QStringLiteral("не удалось сохранить сжатую копию на диск");
        break;
    case CompactionStep::Replace:
        reason = QStringLiteral("не удалось поставить сжатую копию на место базы");
        break;
    }
    QString text =
        withDetail(QStringLiteral("База данных не сжата: ") + reason, engineDetail(result.detail)) +
        QStringLiteral(". Файл «%1» остался прежним.").arg(registerPath);
    if (result.copyLeftBehind)
        text += QStringLiteral(" Файл «%1» удалить не удалось.")
                    .arg(result.copyPath.isEmpty() ? compactionCopyPath(registerPath)
                                                   : result.copyPath);
    return text;
}

} // namespace tarvik

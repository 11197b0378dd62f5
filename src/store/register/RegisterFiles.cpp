#include "store/register/RegisterFiles.h"

#include "store/register/Platform.h"

#include <QAtomicInteger>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>

namespace tarvik {
namespace {

// The files SQLite may keep beside a database.
const char* const kCompanions[] = {"", "-journal", "-wal", "-shm"};

std::optional<qint64> countRows(const QSqlDatabase& db, const QString& table, QString* error)
{
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("SELECT COUNT(*) FROM %1").arg(table)) || !query.next()) {
        *error = query.lastError().text();
        return std::nullopt;
    }
    return query.value(0).toLongLong();
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

} // namespace

std::optional<RowCounts> countRegisterRows(const QSqlDatabase& db, QString* error)
{
    const auto parts = countRows(db, QStringLiteral("client"), error);
    const auto packageTypes = parts ? countRows(db, QStringLiteral("vrYZD"), error) : parts;
    if (!packageTypes)
        return std::nullopt;
    return RowCounts{*parts, *packageTypes};
}

FileReader::FileReader(const QString& path) : m_name(nextConnectionName())
{
    QUrl url = QUrl::fromLocalFile(path);
    url.setQuery(QStringLiteral("mode=ro"));
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
    db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_URI"));
    db.setDatabaseName(url.toString(QUrl::FullyEncoded));
    if (!db.open())
        m_error = db.lastError().text();
}

FileReader::~FileReader()
{
    {
        QSqlDatabase db = connection();
        db.close();
    }
    QSqlDatabase::removeDatabase(m_name);
}

FileCheck checkRegisterFile(const QString& path, FileCheckDepth depth)
{
    FileCheck result;
    FileReader file(path);
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
    const auto counts = countRegisterRows(file.connection(), &result.problem);
    if (counts) {
        result.parts = counts->parts;
        result.packageTypes = counts->packageTypes;
    }
    return result;
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

QString WriteLock::take(const QString& path, RowCounts* counts)
{
    const OpenResult locked = m_db.open(path);
    if (!locked.ok())
        return whyNotOpened(locked);
    QSqlQuery begin(m_db.connection());
    if (!begin.exec(QStringLiteral("BEGIN IMMEDIATE")))
        return whyNotOpened(
            {isBusyError(begin.lastError()) ? OpenProblem::Busy : OpenProblem::CannotOpen,
             engineDetail(begin.lastError())});
    QString error;
    const auto counted = countRegisterRows(m_db.connection(), &error);
    if (!counted)
        return error;
    *counts = *counted;
    return {};
}

QString fileBehind(const QString& path)
{
    const QString target = QFileInfo(path).canonicalFilePath();
    return target.isEmpty() ? QFileInfo(path).absoluteFilePath() : target;
}

bool removeWithCompanions(const QString& path, QString* error)
{
    bool removed = true;
    for (const char* suffix : kCompanions) {
        const QString name = path + QLatin1String(suffix);
        const QFileInfo info(name);
        if (!info.exists() && !info.isSymLink())
            continue;
        QFile file(name);
        if (!file.remove()) {
            if (error && removed)
                *error = name + QStringLiteral(": ") + file.errorString();
            removed = false;
        }
    }
    return removed;
}

bool flushNewFile(const QString& path, QString* error)
{
    return platform::syncFile(path, error) &&
           platform::syncFolder(QFileInfo(path).absolutePath(), error);
}

bool putInRegistersPlace(const QString& copy, const QString& path, QString* error)
{
    // Our own connections rolled back any hot journal and then closed.
    if (hasLiveJournal(path)) {
        *error = QStringLiteral("a journal of the register is present");
        return false;
    }
    if (!platform::replaceFile(copy, path, error))
        return false;
    // The register is replaced whatever this says: after a power cut the name holds the old
    // file or the new one, each complete. It only hastens the new name to the disk.
    QString ignored;
    (void)platform::syncFolder(QFileInfo(path).absolutePath(), &ignored);
    return true;
}

} // namespace tarvik

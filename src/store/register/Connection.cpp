#include "store/register/Connection.h"

#include "store/register/Dialect.h"
#include "store/register/FileKind.h"
#include "store/register/JournalSchema.h"
#include "store/register/Register.h"
#include "store/text/SqlFunctions.h"

#include <QAtomicInteger>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QUrl>
#include <QUrlQuery>

#include <utility>

namespace tarvik {
namespace {

// SQLite's primary result codes, as the driver reports them in nativeErrorCode().
constexpr int kSqliteBusy = 5;
constexpr int kSqliteLocked = 6;
constexpr int kSqliteCorrupt = 11;
constexpr int kSqliteCantOpen = 14;
constexpr int kSqliteNotADb = 26;

constexpr int kBusyTimeoutMs = 2000;

QString nextConnectionName()
{
    static QAtomicInteger<quint64> counter;
    return QStringLiteral("tarvik-%1").arg(counter.fetchAndAddRelaxed(1));
}

OpenProblem problemOf(const QSqlError& error)
{
    switch (error.nativeErrorCode().toInt() & 0xff) {
    case kSqliteNotADb:
        return OpenProblem::NotADatabase;
    case kSqliteCorrupt:
        return OpenProblem::Damaged;
    case kSqliteBusy:
    case kSqliteLocked:
        return OpenProblem::Busy;
    default:
        return OpenProblem::CannotOpen;
    }
}

// Whether `name` in the main schema is an ordinary table with row ids: not a view, not a
// virtual table, not WITHOUT ROWID.
bool isPlainTable(const QSqlDatabase& db, const QString& name)
{
    QSqlQuery query(db);
    if (query.exec(QStringLiteral("PRAGMA main.table_list"))) {
        const int nameField = query.record().indexOf(QStringLiteral("name"));
        const int typeField = query.record().indexOf(QStringLiteral("type"));
        const int withoutRowId = query.record().indexOf(QStringLiteral("wr"));
        while (query.next()) {
            if (query.value(nameField).toString().compare(name, Qt::CaseInsensitive) == 0)
                return query.value(typeField).toString() == QLatin1String("table") &&
                       query.value(withoutRowId).toInt() == 0;
        }
        return false;
    }
    // An engine older than table_list (3.37): the schema's own words.
    query.prepare(
        QStringLiteral("SELECT type, sql FROM sqlite_master WHERE name = ? COLLATE NOCASE"));
    query.addBindValue(name);
    if (!query.exec() || !query.next())
        return false;
    const QString sql = query.value(1).toString().simplified().toUpper();
    return query.value(0).toString() == QLatin1String("table") &&
           !sql.startsWith(QLatin1String("CREATE VIRTUAL")) &&
           !sql.contains(QLatin1String("WITHOUT ROWID"));
}

} // namespace

Connection::Connection() : m_connectionName(nextConnectionName()) {}

Connection::~Connection()
{
    close();
}

QSqlDatabase Connection::connection() const
{
    QSqlDatabase db = QSqlDatabase::database(m_connectionName, false);
    if (m_lost && m_server && db.isValid()) {
        db.close();
        if (!m_password.isEmpty())
            db.setPassword(m_password);
        m_lost = !(db.open() && startSession(db));
        db.setPassword(QString());
    }
    return db;
}

bool Connection::isOpen() const
{
    return QSqlDatabase::contains(m_connectionName) && connection().isOpen();
}

OpenResult Connection::open(const QString& path)
{
    return open(path, true);
}

OpenResult Connection::open(const QString& path, bool verifyFile)
{
    close();
    m_server.reset();
    m_path = path;
    // The engine would open a pipe and wait on its first read for ever (holding the
    // program's lock meanwhile); a folder or device is no register either.
    switch (const FileKind kind = fileKindAt(path)) {
    case FileKind::Missing:
        return {OpenProblem::Missing, {}};
    case FileKind::Regular:
        break;
    case FileKind::Directory:
    case FileKind::Link:
    case FileKind::Other:
        return {OpenProblem::CannotOpen, notAFile(kind)};
    }

    QUrl url = QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath());
    url.setQuery(QStringLiteral("mode=rw"));

    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connectionName);
    // Another program's lock is waited for about two seconds, not Qt's five: then the
    // window says the register is busy instead of freezing.
    db.setConnectOptions(
        QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=%1").arg(kBusyTimeoutMs));
    db.setDatabaseName(url.toString(QUrl::FullyEncoded));
    if (!db.open()) {
        const QSqlError error = db.lastError();
        const int code = error.nativeErrorCode().toInt() & 0xff;
        return {code == kSqliteCantOpen ? OpenProblem::CannotOpen : problemOf(error),
                engineDetail(error)};
    }
    if (!registerSqlFunctions(db))
        return {OpenProblem::EngineMismatch, {}};
    return verifyFile ? verify() : OpenResult{};
}

OpenResult Connection::verify()
{
    QSqlDatabase db = connection();
    QSqlQuery query(db);
    // The first real read is where a foreign or truncated file shows itself.
    if (!query.exec(QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table'")))
        return {problemOf(query.lastError()), engineDetail(query.lastError())};
    query.finish();

    for (const RegisterTable& table : registerTables()) {
        const QString name = QLatin1String(table.name);
        if (!query.exec(QStringLiteral("PRAGMA table_info(%1)").arg(name)))
            return {problemOf(query.lastError()), engineDetail(query.lastError())};
        QStringList present;
        while (query.next())
            present << query.value(1).toString().toLower();
        query.finish();
        if (present.isEmpty())
            return {OpenProblem::MissingTables, name};
        for (const QString& field : table.fields) {
            if (!present.contains(field.toLower()))
                return {OpenProblem::MissingTables, name + QLatin1Char('.') + field};
        }
        // A view shows its fields like a table but its rows have no row id and take no
        // changes: the list would show blank rows and every save would fail.
        if (!isPlainTable(db, name))
            return {OpenProblem::NotATable, name};
    }
    if (isReadOnly(db))
        return {OpenProblem::ReadOnly, {}};
    return {};
}

bool Connection::keepsJournal() const
{
    if (!m_keepsJournal && isOpen())
        m_keepsJournal = hasJournal(connection());
    return m_keepsJournal.value_or(false);
}

void Connection::close()
{
    m_lost = false;
    m_keepsJournal.reset();
    m_serverProcess = 0;
    if (Register* owner = std::exchange(m_owner, nullptr))
        owner->forget(this);
    if (!QSqlDatabase::contains(m_connectionName))
        return;
    {
        QSqlDatabase db = QSqlDatabase::database(m_connectionName, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(m_connectionName);
}

bool isDamageError(const QSqlError& error)
{
    if (!sqlState(error).isEmpty())
        return false; // the server keeps its own storage whole
    const int code = error.nativeErrorCode().toInt() & 0xff;
    return error.isValid() && (code == kSqliteCorrupt || code == kSqliteNotADb);
}

bool isBusyError(const QSqlError& error)
{
    if (!sqlState(error).isEmpty())
        return isServerBusy(error);
    const int code = error.nativeErrorCode().toInt() & 0xff;
    return error.isValid() && (code == kSqliteBusy || code == kSqliteLocked);
}

void Connection::noteError(const QSqlError& error) const
{
    if (m_server && isConnectionLost(error))
        m_lost = true;
    if (m_owner)
        m_owner->noteError(error);
}

bool Connection::writesRefused() const
{
    return m_owner && m_owner->writesRefused();
}

void Connection::aboutToWrite() const
{
    if (m_owner)
        m_owner->announceWrite();
}

void Connection::partChanged(const NameChange& change) const
{
    if (m_owner)
        m_owner->announcePartChange(change);
}

QString engineDetail(const QString& text)
{
    constexpr qsizetype kMaxDetail = 100;
    QString line = text.section(QLatin1Char('\n'), 0, 0).simplified();
    // A statement quoted in a message tells the user nothing and can run for pages.
    static const QRegularExpression statement(
        QStringLiteral("\\b(CREATE|INSERT|UPDATE|DELETE|SELECT|ALTER|DROP|PRAGMA)\\s.*$"),
        QRegularExpression::CaseInsensitiveOption);
    line.remove(statement);
    line = line.trimmed();
    while (line.endsWith(QLatin1Char(':')))
        line.chop(1);
    if (line.size() > kMaxDetail)
        line = line.left(kMaxDetail - 1).trimmed() + QChar(0x2026);
    return line;
}

QString engineDetail(const QSqlError& error)
{
    if (!error.isValid())
        return {};
    return engineDetail(error.databaseText().isEmpty() ? error.driverText() : error.databaseText());
}

QString describeFailure(const QSqlError& error)
{
    if (!sqlState(error).isEmpty() || isConnectionLost(error)) {
        const QString what =
            isConnectionLost(error)
                ? QStringLiteral("связь с сервером базы данных прервана, ничего не записано; "
                                 "повторите действие")
            : isServerBusy(error)
                ? QStringLiteral("сервер базы данных не дождался освобождения записи; повторите "
                                 "действие")
                : QStringLiteral("ошибка сервера базы данных");
        return withDetail(what, engineDetail(error));
    }
    const QString what = isBusyError(error)
                             ? QStringLiteral("файл базы данных занят другой программой")
                         : isDamageError(error) ? QStringLiteral("файл базы данных повреждён")
                                                : QStringLiteral("ошибка базы данных");
    return withDetail(what, engineDetail(error));
}

QString withDetail(const QString& sentence, const QString& detail)
{
    if (detail.isEmpty())
        return sentence;
    QString text = sentence;
    const bool stop = text.endsWith(QLatin1Char('.'));
    if (stop)
        text.chop(1);
    return text + QStringLiteral(" (") + detail + QLatin1Char(')') + (stop ? "." : "");
}

QString describeBusy(const QString& path)
{
    return QStringLiteral("Файл базы данных «%1» сейчас занят другой программой. На экране то, "
                          "что было прочитано раньше; повторите действие позже.")
        .arg(path);
}

QString describeDamage(const QString& path, const QString& detail)
{
    return withDetail(QStringLiteral("Файл базы данных «%1» повреждён.").arg(path),
                      engineDetail(detail)) +
           QStringLiteral(" Изменения больше не сохраняются: закройте программу и "
                          "восстановите файл из резервной копии.");
}

QString describeOpenProblem(const QString& path, const OpenResult& result)
{
    const QString file = QStringLiteral("«%1»").arg(path);
    switch (result.problem) {
    case OpenProblem::None:
        return {};
    case OpenProblem::Missing:
        return QStringLiteral("Файл базы данных %1 не найден. Список деталей будет пуст.")
            .arg(file);
    case OpenProblem::CannotOpen:
        return withDetail(QStringLiteral("Не удаётся открыть файл базы данных %1.").arg(file),
                          engineDetail(result.detail)) +
               QStringLiteral(" Список деталей будет пуст.");
    case OpenProblem::NotADatabase:
        return QStringLiteral("Файл %1 не является базой данных. Список деталей будет пуст.")
            .arg(file);
    case OpenProblem::Damaged:
        return QStringLiteral("Файл базы данных %1 повреждён. Список деталей может быть неполным; "
                              "изменения не будут сохраняться.")
            .arg(file);
    case OpenProblem::ReadOnly:
        return QStringLiteral("Файл базы данных %1 доступен только для чтения: изменения не будут "
                              "сохранены.")
            .arg(file);
    case OpenProblem::MissingTables:
        return QStringLiteral("В базе данных %1 нет нужной таблицы или поля (%2). Список деталей "
                              "будет пуст.")
            .arg(file, result.detail);
    case OpenProblem::NotATable:
        return QStringLiteral("В базе данных %1 «%2» — не обычная таблица (представление или "
                              "виртуальная таблица): её строки нельзя ни показать, ни изменить. "
                              "Список деталей будет пуст.")
            .arg(file, result.detail);
    case OpenProblem::EngineMismatch:
        return QStringLiteral("Библиотека SQLite программы не совпадает с библиотекой драйвера Qt; "
                              "файл %1 не открыт.")
            .arg(file);
    case OpenProblem::Busy:
        return describeBusy(path);
    case OpenProblem::Unreachable:
    case OpenProblem::NoPassword:
        return describeServerOpenProblem(path, result);
    }
    return {};
}

} // namespace tarvik

#include "store/Database.h"

#include "store/Register.h"
#include "store/SqlFunctions.h"

#include <QAtomicInteger>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>
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

struct RequiredTable {
    const char* name;
    QStringList fields;
};

const RequiredTable kRequiredTables[] = {
    {"client", {"idnom", "kont", "idFam", "pol", "datebir", "phone", "sorp", "PhotoN", "idFamKey"}},
    {"vrYZD", {"IDvrachYZD", "yzdID", "vrachYZD", "name1", "Photo1"}},
};

} // namespace

Database::Database() : m_connectionName(nextConnectionName()) {}

Database::~Database()
{
    close();
}

QSqlDatabase Database::connection() const
{
    return QSqlDatabase::database(m_connectionName, false);
}

bool Database::isOpen() const
{
    return QSqlDatabase::contains(m_connectionName) && connection().isOpen();
}

OpenResult Database::open(const QString& path)
{
    return open(path, true);
}

OpenResult Database::open(const QString& path, bool verifyFile)
{
    close();
    m_path = path;
    if (!QFileInfo::exists(path))
        return {OpenProblem::Missing, {}};

    QUrl url = QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath());
    url.setQuery(QStringLiteral("mode=rw"));

    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connectionName);
    // Another program's lock is waited for about two seconds, not Qt's five: then the
    // window says the register is busy instead of freezing.
    db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=%1")
                             .arg(kBusyTimeoutMs));
    db.setDatabaseName(url.toString(QUrl::FullyEncoded));
    if (!db.open()) {
        const QSqlError error = db.lastError();
        const int code = error.nativeErrorCode().toInt() & 0xff;
        return {code == kSqliteCantOpen ? OpenProblem::CannotOpen : problemOf(error),
                error.driverText() + QLatin1Char(' ') + error.databaseText()};
    }
    if (!registerSqlFunctions(db))
        return {OpenProblem::EngineMismatch, {}};
    return verifyFile ? verify() : OpenResult{};
}

OpenResult Database::verify()
{
    QSqlDatabase db = connection();
    QSqlQuery query(db);
    // The first real read is where a foreign or truncated file shows itself.
    if (!query.exec(QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table'")))
        return {problemOf(query.lastError()), query.lastError().databaseText()};
    query.finish();

    for (const RequiredTable& table : kRequiredTables) {
        const QString name = QLatin1String(table.name);
        if (!query.exec(QStringLiteral("PRAGMA table_info(%1)").arg(name)))
            return {problemOf(query.lastError()), query.lastError().databaseText()};
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
    }
    if (isReadOnly(db))
        return {OpenProblem::ReadOnly, {}};
    return {};
}

void Database::close()
{
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
    const int code = error.nativeErrorCode().toInt() & 0xff;
    return error.isValid() && (code == kSqliteCorrupt || code == kSqliteNotADb);
}

bool isBusyError(const QSqlError& error)
{
    const int code = error.nativeErrorCode().toInt() & 0xff;
    return error.isValid() && (code == kSqliteBusy || code == kSqliteLocked);
}

void Database::noteError(const QSqlError& error) const
{
    if (m_owner)
        m_owner->noteError(error);
}

bool Database::writesRefused() const
{
    return m_owner && m_owner->writesRefused();
}

void Database::aboutToWrite() const
{
    if (m_owner)
        m_owner->announceWrite();
}

void Database::partChanged(const NameChange& change) const
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
    return engineDetail(error.databaseText().isEmpty() ? error.driverText()
                                                       : error.databaseText());
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
    return QStringLiteral("Файл базы данных «%1» повреждён (%2). Изменения больше не "
                          "сохраняются: закройте программу и восстановите файл из резервной "
                          "копии.")
        .arg(path, detail.trimmed());
}

QString describeOpenProblem(const QString& path, const OpenResult& result)
{
    const QString file = QStringLiteral("«%1»").arg(path);
    switch (result.problem) {
    case OpenProblem::None:
        return {};
    case OpenProblem::Missing:
        return QStringLiteral("Файл базы данных %1 не найден. Список деталей будет пуст.").arg(file);
    case OpenProblem::CannotOpen:
        return QStringLiteral("Не удаётся открыть файл базы данных %1 (%2). Список деталей будет пуст.")
            .arg(file, result.detail.trimmed());
    case OpenProblem::NotADatabase:
        return QStringLiteral("Файл %1 не является базой данных. Список деталей будет пуст.").arg(file);
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
    case OpenProblem::EngineMismatch:
        return QStringLiteral("Библиотека SQLite программы не совпадает с библиотекой драйвера Qt; "
                              "файл %1 не открыт.")
            .arg(file);
    case OpenProblem::Busy:
        return describeBusy(path);
    }
    return {};
}

} // namespace tarvik

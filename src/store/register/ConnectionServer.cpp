#include "store/register/Connection.h"

#include "store/register/Dialect.h"

#include <QSqlQuery>

namespace tarvik {
namespace {

const char* const kServerDriver = "QPSQL";

// No statement waits for ever on another computer's lock or a stuck server: the action is
// refused and may be tried again.
constexpr int kStatementLimitMs = 10000;
constexpr int kLockLimitMs = 4000;

// What libpq says when the server asks for a password and none was found or given.
bool wantsPassword(const QSqlError& error)
{
    const QString text = error.databaseText() + QLatin1Char(' ') + error.driverText();
    return text.contains(QLatin1String("no password supplied"), Qt::CaseInsensitive);
}

struct ServerTable {
    const char* name;
    QStringList fields;
};

// The server keeps every name in lower case (server-tables.sql).
const ServerTable kServerTables[] = {
    {"client", {"idnom", "kont", "idfam", "pol", "datebir", "phone", "sorp", "photon", "idfamkey"}},
    {"vryzd", {"idvrachyzd", "yzdid", "vrachyzd", "name1", "photo1"}},
};

} // namespace

void Connection::setStatementLimit(int ms)
{
    m_statementLimitMs = ms;
    QSqlDatabase db = QSqlDatabase::database(m_connectionName, false);
    if (m_server && db.isOpen())
        startSession(db);
}

bool Connection::startSession(QSqlDatabase& db) const
{
    QSqlQuery query(db);
    query.setForwardOnly(true);
    const bool ok =
        query.exec(QStringLiteral("SET statement_timeout = %1").arg(m_statementLimitMs)) &&
        query.exec(QStringLiteral("SET lock_timeout = %1").arg(kLockLimitMs)) &&
        query.exec(QStringLiteral("SELECT pg_backend_pid()")) && query.next();
    m_serverProcess = ok ? query.value(0).toLongLong() : 0;
    return ok;
}

OpenResult Connection::open(const ServerAddress& address, const QString& password)
{
    return open(address, password, true);
}

OpenResult Connection::open(const ServerAddress& address, const QString& password, bool verify)
{
    close();
    m_server = address;
    m_password = password;
    m_path = address.display();
    m_statementLimitMs = kStatementLimitMs;
    if (!QSqlDatabase::isDriverAvailable(QLatin1String(kServerDriver)))
        return {OpenProblem::Unreachable, address.driverMissing()};
    QSqlDatabase db = QSqlDatabase::addDatabase(QLatin1String(kServerDriver), m_connectionName);
    // The password stays in this object's memory only, not on the connection's settings.
    if (!address.openOn(db, password)) {
        const QSqlError error = db.lastError();
        if (wantsPassword(error))
            return {OpenProblem::NoPassword, engineDetail(error)};
        return {OpenProblem::Unreachable,
                withDetail(QStringLiteral("Не удаётся подключиться к серверу %1.").arg(m_path),
                           engineDetail(error))};
    }
    if (!startSession(db))
        return {OpenProblem::CannotOpen, engineDetail(QSqlQuery(db).lastError())};
    return verify ? verifyServer() : OpenResult{};
}

OpenResult Connection::verifyServer()
{
    QSqlDatabase db = connection();
    QSqlQuery query(db);
    query.setForwardOnly(true);
    for (const ServerTable& table : kServerTables) {
        const QString name = QLatin1String(table.name);
        query.prepare(
            QStringLiteral("SELECT c.column_name, t.table_type FROM information_schema.columns c "
                           "JOIN information_schema.tables t ON t.table_schema = c.table_schema "
                           "AND t.table_name = c.table_name "
                           "WHERE c.table_schema = current_schema() AND c.table_name = ?"));
        query.addBindValue(name);
        if (!query.exec())
            return {OpenProblem::CannotOpen, engineDetail(query.lastError())};
        QStringList present;
        bool plain = true;
        while (query.next()) {
            present << query.value(0).toString().toLower();
            plain = plain && query.value(1).toString() == QLatin1String("BASE TABLE");
        }
        query.finish();
        if (present.isEmpty())
            return {OpenProblem::MissingTables, name};
        for (const QString& field : table.fields) {
            if (!present.contains(field))
                return {OpenProblem::MissingTables, name + QLatin1Char('.') + field};
        }
        if (!plain)
            return {OpenProblem::NotATable, name};
    }
    if (!query.exec(QStringLiteral("SELECT has_table_privilege('client', 'INSERT, UPDATE, DELETE') "
                                   "AND has_table_privilege('vryzd', 'INSERT, UPDATE, DELETE')")) ||
        !query.next())
        return {OpenProblem::CannotOpen, engineDetail(query.lastError())};
    if (!query.value(0).toBool())
        return {OpenProblem::ReadOnly, {}};
    return {};
}

QString describeServerOpenProblem(const QString& server, const OpenResult& result)
{
    const QString where = QStringLiteral("«%1»").arg(server);
    switch (result.problem) {
    case OpenProblem::None:
        return {};
    case OpenProblem::Unreachable:
        return result.detail;
    case OpenProblem::NoPassword:
        return withDetail(QStringLiteral("Сервер %1 требует пароль, а он не задан.").arg(where),
                          result.detail);
    case OpenProblem::ReadOnly:
        return QStringLiteral("На сервере %1 базу данных можно только читать: изменения не будут "
                              "сохранены.")
            .arg(where);
    case OpenProblem::MissingTables:
        return QStringLiteral("В базе данных на сервере %1 нет нужной таблицы или поля (%2). "
                              "Список деталей будет пуст.")
            .arg(where, result.detail);
    case OpenProblem::NotATable:
        return QStringLiteral("В базе данных на сервере %1 «%2» — не обычная таблица. Список "
                              "деталей будет пуст.")
            .arg(where, result.detail);
    case OpenProblem::Busy:
        return QStringLiteral("База данных на сервере %1 сейчас занята. На экране то, что было "
                              "прочитано раньше; повторите действие позже.")
            .arg(where);
    default:
        return withDetail(
            QStringLiteral("Не удаётся открыть базу данных на сервере %1.").arg(where),
            engineDetail(result.detail));
    }
}

} // namespace tarvik

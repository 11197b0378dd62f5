#include "store/register/Dialect.h"

#include <QSqlQuery>

#include <QSqlDriver>
#include <QSqlField>

namespace tarvik {

Engine engineOf(const QSqlDatabase& db)
{
    return db.driverName() == QLatin1String("QPSQL") ? Engine::Server : Engine::File;
}

QString keyColumn(const QString& table, Engine engine)
{
    if (engine == Engine::File)
        return QStringLiteral("rowid");
    return table.compare(QLatin1String("vrYZD"), Qt::CaseInsensitive) == 0
               ? QStringLiteral("IDvrachYZD")
               : QStringLiteral("idnom");
}

const QList<RegisterTable>& registerTables()
{
    static const QList<RegisterTable> tables = {
        {"client",
         {"idnom", "kont", "idFam", "pol", "datebir", "phone", "sorp", "PhotoN", "idFamKey"}},
        {"vrYZD", {"IDvrachYZD", "yzdID", "vrachYZD", "name1", "Photo1"}},
    };
    return tables;
}

QSqlRecord tableRecord(const QSqlDatabase& db, const QString& table)
{
    if (!onServer(db))
        return db.record(table);
    // The server's driver looks the table up by the name as stored.
    QSqlRecord record = db.record(table.toLower());
    for (const RegisterTable& known : registerTables()) {
        if (table.compare(QLatin1String(known.name), Qt::CaseInsensitive) != 0)
            continue;
        for (int i = 0; i < record.count(); ++i) {
            for (const QString& name : known.fields) {
                if (record.fieldName(i).compare(name, Qt::CaseInsensitive) == 0) {
                    QSqlField field = record.field(i);
                    field.setName(name);
                    record.replace(i, field);
                }
            }
        }
    }
    return record;
}

QString quotedField(const QSqlDatabase& db, const QString& field)
{
    return db.driver()->escapeIdentifier(onServer(db) ? field.toLower() : field,
                                         QSqlDriver::FieldName);
}

QString beginWriteSql(Engine engine)
{
    return engine == Engine::File ? QStringLiteral("BEGIN IMMEDIATE") : QStringLiteral("BEGIN");
}

QString lockForUpdate(Engine engine)
{
    return engine == Engine::File ? QString() : QStringLiteral(" FOR UPDATE");
}

QString sqlState(const QSqlError& error)
{
    const QString code = error.nativeErrorCode();
    return code.size() == 5 ? code : QString();
}

bool isServerBusy(const QSqlError& error)
{
    const QString state = sqlState(error);
    return state == QLatin1String("55P03")     // lock_not_available (lock_timeout)
           || state == QLatin1String("57014")  // query_canceled (statement_timeout)
           || state == QLatin1String("40001")  // serialization_failure
           || state == QLatin1String("40P01"); // deadlock_detected
}

bool isConnectionLost(const QSqlError& error)
{
    if (!error.isValid() || error.type() == QSqlError::NoError)
        return false;
    const QString state = sqlState(error);
    if (state.startsWith(QLatin1String("08")) || state == QLatin1String("57P01") ||
        state == QLatin1String("57P02") || state == QLatin1String("57P03"))
        return true;
    // libpq reports a dropped socket without a state of its own.
    if (!state.isEmpty() || error.type() == QSqlError::NoError)
        return false;
    const QString text = error.databaseText() + QLatin1Char(' ') + error.driverText();
    return text.contains(QLatin1String("server closed the connection"), Qt::CaseInsensitive) ||
           text.contains(QLatin1String("no connection to the server"), Qt::CaseInsensitive) ||
           text.contains(QLatin1String("connection to server"), Qt::CaseInsensitive) ||
           text.contains(QLatin1String("terminating connection"), Qt::CaseInsensitive);
}

bool cancelServerStatement(const QSqlDatabase& db, qint64 process, QSqlError* error)
{
    QSqlQuery query(db);
    query.prepare(QStringLiteral("SELECT pg_cancel_backend(?)"));
    query.addBindValue(process);
    if (query.exec())
        return true;
    if (error)
        *error = query.lastError();
    return false;
}

} // namespace tarvik

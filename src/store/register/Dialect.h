#pragma once

#include <QList>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlRecord>
#include <QString>
#include <QStringList>

namespace tarvik {

// The two engines a register lives in: the file (SQLite) and a PostgreSQL server. Statements
// that differ between them ask here rather than spell either engine's words themselves.
enum class Engine { File, Server };

Engine engineOf(const QSqlDatabase& db);
inline bool onServer(const QSqlDatabase& db)
{
    return engineOf(db) == Engine::Server;
}

// The column that names a row for ever: the file's row id, the server's identity column.
QString keyColumn(const QString& table, Engine engine);
inline QString keyColumn(const QString& table, const QSqlDatabase& db)
{
    return keyColumn(table, engineOf(db));
}

// The register's tables and the fields the program needs, as it spells them.
struct RegisterTable {
    const char* name;
    QStringList fields;
};
const QList<RegisterTable>& registerTables();
// The fields of `table`, named as the program spells them on either engine: the server folds
// the unquoted names its tables were created with to lower case, and shown as they are they
// would reach column headers and readers.
QSqlRecord tableRecord(const QSqlDatabase& db, const QString& table);
// A field of tableRecord() quoted for a statement, as the engine stores its name.
QString quotedField(const QSqlDatabase& db, const QString& field);

// The begin of a write transaction. The file takes its write lock at once (IMMEDIATE); the
// server locks rows as they are read for update.
QString beginWriteSql(Engine engine);
// " FOR UPDATE" on the server, where a read that a write depends on must lock its row.
QString lockForUpdate(Engine engine);

// A server's error: its SQLSTATE (five characters; the file's codes are numbers of at most
// four digits). Empty for the file's errors and for errors without one.
QString sqlState(const QSqlError& error);
// The server gave up waiting (statement_timeout, lock_timeout) or chose this transaction to
// give way (deadlock, serialisation): the same action may succeed when tried again.
bool isServerBusy(const QSqlError& error);
// The connection to the server is gone (the server stopped, the network failed).
bool isConnectionLost(const QSqlError& error);
// Asks the server, through `db`, to cancel the statement the session of `process`
// (pg_backend_pid) is running: the driver cannot interrupt its own. False when it was not
// asked (the engine's words in `error`).
bool cancelServerStatement(const QSqlDatabase& db, qint64 process, QSqlError* error = nullptr);

} // namespace tarvik

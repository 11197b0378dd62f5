#include "store/server/ServerSchema.h"

#include "store/register/JournalSchema.h"
#include "store/register/ServerFunctions.h"

#include <QFile>
#include <QSqlQuery>
#include <QVariant>

// The schema is a resource of a static library: it must be pulled in explicitly.
static void initServerResources()
{
    Q_INIT_RESOURCE(server);
}

namespace tarvik {
namespace {

SchemaResult runScript(const QSqlDatabase& db, const QString& resource)
{
    initServerResources();
    QFile file(resource);
    if (!file.open(QIODevice::ReadOnly))
        return {false, QSqlError(QStringLiteral("в программе нет описания таблиц сервера"), {},
                                 QSqlError::UnknownError)};
    // Without bound values the server takes several statements in one go, function bodies
    // and all.
    QSqlQuery query(db);
    if (!query.exec(QString::fromUtf8(file.readAll())))
        return {false, query.lastError()};
    return {};
}

} // namespace

bool serverHoldsRegister(const QSqlDatabase& db, bool* holds, QSqlError* error)
{
    QSqlQuery query(db);
    query.setForwardOnly(true);
    query.prepare(QStringLiteral(
        "SELECT count(*) FROM pg_catalog.pg_class c JOIN pg_catalog.pg_namespace s "
        "ON s.oid = c.relnamespace WHERE s.nspname = current_schema() "
        "AND c.relname IN ('client', 'vryzd', 'clientkontcount', 'clientnamechanges')"));
    if (!query.exec() || !query.next()) {
        if (error)
            *error = query.lastError();
        return false;
    }
    *holds = query.value(0).toLongLong() > 0;
    return true;
}

SchemaResult createServerTables(const QSqlDatabase& db)
{
    SchemaResult made = runScript(db, QStringLiteral(":/store/server/server-tables.sql"));
    if (made.ok && !createJournalTables(db, &made.error))
        made.ok = false;
    return made;
}

SchemaResult createServerTriggers(const QSqlDatabase& db)
{
    SchemaResult made;
    if (!createServerFunctions(db, &made.error)) {
        made.ok = false;
        return made;
    }
    made = runScript(db, QStringLiteral(":/store/server/server-triggers.sql"));
    if (made.ok && !createJournalTriggers(db, &made.error))
        made.ok = false;
    return made;
}

} // namespace tarvik

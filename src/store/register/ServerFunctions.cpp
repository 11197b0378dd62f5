#include "store/register/ServerFunctions.h"

#include "store/register/JournalSchema.h"

#include <QFile>
#include <QSqlQuery>
#include <QVariant>

// The statements are resources of a static library: pulled in explicitly.
static void initFunctionResources()
{
    Q_INIT_RESOURCE(store);
}

namespace tarvik {

bool createServerFunctions(const QSqlDatabase& db, QSqlError* error)
{
    initFunctionResources();
    QFile file(QStringLiteral(":/store/server-functions.sql"));
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QSqlError(QStringLiteral("в программе нет описания функций сервера"), {},
                               QSqlError::UnknownError);
        return false;
    }
    // Without bound values the server takes several statements in one go, function bodies
    // and all.
    QSqlQuery query(db);
    if (!query.exec(QString::fromUtf8(file.readAll()))) {
        if (error)
            *error = query.lastError();
        return false;
    }
    return !hasJournal(db) || createJournalTriggers(db, error);
}

bool serverFunctionsCurrent(const QSqlDatabase& db)
{
    // Every function either script makes, by the test this build's put first; one that is
    // missing (a register without a journal) is no earlier one.
    QSqlQuery query(db);
    query.setForwardOnly(true);
    return query.exec(QStringLiteral(
               "SELECT count(*) FROM pg_catalog.pg_proc p JOIN pg_catalog.pg_namespace s "
               "ON s.oid = p.pronamespace WHERE s.nspname = current_schema() AND p.proname IN "
               "('tarvik_client_kont_count', 'tarvik_client_name_changes', "
               "'tarvik_notify_parts', 'tarvik_notify_types', 'tarvik_client_journal', "
               "'tarvik_minimum_journal', 'tarvik_journal_names') "
               "AND strpos(p.prosrc, 'tarvik.restoring') = 0")) &&
           query.next() && query.value(0).toLongLong() == 0;
}

bool ensureServerFunctions(const QSqlDatabase& db, QSqlError* error)
{
    if (serverFunctionsCurrent(db))
        return true;
    QSqlQuery query(db);
    const auto failed = [&](const QSqlError& met) {
        if (error)
            *error = met;
        query.finish();
        query.exec(QStringLiteral("ROLLBACK"));
        return false;
    };
    // Two programs opening an earlier register at once: one replaces, the other waits and
    // then replaces again what is already current.
    if (!query.exec(QStringLiteral("BEGIN")) ||
        !query.exec(QStringLiteral("SELECT pg_advisory_xact_lock(7364021)")))
        return failed(query.lastError());
    QSqlError met;
    if (!createServerFunctions(db, &met))
        return failed(met);
    if (!query.exec(QStringLiteral("COMMIT")))
        return failed(query.lastError());
    return serverFunctionsCurrent(db);
}

} // namespace tarvik

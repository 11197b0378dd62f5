#include "store/register/JournalSchema.h"

#include "store/register/Dialect.h"

#include <QFile>
#include <QSqlQuery>
#include <QStringList>
#include <QVariant>

// The statements are resources of a static library: pulled in explicitly.
static void initJournalResources()
{
    Q_INIT_RESOURCE(store);
}

namespace tarvik {
namespace {

QString script(const QSqlDatabase& db, const char* part)
{
    initJournalResources();
    QFile file(QStringLiteral(":/store/journal-%1%2.sql")
                   .arg(onServer(db) ? QStringLiteral("server-") : QString(), QLatin1String(part)));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// The file's engine runs one statement at a time: they end with ";" at a line's end, a
// trigger's with "END;".
QStringList fileStatements(const QString& text)
{
    QStringList statements;
    QString current;
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        const QString code = line.section(QStringLiteral("--"), 0, 0);
        current += code + QLatin1Char('\n');
        const QString trimmed = code.trimmed();
        const bool inTrigger = current.contains(QLatin1String("CREATE TRIGGER"));
        if (trimmed.endsWith(QLatin1Char(';')) &&
            (!inTrigger || trimmed == QLatin1String("END;"))) {
            statements << current.trimmed();
            current.clear();
        }
    }
    return statements;
}

bool run(const QSqlDatabase& db, const char* part, QSqlError* error)
{
    const QString text = script(db, part);
    if (text.isEmpty()) {
        if (error)
            *error = QSqlError(QStringLiteral("в программе нет описания журнала"), {},
                               QSqlError::UnknownError);
        return false;
    }
    QSqlQuery query(db);
    // Without bound values the server takes several statements in one go, function bodies
    // and all.
    const QStringList statements = onServer(db) ? QStringList{text} : fileStatements(text);
    for (const QString& statement : statements) {
        if (!query.exec(statement)) {
            if (error)
                *error = query.lastError();
            return false;
        }
    }
    return true;
}

} // namespace

bool createJournalTables(const QSqlDatabase& db, QSqlError* error)
{
    return run(db, "tables", error);
}

bool createJournalTriggers(const QSqlDatabase& db, QSqlError* error)
{
    return run(db, "triggers", error);
}

namespace {

// Whether every one of `tables` and `triggers` exists: on the server in the current schema,
// by their stored lower-case names; in the file as they were created.
bool holdsAll(const QSqlDatabase& db, const QStringList& tables, const QStringList& triggers)
{
    const auto quoted = [](const QStringList& names, bool lower) {
        QStringList list;
        for (const QString& name : names)
            list << QLatin1Char('\'') + (lower ? name.toLower() : name) + QLatin1Char('\'');
        return list.join(QStringLiteral(", "));
    };
    QSqlQuery query(db);
    query.setForwardOnly(true);
    const bool ran = query.exec(
        onServer(db)
            ? QStringLiteral(
                  "SELECT (SELECT count(*) FROM pg_catalog.pg_class c JOIN pg_catalog.pg_namespace "
                  "s ON s.oid = c.relnamespace WHERE s.nspname = current_schema() AND c.relname "
                  "IN (%1)) = %2 AND (SELECT count(*) FROM pg_catalog.pg_trigger t JOIN "
                  "pg_catalog.pg_class c ON c.oid = t.tgrelid JOIN pg_catalog.pg_namespace s ON "
                  "s.oid = c.relnamespace WHERE s.nspname = current_schema() AND t.tgname IN (%3)) "
                  "= %4")
                  .arg(quoted(tables, true))
                  .arg(tables.size())
                  .arg(quoted(triggers, true))
                  .arg(triggers.size())
            : QStringLiteral("SELECT count(*) = %1 FROM sqlite_master WHERE name IN (%2)")
                  .arg(tables.size() + triggers.size())
                  .arg(quoted(tables + triggers, false)));
    return ran && query.next() && query.value(0).toBool();
}

} // namespace

bool hasJournal(const QSqlDatabase& db)
{
    const QStringList tables{QStringLiteral("partMinimum"), QStringLiteral("partJournal"),
                             QStringLiteral("journalContext")};
    // One trigger per table on the server; one per statement kind in the file.
    return onServer(db)
               ? holdsAll(db, tables,
                          {QStringLiteral("client_journal"), QStringLiteral("partMinimum_journal")})
               : holdsAll(db, tables,
                          {QStringLiteral("client_journal_insert"),
                           QStringLiteral("client_journal_update"),
                           QStringLiteral("client_journal_delete"),
                           QStringLiteral("partMinimum_journal_insert"),
                           QStringLiteral("partMinimum_journal_update"),
                           QStringLiteral("partMinimum_journal_delete")});
}

bool hasJournalNames(const QSqlDatabase& db)
{
    const QStringList tables{QStringLiteral("partJournalNames")};
    return onServer(db) ? holdsAll(db, tables,
                                   {QStringLiteral("partjournal_names"),
                                    QStringLiteral("partjournal_names_update")})
                        : holdsAll(db, tables,
                                   {QStringLiteral("partJournal_names_insert"),
                                    QStringLiteral("partJournal_names_update")});
}

bool ensureJournal(const QSqlDatabase& db, QSqlError* error)
{
    if (hasJournal(db) && hasJournalNames(db))
        return true; // no write, so a read-only file opens as before
    const Engine engine = engineOf(db);
    QSqlQuery query(db);
    const auto failed = [&](const QSqlError& met) {
        if (error)
            *error = met;
        query.finish();
        query.exec(QStringLiteral("ROLLBACK"));
        return false;
    };
    if (!query.exec(beginWriteSql(engine)))
        return failed(query.lastError());
    // Two programs opening an earlier server register at once: one adds, the other waits and
    // then finds everything there.
    if (engine == Engine::Server &&
        !query.exec(QStringLiteral("SELECT pg_advisory_xact_lock(7364021)")))
        return failed(query.lastError());
    QSqlError met;
    if (!createJournalTables(db, &met) || !createJournalTriggers(db, &met))
        return failed(met);
    if (!query.exec(QStringLiteral("COMMIT")))
        return failed(query.lastError());
    return hasJournal(db);
}

} // namespace tarvik

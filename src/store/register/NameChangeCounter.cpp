#include "store/register/NameChangeCounter.h"

#include <QSqlQuery>
#include <QStringList>

namespace tarvik {
namespace {

// The same definitions as schema.sql, written so that they can run again on any file.
const char* const kStatements[] = {
    "CREATE TABLE IF NOT EXISTS clientNameChanges (n INTEGER NOT NULL)",
    "INSERT INTO clientNameChanges (n) SELECT 0 WHERE NOT EXISTS (SELECT 1 FROM clientNameChanges)",
    "CREATE TRIGGER IF NOT EXISTS client_name_changes_insert AFTER INSERT ON client\n"
    "BEGIN\n"
    "    UPDATE clientNameChanges SET n = n + 1;\n"
    "END",
    "CREATE TRIGGER IF NOT EXISTS client_name_changes_delete AFTER DELETE ON client\n"
    "BEGIN\n"
    "    UPDATE clientNameChanges SET n = n + 1;\n"
    "END",
    "CREATE TRIGGER IF NOT EXISTS client_name_changes_update AFTER UPDATE ON client\n"
    "    WHEN NEW.idFamKey IS NOT OLD.idFamKey OR NEW.idFam IS NOT OLD.idFam\n"
    "        OR NEW.rowid IS NOT OLD.rowid\n"
    "BEGIN\n"
    "    UPDATE clientNameChanges SET n = n + 1;\n"
    "END",
};

bool hasCounter(QSqlDatabase db)
{
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!query.exec(QStringLiteral(
            "SELECT (SELECT COUNT(*) FROM sqlite_master WHERE type = 'trigger' AND name IN "
            "('client_name_changes_insert', 'client_name_changes_delete', "
            "'client_name_changes_update')) = 3 AND EXISTS (SELECT 1 FROM clientNameChanges)")) ||
        !query.next())
        return false;
    return query.value(0).toBool();
}

} // namespace

bool ensureNameChangeCounter(const QSqlDatabase& connection)
{
    QSqlDatabase db = connection;
    if (hasCounter(db))
        return true; // no write, so a read-only file opens as before
    if (!db.transaction())
        return false;
    QSqlQuery query(db);
    for (const char* statement : kStatements) {
        if (!query.exec(QLatin1String(statement))) {
            query.finish();
            db.rollback();
            return false;
        }
    }
    query.finish();
    return db.commit() || (db.rollback(), false);
}

} // namespace tarvik

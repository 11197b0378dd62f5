#include "store/register/NameKeys.h"

#include "store/register/Dialect.h"

#include "store/text/TextFold.h"

#include <QSqlQuery>
#include <QVariant>

#include <utility>
#include <vector>

namespace tarvik {
namespace {

const char* const kRenamedTrigger = "client_idFamKey_renamed";

// A name changed while its key stayed: the key no longer tells the truth, so it is
// cleared for the program to fill. (A case-only rename by the program itself, whose key
// does not change, is cleared too and simply filled again.)
QString renamedTriggerSql()
{
    return QStringLiteral("CREATE TRIGGER IF NOT EXISTS %1 AFTER UPDATE OF idFam ON client "
                          "WHEN NEW.idFam IS NOT OLD.idFam AND NEW.idFamKey IS OLD.idFamKey "
                          "BEGIN UPDATE client SET idFamKey = NULL WHERE rowid = NEW.rowid; END")
        .arg(QLatin1String(kRenamedTrigger));
}

// Keys of the earlier form kept a bare ё (the key form puts е and a mark for it), and
// earlier builds still write them. This partial index finds every such key, also one
// written later by an earlier build, with a look-up instead of a pass over all names. Its
// presence also tells that the file's keys were brought to the present form once; a file
// without it has each key checked, once. Only built-in functions: other tools still write.
const char* const kEarlierFormIndex = "client_idFamKey_earlier_form";
const char* const kEarlierFormTerm = "instr(idFamKey, char(1105)) > 0";
// The same on the server, where the index of server-tables.sql answers it.
const char* const kEarlierFormTermOnServer = "strpos(idFamKey, chr(1105)) > 0";

QString earlierFormIndexSql()
{
    return QStringLiteral("CREATE INDEX IF NOT EXISTS %1 ON client (idFamKey) WHERE %2")
        .arg(QLatin1String(kEarlierFormIndex), QLatin1String(kEarlierFormTerm));
}

// Whether the file has the trigger and the index that keep its keys true.
bool hasGuards(QSqlQuery& query, bool* has)
{
    query.prepare(
        QStringLiteral("SELECT count(*) FROM sqlite_master WHERE "
                       "(type = 'trigger' AND name = ?) OR (type = 'index' AND name = ?)"));
    query.addBindValue(QLatin1String(kRenamedTrigger));
    query.addBindValue(QLatin1String(kEarlierFormIndex));
    if (!query.exec() || !query.next())
        return false;
    *has = query.value(0).toInt() == 2;
    query.finish();
    return true;
}

using Keys = std::vector<std::pair<qint64, QString>>;

// Rows whose key must be written: the cleared ones and those of the earlier form, or with
// `everyRow` all that differ.
bool staleKeys(QSqlQuery& query, Engine engine, bool everyRow, Keys* out)
{
    query.setForwardOnly(true);
    const QString key = keyColumn(QStringLiteral("client"), engine);
    const bool ran = query.exec(
        everyRow ? QStringLiteral("SELECT %1, idFam, idFamKey FROM client "
                                  "WHERE idFam IS NOT NULL")
                       .arg(key)
                 : QStringLiteral("SELECT %2, idFam, NULL FROM client "
                                  "WHERE idFamKey IS NULL AND idFam IS NOT NULL "
                                  "UNION ALL SELECT %2, idFam, idFamKey FROM client WHERE %1")
                       .arg(QLatin1String(engine == Engine::File ? kEarlierFormTerm
                                                                 : kEarlierFormTermOnServer),
                            key));
    if (!ran)
        return false;
    while (query.next()) {
        QString key = nameKey(query.value(1)).toString();
        if (query.value(2).isNull() != key.isNull() || query.value(2).toString() != key)
            out->emplace_back(query.value(0).toLongLong(), std::move(key));
    }
    const bool complete = !query.lastError().isValid();
    query.finish();
    return complete;
}

bool writeKeys(const QSqlDatabase& db, const Keys& keys, QSqlError* error)
{
    QSqlQuery update(db);
    update.prepare(QStringLiteral("UPDATE client SET idFamKey = ? WHERE %1 = ?")
                       .arg(keyColumn(QStringLiteral("client"), db)));
    for (const auto& [rowid, key] : keys) {
        update.addBindValue(key);
        update.addBindValue(rowid);
        if (!update.exec()) {
            *error = update.lastError();
            return false;
        }
    }
    return true;
}

NameKeyHealing run(const QSqlDatabase& db, bool atOpen, const std::function<void()>& beforeWrite)
{
    NameKeyHealing result;
    QSqlQuery query(db);
    const auto failed = [&](const QSqlError& error) {
        result.ok = false;
        result.error = error;
        query.finish();
        query.exec(QStringLiteral("ROLLBACK"));
        return result;
    };

    const Engine engine = engineOf(db);
    bool guarded = true;
    // A server's triggers and index come with its tables.
    if (atOpen && engine == Engine::File && !hasGuards(query, &guarded))
        return failed(query.lastError());
    // Reading first keeps the usual case (nothing to do) free of any write lock.
    Keys keys;
    if (guarded) {
        if (!staleKeys(query, engine, false, &keys))
            return failed(query.lastError());
        if (keys.empty())
            return result;
    }

    if (beforeWrite)
        beforeWrite();
    if (!query.exec(beginWriteSql(engine)))
        return failed(query.lastError());
    if (!guarded) {
        if (!query.exec(renamedTriggerSql()) || !query.exec(earlierFormIndexSql()))
            return failed(query.lastError());
        result.triggersAdded = true;
    }
    // Read again inside the transaction: nothing can change between reading and writing.
    keys.clear();
    QSqlError error;
    if (!staleKeys(query, engine, !guarded, &keys))
        return failed(query.lastError());
    if (!writeKeys(db, keys, &error))
        return failed(error);
    if (!query.exec(QStringLiteral("COMMIT")))
        return failed(query.lastError());
    result.keysWritten = int(keys.size());
    return result;
}

} // namespace

QVariant nameKey(const QVariant& name)
{
    // A null QString is bound as NULL, so it is no name either.
    if (name.isNull() || (name.typeId() == QMetaType::QString && name.toString().isNull()))
        return QVariant(QMetaType::fromType<QString>());
    return nameKeyOf(name.toString());
}

NameKeyHealing prepareNameKeys(const QSqlDatabase& db)
{
    return run(db, true, {});
}

NameKeyHealing healNameKeys(const QSqlDatabase& db, const std::function<void()>& beforeWrite)
{
    return run(db, false, beforeWrite);
}

bool addNameKeyTriggers(const QSqlDatabase& db)
{
    QSqlQuery query(db);
    return query.exec(renamedTriggerSql()) && query.exec(earlierFormIndexSql());
}

} // namespace tarvik

#include "store/records/PartWriter.h"

#include "store/records/Journal.h"
#include "store/records/PartRow.h"
#include "store/register/Dialect.h"

#include <QSqlQuery>

// Undoing one entry of the journal through the parts' write path: checked against what is
// stored now inside the write's own transaction, and journaled as an undo by the triggers.

namespace tarvik {
namespace {

const QString kMinimumField = QStringLiteral("minimum");

std::optional<qint64> minimumOf(const QVariant& value)
{
    if (value.isNull() || value.toString().isEmpty())
        return std::nullopt;
    return value.toLongLong();
}

QString shown(const QVariant& value)
{
    return value.isNull() ? QStringLiteral("пусто") : QStringLiteral("«%1»").arg(value.toString());
}

// An add or a delete put down every field the row held; the others were empty.
QVariantMap rowOf(const QVector<JournalEntry>& entries, bool before)
{
    QVariantMap row;
    for (const JournalEntry& entry : entries) {
        if (entry.field != kMinimumField)
            row.insert(entry.field, before ? entry.was : entry.became);
    }
    return row;
}

// What is stored now, for the words of a refusal: `column` was checked by the write.
QVariant storedNow(const QSqlDatabase& db, const QString& table, const QString& column, qint64 id)
{
    QSqlQuery query(db);
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT %1 FROM %2 WHERE idnom = ?").arg(column, table));
    query.addBindValue(id);
    return query.exec() && query.next() ? query.value(0) : QVariant();
}

} // namespace

PartWrite PartWriter::undo(qint64 entryId)
{
    if (m_db.isOpen() && !m_db.keepsJournal())
        return refused(QStringLiteral("в этой базе данных журнал изменений не ведётся"));
    // Entries never change once written: read before the transaction.
    const Journal journal(m_db);
    QSqlError error;
    const std::optional<JournalEntry> entry = journal.entry(entryId, &error);
    if (!entry)
        return error.isValid() ? failed(error) : refused(QStringLiteral("записи журнала нет"));
    const qint64 id = entry->part;

    if (entry->operation == QLatin1String("delete")) {
        const QVector<JournalEntry> change = journal.sameChange(*entry, &error);
        if (error.isValid())
            return failed(error);
        const QVariantMap row = rowOf(change, true);
        std::optional<qint64> minimum;
        for (const JournalEntry& e : change) {
            if (e.field == kMinimumField)
                minimum = minimumOf(e.was);
        }
        return write(NameChange::Op::Added, id, row, {}, PartAction::Undo,
                     [&](QSqlQuery& query, PartWrite& result) {
                         PartWrite free;
                         // Its old number, when nobody has it now.
                         QVariantMap fields = row;
                         if (!lockPart(query, id, free)) {
                             if (free.outcome != PartWrite::Outcome::Gone)
                                 return false;
                             fields.insert(QStringLiteral("idnom"), id);
                         }
                         if (!insertRow(query, fields, result))
                             return false;
                         if (!minimum)
                             return true;
                         query.prepare(QStringLiteral(
                             "INSERT INTO partMinimum (idnom, minimum) VALUES (?, ?)"));
                         query.addBindValue(result.id);
                         query.addBindValue(*minimum);
                         return query.exec();
                     });
    }

    if (entry->operation == QLatin1String("add")) {
        const QVector<JournalEntry> change = journal.sameChange(*entry, &error);
        if (error.isValid())
            return failed(error);
        // Every field as the add left it: the ones it did not write were empty.
        QVariantMap expected;
        for (const PartRow::Field& field : PartRow::kFields)
            expected.insert(QLatin1String(field.column), QString());
        const QVariantMap added = rowOf(change, false);
        for (auto it = added.begin(); it != added.end(); ++it)
            expected.insert(it.key(), it.value());
        PartWrite result =
            write(NameChange::Op::Removed, id, {}, expected, PartAction::Undo,
                  [&](QSqlQuery& query, PartWrite& result) {
                      if (!lockPart(query, id, result, expected))
                          return false;
                      const Engine engine = engineOf(m_db.connection());
                      query.prepare(QStringLiteral("DELETE FROM client WHERE %1 = ?")
                                        .arg(keyColumn(QStringLiteral("client"), engine)));
                      query.addBindValue(id);
                      return query.exec();
                  });
        if (result.outcome == PartWrite::Outcome::ChangedElsewhere)
            result.reason = QStringLiteral("значение уже изменено: деталь изменена после "
                                           "добавления");
        return result;
    }

    if (entry->field == kMinimumField) {
        PartWrite result =
            writeMinimum(id, minimumOf(entry->was), minimumOf(entry->became), PartAction::Undo);
        if (result.outcome == PartWrite::Outcome::ChangedElsewhere) {
            result.reason =
                QStringLiteral("значение уже изменено: сейчас %1")
                    .arg(shown(storedNow(m_db.connection(), QStringLiteral("partMinimum"),
                                         kMinimumField, id)));
        }
        return result;
    }

    const QVariantMap fields{{entry->field, entry->was}};
    PartWrite result =
        change(id, fields, {{entry->field, entry->became.toString()}}, PartAction::Undo);
    if (result.outcome == PartWrite::Outcome::ChangedElsewhere)
        result.reason = QStringLiteral("значение уже изменено: сейчас %1")
                            .arg(shown(storedNow(m_db.connection(), QStringLiteral("client"),
                                                 entry->field, id)));
    return result;
}

} // namespace tarvik

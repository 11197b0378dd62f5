#include "store/records/RecordSource.h"

#include "store/register/Dialect.h"

#include "store/records/PartWriter.h"
#include "store/records/Statements.h"

#include <QSqlError>
#include <QSqlQuery>

// The record source's writes: the parts' through their one write path, other tables' by
// row id, each followed by a fresh read of what the file now holds, and the bound
// control's pending edit. The reading and listing half is RecordSource.cpp.

namespace tarvik {

bool RecordSource::mayWrite()
{
    m_lastBusy = false;
    m_lastError.clear();
    if (m_db.writesRefused()) {
        m_lastError = QStringLiteral("файл базы данных повреждён, изменения не сохраняются");
        return false;
    }
    if (!isParts()) // the parts' write path says it itself
        m_db.aboutToWrite();
    return true;
}

bool RecordSource::goneSince()
{
    // Another view deleted the row: saying "saved" would be a lie.
    m_lastError = QStringLiteral("запись уже удалена");
    return false;
}

std::optional<QVariantMap> RecordSource::storedFields(const QVariantMap& values)
{
    for (auto it = values.begin(); it != values.end(); ++it) {
        if (m_fields.indexOf(it.key()) < 0) {
            m_lastError =
                QStringLiteral("нет поля %1 в таблице %2").arg(it.key(), m_statement.table);
            return std::nullopt;
        }
    }
    return values;
}

bool RecordSource::took(const PartWrite& write)
{
    switch (write.outcome) {
    case PartWrite::Outcome::Saved:
        return true;
    case PartWrite::Outcome::Gone:
        return goneSince();
    case PartWrite::Outcome::ChangedElsewhere:
        m_lastError = QStringLiteral("запись тем временем изменена другой программой");
        return false;
    case PartWrite::Outcome::Failed:
        break;
    }
    if (write.error.isValid())
        return fail(write.error);
    m_lastError = write.reason;
    return false;
}

bool RecordSource::addNew(const QVariantMap& values)
{
    if (!m_db.isOpen() || values.isEmpty() || !mayWrite())
        return false;
    loadFields();
    // Parts go through their one write path, which keeps the name key and tells the caches.
    if (isParts())
        return took(PartWriter(m_db).add(values));
    const auto row = storedFields(values);
    if (!row)
        return false;
    QSqlQuery query(m_db.connection());
    query.prepare(QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                      .arg(m_statement.table, row->keys().join(QStringLiteral(", ")),
                           Statements::placeholders(row->size())));
    for (const QVariant& value : *row)
        query.addBindValue(value);
    return query.exec() || fail(query);
}

bool RecordSource::updateCurrent(const QVariantMap& values, PartAction action)
{
    return updateCurrentIf({}, values, action) == Replaced::Saved;
}

RecordSource::Replaced RecordSource::updateCurrentIf(const QVariantMap& expected,
                                                     const QVariantMap& values, PartAction action)
{
    if (!hasCurrent() || values.isEmpty() || !mayWrite())
        return Replaced::Failed;
    bool saved = false;
    if (isParts()) {
        const PartWrite write = PartWriter(m_db).change(currentKey(), values, expected, action);
        saved = took(write);
        if (!saved && write.outcome != PartWrite::Outcome::ChangedElsewhere)
            return Replaced::Failed;
    } else {
        const auto row = storedFields(values);
        if (!row || !expected.isEmpty())
            return Replaced::Failed; // only parts are written on a condition
        QStringList assignments;
        for (const QString& field : row->keys())
            assignments << field + QStringLiteral(" = ?");
        QSqlQuery query(m_db.connection());
        query.prepare(QStringLiteral("UPDATE %1 SET %2 WHERE %3 = ?")
                          .arg(m_statement.table, assignments.join(QStringLiteral(", ")),
                               keyColumn(m_statement.table, m_db.connection())));
        for (const QVariant& value : *row)
            query.addBindValue(value);
        query.addBindValue(currentKey());
        if (!query.exec())
            return fail(query), Replaced::Failed;
        if (query.numRowsAffected() != 1)
            return goneSince(), Replaced::Failed;
        saved = true;
    }
    // Either way the row is read again: what is shown is what the file holds now.
    if (!rereadCurrent()) {
        if (!saved && m_lastError.isEmpty())
            goneSince();
        return saved ? Replaced::Saved : Replaced::Failed;
    }
    return saved ? Replaced::Saved : Replaced::ChangedElsewhere;
}

bool RecordSource::rereadCurrent()
{
    forgetRows();
    const int row = m_currentRow;
    if (!setCurrentRow(row))
        return false;
    emit dataChanged(index(row, 0), index(row, columnCount() - 1));
    return true;
}

bool RecordSource::deleteCurrent()
{
    if (!hasCurrent() || !mayWrite())
        return false;
    m_pending.clear();
    bool deleted = false;
    if (isParts()) {
        const PartWrite write = PartWriter(m_db).remove(currentKey());
        if (write.outcome != PartWrite::Outcome::Gone && !took(write))
            return false;
        deleted = write.saved();
    } else {
        QSqlQuery query(m_db.connection());
        query.prepare(QStringLiteral("DELETE FROM %1 WHERE %2 = ?")
                          .arg(m_statement.table, keyColumn(m_statement.table, m_db.connection())));
        query.addBindValue(currentKey());
        if (!query.exec())
            return fail(query);
        deleted = query.numRowsAffected() == 1;
    }
    forgetRows();
    m_current = QSqlRecord();
    return deleted || goneSince();
}

void RecordSource::setNameCopy(NameLookup* copy)
{
    disconnect(m_nameCopyGone);
    m_nameCopy = copy;
    if (auto* object = dynamic_cast<QObject*>(copy))
        m_nameCopyGone =
            connect(object, &QObject::destroyed, this, [this] { m_nameCopy = nullptr; });
}

void RecordSource::setPendingField(const QString& name, const QVariant& value)
{
    if (!hasCurrent())
        return;
    if (m_pendingKey != currentKey())
        m_pending.clear();
    m_pendingKey = currentKey();
    m_pending.insert(name, value);
}

bool RecordSource::savePending()
{
    if (m_pending.isEmpty())
        return true;
    const QVariantMap pending = std::exchange(m_pending, {});
    if (!hasCurrent() || currentKey() != m_pendingKey)
        return true; // the row it belonged to is gone
    // A bound edit is the notes' box: the only one the main window binds.
    if (updateCurrent(pending, PartAction::Notes))
        return true;
    if (m_lastBusy) { // kept for the next try: a lock is no reason to lose the text
        m_pending = pending;
    }
    emit pendingSaveFailed(m_lastError);
    return false;
}

RecordSource::Replaced RecordSource::replaceCurrentIf(const QString& field, const QString& expected,
                                                      const QVariant& value, PartAction action)
{
    return updateCurrentIf({{field, expected}}, {{field, value}}, action);
}

} // namespace tarvik

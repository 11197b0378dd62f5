#include "store/records/PartWriter.h"

#include "store/records/PartRow.h"
#include "store/records/Statements.h"
#include "store/register/Dialect.h"
#include "store/register/NameKeys.h"
#include "store/register/WriteTransaction.h"

#include <QSqlQuery>

#include <algorithm>
#include <optional>

namespace tarvik {
namespace {

const QString kName = QStringLiteral("idFam");
const QString kKey = QStringLiteral("idFamKey");

// `lock`: on the server, held until the commit. Other writers there do not wait for this one
// before their own begin, so without it another computer's rename could fall between the
// reads before and after, and would pass for this write's.
std::optional<qint64> readCounter(const QSqlDatabase& db, bool lock = false,
                                  QSqlError* error = nullptr)
{
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!query.exec(QStringLiteral("SELECT n FROM clientNameChanges") +
                    (lock ? lockForUpdate(engineOf(db)) : QString())) ||
        !query.next()) {
        if (error)
            *error = query.lastError();
        return std::nullopt;
    }
    return query.value(0).toLongLong();
}

KeyKind kindOf(const QString& type)
{
    if (type == QLatin1String("text"))
        return KeyKind::Text;
    if (type == QLatin1String("blob"))
        return KeyKind::Blob;
    return KeyKind::Number;
}

bool isNameColumn(const QString& column)
{
    return column.compare(kName, Qt::CaseInsensitive) == 0;
}

// A new row id cannot be followed in place.
bool movesRow(const QVariantMap& fields)
{
    for (auto it = fields.begin(); it != fields.end(); ++it) {
        if (it.key().compare(QLatin1String("idnom"), Qt::CaseInsensitive) == 0 ||
            it.key().compare(QLatin1String("rowid"), Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

// The statement ran and found its row; a row deleted meanwhile is no failure of the engine.
bool changedOneRow(QSqlQuery& query, PartWrite& result)
{
    if (!query.exec())
        return false;
    if (query.numRowsAffected() == 1)
        return true;
    result.outcome = PartWrite::Outcome::Gone;
    return false;
}

} // namespace

PartWrite PartWriter::refused(const QString& reason) const
{
    PartWrite result;
    result.reason = reason;
    return result;
}

PartWrite PartWriter::failed(const QSqlError& error) const
{
    m_db.noteError(error);
    PartWrite result;
    result.error = error;
    return result;
}

bool PartWriter::mayWrite(QString* reason) const
{
    if (!m_db.isOpen())
        *reason = QStringLiteral("файл базы данных не открыт");
    else if (m_db.writesRefused())
        *reason = QStringLiteral("файл базы данных повреждён, изменения не сохраняются");
    return reason->isEmpty();
}

bool PartWriter::knownFields(const QVariantMap& fields, QString* reason)
{
    // The columns the program writes, known without asking the engine: under another
    // program's lock even the schema cannot be read.
    static const QStringList kWritable = [] {
        QStringList columns{QStringLiteral("idnom")};
        for (const PartRow::Field& field : PartRow::kFields)
            columns << QLatin1String(field.column);
        return columns;
    }();
    for (auto it = fields.begin(); it != fields.end(); ++it) {
        if (!kWritable.contains(it.key(), Qt::CaseInsensitive)) {
            *reason = QStringLiteral("в таблице деталей нет поля %1").arg(it.key());
            return false;
        }
    }
    return true;
}

QVariantMap PartWriter::stored(const QVariantMap& fields) const
{
    QVariantMap row = fields;
    for (auto it = fields.begin(); it != fields.end(); ++it) {
        if (isNameColumn(it.key()))
            row.insert(kKey, nameKey(it.value()));
    }
    return row;
}

// Read inside the write's transaction, so the listeners learn exactly what it stored.
NameChange PartWriter::describe(NameChange::Op op, qint64 id, qint64 before) const
{
    const QSqlDatabase db = m_db.connection();
    NameChange change;
    change.op = op;
    change.id = id;
    change.before = before;
    change.after = readCounter(db).value_or(-1);
    if (change.after != change.before && change.op != NameChange::Op::Removed) {
        QSqlQuery query(db);
        query.setForwardOnly(true);
        // As bytes: QString would replace bytes that are not UTF-8. The server keeps only
        // text, always UTF-8.
        query.prepare(
            onServer(db)
                ? QStringLiteral("SELECT CASE WHEN idFamKey IS NULL THEN 'null' ELSE 'text' END, "
                                 "convert_to(idFamKey, 'UTF8') FROM client WHERE idnom = ?")
                : QStringLiteral("SELECT typeof(idFamKey), CAST(idFamKey AS BLOB) FROM client "
                                 "WHERE rowid = ?"));
        query.addBindValue(change.id);
        if (query.exec() && query.next()) {
            const QString type = query.value(0).toString();
            change.keyKnown = true;
            change.hasKey = type != QLatin1String("null");
            change.kind = kindOf(type);
            change.key = query.value(1).toByteArray();
        }
    }
    return change;
}

PartWrite PartWriter::write(NameChange::Op op, qint64 id, const QVariantMap& fields,
                            const QVariantMap& expected, PartAction action, const Body& body)
{
    QString reason;
    if (!mayWrite(&reason) || !knownFields(fields, &reason) || !knownFields(expected, &reason))
        return refused(reason);
    m_db.aboutToWrite();
    const QSqlDatabase db = m_db.connection();
    WriteTransaction transaction(db);
    if (!transaction.begun())
        return failed(transaction.error());
    const bool renames = op != NameChange::Op::Changed ||
                         std::any_of(fields.keyBegin(), fields.keyEnd(), isNameColumn);
    QSqlError counterError;
    const std::optional<qint64> counted = readCounter(db, renames, &counterError);
    // On the server a lock not had in time (or a lost connection) spoils the transaction.
    if (!counted && renames && onServer(db))
        return failed(counterError);
    const qint64 before = counted.value_or(-1);

    PartWrite result;
    result.id = id;
    QSqlQuery query(db);
    if (!tellJournal(query, action))
        return failed(query.lastError());
    if (!body(query, result)) {
        if (result.outcome == PartWrite::Outcome::Failed)
            return failed(result.error.isValid() ? result.error : query.lastError());
        return result; // gone, or changed elsewhere: nothing written
    }
    query.finish();
    if (!endJournalContext(query))
        return failed(query.lastError());
    const NameChange change = describe(op, result.id, before);
    if (!transaction.commit())
        return failed(transaction.error());
    m_db.partChanged(change);
    result.outcome = PartWrite::Outcome::Saved;
    return result;
}

QString PartWriter::insertSql(const QStringList& columns) const
{
    return QStringLiteral("INSERT INTO client (%1) VALUES (%2)%3")
        .arg(columns.join(QStringLiteral(", ")), Statements::placeholders(columns.size()),
             onServer(m_db.connection()) ? QStringLiteral(" RETURNING idnom") : QString());
}

bool PartWriter::insertRow(QSqlQuery& query, const QVariantMap& fields, PartWrite& result) const
{
    const QVariantMap row = stored(fields);
    const bool server = onServer(m_db.connection());
    query.prepare(insertSql(row.keys()));
    for (const QVariant& value : row)
        query.addBindValue(value);
    if (!query.exec())
        return false;
    // The server's driver knows no last id; the insert returns it.
    result.id = server ? (query.next() ? query.value(0).toLongLong() : -1)
                       : query.lastInsertId().toLongLong();
    return true;
}

PartWrite PartWriter::add(const QVariantMap& fields)
{
    if (fields.isEmpty())
        return refused(QStringLiteral("нет полей для записи"));
    return write(
        NameChange::Op::Added, -1, fields, {}, PartAction::Add,
        [&](QSqlQuery& query, PartWrite& result) { return insertRow(query, fields, result); });
}

PartWrite PartWriter::change(qint64 id, const QVariantMap& fields, const QVariantMap& expected,
                             PartAction action)
{
    if (fields.isEmpty())
        return refused(QStringLiteral("нет полей для записи"));
    const NameChange::Op op = movesRow(fields) ? NameChange::Op::Unknown : NameChange::Op::Changed;
    return write(op, id, fields, expected, action, [&](QSqlQuery& query, PartWrite& result) {
        if (!expected.isEmpty() && !lockPart(query, id, result, expected))
            return false;
        const QVariantMap row = stored(fields);
        QStringList assignments;
        for (const QString& field : row.keys())
            assignments << field + QStringLiteral(" = ?");
        query.prepare(QStringLiteral("UPDATE client SET %1 WHERE %2 = ?")
                          .arg(assignments.join(QStringLiteral(", ")),
                               keyColumn(QStringLiteral("client"), m_db.connection())));
        for (const QVariant& value : row)
            query.addBindValue(value);
        query.addBindValue(id);
        return changedOneRow(query, result);
    });
}

PartWrite PartWriter::remove(qint64 id)
{
    return write(NameChange::Op::Removed, id, {}, {}, PartAction::Delete,
                 [&](QSqlQuery& query, PartWrite& result) {
                     query.prepare(
                         QStringLiteral("DELETE FROM client WHERE %1 = ?")
                             .arg(keyColumn(QStringLiteral("client"), m_db.connection())));
                     query.addBindValue(id);
                     return changedOneRow(query, result);
                 });
}

} // namespace tarvik

#include "store/records/PartWriter.h"

#include "store/register/Dialect.h"
#include "store/register/Platform.h"

#include <QSqlQuery>
#include <QSysInfo>

// What the parts' write path tells the journal, and the minimum stock it writes. The rows,
// the transaction and the announcement are PartWriter.cpp's.

namespace tarvik {
namespace {

// The journal's context row: one on the file, whose writers take turns; one per session on
// the server.
QString contextSession(const QSqlDatabase& db)
{
    return onServer(db) ? QStringLiteral("pg_backend_pid()") : QStringLiteral("0");
}

} // namespace

QString actionWord(PartAction action)
{
    switch (action) {
    case PartAction::Add:
        return QStringLiteral("add");
    case PartAction::Edit:
        return QStringLiteral("edit");
    case PartAction::Plus:
        return QStringLiteral("plus");
    case PartAction::Minus:
        return QStringLiteral("minus");
    case PartAction::Notes:
        return QStringLiteral("notes");
    case PartAction::Delete:
        return QStringLiteral("delete");
    case PartAction::Undo:
        return QStringLiteral("undo");
    case PartAction::Minimum:
        return QStringLiteral("minimum");
    case PartAction::Import:
        return QStringLiteral("import");
    }
    return {};
}

bool PartWriter::tellJournal(QSqlQuery& query, PartAction action) const
{
    if (!m_db.keepsJournal())
        return true;
    static const QString computer = QSysInfo::machineHostName();
    static const QString login = platform::loginName();
    const QSqlDatabase db = m_db.connection();
    query.prepare(QStringLiteral("INSERT INTO journalContext (session, computer, login, action) "
                                 "VALUES (%1, ?, ?, ?) ON CONFLICT (session) DO UPDATE SET "
                                 "computer = excluded.computer, login = excluded.login, "
                                 "action = excluded.action")
                      .arg(contextSession(db)));
    query.addBindValue(computer);
    query.addBindValue(login);
    query.addBindValue(actionWord(action));
    return query.exec();
}

bool PartWriter::endJournalContext(QSqlQuery& query) const
{
    if (!m_db.keepsJournal())
        return true;
    return query.exec(QStringLiteral("DELETE FROM journalContext WHERE session = %1")
                          .arg(contextSession(m_db.connection())));
}

bool PartWriter::lockPart(QSqlQuery& query, qint64 id, PartWrite& result,
                          const QVariantMap& expected) const
{
    // Inside the transaction: nobody can change the row between this read and the write. On
    // the server the row is locked until the commit: another computer's change of it waits,
    // then finds what this one wrote.
    const Engine engine = engineOf(m_db.connection());
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT %1 FROM client WHERE %2 = ?%3")
                      .arg(expected.isEmpty() ? QStringLiteral("1")
                                              : expected.keys().join(QStringLiteral(", ")),
                           keyColumn(QStringLiteral("client"), engine), lockForUpdate(engine)));
    query.addBindValue(id);
    if (!query.exec())
        return false;
    if (!query.next()) {
        result.outcome = PartWrite::Outcome::Gone;
        return false;
    }
    int column = 0;
    for (const QVariant& value : expected) {
        // As text, as the program shows and compares it; NULL reads as empty.
        if (query.value(column++).toString() != value.toString()) {
            result.outcome = PartWrite::Outcome::ChangedElsewhere;
            return false;
        }
    }
    query.finish();
    return true;
}

PartWrite PartWriter::setMinimum(qint64 id, std::optional<qint64> minimum,
                                 std::optional<qint64> expected)
{
    return writeMinimum(id, minimum, expected, PartAction::Minimum);
}

PartWrite PartWriter::writeMinimum(qint64 id, std::optional<qint64> minimum,
                                   std::optional<qint64> expected, PartAction action)
{
    if (m_db.isOpen() && !m_db.keepsJournal())
        return refused(QStringLiteral("в этой базе данных нет таблицы минимумов"));
    return write(NameChange::Op::Changed, id, {}, {}, action,
                 [&](QSqlQuery& query, PartWrite& result) {
                     // The part's row is locked first: a delete of the part on another
                     // computer waits, so no minimum outlives its part.
                     if (!lockPart(query, id, result))
                         return false;
                     const Engine engine = engineOf(m_db.connection());
                     query.prepare(QStringLiteral("SELECT minimum FROM partMinimum "
                                                  "WHERE idnom = ?%1")
                                       .arg(lockForUpdate(engine)));
                     query.addBindValue(id);
                     if (!query.exec())
                         return false;
                     std::optional<qint64> stored;
                     if (query.next() && !query.value(0).isNull())
                         stored = query.value(0).toLongLong();
                     query.finish();
                     if (stored != expected) {
                         result.outcome = PartWrite::Outcome::ChangedElsewhere;
                         return false;
                     }
                     if (minimum) {
                         query.prepare(QStringLiteral(
                             "INSERT INTO partMinimum (idnom, minimum) VALUES (?, ?) "
                             "ON CONFLICT (idnom) DO UPDATE SET minimum = excluded.minimum"));
                         query.addBindValue(id);
                         query.addBindValue(*minimum);
                     } else {
                         query.prepare(QStringLiteral("DELETE FROM partMinimum WHERE idnom = ?"));
                         query.addBindValue(id);
                     }
                     return query.exec();
                 });
}

} // namespace tarvik

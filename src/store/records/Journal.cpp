#include "store/records/Journal.h"

#include "store/register/Dialect.h"
#include "store/register/JournalSchema.h"
#include "store/text/TextFold.h"

#include <QSet>
#include <QSqlQuery>
#include <QStringList>

#include <limits>

namespace tarvik {
namespace {

const QString kColumns = QStringLiteral("entry, changedAt, computer, login, outside, action, "
                                        "operation, part, name, field, was, became");

JournalEntry read(const QSqlQuery& query)
{
    JournalEntry entry;
    entry.entry = query.value(0).toLongLong();
    entry.changedAt = query.value(1).toString();
    entry.computer = query.value(2).toString();
    entry.login = query.value(3).toString();
    entry.outside = query.value(4).toInt() != 0;
    entry.action = query.value(5).toString();
    entry.operation = query.value(6).toString();
    entry.part = query.value(7).toLongLong();
    entry.name = query.value(8).toString();
    entry.field = query.value(9).toString();
    entry.was = query.value(10);
    entry.became = query.value(11);
    return entry;
}

// An entry's (or a name's in partJournalNames) match of the searched text: by the key the
// part had then, as the quick search keys its text; an entry without one (another program
// added the part and the program has not keyed it yet) by its name, ignoring the case of
// Latin letters only. Binds the key, then the text.
QString nameMatch(bool server)
{
    return server ? QStringLiteral("(strpos(nameKey, ?) > 0 OR (nameKey IS NULL AND "
                                   "strpos(lower(name), lower(?)) > 0))")
                  : QStringLiteral("(instr(nameKey, ?) > 0 OR (nameKey IS NULL AND "
                                   "instr(lower(name), lower(?)) > 0))");
}

// Up to this many parts whose names matched, their entries are read through the parts' own
// index; more, and the entries newest first hold a page's worth soon enough. At a million
// parts with ten entries each the two cost alike near here.
constexpr int kFewParts = 4000;

} // namespace

std::optional<QVector<qint64>> Journal::partsNamed(const QString& text, QSqlError* error) const
{
    const QSqlDatabase db = m_db.connection();
    QSqlQuery query(db);
    query.setForwardOnly(true);
    // Told apart here rather than by DISTINCT, which the file's engine answers through the
    // pairs' index, a lookup of the row for each: the plain pass through the rows is faster.
    query.prepare(
        QStringLiteral("SELECT part FROM partJournalNames WHERE %1").arg(nameMatch(onServer(db))));
    query.addBindValue(nameKeyOf(text));
    query.addBindValue(text);
    QSet<qint64> parts;
    if (query.exec()) {
        while (parts.size() <= kFewParts && query.next())
            parts.insert(query.value(0).toLongLong());
    }
    if (query.lastError().isValid()) {
        *error = query.lastError();
        m_db.noteError(*error);
        return std::nullopt;
    }
    return QVector<qint64>(parts.cbegin(), parts.cend());
}

JournalPage Journal::page(const JournalFilter& filter, qint64 before, int size,
                          const std::function<bool()>& stopping) const
{
    JournalPage result;
    if (!kept())
        return result;
    const QSqlDatabase db = m_db.connection();
    const bool server = onServer(db);
    QStringList where{QStringLiteral("entry < ?")};
    QVariantList binds{before > 0 ? before : std::numeric_limits<qint64>::max()};
    if (filter.part) {
        where << QStringLiteral("part = ?");
        binds << *filter.part;
    }
    if (!filter.nameText.isEmpty()) {
        // A rare name would have every entry read: the parts that ever had it are found among
        // their names first, and only their entries are read.
        if (!filter.part && hasJournalNames(db)) {
            const std::optional<QVector<qint64>> parts = partsNamed(filter.nameText, &result.error);
            if (!parts) {
                result.ok = false;
                return result;
            }
            if (parts->isEmpty())
                return result;
            if (parts->size() <= kFewParts) {
                where << QStringLiteral("part IN (%1)")
                             .arg(QStringList(int(parts->size()), QStringLiteral("?"))
                                      .join(QLatin1Char(',')));
                for (qint64 part : *parts)
                    binds << part;
            }
        }
        where << nameMatch(server);
        binds << nameKeyOf(filter.nameText) << filter.nameText;
    }
    QSqlQuery query(db);
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT %1 FROM partJournal WHERE %2 ORDER BY entry DESC LIMIT %3")
                      .arg(kColumns, where.join(QStringLiteral(" AND ")))
                      .arg(size));
    for (const QVariant& value : binds)
        query.addBindValue(value);
    if (!query.exec()) {
        result.ok = false;
        result.error = query.lastError();
        m_db.noteError(result.error);
        return result;
    }
    while (query.next()) {
        if (stopping && stopping()) {
            result.ok = false;
            return result;
        }
        result.entries << read(query);
    }
    if (query.lastError().isValid()) {
        result.ok = false;
        result.error = query.lastError();
        m_db.noteError(result.error);
    }
    return result;
}

std::optional<JournalEntry> Journal::entry(qint64 entry, QSqlError* error) const
{
    if (!kept())
        return std::nullopt;
    QSqlQuery query(m_db.connection());
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT %1 FROM partJournal WHERE entry = ?").arg(kColumns));
    query.addBindValue(entry);
    if (!query.exec()) {
        if (error)
            *error = query.lastError();
        return std::nullopt;
    }
    if (!query.next())
        return std::nullopt;
    return read(query);
}

QVector<JournalEntry> Journal::sameChange(const JournalEntry& of, QSqlError* error) const
{
    // One statement's entries share the part, the operation and the moment; the part's own
    // index finds them.
    QVector<JournalEntry> entries;
    QSqlQuery query(m_db.connection());
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT %1 FROM partJournal WHERE part = ? AND operation = ? "
                                 "AND changedAt = ? ORDER BY entry")
                      .arg(kColumns));
    query.addBindValue(of.part);
    query.addBindValue(of.operation);
    query.addBindValue(of.changedAt);
    if (!query.exec()) {
        if (error)
            *error = query.lastError();
        return {};
    }
    while (query.next())
        entries << read(query);
    return entries;
}

} // namespace tarvik

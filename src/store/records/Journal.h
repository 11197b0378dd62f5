#pragma once

#include "store/register/Connection.h"

#include <QSqlError>
#include <QString>
#include <QVariant>
#include <QVector>

#include <functional>
#include <optional>

namespace tarvik {

// One entry of the journal of changes to the parts, as its triggers wrote it.
struct JournalEntry {
    qint64 entry = 0;
    QString changedAt; // UTC, ISO 8601
    QString computer;
    QString login;
    bool outside = false; // made by another program
    QString action;       // actionWord(), or the operation for another program's change
    QString operation;    // add, edit, delete: what the statement did to the part's row
    qint64 part = 0;
    QString name; // the part's name at the time
    QString field;
    QVariant was, became; // NULL: none
};

// Which entries a page shows.
struct JournalFilter {
    std::optional<qint64> part; // one part's only
    QString nameText;           // parts whose name held this text, ignoring case

    bool operator==(const JournalFilter&) const = default;
};

struct JournalPage {
    bool ok = true;
    QSqlError error;
    QVector<JournalEntry> entries; // newest first
};

// Reads the journal newest first, a page at a time: each page starts below the last entry
// of the one before (`before`), so a page costs the same however deep it is.
class Journal {
public:
    // `db` stays open for as long as the journal is read.
    explicit Journal(const Connection& db) : m_db(db) {}

    // Whether the register keeps a journal at all (JournalSchema).
    bool kept() const { return m_db.keepsJournal(); }
    // Up to `size` entries older than `before` (0: from the newest). `stopping`, asked between
    // rows, ends the read early (not ok) where the engine cannot be interrupted.
    JournalPage page(const JournalFilter& filter, qint64 before, int size,
                     const std::function<bool()>& stopping = {}) const;
    // One entry; nothing when there is none (or it cannot be read: `error`).
    std::optional<JournalEntry> entry(qint64 entry, QSqlError* error = nullptr) const;
    // The entries one add or one delete of a part put down together with `of`, oldest first.
    QVector<JournalEntry> sameChange(const JournalEntry& of, QSqlError* error = nullptr) const;

private:
    // The parts whose names in the journal held `text`, up to one more than a few; nothing
    // when they cannot be read (`error`).
    std::optional<QVector<qint64>> partsNamed(const QString& text, QSqlError* error) const;

    const Connection& m_db;
};

} // namespace tarvik

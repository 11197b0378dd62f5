#pragma once

#include "store/records/PartAction.h"
#include "store/records/PartImport.h"
#include "store/register/Connection.h"
#include "store/register/PartChange.h"

#include <QSqlError>
#include <QStringList>
#include <QVariant>
#include <QVariantMap>

#include <functional>
#include <optional>

namespace tarvik {

// What one write of a part came to.
struct PartWrite {
    enum class Outcome {
        Saved,
        ChangedElsewhere, // the stored row no longer holds what the change depends on
        Gone,             // no such part any more
        Failed,
    };
    Outcome outcome = Outcome::Failed;
    qint64 id = -1;  // the part written (an added part's new id)
    QSqlError error; // Failed by the engine: its error
    QString reason;  // Failed otherwise: the program's words

    bool saved() const { return outcome == Outcome::Saved; }
    bool busy() const { return outcome == Outcome::Failed && isBusyError(error); }
};

// The one way the program writes a part. Each add, change and delete is a write transaction
// of its own that derives the name key beside the name, checks what the change depends on
// against the stored row, and after the commit announces what it did to the names to the
// register (Register::partChanged), read inside the same transaction so that caches of the
// names can follow it in place.
class PartWriter {
public:
    // `db` stays open for as long as the writer is used.
    explicit PartWriter(const Connection& db) : m_db(db) {}

    // `fields`: column → value; idFamKey is derived, never given.
    PartWrite add(const QVariantMap& fields);
    // Writes only if every field of `expected` still holds that value (compared as text, a
    // missing value as empty); otherwise nothing is written. `action`: what the journal says
    // the change was.
    PartWrite change(qint64 id, const QVariantMap& fields, const QVariantMap& expected,
                     PartAction action);
    PartWrite remove(qint64 id);
    // The part's minimum stock (none: empty), written only if the stored one is still
    // `expected` (none: empty); otherwise ChangedElsewhere. Gone when the part is.
    PartWrite setMinimum(qint64 id, std::optional<qint64> minimum, std::optional<qint64> expected);
    // Puts back what the journal's entry changed, only if what it changed to is still stored
    // (otherwise ChangedElsewhere, `reason` saying what is stored now): an edited field or
    // minimum gets its old value, an added part is deleted, a deleted part comes back whole
    // (under its old number when that is free). The undo is journaled as such.
    PartWrite undo(qint64 entry);
    // Writes the rows of an import in one transaction, all or nothing, as one announcement
    // that names no part. Each new part gets its record key, name key and package picture link
    // as a part saved in the part dialog does; a name stored before the import (looked up
    // before anything is written, so rows of one name in the file fare alike) is added anyway,
    // skipped, or has its price and quantity written into the first stored part of that name,
    // as `existing` says. The journal calls it all an import.
    struct ImportCounts {
        int added = 0;
        int updated = 0;
        int skipped = 0;
    };
    // `progress` is told the rows done every few hundred rows, inside the transaction; false
    // stops the import and nothing of it is written.
    using ImportProgress = std::function<bool(qsizetype done)>;
    PartWrite importParts(const QList<ImportedPart>& parts, ExistingNames existing,
                          ImportCounts* counts = nullptr, const ImportProgress& progress = {});

private:
    using Body = std::function<bool(QSqlQuery& query, PartWrite& result)>;
    PartWrite refused(const QString& reason) const;
    PartWrite failed(const QSqlError& error) const;
    bool mayWrite(QString* reason) const;
    static bool knownFields(const QVariantMap& fields, QString* reason);
    QVariantMap stored(const QVariantMap& fields) const;
    NameChange describe(NameChange::Op op, qint64 id, qint64 before) const;
    // One transaction around `body`, which runs the statements on the query it is given and
    // returns false when nothing may be committed (with the outcome set unless the engine
    // failed). The journal's triggers are told `action` for the statements of `body`.
    PartWrite write(NameChange::Op op, qint64 id, const QVariantMap& fields,
                    const QVariantMap& expected, PartAction action, const Body& body);
    bool tellJournal(QSqlQuery& query, PartAction action) const;
    bool endJournalContext(QSqlQuery& query) const;
    // Locks the part's row and checks that it still holds `expected` (none: that it exists);
    // otherwise sets the outcome (Gone, ChangedElsewhere) unless the engine failed.
    bool lockPart(QSqlQuery& query, qint64 id, PartWrite& result,
                  const QVariantMap& expected = {}) const;
    bool insertRow(QSqlQuery& query, const QVariantMap& fields, PartWrite& result) const;
    // The insert of a row of `columns` (as stored(): with the name key).
    QString insertSql(const QStringList& columns) const;
    PartWrite writeMinimum(qint64 id, std::optional<qint64> minimum, std::optional<qint64> expected,
                           PartAction action);

    const Connection& m_db;
};

} // namespace tarvik

#pragma once

#include "store/register/Connection.h"
#include "store/register/PartChange.h"

#include <QSqlError>
#include <QStringList>
#include <QVariant>
#include <QVariantMap>

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
    // missing value as empty); otherwise nothing is written.
    PartWrite change(qint64 id, const QVariantMap& fields, const QVariantMap& expected = {});
    PartWrite remove(qint64 id);

private:
    PartWrite refused(const QString& reason) const;
    PartWrite failed(const QSqlError& error) const;
    bool mayWrite(QString* reason) const;
    static bool knownFields(const QVariantMap& fields, QString* reason);
    QVariantMap stored(const QVariantMap& fields) const;
    NameChange describe(NameChange::Op op, qint64 id, qint64 before) const;
    // One transaction around `body`, which runs the statements on the query it is given and
    // returns false when nothing may be committed (with the outcome set unless the engine
    // failed).
    template <typename Body>
    PartWrite write(NameChange::Op op, qint64 id, const QVariantMap& fields,
                    const QVariantMap& expected, Body&& body);

    const Connection& m_db;
};

} // namespace tarvik

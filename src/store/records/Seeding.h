#pragma once

#include "store/records/PartRow.h"
#include "store/register/Connection.h"

#include <QByteArray>
#include <QSqlQuery>
#include <QString>
#include <QVariant>

namespace tarvik {

// Writes a new register file: the schema, then rows, all in one transaction that is
// rolled back unless commit() succeeds. Used by the build (the bundled demo file), the
// benchmark's generator and tests; the program itself creates a file only as a user's first
// register (createFirstRegister).
class Seeder {
public:
    // Fails (ok() false) if anything already exists at `path`.
    explicit Seeder(const QString& path);
    ~Seeder();

    bool ok() const { return m_error.isEmpty(); }
    QString error() const { return m_error; }

    bool addPackageType(const QString& name, const QString& fileName, const QByteArray& picture);
    bool addPart(const PartRow& part);
    bool commit();

    // Rows brought over from another register, kept as they were: their numbers, NULLs
    // (a null QString, QByteArray or QVariant) and text unchanged; the derived columns
    // computed as for any other row.
    bool addExistingPackageType(qint64 id, const QVariant& yzdID, const QString& name,
                                const QString& fileName, const QByteArray& picture);
    bool addExistingPart(qint64 idnom, const PartRow& part);

    // After commit(): the file's own consistency check, and the rows it holds.
    struct Written {
        qint64 parts = -1, types = -1, counted = -1, kontValues = -1;
        QString integrity;
    };
    Written readBack();

    // The engine said the disk (or the file size limit) is full.
    bool diskFull() const { return m_diskFull; }

private:
    bool fail(const QString& what, const QSqlQuery& query);

    QString m_path;
    Connection m_db;
    QString m_error;
    QSqlQuery m_insertPart;
    QSqlQuery m_insertType;
    QSqlQuery m_insertExistingPart;
    QSqlQuery m_insertExistingType;
    bool m_committed = false;
    bool m_diskFull = false;
};

// The register an installed program makes in the user's data folder on first start: a copy
// of the bundled `demo` when that file is there, an empty register otherwise. The folder is
// made when missing; nothing at `path` is ever overwritten.
struct FirstRegister {
    bool fromDemo = false;
    QString error; // why it was not made, in the program's words with the system's; empty: made
};
FirstRegister createFirstRegister(const QString& path, const QString& demo);

} // namespace tarvik

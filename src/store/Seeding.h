#pragma once

#include "store/Database.h"
#include "store/PartRow.h"

#include <QByteArray>
#include <QSqlQuery>
#include <QString>

namespace tarvik {

// Writes a new register file: the schema, then rows, all in one transaction that is
// rolled back unless commit() succeeds. Used by the build (the bundled demo file), the
// benchmark's generator and tests; the program itself never creates a file.
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

private:
    bool fail(const QString& what, const QSqlQuery& query);

    QString m_path;
    Database m_db;
    QString m_error;
    QSqlQuery m_insertPart;
    QSqlQuery m_insertType;
    bool m_committed = false;
};

} // namespace tarvik

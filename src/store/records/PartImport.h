#pragma once

#include "store/records/PartRow.h"
#include "store/register/Connection.h"

#include <QHash>
#include <QList>
#include <QSqlDatabase>
#include <QSqlError>
#include <QStringList>

class QIODevice;

namespace tarvik {

// The parts' table as a spreadsheet holds it: the columns of the export, read back by the
// import in any order.
const QStringList& partCsvColumns();

// What an import does with a row whose name a stored part already has (exactly, letter case
// and all, as the part dialog's warning compares it).
enum class ExistingNames {
    Add,    // adds it anyway: the register may hold a name more than once
    Skip,   // leaves the stored part as it is
    Update, // writes the row's price and quantity into the stored part
};

// One row of the file, ready to be written.
struct ImportedPart {
    qint64 line = 0; // the file's line the row starts on
    PartRow part;    // name, package, price, quantity and notes as the file gives them
};

struct BadImportRow {
    qint64 line = 0;
    QString reason;
};

// What an import would do, found out without writing anything.
struct PartImportPlan {
    QString refusal; // the file cannot be imported at all: the program's words
    QSqlError error; // the register could not be read
    QString encoding;
    QString separator;
    QStringList unknownColumns; // read past
    QList<ImportedPart> rows;   // every good row, in the file's order
    QList<BadImportRow> bad;
    int existing = 0;    // good rows whose name is stored
    int storedTwice = 0; // of those, names stored more than once

    bool ok() const { return refusal.isEmpty() && !error.isValid(); }
    int fresh() const { return int(rows.size()) - existing; }
};

// Reads the CSV on `file` (open for reading) and compares its names with the register's.
PartImportPlan planPartImport(const Connection& db, QIODevice& file);

// The stored part an import compares a name with: the first of that name by number (the
// list's order for equal names), and how many parts have the name.
struct StoredName {
    qint64 id = -1;
    int count = 0;
};
// Looks the names up, a slice at a time; on the server with `lock` the rows found stay locked
// until the caller's transaction ends.
bool findStoredNames(const QSqlDatabase& db, const QStringList& names, bool lock,
                     QHash<QString, StoredName>& found, QSqlError* error);

} // namespace tarvik

#pragma once

#include <QString>
#include <QStringList>
#include <QVariantList>

#include <memory>

namespace tarvik {

// The importer's only view of an Access file: its tables, row by row. The file reader
// implements it over the Access library; tests feed the importer rows of their own.
class AccessRowReader {
public:
    struct Table {
        bool found = false;
        QStringList columns;     // in the file's order
        qint64 declaredRows = 0; // what the table's definition says it holds
    };

    virtual ~AccessRowReader() = default;

    // Every table the file lists, system tables included, in the file's order.
    virtual QStringList tableNames() const { return {}; }

    // Starts reading `name` (matched ignoring case, as Access does).
    virtual Table openTable(const QString& name) = 0;

    // The next row of the open table, values in the order of its columns: a null QVariant for
    // NULL, qint64 for whole numbers, double, bool, QString for text (the empty text is an
    // empty, not a null, QString), QByteArray for binary data. False at the end of the table
    // or when reading stopped on damage.
    virtual bool nextRow(QVariantList& row) = 0;

    // Why reading stopped early, in the reader's words; empty while the file reads well.
    virtual QString damage() const = 0;
};

// Opens an Access (Jet 3 or Jet 4) file for reading; null with `error` set when the file
// cannot be opened as one.
std::unique_ptr<AccessRowReader> openAccessFile(const QString& path, QString* error);

} // namespace tarvik

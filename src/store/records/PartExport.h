#pragma once

#include "store/register/Connection.h"

#include <QSqlError>
#include <QVector>

#include <functional>
#include <optional>

class QIODevice;

namespace tarvik {

// Every part's number, in the list's order by name.
std::optional<QVector<qint64>> partIdsByName(const Connection& db, QSqlError* error);

struct PartExport {
    qint64 rows = 0; // parts written
    QSqlError error; // the register could not be read
    QString reason;  // otherwise: the program's words (the file could not be written, stopped)
    bool ok() const { return !error.isValid() && reason.isEmpty(); }
};

// Writes the parts `ids` in that order as the parts' CSV (PartImport.h's columns, CsvWriter's
// form; the value as the stock value label writes price times quantity) to `out`, read and
// written a slice at a time so that a million parts cost the memory of one slice. A part gone
// meanwhile is left out. `progress` is told the parts done after each slice; false stops the
// export.
PartExport exportPartsCsv(const Connection& db, const QVector<qint64>& ids, QIODevice& out,
                          const std::function<bool(qint64 done)>& progress = {});

} // namespace tarvik

#pragma once

#include "store/register/Connection.h"

#include <QHash>
#include <QSqlError>

#include <optional>

namespace tarvik {

// The parts' minimum stock as stored (written only by PartWriter::setMinimum). A register
// without the table (read-only, kept by an earlier build, or a server where it could not be
// added) reads as one without minimums.
struct MinimumsRead {
    bool ok = true;
    QSqlError error;                // !ok: the engine's error
    QHash<qint64, qint64> minimums; // part id → minimum; parts without one are absent
};

namespace Minimums {

// Every part's minimum.
MinimumsRead all(const Connection& db);
// One part's: at most one entry.
MinimumsRead of(const Connection& db, qint64 id);

} // namespace Minimums
} // namespace tarvik

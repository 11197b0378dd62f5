#pragma once

#include "store/records/Statements.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QVector>

#include <optional>

namespace tarvik {

// The row ids a statement gives, read from a register on a server, in the same order and with
// the same rows as the file gives them. The file's own functions (the folded name, its key,
// the name pattern) do not exist there: those statements read the names and the program
// answers them with the very functions the file's engine calls. The first `limit` ids when
// it is above zero.
std::optional<QVector<qint64>> readServerKeys(const QSqlDatabase& db, const Statement& statement,
                                              int limit, QSqlError& error);

} // namespace tarvik

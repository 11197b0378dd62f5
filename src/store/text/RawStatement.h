#pragma once

#include <QByteArray>

#include <sqlite3.h>

namespace tarvik {

// A statement on the engine's own handle, for the few places Qt cannot serve (bytes that are
// not UTF-8, a statement another thread may interrupt); finalized when it goes. `statement`
// is null when it did not prepare.
struct RawStatement {
    sqlite3_stmt* statement = nullptr;

    RawStatement(sqlite3* db, const QByteArray& sql)
    {
        if (sqlite3_prepare_v2(db, sql.constData(), -1, &statement, nullptr) != SQLITE_OK) {
            sqlite3_finalize(statement);
            statement = nullptr;
        }
    }
    ~RawStatement() { sqlite3_finalize(statement); }
    RawStatement(const RawStatement&) = delete;
    RawStatement& operator=(const RawStatement&) = delete;
};

} // namespace tarvik

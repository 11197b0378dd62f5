#pragma once

#include "store/register/Dialect.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

namespace tarvik {

// A write transaction that rolls back unless committed. On the file IMMEDIATE: the write lock
// is taken (waiting as long as any write would) before anything is read, so what is read
// inside cannot change before the write, and a reader that later wants to write is never
// refused at once in favour of another waiting writer. On the server a read that the write
// depends on locks its row itself (lockForUpdate).
class WriteTransaction {
public:
    explicit WriteTransaction(const QSqlDatabase& db) : m_db(db)
    {
        QSqlQuery begin(m_db);
        m_open = begin.exec(beginWriteSql(engineOf(m_db)));
        if (!m_open)
            m_error = begin.lastError();
    }
    ~WriteTransaction()
    {
        if (m_open)
            QSqlQuery(m_db).exec(QStringLiteral("ROLLBACK"));
    }
    WriteTransaction(const WriteTransaction&) = delete;
    WriteTransaction& operator=(const WriteTransaction&) = delete;

    // False when it could not begin (another program's lock, damage); error() says why.
    bool begun() const { return m_open; }
    // False when the commit failed: everything since the begin is undone then.
    bool commit()
    {
        if (!m_open)
            return false;
        QSqlQuery commit(m_db);
        if (commit.exec(QStringLiteral("COMMIT"))) {
            m_open = false;
            return true;
        }
        m_error = commit.lastError();
        return false; // rolled back by the destructor
    }
    QSqlError error() const { return m_error; }

private:
    QSqlDatabase m_db;
    bool m_open = false;
    QSqlError m_error;
};

} // namespace tarvik

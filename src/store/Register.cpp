#include "store/Register.h"

#include <QMutexLocker>

namespace tarvik {

Register::Register(const QString& path, QObject* parent) : QObject(parent), m_path(path) {}

Register::~Register()
{
    closeAll();
}

OpenResult Register::check()
{
    Database probe;
    m_checked = connect(probe);
    return m_checked;
}

OpenResult Register::connect(Database& db)
{
    {
        QMutexLocker lock(&m_mutex);
        if (m_closed)
            return {OpenProblem::CannotOpen, QStringLiteral("the register is closed")};
    }
    const OpenResult result = db.open(m_path);
    // Tracked even when the check found a problem: an open connection is a connection.
    if (db.isOpen()) {
        QMutexLocker lock(&m_mutex);
        m_open.insert(&db);
        db.m_owner = this;
    }
    return result;
}

void Register::forget(Database* db)
{
    QMutexLocker lock(&m_mutex);
    m_open.remove(db);
}

void Register::closeAll()
{
    {
        QMutexLocker lock(&m_mutex);
        m_closed = true;
    }
    emit aboutToClose();
    QSet<Database*> open;
    {
        QMutexLocker lock(&m_mutex);
        open = m_open;
    }
    for (Database* db : open)
        db->close(); // calls forget()
}

void Register::reopen()
{
    QMutexLocker lock(&m_mutex);
    m_closed = false;
}

bool Register::isClosed() const
{
    QMutexLocker lock(&m_mutex);
    return m_closed;
}

int Register::openConnections() const
{
    QMutexLocker lock(&m_mutex);
    return int(m_open.size());
}

} // namespace tarvik

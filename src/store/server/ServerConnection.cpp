#include "store/server/ServerConnection.h"

#include "store/register/Connection.h"

#include <QAtomicInteger>

namespace tarvik {
namespace {

const char* const kDriver = "QPSQL";

QString nextConnectionName()
{
    static QAtomicInteger<quint64> counter;
    return QStringLiteral("tarvik-server-%1").arg(counter.fetchAndAddRelaxed(1));
}

} // namespace

bool serverDriverAvailable()
{
    return QSqlDatabase::isDriverAvailable(QLatin1String(kDriver));
}

ServerConnection::ServerConnection() : m_connectionName(nextConnectionName()) {}

ServerConnection::~ServerConnection()
{
    close();
}

QSqlDatabase ServerConnection::connection() const
{
    return QSqlDatabase::database(m_connectionName, false);
}

bool ServerConnection::open(const ServerAddress& address, const QString& password)
{
    close();
    m_address = address;
    m_error.clear();
    if (!serverDriverAvailable()) {
        m_error = address.driverMissing();
        return false;
    }
    QSqlDatabase db = QSqlDatabase::addDatabase(QLatin1String(kDriver), m_connectionName);
    if (!address.openOn(db, password)) {
        m_error = withDetail(
            QStringLiteral("Не удаётся подключиться к серверу %1.").arg(address.display()),
            engineDetail(db.lastError()));
        return false;
    }
    return true;
}

void ServerConnection::close()
{
    if (!QSqlDatabase::contains(m_connectionName))
        return;
    {
        QSqlDatabase db = QSqlDatabase::database(m_connectionName, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(m_connectionName);
}

QString describeServerFailure(const QString& what, const QSqlError& error)
{
    return withDetail(what, engineDetail(error));
}

} // namespace tarvik

#pragma once

#include "store/register/ServerAddress.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QString>

namespace tarvik {

// One connection of its own to a PostgreSQL server, closed and removed with the object.
class ServerConnection {
public:
    ServerConnection();
    ~ServerConnection();
    ServerConnection(const ServerConnection&) = delete;
    ServerConnection& operator=(const ServerConnection&) = delete;

    // Opens the connection. `password` is handed to the driver only; empty, the client
    // library looks in ~/.pgpass or PGPASSFILE. False with the sentence in error().
    bool open(const ServerAddress& address, const QString& password = {});
    void close();

    QSqlDatabase connection() const;
    const ServerAddress& address() const { return m_address; }
    // Why the last open failed: the program's sentence naming the server, the engine's reason
    // in brackets.
    QString error() const { return m_error; }

private:
    QString m_connectionName;
    ServerAddress m_address;
    QString m_error;
};

// Qt's PostgreSQL driver is a plugin of its own, often missing where Qt is.
bool serverDriverAvailable();

// The sentence for a failed statement on the server, with the engine's words in brackets.
QString describeServerFailure(const QString& what, const QSqlError& error);

} // namespace tarvik

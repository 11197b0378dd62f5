#pragma once

#include <QSqlDatabase>
#include <QString>

#include <optional>

namespace tarvik {

// Where a register shared by several computers lives: a PostgreSQL database, named in
// base/tarvik.ini beside the register's file as
//   [register]
//   server=postgresql://USER@HOST[:PORT]/DATABASE[?sslmode=…&sslrootcert=…&host=…]
// The address never carries a password. The server's client library finds one by itself in
// ~/.pgpass (%APPDATA%\postgresql\pgpass.conf on Windows) or in the file PGPASSFILE names,
// when the connection is opened without one; a password typed by the user is handed to the
// connection only, never written.
struct ServerAddress {
    QString user;         // empty: the client library's default (the system user's name)
    QString host;         // a name, an IPv4 or IPv6 address (without brackets); empty: local
    int port = -1;        // -1: the default port
    QString database;     // never empty
    QString sslMode;      // one of libpq's sslmode values; empty: libpq's default (prefer)
    QString sslRootCert;  // the sslrootcert= parameter: the file of the authorities trusted
                          // to sign the server's certificate; empty: libpq's default
    QString socketFolder; // the host= parameter: a Unix socket's folder, or a host that
                          // stands in for the one before the path

    // What the connection is opened to: host= wins over the host before the path.
    QString effectiveHost() const { return socketFolder.isEmpty() ? host : socketFolder; }

    // The address as it is written and shown: percent-encoded, never a password.
    QString uri() const;
    // "host:port/database" (or the socket folder), for sentences that name the server.
    QString display() const;

    // QSqlDatabase::setConnectOptions for the QPSQL driver: sslmode, a time limit on
    // connecting (a server that does not answer must not freeze the program), the program's
    // name for the server's list of sessions, and TCP keepalive, so that a server gone
    // silently is noticed within half a minute.
    QString connectOptions(int connectTimeoutSeconds = 10) const;
    // Host, port, user, database and options on a QPSQL connection; no password.
    void applyTo(QSqlDatabase& db, int connectTimeoutSeconds = 10) const;
    // Applies the address to `db` and opens it, with `password` when it is not empty (else
    // libpq finds one itself); the password stays on no setting of the connection afterwards.
    bool openOn(QSqlDatabase& db, const QString& password) const;
    // The sentence for a machine without Qt's driver for the server, naming the server.
    QString driverMissing() const;

    bool operator==(const ServerAddress&) const = default;
};

struct ParsedServerAddress {
    std::optional<ServerAddress> address;
    QString error; // why the text is not an address, in Russian; it never repeats a password
};

// Reads postgresql://… or postgres://…: percent-decoding, [IPv6] hosts, a port, sslmode
// checked against libpq's values, host= for a socket folder. A password, in the user part
// or as a parameter, is refused, as is any parameter the program does not know.
ParsedServerAddress parseServerAddress(const QString& text);

// base/tarvik.ini: the file beside the register's that may name a server.
QString serverSettingsPath(const QString& registerPath);

struct ServerChoice {
    std::optional<ServerAddress> server; // nothing: the register is the file, as ever
    QString error; // the settings file or its address could not be read; say so and stop
};
ServerChoice readServerChoice(const QString& registerPath);
// Writes the address (never a password) into the settings beside the register, keeping
// whatever else the file holds. False with the reason in `error`.
bool writeServerChoice(const QString& registerPath, const ServerAddress& address, QString* error);

} // namespace tarvik

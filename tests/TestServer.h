#pragma once

#include "TestRegister.h"

#include "store/register/ServerAddress.h"

#include <QSqlDatabase>
#include <QString>
#include <QVariant>

namespace tarvik::test {

// The suites that need a PostgreSQL server find one in TARVIK_TEST_PG (tools/pg-test-cluster.sh
// sets it); without it they skip.
extern const char* const kNoTestServer;
#define TARVIK_SKIP_WITHOUT_SERVER()                                                               \
    do {                                                                                           \
        if (qEnvironmentVariableIsEmpty("TARVIK_TEST_PG"))                                         \
            QSKIP(::tarvik::test::kNoTestServer);                                                  \
    } while (false)

// A database of its own on the test server, created empty and dropped with the object, and
// a connection to it for plain SQL, as psql or another client would send it.
class ScratchServerDatabase {
public:
    ScratchServerDatabase();
    ~ScratchServerDatabase();
    ScratchServerDatabase(const ScratchServerDatabase&) = delete;
    ScratchServerDatabase& operator=(const ScratchServerDatabase&) = delete;

    bool ok() const { return m_error.isEmpty(); }
    QString error() const { return m_error; }
    const ServerAddress& address() const { return m_address; }

    // Runs `sql` (several statements allowed); the server's error, empty on success.
    QString run(const QString& sql);
    // The first field of the first row; an invalid QVariant on failure.
    QVariant value(const QString& sql);
    // Tables and functions the database's public schema holds.
    qint64 objects();
    QSqlDatabase connection() const;

private:
    ServerAddress m_admin;
    ServerAddress m_address;
    QString m_name;
    QString m_error;
};

// A program folder with a register file, as TestRegister, whose rows are copied to a
// database of its own on the test server (as tarvik --copy-to-server does): the same register
// on both back ends, so that what the windows show on each can be compared.
class ServerRegister {
public:
    bool write(const QList<PartRow>& parts, const QList<Package>& packages = {});

    TestRegister& file() { return m_file; }
    ScratchServerDatabase& server() { return m_server; }
    // The owner of the connections to the server's copy.
    Register& owner();
    QString error() const { return m_error; }

private:
    TestRegister m_file;
    ScratchServerDatabase m_server;
    std::unique_ptr<Register> m_owner;
    QString m_error;
};

} // namespace tarvik::test

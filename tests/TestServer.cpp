#include "TestServer.h"

#include "store/server/ServerCopy.h"

#include <QAtomicInteger>
#include <QCoreApplication>
#include <QSqlError>
#include <QSqlQuery>

namespace tarvik::test {
namespace {

const QString kAdminConnection = QStringLiteral("test-server-admin");

QString adminRun(const ServerAddress& admin, const QString& sql)
{
    QString error;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), kAdminConnection);
        admin.applyTo(db);
        if (!db.open()) {
            error = db.lastError().text();
        } else {
            QSqlQuery query(db);
            if (!query.exec(sql))
                error = query.lastError().text();
        }
    }
    QSqlDatabase::removeDatabase(kAdminConnection);
    return error;
}

} // namespace

const char* const kNoTestServer =
    "no PostgreSQL server for the tests: run them inside tools/pg-test-cluster.sh -- …";

ScratchServerDatabase::ScratchServerDatabase()
{
    static QAtomicInteger<int> counter;
    const ParsedServerAddress parsed = parseServerAddress(qEnvironmentVariable("TARVIK_TEST_PG"));
    if (!parsed.address) {
        m_error = parsed.error;
        return;
    }
    m_admin = *parsed.address;
    m_name = QStringLiteral("tarvik_test_%1_%2")
                 .arg(QCoreApplication::applicationPid())
                 .arg(counter.fetchAndAddRelaxed(1));
    m_error = adminRun(m_admin, QStringLiteral("CREATE DATABASE %1").arg(m_name));
    m_address = m_admin;
    m_address.database = m_name;
    if (!m_error.isEmpty())
        return;
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), m_name);
    m_address.applyTo(db);
    if (!db.open())
        m_error = db.lastError().text();
}

ScratchServerDatabase::~ScratchServerDatabase()
{
    if (QSqlDatabase::contains(m_name)) {
        {
            QSqlDatabase db = QSqlDatabase::database(m_name, false);
            db.close();
        }
        QSqlDatabase::removeDatabase(m_name);
    }
    if (!m_name.isEmpty())
        adminRun(m_admin, QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(m_name));
}

QSqlDatabase ScratchServerDatabase::connection() const
{
    return QSqlDatabase::database(m_name, false);
}

QString ScratchServerDatabase::run(const QString& sql)
{
    QSqlQuery query(connection());
    return query.exec(sql) ? QString() : query.lastError().text();
}

QVariant ScratchServerDatabase::value(const QString& sql)
{
    QSqlQuery query(connection());
    if (!query.exec(sql) || !query.next())
        return {};
    return query.value(0);
}

qint64 ScratchServerDatabase::objects()
{
    return value(QStringLiteral(
                     "SELECT (SELECT count(*) FROM pg_class c JOIN pg_namespace n ON n.oid = "
                     "c.relnamespace WHERE n.nspname = 'public') + (SELECT count(*) FROM pg_proc "
                     "p JOIN pg_namespace n ON n.oid = p.pronamespace WHERE n.nspname = "
                     "'public')"))
        .toLongLong();
}

bool ServerRegister::write(const QList<PartRow>& parts, const QList<Package>& packages)
{
    if (!m_server.ok()) {
        m_error = m_server.error();
        return false;
    }
    if (!m_file.write(parts, packages)) {
        m_error = QStringLiteral("the file could not be written");
        return false;
    }
    const ServerCopyResult copied = copyRegisterToServer(m_file.databasePath(), m_server.address());
    m_error = copied.error;
    return copied.ok();
}

Register& ServerRegister::owner()
{
    if (!m_owner)
        m_owner = std::make_unique<Register>(m_server.address());
    return *m_owner;
}

} // namespace tarvik::test

#include "store/register/Connection.h"
#include "store/register/ServerAddress.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QTest>

using namespace tarvik;

// TLS to the server: the test cluster started with --tcp --ssl serves a certificate for the
// name localhost, signed by an authority of its own (TARVIK_TEST_PG_CA).
class TestServerSsl : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void connectsAsTheAddressAsks_data();
    void connectsAsTheAddressAsks();

private:
    int m_port = -1;
};

void TestServerSsl::initTestCase()
{
    if (qEnvironmentVariableIsEmpty("TARVIK_TEST_PG_CA"))
        QSKIP("no TLS server for the tests: run them inside tools/pg-test-cluster.sh --tcp --ssl");
    const ParsedServerAddress tcp = parseServerAddress(qEnvironmentVariable("TARVIK_TEST_PG_TCP"));
    QVERIFY2(tcp.address, qPrintable(tcp.error));
    m_port = tcp.address->port;
}

void TestServerSsl::connectsAsTheAddressAsks_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("parameters");
    QTest::addColumn<bool>("connects");
    // The server takes both plain and TLS connections: what the session uses is the address's.
    QTest::newRow("disable") << "127.0.0.1"
                             << "sslmode=disable" << true;
    QTest::newRow("require") << "127.0.0.1"
                             << "sslmode=require" << true;
    QTest::newRow("verify-full, the authority given")
        << "localhost"
        << "sslmode=verify-full&sslrootcert=CA" << true;
    QTest::newRow("verify-full, another name") << "127.0.0.1"
                                               << "sslmode=verify-full&sslrootcert=CA" << false;
}

void TestServerSsl::connectsAsTheAddressAsks()
{
    QFETCH(QString, host);
    QFETCH(QString, parameters);
    QFETCH(bool, connects);
    const QString ca = QString::fromLatin1(
        QUrl::toPercentEncoding(qEnvironmentVariable("TARVIK_TEST_PG_CA"), "/"));
    const ParsedServerAddress parsed =
        parseServerAddress(QStringLiteral("postgresql://postgres@%1:%2/postgres?%3")
                               .arg(host)
                               .arg(m_port)
                               .arg(QString(parameters).replace(QLatin1String("CA"), ca)));
    QVERIFY2(parsed.address, qPrintable(parsed.error));
    Connection db;
    const OpenResult result = db.open(*parsed.address);
    // Not a register, but the connection is made (or refused) before that is looked at.
    QCOMPARE(result.problem != OpenProblem::Unreachable, connects);
    if (connects) {
        QSqlQuery ssl(db.connection());
        QVERIFY2(
            ssl.exec(QStringLiteral("SELECT ssl FROM pg_stat_ssl WHERE pid = pg_backend_pid()")),
            qPrintable(ssl.lastError().text()));
        QVERIFY(ssl.next());
        QCOMPARE(ssl.value(0).toBool(), parameters != QLatin1String("sslmode=disable"));
    }
    if (!connects) {
        const QString said = describeServerOpenProblem(parsed.address->display(), result);
        QVERIFY2(said.contains(host), qPrintable(said));
        QVERIFY2(said.contains(QLatin1String("localhost")), qPrintable(said)); // the engine's
    }
}

QTEST_GUILESS_MAIN(TestServerSsl)
#include "tst_serverssl.moc"

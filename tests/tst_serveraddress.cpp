#include "store/register/ServerAddress.h"

#include <QFile>
#include <QHash>
#include <QSqlDatabase>
#include <QTemporaryDir>
#include <QTest>

using namespace tarvik;

class TestServerAddress : public QObject {
    Q_OBJECT

private slots:
    void readsAddresses_data();
    void readsAddresses();
    void refusesWhatIsNoAddress_data();
    void refusesWhatIsNoAddress();
    void givesTheDriverItsOptions();
    void silentlyLostServerIsNoticedWithinHalfAMinute();
    void settingsBesideTheRegister();
};

void TestServerAddress::readsAddresses_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("database");
    QTest::addColumn<QString>("sslMode");
    QTest::addColumn<QString>("effectiveHost");

    QTest::newRow("host and port") << "postgresql://tarvik@db.example:5433/sklad"
                                   << "tarvik"
                                   << "db.example" << 5433 << "sklad"
                                   << ""
                                   << "db.example";
    QTest::newRow("short scheme, default port") << "postgres://tarvik@10.0.0.5/sklad"
                                                << "tarvik"
                                                << "10.0.0.5" << -1 << "sklad"
                                                << ""
                                                << "10.0.0.5";
    QTest::newRow("IPv6") << "postgresql://u@[::1]:6000/d"
                          << "u"
                          << "::1" << 6000 << "d"
                          << ""
                          << "::1";
    QTest::newRow("IPv6 without port") << "postgresql://u@[fe80::1%25eth0]/d"
                                       << "u"
                                       << "fe80::1%eth0" << -1 << "d"
                                       << ""
                                       << "fe80::1%eth0";
    QTest::newRow("socket folder") << "postgresql://postgres@/postgres?host=/tmp/pg%20x"
                                   << "postgres"
                                   << "" << -1 << "postgres"
                                   << ""
                                   << "/tmp/pg x";
    QTest::newRow("percent-encoded Cyrillic")
        << "postgresql://%D0%B8%D0%B2%D0%B0%D0%BD@h/%D1%81%D0%BA%D0%BB%D0%B0%D0%B4"
        << QString::fromUtf8("иван") << "h" << -1 << QString::fromUtf8("склад") << ""
        << "h";
    QTest::newRow("verify-full and port parameter")
        << "postgresql://u@h/d?sslmode=verify-full&port=7000"
        << "u"
        << "h" << 7000 << "d"
        << "verify-full"
        << "h";
    // The authorities' file is a path, not a secret: it may stand in the address.
    QTest::newRow("verify-full with the authorities' file")
        << "postgresql://u@db/d?sslmode=verify-full&sslrootcert=/etc/ssl/our%20ca.crt"
        << "u"
        << "db" << -1 << "d"
        << "verify-full"
        << "db";
    QTest::newRow("no user") << "postgresql://h/d?sslmode=require"
                             << ""
                             << "h" << -1 << "d"
                             << "require"
                             << "h";
    for (const char* mode : {"disable", "allow", "prefer", "require", "verify-ca", "verify-full"})
        QTest::addRow("sslmode=%s", mode)
            << QStringLiteral("postgresql://u@h/d?sslmode=%1").arg(QLatin1String(mode)) << "u"
            << "h" << -1 << "d" << mode << "h";
}

void TestServerAddress::readsAddresses()
{
    QFETCH(QString, text);
    const ParsedServerAddress parsed = parseServerAddress(text);
    QVERIFY2(parsed.address, qPrintable(parsed.error));
    const ServerAddress& address = *parsed.address;
    QTEST(address.user, "user");
    QTEST(address.port, "port");
    QTEST(address.database, "database");
    QTEST(address.sslMode, "sslMode");
    QTEST(address.effectiveHost(), "effectiveHost");
    if (address.socketFolder.isEmpty())
        QTEST(address.host, "host");
    // What the program writes back reads as the same address.
    const ParsedServerAddress again = parseServerAddress(address.uri());
    QVERIFY2(again.address, qPrintable(again.error + " in " + address.uri()));
    QCOMPARE(*again.address, address);
}

void TestServerAddress::refusesWhatIsNoAddress_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("named"); // what the message must name

    QTest::newRow("password in the user part") << "postgresql://u:s3cr%40t@h/d"
                                               << "Пароль";
    QTest::newRow("empty password") << "postgresql://u:@h/d"
                                    << "Пароль";
    QTest::newRow("password parameter") << "postgresql://u@h/d?password=s3cr%40t"
                                        << "Пароль";
    QTest::newRow("password before a bad parameter") << "postgresql://u:s3cr%40t@h/d?sslmode=maybe"
                                                     << "Пароль";
    QTest::newRow("another scheme") << "mysql://u@h/d"
                                    << "postgresql://";
    QTest::newRow("no scheme") << "u@h/d"
                               << "postgresql://";
    QTest::newRow("port too large") << "postgresql://u@h:99999/d"
                                    << "99999";
    QTest::newRow("port not a number") << "postgresql://u@h:x/d"
                                       << "«x»";
    QTest::newRow("bare IPv6") << "postgresql://u@::1/d"
                               << "[::1]";
    QTest::newRow("unclosed IPv6") << "postgresql://u@[::1/d"
                                   << "IPv6";
    QTest::newRow("no database") << "postgresql://u@h/"
                                 << "имени базы";
    QTest::newRow("no path") << "postgresql://u@h"
                             << "имени базы";
    QTest::newRow("unknown sslmode") << "postgresql://u@h/d?sslmode=maybe"
                                     << "verify-full";
    QTest::newRow("semicolon in the authorities' path")
        << "postgresql://u@h/d?sslmode=verify-full&sslrootcert=/a%3Bb/ca.crt"
        << "sslrootcert";
    QTest::newRow("unknown parameter") << "postgresql://u@h/d?options=-cfoo"
                                       << "«options»";
    QTest::newRow("several hosts") << "postgresql://u@h1,h2/d"
                                   << "несколько серверов";
}

void TestServerAddress::refusesWhatIsNoAddress()
{
    QFETCH(QString, text);
    QFETCH(QString, named);
    const ParsedServerAddress parsed = parseServerAddress(text);
    QVERIFY(!parsed.address);
    QVERIFY2(parsed.error.contains(named), qPrintable(parsed.error));
    QVERIFY2(!parsed.error.contains(QLatin1String("s3cr")), qPrintable(parsed.error));
}

const QString kKeepalive = QStringLiteral("keepalives=1;keepalives_idle=10;keepalives_interval=5;"
                                          "keepalives_count=3;tcp_user_timeout=25000");

void TestServerAddress::givesTheDriverItsOptions()
{
    const ServerAddress address =
        *parseServerAddress(QStringLiteral("postgresql://tarvik@db:5433/sklad?sslmode=verify-full"))
             .address;
    QCOMPARE(address.connectOptions(7),
             QStringLiteral("sslmode=verify-full;connect_timeout=7;application_name=tarvik;") +
                 kKeepalive);
    QCOMPARE(address.display(), QStringLiteral("db:5433/sklad"));

    // A path with a quote or a backslash stays one value for the client library.
    const ServerAddress trusting =
        *parseServerAddress(QStringLiteral("postgresql://u@db/d?sslmode=verify-full&"
                                           "sslrootcert=C:%5Cca%20dir%5Co'k.crt"))
             .address;
    QCOMPARE(trusting.sslRootCert, QStringLiteral("C:\\ca dir\\o'k.crt"));
    QVERIFY2(trusting.connectOptions(7).startsWith(
                 QStringLiteral("sslmode=verify-full;sslrootcert='C:\\\\ca dir\\\\o\\'k.crt';")),
             qPrintable(trusting.connectOptions(7)));

    // A socket folder given as host= is where the driver connects, whatever stands before
    // the path.
    const ServerAddress local =
        *parseServerAddress(QStringLiteral("postgresql://u@ignored/d?host=/run/pg")).address;
    QCOMPARE(local.connectOptions(10),
             QStringLiteral("connect_timeout=10;application_name=tarvik;") + kKeepalive);
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QPSQL")))
        QSKIP("Qt's PostgreSQL driver is not installed");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("t"));
        local.applyTo(db, 10);
        QCOMPARE(db.hostName(), QStringLiteral("/run/pg"));
        QCOMPARE(db.userName(), QStringLiteral("u"));
        QCOMPARE(db.databaseName(), QStringLiteral("d"));
        QCOMPARE(db.port(), -1);
        QVERIFY(db.password().isEmpty());
    }
    QSqlDatabase::removeDatabase(QStringLiteral("t"));
}

void TestServerAddress::silentlyLostServerIsNoticedWithinHalfAMinute()
{
    // No FIN ever comes from a server whose cable was pulled: only TCP's own probes find it.
    const ServerAddress address =
        *parseServerAddress(QStringLiteral("postgresql://tarvik@db/sklad")).address;
    QHash<QString, QString> options;
    for (const QString& option : address.connectOptions().split(QLatin1Char(';'))) {
        const qsizetype equals = option.indexOf(QLatin1Char('='));
        options.insert(option.left(equals), option.mid(equals + 1));
    }
    QCOMPARE(options.value("keepalives"), QStringLiteral("1"));
    const int idle = options.value("keepalives_idle").toInt();
    const int interval = options.value("keepalives_interval").toInt();
    const int count = options.value("keepalives_count").toInt();
    QVERIFY(idle > 0 && interval > 0 && count > 0);
    QVERIFY2(idle + interval * count <= 30, qPrintable(address.connectOptions()));
    // While a statement's data waits unacknowledged no probe is sent: the other limit.
    const int unacknowledgedMs = options.value("tcp_user_timeout").toInt();
    QVERIFY(unacknowledgedMs > 0 && unacknowledgedMs <= 30000);
}

void TestServerAddress::settingsBesideTheRegister()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString registerPath = dir.filePath(QStringLiteral("vorlend.mdb"));
    QCOMPARE(serverSettingsPath(registerPath), dir.filePath(QStringLiteral("tarvik.ini")));

    // No settings: the file, as ever.
    ServerChoice choice = readServerChoice(registerPath);
    QVERIFY(!choice.server);
    QVERIFY(choice.error.isEmpty());

    // Other settings in the file stay; what is written reads back as the same address.
    QFile ini(serverSettingsPath(registerPath));
    QVERIFY(ini.open(QIODevice::WriteOnly));
    ini.write("[window]\nwidth=800\n");
    ini.close();
    choice = readServerChoice(registerPath);
    QVERIFY(!choice.server);
    QVERIFY(choice.error.isEmpty());
    const ServerAddress address =
        *parseServerAddress(QStringLiteral("postgresql://tarvik@[::1]:5433/sklad?sslmode=verify-ca&"
                                           "sslrootcert=/etc/ssl/ca.crt&host=/tmp/a,b"))
             .address;
    QString error;
    QVERIFY2(writeServerChoice(registerPath, address, &error), qPrintable(error));
    choice = readServerChoice(registerPath);
    QVERIFY2(choice.server, qPrintable(choice.error));
    QCOMPARE(*choice.server, address);
    QVERIFY(ini.open(QIODevice::ReadOnly));
    QVERIFY(ini.readAll().contains("width=800"));
    ini.close();

    // Written by hand, unquoted, with a password: refused, and the message names the file
    // but not the password.
    QVERIFY(ini.open(QIODevice::WriteOnly));
    ini.write("[register]\nserver=postgresql://tarvik:s3cr%40t@db/sklad\n");
    ini.close();
    choice = readServerChoice(registerPath);
    QVERIFY(!choice.server);
    QVERIFY2(choice.error.contains(serverSettingsPath(registerPath)), qPrintable(choice.error));
    QVERIFY(choice.error.contains(QStringLiteral("Пароль")));
    QVERIFY(!choice.error.contains(QLatin1String("s3cr")));

    QVERIFY(ini.open(QIODevice::WriteOnly));
    ini.write("[register]\nserver=postgresql://tarvik@db/sklad?sslmode=require\n");
    ini.close();
    choice = readServerChoice(registerPath);
    QVERIFY2(choice.server, qPrintable(choice.error));
    QCOMPARE(choice.server->sslMode, QStringLiteral("require"));
}

QTEST_GUILESS_MAIN(TestServerAddress)
#include "tst_serveraddress.moc"

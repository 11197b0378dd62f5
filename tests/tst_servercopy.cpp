#include "AccessFixtures.h"
#include "TestServer.h"
#include "app/ServerCommands.h"
#include "store/access/AccessImport.h"
#include "store/records/Seeding.h"
#include "store/register/Connection.h"
#include "store/server/ServerConnection.h"
#include "store/server/ServerCopy.h"

#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QTest>

using namespace tarvik;
using namespace tarvik::test;

namespace {

// Everything a register file holds, each value with its type and every byte (the engine's
// quote()), the counters and the next numbers.
QStringList dump(const QString& path)
{
    Connection file;
    const OpenResult opened = file.open(path);
    if (!opened.ok())
        return {QStringLiteral("not opened: ") + opened.detail};
    QStringList lines;
    QSqlQuery query(file.connection());
    for (const char* sql :
         {"SELECT idnom, quote(kont), quote(idFam), quote(pol), quote(datebir), quote(phone), "
          "quote(sorp), quote(PhotoN), quote(idFamKey) FROM client ORDER BY idnom",
          "SELECT IDvrachYZD, quote(yzdID), quote(vrachYZD), quote(name1), quote(Photo1) "
          "FROM vrYZD ORDER BY IDvrachYZD",
          "SELECT 'counted', n, (SELECT count(kont) FROM client) FROM clientKontCount",
          "SELECT 'name changes', n FROM clientNameChanges",
          "SELECT name, seq FROM sqlite_sequence ORDER BY name"}) {
        if (!query.exec(QLatin1String(sql)))
            return {QStringLiteral("not read: ") + query.lastError().text()};
        while (query.next()) {
            QStringList fields;
            for (int i = 0; i < query.record().count(); ++i)
                fields << query.value(i).toString();
            lines << fields.join(QLatin1Char('|'));
        }
    }
    return lines;
}

// A register with the rows old files hold and the program never writes itself.
void writeOddRegister(const QString& path)
{
    {
        Seeder seeder(path);
        QVERIFY2(seeder.ok(), qPrintable(seeder.error()));
        PartRow odd;
        odd.kont = QStringLiteral("12 шт.");
        odd.idFam = QStringLiteral("КТ315Б");
        odd.sorp = QString(100000, QChar(0x0436)); // a very long note
        QVERIFY(seeder.addExistingPart(3, odd));
        PartRow empty; // every field NULL
        QVERIFY(seeder.addExistingPart(7, empty));
        PartRow blank;
        blank.kont = blank.idFam = blank.pol = QLatin1String("");
        blank.phone = QStringLiteral("'; DROP TABLE client; --");
        QVERIFY(seeder.addExistingPart(8, blank));
        QByteArray every;
        for (int b = 0; b < 256; ++b)
            every += char(b);
        QVERIFY(seeder.addExistingPackageType(1, 5, QStringLiteral("КТ-26"), "kt26.jpg", every));
        QVERIFY(
            seeder.addExistingPackageType(2, {}, QStringLiteral("ТО-3"), {}, QByteArray("", 0)));
        QVERIFY(seeder.addExistingPackageType(4, {}, {}, {}, QByteArray()));
        QVERIFY(seeder.addExistingPackageType(5, {}, QStringLiteral("DIP-8"), "dip8.bmp",
                                              every.repeated(8000)));
        QVERIFY(seeder.commit());
    }
    Connection file;
    QVERIFY(file.open(path).ok());
    QSqlQuery query(file.connection());
    // Text and fractions where the old program kept numbers; numbers past the last row.
    for (const char* sql : {"UPDATE vrYZD SET yzdID = 'КТ-26 (стар.)' WHERE IDvrachYZD = 2",
                            "UPDATE vrYZD SET yzdID = 2.5 WHERE IDvrachYZD = 4",
                            "UPDATE vrYZD SET yzdID = 9007199254740993 WHERE IDvrachYZD = 5",
                            "UPDATE sqlite_sequence SET seq = 40 WHERE name = 'client'"})
        QVERIFY2(query.exec(QLatin1String(sql)), qPrintable(query.lastError().text()));
}

QString importedFixture(const QTemporaryDir& dir, const QString& name)
{
    const QString path = dir.filePath(name + QStringLiteral(".sqlite"));
    const ImportResult imported = importAccessRegister(fixturePath(name + ".mdb"), path);
    return imported.ok() ? path : QString();
}

} // namespace

class TestServerCopy : public QObject {
    Q_OBJECT

private slots:
    void init() { TARVIK_SKIP_WITHOUT_SERVER(); }
    void roundTripGivesBackEveryRowAndByte_data();
    void roundTripGivesBackEveryRowAndByte();
    void refusesWhatWouldOverwrite();
    void triggersKeepWhatTheProgramDerives();
    void cancelAndFailureLeaveNothingBehind();
};

void TestServerCopy::roundTripGivesBackEveryRowAndByte_data()
{
    QTest::addColumn<QString>("source");
    for (const char* name : {"register-empty", "register-typical", "register-mixed-compression"})
        QTest::newRow(name) << name;
    QTest::newRow("register-large") << "register-large";
    QTest::newRow("odd rows") << "";
}

void TestServerCopy::roundTripGivesBackEveryRowAndByte()
{
    QFETCH(QString, source);
    if (source == QLatin1String("register-large"))
        TARVIK_SKIP_WITHOUT_LARGE_FIXTURE();
    QTemporaryDir dir;
    QString original = dir.filePath(QStringLiteral("odd.sqlite"));
    if (source.isEmpty())
        writeOddRegister(original);
    else
        original = importedFixture(dir, source);
    QVERIFY(!original.isEmpty() && !QTest::currentTestFailed());
    const QStringList before = dump(original);
    const QByteArray fileBefore = readAll(original);

    ScratchServerDatabase server;
    QVERIFY2(server.ok(), qPrintable(server.error()));
    const ServerCopyResult there = copyRegisterToServer(original, server.address());
    QVERIFY2(there.ok(), qPrintable(there.error));
    QCOMPARE(readAll(original), fileBefore); // the file is only read
    QCOMPARE(server.value("SELECT count(*) FROM client").toLongLong(), there.parts);
    QCOMPARE(server.value("SELECT n FROM clientKontCount").toLongLong(),
             server.value("SELECT count(kont) FROM client").toLongLong());

    const QString back = dir.filePath(QStringLiteral("back.sqlite"));
    const ServerCopyResult home = copyRegisterFromServer(server.address(), back);
    QVERIFY2(home.ok(), qPrintable(home.error));
    QCOMPARE(home.parts, there.parts);
    QCOMPARE(home.types, there.types);
    QCOMPARE(home.pictureBytes, there.pictureBytes);
    const QStringList after = dump(back);
    QCOMPARE(after.size(), before.size());
    for (qsizetype i = 0; i < before.size(); ++i) {
        QCOMPARE(after[i].left(300), before[i].left(300));
        QVERIFY2(after[i] == before[i], qPrintable(QStringLiteral("line %1 differs").arg(i)));
    }
    // Nothing is left beside the new file.
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 2);
}

void TestServerCopy::refusesWhatWouldOverwrite()
{
    QTemporaryDir dir;
    const QString file = importedFixture(dir, QStringLiteral("register-typical"));
    QVERIFY(!file.isEmpty());
    ScratchServerDatabase server;
    QVERIFY2(server.ok(), qPrintable(server.error()));

    // The command names the server beside the register once the copy is there.
    QCOMPARE(copyToServerCommand(file, server.address().uri()), 0);
    QVERIFY(readServerChoice(file).server);
    QCOMPARE(*readServerChoice(file).server, server.address());
    const QStringList onServer = {server.value("SELECT count(*) FROM client").toString(),
                                  server.value("SELECT n FROM clientNameChanges").toString()};

    // A second copy into a database that holds a register changes nothing there, and does
    // not name the server beside the other file.
    QTemporaryDir other;
    const QString second = importedFixture(other, QStringLiteral("register-empty"));
    const ServerCopyResult again = copyRegisterToServer(second, server.address());
    QVERIFY(!again.ok());
    QVERIFY2(again.error.contains(QStringLiteral("уже есть")), qPrintable(again.error));
    QCOMPARE(copyToServerCommand(second, server.address().uri()), 1);
    QVERIFY(!QFileInfo::exists(serverSettingsPath(second)));
    QCOMPARE((QStringList{server.value("SELECT count(*) FROM client").toString(),
                          server.value("SELECT n FROM clientNameChanges").toString()}),
             onServer);

    // A table of another program by one of the register's names counts as a register too.
    ScratchServerDatabase foreign;
    QVERIFY(foreign.run("CREATE TABLE client (x int)").isEmpty());
    QVERIFY(!copyRegisterToServer(file, foreign.address()).ok());

    // The copy back never replaces a file; a database without a register gives none.
    const QByteArray kept = readAll(second);
    const ServerCopyResult home = copyRegisterFromServer(server.address(), second);
    QVERIFY(!home.ok());
    QVERIFY2(home.error.contains(second), qPrintable(home.error));
    QCOMPARE(readAll(second), kept);
    ScratchServerDatabase empty;
    QVERIFY(!copyRegisterFromServer(empty.address(), other.filePath("none.sqlite")).ok());
    QVERIFY(!QFileInfo::exists(other.filePath("none.sqlite")));
    QCOMPARE(copyFromServerCommand(server.address().uri(), other.filePath("new.sqlite")), 0);
    QVERIFY(Connection().open(other.filePath("new.sqlite")).ok());
}

// The same plain statements, as psql or the sqlite3 shell would send them, on the file and
// on the server: both keep the record count, the name-change counter and the cleared keys
// alike.
void TestServerCopy::triggersKeepWhatTheProgramDerives()
{
    QTemporaryDir dir;
    const QString file = importedFixture(dir, QStringLiteral("register-typical"));
    QVERIFY(!file.isEmpty());
    ScratchServerDatabase server;
    QVERIFY2(server.ok(), qPrintable(server.error()));
    QVERIFY(copyRegisterToServer(file, server.address()).ok());

    ServerConnection listener;
    QVERIFY2(listener.open(server.address()), qPrintable(listener.error()));
    QStringList heard;
    QSqlDriver* driver = listener.connection().driver();
    QVERIFY(driver->subscribeToNotification(QStringLiteral("tarvik_parts")));
    connect(driver, &QSqlDriver::notification, this,
            [&](const QString& channel, QSqlDriver::NotificationSource, const QVariant& payload) {
                heard << channel + QLatin1Char(':') + payload.toString();
            });

    Connection sqlite;
    QVERIFY(sqlite.open(file).ok());
    QSqlQuery onFile(sqlite.connection());
    const QString state = QStringLiteral(
        "SELECT (SELECT n FROM clientKontCount) || '/' || (SELECT count(kont) FROM client) || "
        "'/' || (SELECT n FROM clientNameChanges) || '/' || (SELECT count(*) FROM client WHERE "
        "idFamKey IS NULL)");
    const auto fileState = [&] {
        return onFile.exec(state) && onFile.next() ? onFile.value(0).toString() : QString();
    };
    QString fileStart = fileState();
    QString serverStart = server.value(state).toString();
    QVERIFY(!fileStart.isEmpty());
    // The name-change counter went on from the file's.
    QCOMPARE(serverStart, fileStart);

    for (const char* sql :
         {"INSERT INTO client (kont, idFam, idFamKey) VALUES ('5', 'Новый', 'новый')",
          "INSERT INTO client (idFam) VALUES ('Без ключа')",
          "UPDATE client SET idFam = 'Переименован' WHERE idFam = 'Новый'",
          "UPDATE client SET idFam = 'Снова', idFamKey = 'снова' WHERE idFam = 'Переименован'",
          "UPDATE client SET kont = NULL WHERE idFam = 'Снова'",
          "UPDATE client SET kont = '7' WHERE idFam = 'Без ключа'",
          "UPDATE client SET kont = kont || '0'", "UPDATE client SET sorp = 'заметка'",
          "DELETE FROM client WHERE idFam = 'Без ключа'",
          "DELETE FROM client WHERE kont IS NULL"}) {
        QVERIFY2(onFile.exec(QLatin1String(sql)), qPrintable(onFile.lastError().text()));
        const QString error = server.run(QLatin1String(sql));
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QCOMPARE(server.value(state).toString(), fileState());
    }

    // Another client's change reaches a listener with the part's number and the writing
    // session's process, once committed.
    const QString id = server.value("SELECT max(idnom) FROM client").toString();
    const QString writer = server.value("SELECT pg_backend_pid()").toString();
    QVERIFY(server.run("UPDATE client SET phone = '1' WHERE idnom = " + id).isEmpty());
    QTRY_VERIFY(heard.contains(QStringLiteral("tarvik_parts:") + id + QLatin1Char(':') + writer));
}

void TestServerCopy::cancelAndFailureLeaveNothingBehind()
{
    QTemporaryDir dir;
    const QString file = importedFixture(dir, QStringLiteral("register-typical"));
    QVERIFY(!file.isEmpty());
    ScratchServerDatabase server;
    QVERIFY2(server.ok(), qPrintable(server.error()));

    // Cancelled after the first rows: the server keeps nothing, not even the tables.
    std::atomic<bool> cancel{false};
    CopyControl control;
    control.cancel = &cancel;
    qint64 lastDone = 0, inAll = 0;
    control.progress = [&](qint64 done, qint64 all) {
        lastDone = done;
        inAll = all;
        cancel = true;
    };
    ServerCopyResult result = copyRegisterToServer(file, server.address(), {}, control);
    QCOMPARE(result.outcome, ServerCopyResult::Outcome::Cancelled);
    QVERIFY(lastDone > 0 && lastDone < inAll);
    QCOMPARE(server.objects(), 0);

    // A row the server cannot hold fails the whole copy, named, and leaves nothing either.
    {
        Connection sqlite;
        QVERIFY(sqlite.open(file).ok());
        QSqlQuery query(sqlite.connection());
        QVERIFY(query.exec("UPDATE client SET sorp = X'41FF00' WHERE idnom = (SELECT max(idnom) "
                           "FROM client)"));
    }
    result = copyRegisterToServer(file, server.address());
    QCOMPARE(result.outcome, ServerCopyResult::Outcome::Failed);
    QVERIFY2(result.error.contains(QLatin1String("sorp")), qPrintable(result.error));
    QCOMPARE(server.objects(), 0);

    // The copy back, cancelled, leaves no file, under its name or another.
    ScratchServerDatabase full;
    QVERIFY(copyRegisterToServer(importedFixture(dir, QStringLiteral("register-mixed-compression")),
                                 full.address())
                .ok());
    cancel = false;
    const QStringList filesBefore = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden);
    result = copyRegisterFromServer(full.address(), dir.filePath("back.sqlite"), {}, control);
    QCOMPARE(result.outcome, ServerCopyResult::Outcome::Cancelled);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), filesBefore);
}

QTEST_GUILESS_MAIN(TestServerCopy)
#include "tst_servercopy.moc"

// A restore of a register kept on a server, through the main window's menu: the server's rows
// replaced by the copy's in one transaction, other computers told, or nothing changed at all.
#include "backup/TestBackup.h"

#include "MainWindowProbe.h"

#include "app/Form1.h"
#include "gui/FileDialog.h"
#include "gui/MessageBox.h"
#include "store/register/Connection.h"
#include "store/server/ServerBackup.h"

#include <QAction>
#include <QSignalSpy>
#include <QSqlDriver>

namespace {

// The rows of `sql`'s tables, as one hash, on either engine: every field's text or bytes.
QByteArray rowsOf(const QSqlDatabase& db, const QStringList& sql)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    for (const QString& statement : sql) {
        QSqlQuery query(db);
        if (!query.exec(statement))
            return {};
        int rows = 0;
        while (query.next()) {
            ++rows;
            for (int field = 0; field < query.record().count(); ++field) {
                const QVariant value = query.value(field);
                hash.addData(value.isNull() ? QByteArray("\\N") : value.toByteArray());
                hash.addData(QByteArray(1, '\0'));
            }
        }
        hash.addData(QByteArray::number(rows));
    }
    return hash.result();
}

const QStringList kRegisterRows{
    QStringLiteral("SELECT idnom, kont, idFam, pol, datebir, phone, sorp, PhotoN, idFamKey FROM "
                   "client ORDER BY idnom"),
    QStringLiteral("SELECT IDvrachYZD, yzdID, vrachYZD, name1, Photo1 FROM vrYZD ORDER BY "
                   "IDvrachYZD"),
    QStringLiteral("SELECT idnom, minimum FROM partMinimum ORDER BY idnom")};
const QStringList kJournalRows{
    QStringLiteral("SELECT entry, changedAt, computer, login, outside, action, operation, part, "
                   "name, nameKey, field, was, became FROM partJournal ORDER BY entry")};

// What a register file holds, read as the server's rows are.
struct FileRows {
    QByteArray rows;
    QByteArray journal;
};

FileRows fileRows(const QString& path)
{
    FileReader file(path);
    return {rowsOf(file.connection(), kRegisterRows), rowsOf(file.connection(), kJournalRows)};
}

qint64 nameChanges(const QSqlDatabase& db)
{
    QSqlQuery query(db);
    return query.exec(QStringLiteral("SELECT n FROM clientNameChanges")) && query.next()
               ? query.value(0).toLongLong()
               : -1;
}

// The server's rows changed after its copy was written: the restore has something to undo, and
// the journal entries to leave out.
void changeAfterTheCopy(TestRegister& files)
{
    QVERIFY(files.runAsOtherClient(QStringLiteral("DELETE FROM client WHERE idnom > 5")).isEmpty());
    QVERIFY(
        files.runAsOtherClient(QStringLiteral("UPDATE client SET sorp = 'Иное' WHERE idnom = 1"))
            .isEmpty());
    QVERIFY(files
                .runAsOtherClient(QStringLiteral("UPDATE vrYZD SET Photo1 = NULL WHERE "
                                                 "IDvrachYZD = 2; INSERT INTO partMinimum "
                                                 "VALUES (3, 7)"))
                .isEmpty());
}

// The trigger functions as an earlier build left them: without the test that lets a restore's
// session pass.
const QString kEarlierFunctions = QStringLiteral(
    "DO $$ DECLARE f oid; BEGIN FOR f IN SELECT oid FROM pg_proc WHERE proname LIKE 'tarvik_%' "
    "AND strpos(prosrc, 'tarvik.restoring') > 0 LOOP EXECUTE replace(pg_get_functiondef(f), "
    "'current_setting(''tarvik.restoring'', true) = ''on''', 'false'); END LOOP; END $$");

qint64 earlierFunctions(const QSqlDatabase& db)
{
    QSqlQuery query(db);
    return query.exec(QStringLiteral("SELECT count(*) FROM pg_proc WHERE proname LIKE 'tarvik_%' "
                                     "AND strpos(prosrc, 'tarvik.restoring') = 0 AND "
                                     "proname <> 'tarvik_client_idfamkey_renamed'")) &&
                   query.next()
               ? query.value(0).toLongLong()
               : -1;
}

} // namespace

void TestBackup::earlierServerFunctionsAreReplacedAtOpen()
{
    if (!onServerBackend())
        QSKIP("the register on a server");
    TestRegister files;
    writeParts(files, 3);
    QVERIFY(files.owner().check().ok());
    QVERIFY(files.runAsOtherClient(kEarlierFunctions).isEmpty());
    Connection other;
    QVERIFY(files.openView(other).ok());
    QCOMPARE(earlierFunctions(other.connection()), 7);
    Register again(*files.owner().server());
    QVERIFY(again.check().ok());
    QCOMPARE(earlierFunctions(other.connection()), 0);
}

void TestBackup::restoreOnTheServerReplacesItsRowsAndTellsOthers()
{
    if (!onServerBackend())
        QSKIP("the register on a server");
    TestRegister files;
    writeParts(files, 30);
    const QString path = files.databasePath();
    noDailyCopies(path);
    QVERIFY(
        files.runAsOtherClient(QStringLiteral("INSERT INTO partMinimum VALUES (2, 4)")).isEmpty());
    Register& owner = files.owner();
    QVERIFY(owner.check().ok());
    const QString copy = backupFolder(path) + QStringLiteral("/vorlend-2026-01-02.mdb");
    QVERIFY(backupServerRegister(*owner.server(), owner.password(), copy).ok());
    const FileRows inCopy = fileRows(copy);
    changeAfterTheCopy(files);

    // Another computer, listening, with the names as it last read them.
    Connection other;
    QVERIFY(files.openView(other).ok());
    const QSqlDatabase elsewhere = other.connection();
    const QByteArray before = rowsOf(elsewhere, kRegisterRows);
    const QByteArray journalBefore = rowsOf(elsewhere, kJournalRows);
    QVERIFY(before != inCopy.rows);
    QVERIFY(journalBefore != inCopy.journal);
    const qint64 namesSeen = nameChanges(elsewhere);
    QVERIFY(elsewhere.driver()->subscribeToNotification(QStringLiteral("tarvik_parts")));
    QVERIFY(elsewhere.driver()->subscribeToNotification(QStringLiteral("tarvik_types")));
    QSignalSpy heard(elsewhere.driver(), &QSqlDriver::notification);

    Form1 main(files.paths(), owner);
    main.show();
    QVERIFY(QTest::qWaitForWindowExposed(&main));
    // An earlier build put its functions back after this program opened the register.
    QVERIFY(files.runAsOtherClient(kEarlierFunctions).isEmpty());
    FileDialog::setNextFileName(copy);
    MessageBox::setNextAnswer(QMessageBox::Yes);
    MessageBox::setNextAnswer(QMessageBox::Ok);
    control<QAction>(&main, "restoreBackup")->trigger();
    const QList<MessageBox::Shown> shown = MessageBox::takeShown();
    QVERIFY2(shown.size() == 2, qPrintable(shown.value(shown.size() - 1).text));
    QVERIFY(shown[0].text.contains(QStringLiteral("деталей 30, корпусов 4")));
    QVERIFY(shown[0].text.contains(QStringLiteral("-before-restore.mdb")));
    QVERIFY2(shown[1].text.startsWith(QStringLiteral("База на сервере")),
             qPrintable(shown[1].text));
    QCOMPARE(m_ends, 1);

    // The server holds what the copy holds, its journal too: the restore wrote no entries.
    QCOMPARE(rowsOf(elsewhere, kRegisterRows), inCopy.rows);
    QCOMPARE(rowsOf(elsewhere, kJournalRows), inCopy.journal);
    // The register as it was is kept.
    QStringList kept = filesIn(backupFolder(path));
    kept.removeOne(QFileInfo(copy).fileName());
    QCOMPARE(kept.size(), 1);
    QVERIFY(kept[0].endsWith(QLatin1String("-before-restore.mdb")));
    const FileRows keptRows = fileRows(backupFolder(path) + QLatin1Char('/') + kept[0]);
    QCOMPARE(keptRows.rows, before);
    QCOMPARE(keptRows.journal, journalBefore);

    // The other computer hears of it once on each channel and finds the names changed.
    QTRY_VERIFY_WITH_TIMEOUT(heard.size() >= 2, 10000);
    QTest::qWait(200);
    QStringList channels;
    for (const QList<QVariant>& one : heard)
        channels << one.at(0).toString();
    channels.sort();
    QCOMPARE(channels,
             (QStringList{QStringLiteral("tarvik_parts"), QStringLiteral("tarvik_types")}));
    QVERIFY(nameChanges(elsewhere) > namesSeen);
    QVERIFY(nameChanges(elsewhere) > nameChanges(FileReader(copy).connection()));
    QSqlQuery count(elsewhere);
    QVERIFY(count.exec(QStringLiteral("SELECT n FROM clientKontCount")) && count.next());
    QCOMPARE(count.value(0).toLongLong(), 30);

    // The server's register goes on: the next part takes the copy's next number.
    QVERIFY(files.runAsOtherClient(QStringLiteral("INSERT INTO client (idFam) VALUES ('Новая')"))
                .isEmpty());
    QVERIFY(count.exec(QStringLiteral("SELECT max(idnom) FROM client")) && count.next());
    QCOMPARE(count.value(0).toLongLong(), 31);
}

void TestBackup::refusedServerRestoreChangesNothing_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("said");
    QTest::newRow("damaged copy") << "damaged"
                                  << "не годится";
    QTest::newRow("another program's database") << "foreign"
                                                << "не годится";
    QTest::newRow("failure after the rows were replaced") << "check"
                                                          << "не совпало с копией";
    QTest::newRow("failure at the commit") << "commit"
                                           << "не сохранил";
    QTest::newRow("another session writing") << "locked"
                                             << "занята";
}

void TestBackup::refusedServerRestoreChangesNothing()
{
    if (!onServerBackend())
        QSKIP("the register on a server");
    QFETCH(QString, kind);
    QFETCH(QString, said);
    TestRegister files;
    writeParts(files, 200);
    const QString path = files.databasePath();
    noDailyCopies(path);
    Register& owner = files.owner();
    QVERIFY(owner.check().ok());
    const QString copy = backupFolder(path) + QStringLiteral("/vorlend-2026-01-02.mdb");
    QVERIFY(backupServerRegister(*owner.server(), owner.password(), copy).ok());
    changeAfterTheCopy(files);
    // The copy goes bad after the user's look at it and before the restore reads it in full.
    const auto spoil = [&] {
        if (kind == "damaged") {
            damagePages(copy);
            return;
        }
        QVERIFY(QFile::remove(copy));
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "foreign");
        db.setDatabaseName(copy);
        QVERIFY(db.open());
        QVERIFY(QSqlQuery(db).exec("CREATE TABLE client (idnom INTEGER PRIMARY KEY)"));
        QVERIFY(QSqlQuery(db).exec("CREATE TABLE vrYZD (IDvrachYZD INTEGER PRIMARY KEY)"));
        db.close();
        db = {};
        QSqlDatabase::removeDatabase("foreign");
    };
    if (kind == "damaged" || kind == "foreign") {
        setRestoreStepHook([&](RestoreStep step) {
            if (step == RestoreStep::CheckCopy)
                spoil();
        });
    } else if (kind == "check") {
        failNextRestoreAt(RestoreStep::Check);
    } else if (kind == "commit") {
        failNextRestoreAt(RestoreStep::Replace);
    }
    Connection other;
    QVERIFY(files.openView(other).ok());
    QSqlDatabase elsewhere = other.connection();
    const QByteArray before = rowsOf(elsewhere, kRegisterRows);
    const QByteArray journalBefore = rowsOf(elsewhere, kJournalRows);
    const qint64 names = nameChanges(elsewhere);
    QSqlQuery writing(elsewhere);
    if (kind == "locked")
        QVERIFY(writing.exec(QStringLiteral("BEGIN")) &&
                writing.exec(QStringLiteral("UPDATE client SET sorp = 'x' WHERE idnom = 2")));

    Form1 main(files.paths(), owner);
    main.show();
    QVERIFY(QTest::qWaitForWindowExposed(&main));
    FileDialog::setNextFileName(copy);
    MessageBox::setNextAnswer(QMessageBox::Yes);
    MessageBox::setNextAnswer(QMessageBox::Ok);
    control<QAction>(&main, "restoreBackup")->trigger();
    const QList<MessageBox::Shown> shown = MessageBox::takeShown();
    QCOMPARE(shown.size(), 2);
    QCOMPARE(shown.last().icon, QMessageBox::Warning);
    QVERIFY2(shown.last().text.contains(said), qPrintable(shown.last().text));
    QVERIFY2(shown.last().text.contains(QStringLiteral("ничего не изменено")) ||
                 shown.last().text.contains(QStringLiteral("не изменилась")),
             qPrintable(shown.last().text));
    QCOMPARE(m_ends, 0);
    if (kind == "locked")
        QVERIFY(writing.exec(QStringLiteral("ROLLBACK")));
    QCOMPARE(rowsOf(elsewhere, kRegisterRows), before);
    QCOMPARE(rowsOf(elsewhere, kJournalRows), journalBefore);
    QCOMPARE(nameChanges(elsewhere), names);
}

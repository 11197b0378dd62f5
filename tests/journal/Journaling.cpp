// What the journal puts down for each change, made by the program or by another program, and
// how it is read back: newest first, a page at a time, for one part or by part name.
#include "TestJournal.h"

#include "store/records/Journal.h"
#include "store/register/Compaction.h"
#include "store/register/JournalSchema.h"
#include "store/server/ServerCopy.h"

#include <QHash>
#include <QSysInfo>

#include <functional>

namespace {

// Every entry, newest first.
QVector<JournalEntry> everything(Connection& db, const JournalFilter& filter = {})
{
    const JournalPage page = Journal(db).page(filter, 0, 10000);
    if (!page.ok)
        qWarning("journal not read: %s", qPrintable(page.error.text()));
    return page.entries;
}

// One entry as "action field: was → became".
QString said(const JournalEntry& e)
{
    return QStringLiteral("%1 %2: %3 → %4")
        .arg(e.action, e.field, e.was.isNull() ? QStringLiteral("∅") : e.was.toString(),
             e.became.isNull() ? QStringLiteral("∅") : e.became.toString());
}

QStringList saidOldestFirst(const QVector<JournalEntry>& entries)
{
    QStringList lines;
    for (auto it = entries.rbegin(); it != entries.rend(); ++it)
        lines << said(*it);
    return lines;
}

} // namespace

void TestJournal::programChangesJournaled_data()
{
    addBackRows();
}

void TestJournal::programChangesJournaled()
{
    JOURNAL_FIXTURE(reg);
    QVERIFY(reg.open({part("Диод", "1", "3")}));
    PartWriter writer(reg.db());
    const qint64 diode = reg.idOf(QStringLiteral("Диод"));

    const PartWrite added = writer.add(part("Реле", "12", "4", QString(), "в ящике").fields());
    QVERIFY(added.saved());
    QVERIFY(
        writer.change(diode, {{"pol", "2,5"}, {"phone", "9"}}, {{"phone", "3"}}, PartAction::Edit)
            .saved());
    QVERIFY(writer.change(diode, {{"phone", "10"}}, {{"phone", "9"}}, PartAction::Plus).saved());
    QVERIFY(writer.change(diode, {{"phone", "9"}}, {{"phone", "10"}}, PartAction::Minus).saved());
    QVERIFY(writer.change(diode, {{"sorp", "новое"}}, {}, PartAction::Notes).saved());
    QVERIFY(writer.setMinimum(diode, 5, std::nullopt).saved());
    QVERIFY(writer.remove(added.id).saved());

    const QVector<JournalEntry> entries = everything(reg.db());
    // The add and the delete put down every field the row held; an edit each changed field.
    QCOMPARE(saidOldestFirst(entries),
             QStringList({"add idFam: ∅ → Реле", "add kont: ∅ → 014", "add pol: ∅ → 12",
                          "add phone: ∅ → 4", "add sorp: ∅ → в ящике", "edit pol: 1 → 2,5",
                          "edit phone: 3 → 9", "plus phone: 9 → 10", "minus phone: 10 → 9",
                          "notes sorp: ∅ → новое", "minimum minimum: ∅ → 5",
                          "delete idFam: Реле → ∅", "delete kont: 014 → ∅", "delete pol: 12 → ∅",
                          "delete phone: 4 → ∅", "delete sorp: в ящике → ∅"}));
    for (const JournalEntry& e : entries) {
        QVERIFY(!e.outside);
        QCOMPARE(e.computer, QSysInfo::machineHostName());
        QVERIFY(!e.login.isEmpty());
        QVERIFY(e.changedAt.endsWith(QLatin1Char('Z')));
        QCOMPARE(e.name, e.part == diode ? QStringLiteral("Диод") : QStringLiteral("Реле"));
    }
    // Nothing of the program's is left for other writers to be taken for.
    QCOMPARE(
        reg.runPlain(QStringLiteral("UPDATE client SET phone = '1' WHERE idnom = %1").arg(diode)),
        QString());
    QVERIFY(everything(reg.db()).first().outside);
}

void TestJournal::otherProgramsChangesJournaledAsOutside_data()
{
    addBackRows();
}

void TestJournal::otherProgramsChangesJournaledAsOutside()
{
    JOURNAL_FIXTURE(reg);
    QVERIFY(reg.open({part("Диод", "1", "3")}));
    const qint64 diode = reg.idOf(QStringLiteral("Диод"));
    const QStringList statements{
        QStringLiteral("INSERT INTO client (idFam, phone) VALUES ('Кварц', '2')"),
        QStringLiteral("UPDATE client SET phone = '7', sorp = 'x' WHERE idFam = 'Кварц'"),
        // Only the derived key: no change of the user's.
        QStringLiteral("UPDATE client SET idFamKey = 'кварц' WHERE idFam = 'Кварц'"),
        QStringLiteral("INSERT INTO partMinimum (idnom, minimum) VALUES (%1, 2)").arg(diode),
        QStringLiteral("DELETE FROM client WHERE idFam = 'Кварц'"),
    };
    for (const QString& sql : statements)
        QCOMPARE(reg.runPlain(sql), QString());
    const QVector<JournalEntry> entries = everything(reg.db());
    QCOMPARE(saidOldestFirst(entries),
             QStringList({"add idFam: ∅ → Кварц", "add phone: ∅ → 2", "edit phone: 2 → 7",
                          "edit sorp: ∅ → x", "minimum minimum: ∅ → 2", "delete idFam: Кварц → ∅",
                          "delete phone: 7 → ∅", "delete sorp: x → ∅"}));
    for (const JournalEntry& e : entries) {
        QVERIFY(e.outside);
        QVERIFY(e.computer.isEmpty());
    }
}

void TestJournal::pagesNewestFirstByPartAndName()
{
    TestRegister file;
    QVERIFY(file.write({part("Ёмкость"), part("Диод"), part("ЁМКОСТЬ большая")}));
    QVERIFY(file.owner().check().ok());
    Connection db;
    QVERIFY(file.owner().connect(db).ok());
    PartWriter writer(db);
    for (int i = 0; i < 30; ++i) {
        for (qint64 id : {1, 2, 3})
            QVERIFY(writer.change(id, {{"phone", QString::number(i + 2)}}, {}, PartAction::Plus)
                        .saved());
    }
    const Journal journal(db);
    QVector<JournalEntry> seen;
    qint64 before = 0;
    for (;;) {
        const JournalPage page = journal.page({}, before, 7);
        QVERIFY(page.ok);
        if (page.entries.isEmpty())
            break;
        seen += page.entries;
        before = page.entries.last().entry;
    }
    QCOMPARE(seen.size(), 90);
    for (int i = 1; i < seen.size(); ++i)
        QVERIFY(seen[i - 1].entry > seen[i].entry);

    QCOMPARE(journal.page({2, {}}, 0, 100).entries.size(), 30);
    for (const JournalEntry& e : journal.page({2, {}}, 0, 100).entries)
        QCOMPARE(e.part, 2);
    // As the quick search folds names: case and ё alike.
    const JournalPage named = journal.page({std::nullopt, QStringLiteral("ёмкост")}, 0, 100);
    QCOMPARE(named.entries.size(), 60);
    QCOMPARE(journal.page({3, QStringLiteral("ЁМК")}, 0, 100).entries.size(), 30);
    QVERIFY(journal.page({std::nullopt, QStringLiteral("реле")}, 0, 100).entries.isEmpty());
}

void TestJournal::nameSearchReadsThePartsNamesFirst_data()
{
    addBackRows();
}

void TestJournal::nameSearchReadsThePartsNamesFirst()
{
    JOURNAL_FIXTURE(reg);
    QVERIFY(reg.open({part("Ёмкость 10 мкФ", "1", "5"), part("Диод КД522", "2", "8"),
                      part("Реле РЭС-10", "30", "2")}));
    const qint64 capacitor = reg.idOf(QStringLiteral("Ёмкость 10 мкФ"));
    const qint64 relay = reg.idOf(QStringLiteral("Реле РЭС-10"));
    PartWriter writer(reg.db());
    QVERIFY(writer.change(capacitor, {{"phone", "6"}}, {}, PartAction::Plus).saved());
    QVERIFY(
        writer.change(capacitor, {{"idFam", "Конденсатор 10 мкФ"}}, {}, PartAction::Edit).saved());
    QVERIFY(writer.change(capacitor, {{"phone", "7"}}, {}, PartAction::Plus).saved());
    QVERIFY(writer.setMinimum(relay, 1, std::nullopt).saved());
    QVERIFY(writer.remove(relay).saved());
    // Another program's: a part without a key, and a rename the program has not keyed yet.
    for (const QString& sql :
         {QStringLiteral("INSERT INTO client (idFam, phone) VALUES ('ДИОД Шоттки', '4')"),
          QStringLiteral("UPDATE client SET idFam = 'Диод Д9', phone = '3' WHERE idFam = "
                         "'Диод КД522'")})
        QCOMPARE(reg.runPlain(sql), QString());

    // The names are exactly the entries' (part, key at the time, name where there is none).
    const auto namesAreTheJournals = [&reg] {
        QSqlQuery query(reg.plain());
        return query.exec(QStringLiteral(
                   "SELECT (SELECT count(*) FROM (SELECT part, nameKey, CASE WHEN nameKey IS "
                   "NULL THEN name END FROM partJournal EXCEPT SELECT part, nameKey, name FROM "
                   "partJournalNames) AS missing), (SELECT count(*) FROM (SELECT part, nameKey, "
                   "name FROM partJournalNames EXCEPT SELECT part, nameKey, CASE WHEN nameKey IS "
                   "NULL THEN name END FROM partJournal) AS extra)")) &&
               query.next() && query.value(0).toInt() == 0 && query.value(1).toInt() == 0;
    };
    QVERIFY(namesAreTheJournals());

    // Every page of each search, a few entries at a time.
    // Names without a key are matched ignoring the case of Latin letters only.
    const QStringList texts{"ёмкость", "конденсатор", "10 МКФ", "реле", "рэс-10",   "диод",
                            "Шоттки",  "Д9",          "кд522",  "10",   "нет такой"};
    const auto found = [&reg, &texts] {
        QHash<QString, QVector<qint64>> ids;
        const Journal journal(reg.db());
        for (const QString& text : texts) {
            qint64 before = 0;
            for (;;) {
                const JournalPage page = journal.page({std::nullopt, text}, before, 3);
                if (!page.ok || page.entries.isEmpty())
                    break;
                for (const JournalEntry& e : page.entries)
                    ids[text] << e.entry;
                before = page.entries.last().entry;
            }
        }
        return ids;
    };
    const QHash<QString, QVector<qint64>> throughNames = found();
    // The renamed part by its old name, only in the entries made before the rename; the
    // deleted one with its delete.
    const QVector<JournalEntry> all = everything(reg.db());
    const auto entriesOf = [&all](qint64 part, const std::function<bool(const JournalEntry&)>& is) {
        QVector<qint64> ids;
        for (const JournalEntry& e : all) {
            if (e.part == part && is(e))
                ids << e.entry;
        }
        return ids;
    };
    QCOMPARE(throughNames.value("ёмкость"), entriesOf(capacitor, [](const JournalEntry& e) {
                 return e.name.startsWith(QStringLiteral("Ёмкость"));
             }));
    QVERIFY(!throughNames.value("ёмкость").isEmpty());
    QCOMPARE(throughNames.value("реле"),
             entriesOf(relay, [](const JournalEntry&) { return true; }));
    QVERIFY(throughNames.value("реле").size() > 4); // its add, minimum and delete
    QVERIFY(!throughNames.value("Шоттки").isEmpty());
    QVERIFY(throughNames.value("нет такой").isEmpty());

    // The same as reading every entry, as a register without the names is searched.
    QCOMPARE(reg.runPlain(reg.db().onServer()
                              ? QStringLiteral("DROP TABLE partJournalNames CASCADE")
                              : QStringLiteral("DROP TABLE partJournalNames")),
             QString());
    QVERIFY(!hasJournalNames(reg.db().connection()));
    QCOMPARE(found(), throughNames);

    // An earlier journal gets its names at the next open.
    QVERIFY(reg.owner().check().ok());
    QVERIFY(hasJournalNames(reg.db().connection()));
    QVERIFY(namesAreTheJournals());
    QCOMPARE(found(), throughNames);
}

void TestJournal::compactionKeepsTheJournal()
{
    TestRegister file;
    QVERIFY(file.write({part("Диод")}));
    QVERIFY(file.owner().check().ok());
    {
        Connection db;
        QVERIFY(file.owner().connect(db).ok());
        QVERIFY(PartWriter(db).change(1, {{"phone", "8"}}, {}, PartAction::Plus).saved());
        QVERIFY(PartWriter(db).setMinimum(1, 3, std::nullopt).saved());
    }
    QVERIFY(compactRegister(file.owner()).ok());
    Register again(file.databasePath());
    QVERIFY(again.check().ok());
    Connection db;
    QVERIFY(again.connect(db).ok());
    QCOMPARE(saidOldestFirst(everything(db)),
             QStringList({"plus phone: 1 → 8", "minimum minimum: ∅ → 3"}));
    QCOMPARE(Minimums::of(db, 1).minimums.value(1), 3);
    // The triggers came along too.
    QVERIFY(PartWriter(db).change(1, {{"phone", "9"}}, {}, PartAction::Plus).saved());
    QCOMPARE(everything(db).size(), 3);
}

void TestJournal::copiesToTheServerAndBackCarryTheJournal()
{
    TARVIK_SKIP_WITHOUT_SERVER();
    TestRegister file;
    QVERIFY(file.write({part("Диод", "1", "3")}));
    QVERIFY(file.owner().check().ok());
    {
        Connection db;
        QVERIFY(file.owner().connect(db).ok());
        QVERIFY(PartWriter(db).change(1, {{"phone", "4"}}, {}, PartAction::Plus).saved());
        QVERIFY(PartWriter(db).setMinimum(1, 2, std::nullopt).saved());
    }
    file.owner().closeAll();
    ScratchServerDatabase server;
    QVERIFY2(server.ok(), qPrintable(server.error()));
    const ServerCopyResult there = copyRegisterToServer(file.databasePath(), server.address());
    QVERIFY2(there.ok(), qPrintable(there.error));
    QCOMPARE(server.value(QStringLiteral("SELECT count(*) FROM partJournal")).toInt(), 2);
    QCOMPARE(server.value(QStringLiteral("SELECT minimum FROM partMinimum")).toInt(), 2);
    QCOMPARE(server.value(QStringLiteral("SELECT count(*) FROM partJournalNames")).toInt(), 1);
    // The server goes on numbering after the file's entries, and journals its own.
    QCOMPARE(server.run(QStringLiteral("UPDATE client SET phone = '5'")), QString());
    QCOMPARE(server.value(QStringLiteral("SELECT max(entry) FROM partJournal")).toInt(), 3);

    const QString back = file.folder() + QStringLiteral("/back.mdb");
    const ServerCopyResult home = copyRegisterFromServer(server.address(), back);
    QVERIFY2(home.ok(), qPrintable(home.error));
    {
        Connection copied; // as the copy wrote it, before an open could add anything
        QVERIFY(copied.open(back).ok());
        QVERIFY(hasJournalNames(copied.connection()));
        QSqlQuery names(copied.connection());
        QVERIFY(names.exec(QStringLiteral("SELECT count(*) FROM partJournalNames")));
        QVERIFY(names.next());
        QCOMPARE(names.value(0).toInt(), 1);
    }
    Register again(back);
    QVERIFY(again.check().ok());
    Connection db;
    QVERIFY(again.connect(db).ok());
    QCOMPARE(saidOldestFirst(everything(db)),
             QStringList({"plus phone: 3 → 4", "minimum minimum: ∅ → 2", "edit phone: 4 → 5"}));
    QCOMPARE(Minimums::of(db, 1).minimums.value(1), 2);
    QVERIFY(PartWriter(db).change(1, {{"phone", "6"}}, {}, PartAction::Plus).saved());
    QCOMPARE(everything(db).first().entry, 4);
}

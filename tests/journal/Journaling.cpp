// What the journal puts down for each change, made by the program or by another program, and
// how it is read back: newest first, a page at a time, for one part or by part name.
#include "TestJournal.h"

#include "store/records/Journal.h"
#include "store/register/Compaction.h"
#include "store/server/ServerCopy.h"

#include <QSysInfo>

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
    // The server goes on numbering after the file's entries, and journals its own.
    QCOMPARE(server.run(QStringLiteral("UPDATE client SET phone = '5'")), QString());
    QCOMPARE(server.value(QStringLiteral("SELECT max(entry) FROM partJournal")).toInt(), 3);

    const QString back = file.folder() + QStringLiteral("/back.mdb");
    const ServerCopyResult home = copyRegisterFromServer(server.address(), back);
    QVERIFY2(home.ok(), qPrintable(home.error));
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

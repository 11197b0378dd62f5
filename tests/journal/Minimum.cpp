// Each part's minimum stock: written only through the parts' write path, compared before it
// is written, read for all parts or one, and gone with its part whoever deletes it.
#include "TestJournal.h"

#include "store/register/JournalSchema.h"

using Outcome = PartWrite::Outcome;

void TestJournal::minimumSetReadAndCompared_data()
{
    addBackRows();
}

void TestJournal::minimumSetReadAndCompared()
{
    JOURNAL_FIXTURE(reg);
    QVERIFY(reg.open({part("Резистор"), part("Диод"), part("Реле")}));
    const qint64 resistor = reg.idOf(QStringLiteral("Резистор"));
    const qint64 diode = reg.idOf(QStringLiteral("Диод"));
    PartWriter writer(reg.db());

    QCOMPARE(writer.setMinimum(resistor, 10, std::nullopt).outcome, Outcome::Saved);
    QCOMPARE(writer.setMinimum(diode, 0, std::nullopt).outcome, Outcome::Saved);
    const MinimumsRead all = Minimums::all(reg.db());
    QVERIFY(all.ok);
    QCOMPARE(all.minimums, (QHash<qint64, qint64>{{resistor, 10}, {diode, 0}}));
    QCOMPARE(Minimums::of(reg.db(), diode).minimums, (QHash<qint64, qint64>{{diode, 0}}));
    QVERIFY(Minimums::of(reg.db(), reg.idOf(QStringLiteral("Реле"))).minimums.isEmpty());

    // Another computer set it meanwhile: what this one saw is no longer stored.
    QCOMPARE(writer.setMinimum(resistor, 3, std::nullopt).outcome, Outcome::ChangedElsewhere);
    QCOMPARE(writer.setMinimum(resistor, 3, 9).outcome, Outcome::ChangedElsewhere);
    QCOMPARE(Minimums::of(reg.db(), resistor).minimums.value(resistor), 10);
    QCOMPARE(writer.setMinimum(resistor, 3, 10).outcome, Outcome::Saved);
    QCOMPARE(Minimums::of(reg.db(), resistor).minimums.value(resistor), 3);

    // Emptied: no minimum at all.
    QCOMPARE(writer.setMinimum(diode, std::nullopt, 0).outcome, Outcome::Saved);
    QCOMPARE(Minimums::all(reg.db()).minimums, (QHash<qint64, qint64>{{resistor, 3}}));
    QCOMPARE(writer.setMinimum(-5, 1, std::nullopt).outcome, Outcome::Gone);
}

void TestJournal::minimumGoesWithItsPart_data()
{
    addBackRows();
}

void TestJournal::minimumGoesWithItsPart()
{
    JOURNAL_FIXTURE(reg);
    QVERIFY(reg.open({part("Резистор"), part("Диод")}));
    const qint64 resistor = reg.idOf(QStringLiteral("Резистор"));
    const qint64 diode = reg.idOf(QStringLiteral("Диод"));
    PartWriter writer(reg.db());
    QVERIFY(writer.setMinimum(resistor, 5, std::nullopt).saved());
    QVERIFY(writer.setMinimum(diode, 7, std::nullopt).saved());

    QVERIFY(writer.remove(resistor).saved());
    // Another program deletes with plain SQL.
    QCOMPARE(reg.runPlain(QStringLiteral("DELETE FROM client WHERE idnom = %1").arg(diode)),
             QString());
    QVERIFY(Minimums::all(reg.db()).minimums.isEmpty());
    QCOMPARE(writer.setMinimum(diode, 1, std::nullopt).outcome, Outcome::Gone);
}

void TestJournal::earlierRegisterGetsTheTablesAtOpen()
{
    // A register as earlier builds wrote it has none of the new tables; an earlier build also
    // still writes it after this one added them.
    TestRegister reg;
    QVERIFY(reg.write({part("Резистор")}));
    {
        Connection before;
        QVERIFY(before.open(reg.databasePath()).ok());
        QVERIFY(hasJournal(before.connection())); // a new register has them from the start
    }
    dropJournal(reg.databasePath());
    {
        Connection before;
        QVERIFY(before.open(reg.databasePath()).ok());
        QVERIFY(!hasJournal(before.connection()));
        QVERIFY(Minimums::all(before).ok);
        QVERIFY(Minimums::all(before).minimums.isEmpty());
    }
    QVERIFY(reg.owner().check().ok());
    Connection after;
    QVERIFY(reg.owner().connect(after).ok());
    QVERIFY(hasJournal(after.connection()));
    QVERIFY(after.keepsJournal());
    QVERIFY(PartWriter(after).setMinimum(1, 4, std::nullopt).saved());
    QCOMPARE(Minimums::of(after, 1).minimums.value(1), 4);
}

void TestJournal::earlierServerRegisterGetsThemAtOpen()
{
    TARVIK_SKIP_WITHOUT_SERVER();
    ServerRegister reg;
    QVERIFY2(reg.write({part("Резистор")}), qPrintable(reg.error()));
    // As a register an earlier build moved there.
    QCOMPARE(reg.server().run(QStringLiteral(
                 "DROP TABLE partJournal, journalContext, partMinimum CASCADE; "
                 "DROP FUNCTION tarvik_client_journal, tarvik_minimum_journal CASCADE")),
             QString());
    QVERIFY(!hasJournal(reg.server().connection()));
    QVERIFY(reg.owner().check().ok());
    QVERIFY(hasJournal(reg.server().connection()));
    Connection db;
    QVERIFY(reg.owner().connect(db).ok());
    QVERIFY(PartWriter(db).setMinimum(1, 2, std::nullopt).saved());
    QCOMPARE(Minimums::all(db).minimums, (QHash<qint64, qint64>{{1, 2}}));
}

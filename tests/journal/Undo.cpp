// "Отменить" on a journal entry: the old value back only while the entry's new value is still
// what is stored, itself journaled.
#include "TestJournal.h"

#include "store/records/Journal.h"

namespace {

// The newest entry of `field` (any field when empty).
JournalEntry newest(Connection& db, const QString& field = {})
{
    for (const JournalEntry& e : Journal(db).page({}, 0, 1000).entries) {
        if (field.isEmpty() || e.field == field)
            return e;
    }
    return {};
}

QString stored(JournalFixture& reg, const QString& column, qint64 id)
{
    QSqlQuery query(reg.db().connection());
    query.prepare(QStringLiteral("SELECT %1 FROM client WHERE idnom = ?").arg(column));
    query.addBindValue(id);
    return query.exec() && query.next() ? query.value(0).toString() : QStringLiteral("<gone>");
}

} // namespace

void TestJournal::undoPutsBackOrSaysWhy_data()
{
    addBackRows();
}

void TestJournal::undoPutsBackOrSaysWhy()
{
    JOURNAL_FIXTURE(reg);
    QVERIFY(reg.open({part("Диод", "1", "3"), part("Реле", "5", "6")}));
    PartWriter writer(reg.db());
    const qint64 diode = reg.idOf(QStringLiteral("Диод"));

    // A field: back to what it was, journaled as an undo.
    QVERIFY(writer.change(diode, {{"phone", "4"}}, {}, PartAction::Plus).saved());
    const JournalEntry plus = newest(reg.db());
    QVERIFY(writer.undo(plus.entry).saved());
    QCOMPARE(stored(reg, "phone", diode), QStringLiteral("3"));
    const JournalEntry undone = newest(reg.db());
    QCOMPARE(undone.action, QStringLiteral("undo"));
    QCOMPARE(undone.was.toString(), QStringLiteral("4"));
    QCOMPARE(undone.became.toString(), QStringLiteral("3"));

    // The value moved on since: nothing written, and the words say what is stored.
    QVERIFY(writer.change(diode, {{"phone", "4"}}, {}, PartAction::Plus).saved());
    const JournalEntry first = newest(reg.db());
    QVERIFY(writer.change(diode, {{"phone", "5"}}, {}, PartAction::Plus).saved());
    const PartWrite refused = writer.undo(first.entry);
    QCOMPARE(refused.outcome, PartWrite::Outcome::ChangedElsewhere);
    QCOMPARE(refused.reason, QStringLiteral("значение уже изменено: сейчас «5»"));
    QCOMPARE(stored(reg, "phone", diode), QStringLiteral("5"));
    QCOMPARE(newest(reg.db()).became.toString(), QStringLiteral("5"));

    // The minimum likewise.
    QVERIFY(writer.setMinimum(diode, 2, std::nullopt).saved());
    const JournalEntry minimum = newest(reg.db());
    QVERIFY(writer.setMinimum(diode, 8, 2).saved());
    QCOMPARE(writer.undo(minimum.entry).reason,
             QStringLiteral("значение уже изменено: сейчас «8»"));
    QVERIFY(writer.undo(newest(reg.db()).entry).saved());
    QCOMPARE(Minimums::of(reg.db(), diode).minimums.value(diode), 2);

    // A delete: the part back whole, under its number, with its minimum.
    QVERIFY(writer.remove(diode).saved());
    QCOMPARE(stored(reg, "phone", diode), QStringLiteral("<gone>"));
    QVERIFY(writer.undo(newest(reg.db()).entry).saved());
    QCOMPARE(stored(reg, "idFam", diode), QStringLiteral("Диод"));
    QCOMPARE(stored(reg, "pol", diode), QStringLiteral("1"));
    QCOMPARE(stored(reg, "phone", diode), QStringLiteral("5"));
    QCOMPARE(stored(reg, "kont", diode), QStringLiteral("014"));
    QCOMPARE(stored(reg, "idFamKey", diode), QStringLiteral("диод"));
    QCOMPARE(Minimums::of(reg.db(), diode).minimums.value(diode), 2);

    // An add: the part deleted again, unless it was changed after.
    const PartWrite added = writer.add(part("Кварц", "3", "1").fields());
    QVERIFY(added.saved());
    const JournalEntry add = newest(reg.db(), "idFam");
    QVERIFY(writer.change(added.id, {{"phone", "2"}}, {}, PartAction::Plus).saved());
    QCOMPARE(writer.undo(add.entry).outcome, PartWrite::Outcome::ChangedElsewhere);
    QVERIFY(writer.change(added.id, {{"phone", "1"}}, {}, PartAction::Minus).saved());
    QVERIFY(writer.undo(add.entry).saved());
    QCOMPARE(stored(reg, "idFam", added.id), QStringLiteral("<gone>"));
    QCOMPARE(newest(reg.db()).action, QStringLiteral("undo"));
    QCOMPARE(newest(reg.db()).operation, QStringLiteral("delete"));
    // Gone by now.
    QCOMPARE(writer.undo(add.entry).outcome, PartWrite::Outcome::Gone);
}

#include "TestCsv.h"

#include "AccessFixtures.h"

#include "store/access/AccessImport.h"
#include "store/records/PartExport.h"
#include "store/register/NameKeys.h"
#include "store/text/CsvFormula.h"

#include <QBuffer>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <cstring>

QByteArray exportAll(const Connection& db)
{
    QSqlError error;
    const auto ids = partIdsByName(db, &error);
    if (!ids)
        return {};
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    return exportPartsCsv(db, *ids, buffer).ok() ? bytes : QByteArray();
}

PartImportPlan plan(const Connection& db, const QByteArray& csv)
{
    QBuffer buffer;
    buffer.setData(csv);
    buffer.open(QIODevice::ReadOnly);
    return planPartImport(db, buffer);
}

namespace {

// A header, a line of `length` bytes that never exist anywhere at once, and a good row.
class LongLine : public QIODevice {
public:
    LongLine(QByteArray head, qint64 length, QByteArray tail)
        : m_head(std::move(head)),
          m_length(length),
          m_tail(std::move(tail))
    {
    }
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char* data, qint64 max) override
    {
        qint64 done = 0;
        while (done < max) {
            const qint64 at = m_pos + done;
            qint64 n = 0;
            if (at < m_head.size()) {
                n = std::min(max - done, m_head.size() - at);
                std::memcpy(data + done, m_head.constData() + at, size_t(n));
            } else if (at < m_head.size() + m_length) {
                n = std::min(max - done, m_head.size() + m_length - at);
                std::memset(data + done, 'x', size_t(n));
            } else if (const qint64 tail = at - m_head.size() - m_length; tail < m_tail.size()) {
                n = std::min(max - done, m_tail.size() - tail);
                std::memcpy(data + done, m_tail.constData() + tail, size_t(n));
            } else {
                break;
            }
            done += n;
        }
        m_pos += done;
        return done;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    QByteArray m_head;
    qint64 m_length;
    QByteArray m_tail;
    qint64 m_pos = 0;
};

struct Opened {
    TestRegister reg;
    Connection db;
    bool open(const QList<PartRow>& parts, const QList<Package>& packages = {})
    {
        return reg.write(parts, packages) && reg.owner().connect(db).ok();
    }
};

QStringList lines(const QList<BadImportRow>& bad)
{
    QStringList said;
    for (const BadImportRow& row : bad)
        said << QStringLiteral("%1: %2").arg(row.line).arg(row.reason);
    return said;
}

} // namespace

void TestCsv::readerTellsEncodingAndSeparator_data()
{
    QTest::addColumn<QByteArray>("csv");
    QTest::addColumn<QString>("encoding");
    QTest::addColumn<QString>("separator");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("price");
    QTest::newRow("utf-8 with bom, semicolons")
        << QByteArray("\xEF\xBB\xBFНаименование;Цена\r\nКТ315Б;1,2\r\n") << "UTF-8 с меткой BOM"
        << "точка с запятой"
        << "КТ315Б"
        << "1,2";
    QTest::newRow("utf-8, commas")
        << QByteArray("наименование , Цена\nЁмкость №1,\"1,2\"\n") << "UTF-8"
        << "запятая"
        << "Ёмкость №1"
        << "1,2";
    // "Наименование", "Цена", "Ёмкость №1" as Windows-1251 writes them.
    QTest::newRow("windows-1251, tabs")
        << QByteArray("\xCD\xE0\xE8\xEC\xE5\xED\xEE\xE2\xE0\xED\xE8\xE5\t\xD6\xE5\xED\xE0\r\n"
                      "\xA8\xEC\xEA\xEE\xF1\xF2\xFC \xB9\x31\t1,2\r\n")
        << "Windows-1251"
        << "табуляция"
        << "Ёмкость №1"
        << "1,2";
}

void TestCsv::readerTellsEncodingAndSeparator()
{
    QFETCH(QByteArray, csv);
    Opened opened;
    QVERIFY(opened.open({}));
    const PartImportPlan read = plan(opened.db, csv);
    QVERIFY2(read.ok(), qPrintable(read.refusal));
    QTEST(read.encoding, "encoding");
    QTEST(read.separator, "separator");
    QCOMPARE(read.rows.size(), 1);
    QTEST(read.rows.front().part.idFam, "name");
    QTEST(read.rows.front().part.pol, "price");
    QVERIFY(read.bad.isEmpty());
}

void TestCsv::quotesLineBreaksAndBadRowsKeepTheirLines()
{
    Opened opened;
    QVERIFY(opened.open({}));
    QByteArray csv = "Наименование;Доп. информация;Количество;Цвет\r\n"
                     "\"Реле \"\"РЭС-9\"\"; 12 В\";\"первая\r\nвторая\";4;x\r\n"
                     ";пусто;1;x\r\n"
                     "A;b\r\n"
                     "\r\n"
                     "C;;2;x\r\n";
    // Past the first bytes the encoding is told by: a row that is not UTF-8 after all.
    const int filler = 40000;
    for (int i = 0; i < filler; ++i)
        csv += "P;;1;x\r\n";
    csv += "B;\xFF\xFE;1;x\r\n"
           "D;\"не закрыта;1;x\r\nE;;1;x\r\n";
    const PartImportPlan read = plan(opened.db, csv);
    QVERIFY2(read.ok(), qPrintable(read.refusal));
    QCOMPARE(read.encoding, QStringLiteral("UTF-8"));
    QCOMPARE(read.unknownColumns, QStringList{QStringLiteral("Цвет")});
    QCOMPARE(read.rows.size(), 2 + filler);
    QCOMPARE(read.rows.at(0).line, 2);
    QCOMPARE(read.rows.at(0).part.idFam, QStringLiteral("Реле \"РЭС-9\"; 12 В"));
    QCOMPARE(read.rows.at(0).part.sorp, QStringLiteral("первая\r\nвторая"));
    QCOMPARE(read.rows.at(0).part.phone, QStringLiteral("4"));
    QCOMPARE(read.rows.at(1).line, 7);
    QCOMPARE(read.rows.at(1).part.idFam, QStringLiteral("C"));
    const QStringList expected{
        QStringLiteral("4: пустое наименование"),
        QStringLiteral("5: полей 2, а столбцов в заголовке 4"),
        QStringLiteral("%1: неверная кодировка: не UTF-8").arg(8 + filler),
        QStringLiteral("%1: кавычка не закрыта до конца файла").arg(9 + filler),
    };
    QCOMPARE(lines(read.bad), expected);

    const PartImportPlan nameless = plan(opened.db, "Корпус;Цена\r\nTO-92;1\r\n");
    QVERIFY(nameless.refusal.contains(QStringLiteral("«Наименование»")));
    QVERIFY(nameless.rows.isEmpty());
}

void TestCsv::gigabyteLineIsPassedOver()
{
    Opened opened;
    QVERIFY(opened.open({}));
    LongLine file("Наименование;Количество\r\nA;1\r\n", qint64(1) << 30, "\r\nB;2\r\n");
    QVERIFY(file.open(QIODevice::ReadOnly | QIODevice::Unbuffered));
    const PartImportPlan read = planPartImport(opened.db, file);
    QVERIFY2(read.ok(), qPrintable(read.refusal));
    QCOMPARE(read.rows.size(), 2);
    QCOMPARE(read.rows.at(1).part.idFam, QStringLiteral("B"));
    QCOMPARE(read.rows.at(1).line, 4);
    QCOMPARE(lines(read.bad), QStringList{QStringLiteral("3: запись длиннее 64 КиБ")});
}

void TestCsv::formulasComeBackUnchanged()
{
    // What a spreadsheet would run gets an apostrophe; numbers and plain text do not.
    QCOMPARE(guardFormula(QStringLiteral("=HYPERLINK(\"http://x\")")),
             QStringLiteral("'=HYPERLINK(\"http://x\")"));
    QCOMPARE(guardFormula(QStringLiteral("-5,5")), QStringLiteral("-5,5"));
    QCOMPARE(guardFormula(QStringLiteral("'n-p-n")), QStringLiteral("'n-p-n"));
    const QStringList values{
        QStringLiteral("=1+1"), QStringLiteral("+7 900"), QStringLiteral("-5"),
        QStringLiteral("-5x"),  QStringLiteral("@sum"),   QStringLiteral("\tx"),
        QStringLiteral("\r=x"), QStringLiteral("'=x"),    QStringLiteral("''+x"),
        QStringLiteral("'"),    QStringLiteral("'a"),     QString(),
    };
    for (const QString& value : values)
        QCOMPARE(unguardFormula(guardFormula(value)), value);
}

void TestCsv::roundTripIsByteForByte_data()
{
    QTest::addColumn<QString>("fixture");
    for (const char* name :
         {"register-empty", "register-typical", "register-mixed-compression", "register-large"})
        QTest::newRow(name) << QString::fromLatin1(name);
    QTest::newRow("made up") << QString();
}

void TestCsv::roundTripIsByteForByte()
{
    QFETCH(QString, fixture);
    QTemporaryDir dir;
    std::unique_ptr<Register> source;
    Opened made;
    Connection from;
    if (fixture.isEmpty()) {
        const QString hyperlink = QStringLiteral("=HYPERLINK(\"http://example.org\")");
        QVERIFY(made.open({part(hyperlink, QStringLiteral("-1"), QStringLiteral("+2")),
                           part(QStringLiteral("'=x"), QStringLiteral("1,5"), QString(),
                                QStringLiteral("TO-92"), QStringLiteral("''@y\r\n\"z\";w")),
                           part(QStringLiteral("Ёж"), QString(), QString(), QString(),
                                QStringLiteral("\ta\nb"))}));
        const QByteArray exported = exportAll(made.db);
        QVERIFY(exported.contains("'=HYPERLINK(\"\"http://example.org\"\")"));
        QVERIFY(exported.contains("\"'''@y\r\n\"\"z\"\";w\""));
        QVERIFY(made.reg.owner().connect(from).ok());
    } else {
        if (fixture == QLatin1String("register-large"))
            TARVIK_SKIP_WITHOUT_LARGE_FIXTURE();
        const QString path = dir.filePath(QStringLiteral("fixture.mdb"));
        QVERIFY(importAccessRegister(fixturePath(fixture + QStringLiteral(".mdb")), path).ok());
        source = std::make_unique<Register>(path);
        source->check();
        QVERIFY(source->connect(from).ok());
    }
    const QByteArray first = exportAll(from);
    QVERIFY(first.startsWith("\xEF\xBB\xBFНаименование;Корпус;Цена;Количество;Стоимость;"
                             "Доп. информация\r\n"));

    Opened empty;
    QVERIFY(empty.open({}));
    const PartImportPlan read = plan(empty.db, first);
    QVERIFY2(read.ok(), qPrintable(read.refusal));
    QCOMPARE(lines(read.bad), QStringList());
    QVERIFY(PartWriter(empty.db).importParts(read.rows, ExistingNames::Add).saved());
    QCOMPARE(exportAll(empty.db), first);
}

void TestCsv::existingNamesAreAddedSkippedOrUpdated_data()
{
    QTest::addColumn<int>("existing");
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QString>("firstA");
    QTest::newRow("add") << int(ExistingNames::Add) << QStringList{"A", "A", "B", "A", "C", "C"}
                         << "1/1";
    QTest::newRow("skip") << int(ExistingNames::Skip) << QStringList{"A", "A", "B", "C", "C"}
                          << "1/1";
    QTest::newRow("update") << int(ExistingNames::Update) << QStringList{"A", "A", "B", "C", "C"}
                            << "9/90";
}

void TestCsv::existingNamesAreAddedSkippedOrUpdated()
{
    QFETCH(int, existing);
    Opened opened;
    QVERIFY(opened.open({part("A", "1", "1"), part("A", "2", "2"), part("B", "3", "3")},
                        {{QStringLiteral("SOT-23"), picture(Qt::red)}}));
    const PartImportPlan read = plan(opened.db, "Наименование;Корпус;Цена;Количество\r\n"
                                                "A;sot-23;9;90\r\nC;sot-23;5;50\r\nC;;6;60\r\n");
    QCOMPARE(read.existing, 1);
    QCOMPARE(read.storedTwice, 1);
    QCOMPARE(read.fresh(), 2);
    QVERIFY(PartWriter(opened.db).importParts(read.rows, ExistingNames(existing)).saved());

    const QList<QVariantMap> stored = opened.reg.storedParts();
    QStringList names;
    for (const QVariantMap& row : stored)
        names << row.value("idFam").toString();
    QTEST(names, "names");
    QTEST(stored.at(0).value("pol").toString() + '/' + stored.at(0).value("phone").toString(),
          "firstA");
    QCOMPARE(stored.at(1).value("pol").toString(), QStringLiteral("2"));
    // A new part as the part dialog saves one: its record key, name key and package picture.
    const QVariantMap added = stored.at(stored.size() - 2);
    QCOMPARE(added.value("datebir").toString(), QStringLiteral("sot-23"));
    QCOMPARE(added.value("PhotoN").toString(), QStringLiteral("SOT-23"));
    QVERIFY(added.value("kont").toString().startsWith(QStringLiteral("01")));
    QCOMPARE(added.value("idFamKey").toString(), nameKey(QStringLiteral("C")).toString());
    QCOMPARE(stored.back().value("PhotoN").toString(), QString());

    QSqlQuery journal(opened.db.connection());
    QVERIFY(journal.exec("SELECT count(*) FROM partJournal WHERE action = 'import'"));
    QVERIFY(journal.next());
    QVERIFY(journal.value(0).toInt() > 0);
}

void TestCsv::failureInTheMiddleWritesNothing()
{
    Opened opened;
    QVERIFY(opened.open({part("A")}));
    const QString refused =
        onServerBackend()
            ? opened.reg.runAsOtherClient(
                  "CREATE FUNCTION refuse_boom() RETURNS trigger AS $$ BEGIN "
                  "IF NEW.idfam = 'boom' THEN RAISE EXCEPTION 'boom'; END IF; RETURN NEW; END "
                  "$$ LANGUAGE plpgsql; CREATE TRIGGER refuse_boom BEFORE INSERT ON client "
                  "FOR EACH ROW EXECUTE FUNCTION refuse_boom()")
            : opened.reg.runAsOtherClient(
                  "CREATE TRIGGER refuse_boom BEFORE INSERT ON client WHEN NEW.idFam = 'boom' "
                  "BEGIN SELECT RAISE(ABORT, 'boom'); END");
    QCOMPARE(refused, QString());
    const QList<QVariantMap> before = opened.reg.storedParts();
    const PartImportPlan read =
        plan(opened.db, "Наименование;Количество\r\nX;1\r\nboom;2\r\nY;3\r\n");
    QCOMPARE(read.rows.size(), 3);
    const PartWrite write = PartWriter(opened.db).importParts(read.rows, ExistingNames::Add);
    QVERIFY(!write.saved());
    QVERIFY(write.error.text().contains(QStringLiteral("boom")));
    QCOMPARE(opened.reg.storedParts(), before);
    QSqlQuery journal(opened.db.connection());
    QVERIFY(journal.exec("SELECT count(*) FROM partJournal WHERE action = 'import'"));
    QVERIFY(journal.next());
    QCOMPARE(journal.value(0).toInt(), 0);
}

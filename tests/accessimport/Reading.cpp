// Reading an Access register: its text and header, every field of every fixture, and rows
// of our own for the cases no fixture holds.
#include "TestAccessImport.h"

namespace {

// Rows of our own, to reach the cases no fixture holds.
class FedRows : public AccessRowReader {
public:
    struct Rows {
        QStringList columns;
        QList<QVariantList> rows;
        qint64 declared = -1; // -1: as many as there are
    };
    QHash<QString, Rows> tables;

    Table openTable(const QString& name) override
    {
        m_rows = nullptr;
        m_next = 0;
        for (auto it = tables.begin(); it != tables.end(); ++it) {
            if (it.key().compare(name, Qt::CaseInsensitive) == 0)
                m_rows = &it.value();
        }
        if (!m_rows)
            return {};
        return {true, m_rows->columns,
                m_rows->declared < 0 ? m_rows->rows.size() : m_rows->declared};
    }
    bool nextRow(QVariantList& row) override
    {
        if (!m_rows || m_next >= m_rows->rows.size())
            return false;
        row = m_rows->rows[m_next++];
        return true;
    }
    QString damage() const override { return {}; }

private:
    Rows* m_rows = nullptr;
    qsizetype m_next = 0;
};

const QStringList kPartColumns = {"idnom",   "kont",  "idFam", "pol",
                                  "datebir", "phone", "sorp",  "PhotoN"};
const QStringList kTypeColumns = {"IDvrachYZD", "yzdID", "vrachYZD", "name1", "Photo1"};

FedRows register1(const QList<QVariantList>& parts, const QList<QVariantList>& types)
{
    FedRows fed;
    fed.tables.insert(QStringLiteral("client"), {kPartColumns, parts});
    fed.tables.insert(QStringLiteral("vrYZD"), {kTypeColumns, types});
    return fed;
}

QVariantList fedPart(qint64 id, const QVariant& name, const QVariant& notes = QString())
{
    return {id,
            QStringLiteral("1"),
            name,
            QStringLiteral("1,5"),
            QStringLiteral(""),
            QStringLiteral("2"),
            notes,
            QVariant()};
}

} // namespace

void TestAccessImport::jetText()
{
    auto bytes = [](std::initializer_list<int> list) {
        QByteArray out;
        for (int b : list)
            out.append(char(b));
        return out;
    };
    // Compressed: one byte per character until a 0x00, then two, and back at the next 0x00.
    QCOMPARE(decodeJet4Text(
                 bytes({0xFF, 0xFE, 0x00, 0x20, 0x04, 0x35, 0x04, 0x00, 0x20, 0x53, 0x4D, 0x44})),
             QStringLiteral("Ре SMD"));
    QCOMPARE(decodeJet4Text(bytes({0xFF, 0xFE, 'a', 0xE9, 'b'})), QStringLiteral("aéb"));
    // Plain UTF-16LE, with a character beyond the first plane.
    QCOMPARE(
        decodeJet4Text(QByteArray::fromRawData(reinterpret_cast<const char*>(u"Ёж\U0001F600"), 8)),
        QStringLiteral("Ёж\U0001F600"));
    // Half a character at the end is dropped, not read beyond.
    QCOMPARE(decodeJet4Text(bytes({0x41, 0x00, 0x42})), QStringLiteral("A"));
    QCOMPARE(decodeJet4Text(bytes({0xFF, 0xFE, 0x00, 0x41})), QString(QLatin1String("")));
    // The empty value is the empty text, never NULL.
    QVERIFY(!decodeJet4Text(QByteArrayView()).isNull());
    QVERIFY(!decodeJet4Text(bytes({0xFF, 0xFE})).isNull());
    QVERIFY(!decodeJet3Text(QByteArrayView()).isNull());
    QCOMPARE(decodeJet3Text(bytes({0xC0, 0xA8, 0xB8, 0x41})), QStringLiteral("АЁёA"));
}

void TestAccessImport::pictureTextEveryByte()
{
    QByteArray all;
    for (int b = 0; b < 256; ++b)
        all.append(char(b));
    const QString text = pictureText(all);
    QCOMPARE(text.size(), 256);
    QCOMPARE(text[0x00], QChar(0x0000));
    QCOMPARE(text[0x98], QChar(0x0098));
    QCOMPARE(text[0xA8], QChar(0x0401)); // Ё
    QCOMPARE(text[0x88], QChar(0x20AC)); // €
    QCOMPARE(text[0xFF], QChar(0x044F)); // я
    QByteArray back;
    QVERIFY(pictureBytes(text, back));
    QCOMPARE(back, all);

    // A character no byte stands for: the picture is damaged, and which one is told.
    qsizetype bad = -1;
    QVERIFY(!pictureBytes(QStringLiteral("ab\u4E00c"), back, &bad));
    QCOMPARE(bad, 2);
    QVERIFY(!pictureBytes(QStringLiteral("\u00E9"), back, &bad)); // Latin-1 é is not in 1251
}

void TestAccessImport::headerTellsFormats()
{
    QFile file(fixturePath("register-typical.mdb"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray page = file.read(4096);
    AccessHeader header = parseAccessHeader(page);
    QCOMPARE(header.format, AccessHeader::Format::Jet4);
    QCOMPARE(header.pageSize, 4096);
    QVERIFY(!header.hasPassword);
    QVERIFY(!header.isEncoded);

    QCOMPARE(parseAccessHeader(withPassword(page)).hasPassword, true);
    QCOMPARE(parseAccessHeader(withEncodingKey(page)).isEncoded, true);
    QByteArray jet3 = page;
    jet3[0x14] = 0;
    header = parseAccessHeader(toggleAccessHeaderScramble(
        toggleAccessHeaderScramble(jet3))); // re-scrambled for Jet 3's shorter area is fine
    QCOMPARE(header.format, AccessHeader::Format::Jet3);
    QCOMPARE(header.pageSize, 2048);
    QByteArray ace = page;
    ace.replace(4, 16, QByteArray("Standard ACE DB\0", 16));
    QCOMPARE(parseAccessHeader(ace).format, AccessHeader::Format::Newer);
    QCOMPARE(parseAccessHeader(page.left(40)).isTruncated, true);

    QCOMPARE(parseAccessHeader(QByteArray("SQLite format 3\0", 16) + QByteArray(300, 0)).format,
             AccessHeader::Format::NotAccess);
    QCOMPARE(parseAccessHeader({}).format, AccessHeader::Format::NotAccess);
    QCOMPARE(readAccessHeader(QStringLiteral("/nonexistent/vorlend.mdb")).format,
             AccessHeader::Format::Unreadable);
}

void TestAccessImport::everyFixtureComesOverUnchanged_data()
{
    QTest::addColumn<QString>("name");
    for (const char* name :
         {"register-typical", "register-empty", "register-large", "register-mixed-compression"})
        QTest::newRow(name) << QString::fromLatin1(name);
}

void TestAccessImport::everyFixtureComesOverUnchanged()
{
    QFETCH(QString, name);
    if (name == QLatin1String("register-large"))
        TARVIK_SKIP_WITHOUT_LARGE_FIXTURE();
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("new.mdb"));
    const QString source = fixturePath(name + QStringLiteral(".mdb"));
    const QByteArray before = fileHash(source);
    qint64 lastDone = -1, total = -1;
    const ImportResult result = importAccessRegister(source, target, [&](qint64 done, qint64 all) {
        if (done < lastDone || (total >= 0 && all != total))
            return false; // progress must only go forward, towards one total
        lastDone = done;
        total = all;
        return true;
    });
    QVERIFY2(result.ok(), qPrintable(describeImportProblem(source, result)));
    QCOMPARE(lastDone, total);
    QCOMPARE(fileHash(source), before); // only read
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList({"new.mdb"}));

    const Manifest manifest = readManifest(name);
    compareWithManifest(target, manifest);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(result.summary.parts, manifest.rows.value("client").size());
    QCOMPARE(result.summary.types, manifest.rows.value("vrYZD").size());
    QCOMPARE(result.summary.pictures, manifest.pictureCount);
    QCOMPARE(result.summary.pictureBytes, manifest.pictureBytes);
    if (name != QLatin1String("register-typical"))
        return;
    // What makes these pictures hard came over too: byte 0x00 (where a text path stops), every
    // byte from 0x80 up (code page 1251, 0x98 included), and values over many long-value pages.
    bool everyHighByte = false;
    qsizetype longest = 0;
    for (const QVariantMap& type : readTable(target, Statements::packageTypes())) {
        const QByteArray picture = type.value("Photo1").toByteArray();
        longest = qMax(longest, picture.size());
        bool all = picture.contains('\0');
        for (int b = 0x80; b <= 0xFF && all; ++b)
            all = picture.contains(char(b));
        everyHighByte = everyHighByte || all;
    }
    QVERIFY(everyHighByte);
    QCOMPARE(longest, 79926); // about twenty 4 KB pages
    const QList<QVariantMap> parts = readTable(target, Statements::partsInStoredOrder());
    const auto notes = std::find_if(parts.begin(), parts.end(), [](const QVariantMap& part) {
        return part.value("idFam").toString() == QStringLiteral("Трансформатор ТП-112");
    });
    QVERIFY(notes != parts.end());
    QCOMPARE(notes->value("sorp").toString().size(), 20000);
    QCOMPARE(notes->value("sorp").toString().count(QStringLiteral("\r\n")), 166);
}

void TestAccessImport::importedNumbersContinue()
{
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("new.mdb"));
    QVERIFY(importAccessRegister(fixturePath("register-typical.mdb"), target).ok());
    // The Access file's numbers are kept and the engine carries on after the largest (48;
    // the part once numbered 49 was deleted in Access).
    RecordSource parts;
    QVERIFY(parts.open(target).ok());
    parts.setStatement(Statements::partsInStoredOrder());
    QVERIFY(parts.addNew({{"idFam", QStringLiteral("Новая деталь")}, {"kont", "1"}}));
    QVERIFY(parts.refresh());
    QVERIFY(parts.setCurrentRow(parts.recordCount() - 1));
    QCOMPARE(parts.field("idnom").toLongLong(), 49);
    QCOMPARE(parts.field("idFamKey").toString(), QStringLiteral("новая деталь"));
    RecordSource types;
    QVERIFY(types.open(target).ok());
    types.setStatement(Statements::packageTypes());
    QVERIFY(types.addNew({{"vrachYZD", QStringLiteral("SOT-89")}}));
    QVERIFY(types.refresh());
    QVERIFY(types.setCurrentRow(types.recordCount() - 1));
    QCOMPARE(types.field("IDvrachYZD").toLongLong(), 14);
    Connection db;
    QVERIFY(db.open(target).ok());
    QCOMPARE(countParts(db), std::optional<qint64>(45)); // 44 imported kont values + the new one
}

void TestAccessImport::fedRowsKeepNullAndEmptyApart()
{
    const QString empty = QStringLiteral("");
    const QByteArray pictureFile("GIF89a\x00\x98\xFF\x80", 10);
    FedRows fed = register1({fedPart(7, QStringLiteral("Ёмкость 'А'"), QVariant()),
                             fedPart(3, empty, empty),
                             {qint64(9), QVariant(), QVariant(), QVariant(), QVariant(), QVariant(),
                              QVariant(), QVariant()}},
                            {{qint64(2), QVariant(), QStringLiteral("TO-92"),
                              QStringLiteral("a.gif"), pictureText(pictureFile)},
                             {qint64(5), qint64(3), empty, empty, empty},
                             {qint64(6), qint64(6), QVariant(), QVariant(), QVariant()}});
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("new.mdb"));
    const ImportResult result = writeImportedRegister(fed, target);
    QVERIFY2(result.ok(), qPrintable(result.detail));
    QCOMPARE(result.summary.pictures, 1);
    QCOMPARE(result.summary.pictureBytes, 10);

    const QList<QVariantMap> parts = readTable(target, Statements::partsInStoredOrder());
    QCOMPARE(parts.size(), 3);
    QCOMPARE(parts[0]["idnom"].toLongLong(), 3);
    QVERIFY(!parts[0]["idFam"].isNull() && parts[0]["idFam"].toString().isEmpty());
    QVERIFY(!parts[0]["sorp"].isNull());
    QVERIFY(!parts[0]["idFamKey"].isNull());
    QCOMPARE(parts[1]["idFam"].toString(), QStringLiteral("Ёмкость 'А'"));
    QCOMPARE(parts[1]["idFamKey"].toString(), nameKeyOf(QStringLiteral("Ёмкость 'А'")));
    QVERIFY(parts[1]["sorp"].isNull());
    QVERIFY(parts[1]["datebir"].toString().isEmpty() && !parts[1]["datebir"].isNull());
    QVERIFY(parts[1]["PhotoN"].isNull());
    for (const char* field :
         {"kont", "idFam", "pol", "datebir", "phone", "sorp", "PhotoN", "idFamKey"})
        QVERIFY2(parts[2][field].isNull(), field);

    const QList<QVariantMap> types = readTable(target, Statements::packageTypes());
    QCOMPARE(types.size(), 3);
    QVERIFY(types[0]["yzdID"].isNull());
    QCOMPARE(types[0]["Photo1"].toByteArray(), pictureFile);
    QCOMPARE(types[1]["yzdID"].toLongLong(), 3);
    QVERIFY(!types[1]["Photo1"].isNull() && types[1]["Photo1"].toByteArray().isEmpty());
    QVERIFY(!types[1]["vrachYZD"].isNull());
    QVERIFY(types[2]["Photo1"].isNull());
    QVERIFY(types[2]["name1"].isNull());
}

void TestAccessImport::fedRowsThatCannotComeOver()
{
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("new.mdb"));
    auto attempt = [&](FedRows fed, const ImportProgress& progress = {}) {
        const ImportResult result = writeImportedRegister(fed, target, progress);
        // Whatever went wrong, no half-written file is left behind.
        if (QFileInfo::exists(target) || QFileInfo::exists(target + "-journal"))
            qWarning("a file was left behind");
        return QFileInfo::exists(target) ? ImportProblem::None : result.problem;
    };

    // A picture character that code page 1251 has no byte for.
    QCOMPARE(attempt(register1({}, {{qint64(1), QVariant(), QStringLiteral("X"), QVariant(),
                                     QStringLiteral("GIF\u4E00")}})),
             ImportProblem::BadValue);
    // A number where text belongs, text where the number belongs.
    QCOMPARE(attempt(register1({{qint64(1), qint64(5), QVariant(), QVariant(), QVariant(),
                                 QVariant(), QVariant(), QVariant()}},
                               {})),
             ImportProblem::BadValue);
    QCOMPARE(attempt(register1({fedPart(1, "a")}, {{QStringLiteral("1"), QVariant(), QVariant(),
                                                    QVariant(), QVariant()}})),
             ImportProblem::BadValue);
    // Two parts with one number: the file cannot hold them, and says so.
    QCOMPARE(attempt(register1({fedPart(1, "a"), fedPart(1, "b")}, {})),
             ImportProblem::CannotWrite);
    // A missing field, named.
    FedRows noNotes = register1({}, {});
    noNotes.tables["client"].columns.removeOne(QStringLiteral("sorp"));
    ImportResult missing = writeImportedRegister(noNotes, target);
    QCOMPARE(missing.problem, ImportProblem::MissingField);
    QCOMPARE(describeImportProblem(QStringLiteral("old.mdb"), missing),
             QStringLiteral("В таблице «client» файла Access «old.mdb» нет поля «sorp»."));
    // A row with fewer values than its table has fields.
    QCOMPARE(attempt(register1({{qint64(1), QStringLiteral("1")}}, {})), ImportProblem::Damaged);
    // Fewer rows than the table's definition counts: rows were lost on the way.
    FedRows lost = register1({fedPart(1, "a")}, {});
    lost.tables["client"].declared = 2;
    QCOMPARE(attempt(lost), ImportProblem::Damaged);

    // Cancelled half-way.
    QList<QVariantList> many;
    for (int i = 1; i <= 2000; ++i)
        many << fedPart(i, QStringLiteral("part %1").arg(i));
    int calls = 0;
    QCOMPARE(attempt(register1(many, {}), [&](qint64, qint64) { return ++calls < 3; }),
             ImportProblem::Cancelled);
    QCOMPARE(calls, 3);
    QVERIFY(QDir(dir.path()).entryList(QDir::Files).isEmpty());
}

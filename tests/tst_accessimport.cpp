// Bringing an Access register over: every field of every fixture, bad files, the command
// line, and an import killed at random moments.
#include "AccessFixtures.h"

#include "store/access/AccessHeader.h"
#include "store/access/AccessImport.h"
#include "store/access/AccessRows.h"
#include "store/access/JetText.h"
#include "store/records/Queries.h"
#include "store/records/RecordSource.h"
#include "store/register/Connection.h"
#include "store/text/TextFold.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include <filesystem>

#ifdef Q_OS_LINUX
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace tarvik;
using namespace tarvik::test;

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

// Run as a child: the start-up switch on `path`, to be killed at any moment.
int replaceAndReport(const QString& path)
{
    const ImportResult result = replaceAccessRegister(path);
    printf("%s\n", result.ok() ? "imported" : qPrintable(result.detail));
    return result.ok() ? 0 : 1;
}

} // namespace

class TestAccessImport : public QObject {
    Q_OBJECT

private slots:
    void jetText();
    void pictureTextEveryByte();
    void headerTellsFormats();
    void everyFixtureComesOverUnchanged_data();
    void everyFixtureComesOverUnchanged();
    void importedNumbersContinue();
    void fedRowsKeepNullAndEmptyApart();
    void fedRowsThatCannotComeOver();
    void badFilesSayWhatIsWrong_data();
    void badFilesSayWhatIsWrong();
    void memoLongerThanTheFileIsRefused();
    void switchKeepsTheAccessFile();
    void commandLine();
    void killedImportLeavesOneWholeRegister();
    void switchKeepsOwnerAndMode_data();
    void switchKeepsOwnerAndMode();
    void readBackThatDiffersIsRefused_data();
    void readBackThatDiffersIsRefused();
    void failuresAreSaidInTheProgramsWords();
};

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
    QCOMPARE(parts[1]["idFamKey"].toString(), foldCase(QStringLiteral("Ёмкость 'А'")));
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

void TestAccessImport::badFilesSayWhatIsWrong_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("problem");
    QTest::addColumn<QString>("message");
    QTest::newRow("foreign") << fixturePath("foreign.mdb") << int(ImportProblem::MissingTable)
                             << "В файле Access «%1» нет таблиц «client» и «vrYZD»: это не база "
                                "радиодеталей.";
    QTest::newRow("missing table")
        << fixturePath("register-missing-table.mdb") << int(ImportProblem::MissingTable)
        << "В файле Access «%1» нет таблицы «vrYZD»: это не база радиодеталей.";
    QTest::newRow("cut mid-page") << "truncate:300000" << int(ImportProblem::Damaged)
                                  << "Файл Access «%1» повреждён или обрезан (файл обрезан: "
                                     "300000 байт).";
    QTest::newRow("cut at a page") << "truncate:303104" << int(ImportProblem::Damaged)
                                   << "Файл Access «%1» повреждён или обрезан (";
    QTest::newRow("cut in the catalogue") << "truncate:8192" << int(ImportProblem::Damaged)
                                          << "Файл Access «%1» повреждён или обрезан (";
    QTest::newRow("cut in the header") << "truncate:100" << int(ImportProblem::Damaged)
                                       << "Файл Access «%1» повреждён или обрезан (";
    QTest::newRow("password") << "password" << int(ImportProblem::Password)
                              << "Файл Access «%1» защищён паролем. Снимите пароль в Access и "
                                 "повторите.";
    QTest::newRow("encrypted") << "encrypted" << int(ImportProblem::Encrypted)
                               << "Файл Access «%1» зашифрован. Расшифруйте его в Access и "
                                  "повторите.";
    QTest::newRow("not Access") << "garbage" << int(ImportProblem::NotAccess)
                                << "Файл «%1» не является базой данных Access.";
    QTest::newRow("missing") << "missing" << int(ImportProblem::Unreadable)
                             << "Не удаётся прочитать файл «%1» (";
    QTest::newRow("a folder") << "folder" << int(ImportProblem::Unreadable)
                              << "Не удаётся прочитать файл «%1» (";
}

void TestAccessImport::badFilesSayWhatIsWrong()
{
    QFETCH(QString, file);
    QFETCH(int, problem);
    QFETCH(QString, message);
    QTemporaryDir dir;
    const QString path = file.startsWith('/') ? file : dir.filePath(QStringLiteral("old.mdb"));
    const QByteArray typical = readAll(fixturePath("register-typical.mdb"));
    if (file.startsWith(QLatin1String("truncate:")))
        QVERIFY(writeFile(path, typical.left(file.section(':', 1).toInt())));
    else if (file == QLatin1String("password"))
        QVERIFY(writeFile(path, withPassword(typical)));
    else if (file == QLatin1String("encrypted"))
        QVERIFY(writeFile(path, withEncodingKey(typical)));
    else if (file == QLatin1String("garbage"))
        QVERIFY(writeFile(path, QByteArray(8192, 'x')));
    else if (file == QLatin1String("folder"))
        QVERIFY(QDir().mkpath(path));
    const QByteArray before = fileHash(path);
    const QString target = dir.filePath(QStringLiteral("new.mdb"));
    const ImportResult result = importAccessRegister(path, target);
    QCOMPARE(int(result.problem), problem);
    const QString text = describeImportProblem(path, result);
    QVERIFY2(text.startsWith(message.arg(path)), qPrintable(text));
    QCOMPARE(fileHash(path), before);
    QVERIFY(!QFileInfo::exists(target));
    QVERIFY(!QFileInfo::exists(importTemporaryPath(target)));
}

// The process's address space now (VmSize) or at its highest (VmPeak), where the system
// tells it; -1 elsewhere.
static qint64 addressSpaceKb(const char* field)
{
#ifdef Q_OS_LINUX
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : status.readAll().split('\n')) {
            if (line.startsWith(field))
                return line.mid(qstrlen(field)).trimmed().split(' ').value(0).toLongLong();
        }
    }
#endif
    Q_UNUSED(field);
    return -1;
}

void TestAccessImport::memoLongerThanTheFileIsRefused()
{
    // The 20,000-character notes of «Трансформатор ТП-112», 40,000 bytes over a chain of
    // long-value pages, made to claim 0x3FFFFFFF bytes.
    QByteArray access = readAll(fixturePath("register-typical.mdb"));
    const QByteArray length = QByteArray::fromHex("409c0000");
    const qsizetype at = access.indexOf(length);
    QVERIFY(at > 0);
    QCOMPARE(access.indexOf(length, at + 1), -1); // the memo's own header and nothing else
    access.replace(at, 4, QByteArray::fromHex("ffffff3f"));
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("old.mdb"));
    QVERIFY(writeFile(path, access));

    const qint64 sizeBefore = addressSpaceKb("VmSize:");
    const qint64 peakBefore = addressSpaceKb("VmPeak:");
    QString error;
    const std::unique_ptr<AccessRowReader> reader = openAccessFile(path, &error);
    QVERIFY2(reader, qPrintable(error));
    QVERIFY(reader->openTable(QStringLiteral("client")).found);
    QVariantList row;
    int rows = 0;
    while (reader->nextRow(row))
        ++rows;
    QVERIFY(rows < 45);
    QCOMPARE(reader->damage(), QStringLiteral("длинное значение поля sorp длиннее файла"));
    // Refused before anything was set aside for it.
    if (sizeBefore > 0)
        QVERIFY(addressSpaceKb("VmPeak:") <= qMax(peakBefore, sizeBefore + 256 * 1024));

    const QString target = dir.filePath(QStringLiteral("new.mdb"));
    const ImportResult result = importAccessRegister(path, target);
    QCOMPARE(int(result.problem), int(ImportProblem::Damaged));
    QVERIFY2(describeImportProblem(path, result).contains(QStringLiteral("длиннее файла")),
             qPrintable(describeImportProblem(path, result)));
    QVERIFY(!QFileInfo::exists(target));
}

void TestAccessImport::switchKeepsTheAccessFile()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("vorlend.mdb"));
    const QByteArray access = readAll(fixturePath("register-mixed-compression.mdb"));
    // A stale temporary file with a journal from an earlier, killed import: neither may
    // find its way into the new register.
    QVERIFY(writeFile(path, access));
    // A switch killed between its two steps left the Access file under both names.
    std::error_code linked;
    std::filesystem::create_hard_link(path.toStdString(), (path + ".access").toStdString(), linked);
    QVERIFY(!linked);
    QVERIFY(writeFile(importTemporaryPath(path), "stale"));
    QVERIFY(writeFile(importTemporaryPath(path) + "-journal", QByteArray(4096, 'j')));
    ImportResult result = replaceAccessRegister(path);
    QVERIFY2(result.ok(), qPrintable(describeImportProblem(path, result)));
    QCOMPARE(result.keptAccessPath, path + QStringLiteral(".access")); // used again
    QCOMPARE(readAll(path + QStringLiteral(".access")), access);
    compareWithManifest(path, readManifest("register-mixed-compression"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files),
             QStringList({"vorlend.mdb", "vorlend.mdb.access"}));

    // Once more: the kept name is taken, so the next free one is used and nothing replaced.
    QVERIFY(writeFile(path, readAll(fixturePath("register-empty.mdb")), true));
    result = replaceAccessRegister(path);
    QVERIFY(result.ok());
    QCOMPARE(result.keptAccessPath, path + QStringLiteral(".access.2"));
    QCOMPARE(readAll(path + QStringLiteral(".access")), access);
    QCOMPARE(readAll(path + QStringLiteral(".access.2")),
             readAll(fixturePath("register-empty.mdb")));
    Connection db;
    QVERIFY(db.open(path).ok());

    // A failure (the temporary name is a folder) leaves the Access file where it was.
    QTemporaryDir other;
    const QString second = other.filePath(QStringLiteral("vorlend.mdb"));
    QVERIFY(writeFile(second, access));
    QVERIFY(QDir().mkpath(importTemporaryPath(second)));
    result = replaceAccessRegister(second);
    QCOMPARE(result.problem, ImportProblem::CannotWrite);
    QVERIFY(describeImportProblem(second, result)
                .startsWith(QStringLiteral("Не удаётся записать новый файл «%1» (")
                                .arg(importTemporaryPath(second))));
    QCOMPARE(readAll(second), access);
    QCOMPARE(QDir(other.path()).entryList(QDir::Files), QStringList({"vorlend.mdb"}));
}

void TestAccessImport::commandLine()
{
    const QString program = qEnvironmentVariable("TARVIK_BIN");
    QVERIFY2(QFileInfo(program).isExecutable(), "TARVIK_BIN must name the tarvik executable");
    QTemporaryDir dir;
    const QString source = fixturePath("register-typical.mdb");
    const QString target = dir.filePath(QStringLiteral("новая база.mdb"));
    auto run = [&](const QStringList& arguments, QByteArray* out, QByteArray* err) {
        QProcess process;
        process.setProgram(program);
        process.setArguments(arguments);
        process.start();
        if (!process.waitForFinished(30000))
            return -1;
        *out = process.readAllStandardOutput();
        *err = process.readAllStandardError();
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    };
    QByteArray out, err;
    QCOMPARE(run({"--import", source, target}, &out, &err), 0);
    QCOMPARE(QString::fromUtf8(out).trimmed(),
             QStringLiteral("%1 -> %2: деталей 45, корпусов 12, рисунков 10 (122096 байт)")
                 .arg(source, target));
    compareWithManifest(target, readManifest("register-typical"));

    // Never over an existing file, whatever it holds.
    const QByteArray imported = fileHash(target);
    QCOMPARE(run({"--import", fixturePath("register-empty.mdb"), target}, &out, &err), 1);
    QVERIFY(out.isEmpty());
    QCOMPARE(QString::fromUtf8(err).trimmed(),
             QStringLiteral("Файл «%1» уже существует и не будет перезаписан.").arg(target));
    QCOMPARE(fileHash(target), imported);

    const QString other = dir.filePath(QStringLiteral("other.mdb"));
    QCOMPARE(run({"--import", fixturePath("foreign.mdb"), other}, &out, &err), 1);
    QVERIFY(QString::fromUtf8(err).contains(fixturePath("foreign.mdb")));
    QVERIFY(!QFileInfo::exists(other));
    QCOMPARE(run({"--import", source}, &out, &err), 2);
    QVERIFY(err.contains("--import"));
}

void TestAccessImport::killedImportLeavesOneWholeRegister()
{
    const QByteArray access = readAll(fixturePath("register-typical.mdb"));
    QTemporaryDir dir;
    const QString base = dir.filePath(QStringLiteral("base"));
    const QString path = base + QStringLiteral("/vorlend.mdb");
    auto reset = [&] {
        QDir(base).removeRecursively();
        return QDir().mkpath(base) && writeFile(path, access);
    };
    auto start = [&](QProcess& child) {
        child.start(QCoreApplication::applicationFilePath(), {"--replace", path});
        return child.waitForStarted(10000);
    };

    // How long one whole run takes, child start included, so kills spread over all of it.
    qint64 whole = 0;
    for (int i = 0; i < 3; ++i) {
        QVERIFY(reset());
        QProcess child;
        QElapsedTimer clock;
        clock.start();
        QVERIFY(start(child));
        QVERIFY(child.waitForFinished(30000));
        QCOMPARE(child.exitCode(), 0);
        whole = qMax(whole, clock.elapsed());
    }

    QRandomGenerator random(20261207);
    int untouched = 0, switched = 0;
    const QString manifestName = QStringLiteral("register-typical");
    const Manifest manifest = readManifest(manifestName);
    for (int round = 0; round < 40; ++round) {
        QVERIFY(reset());
        QProcess child;
        QVERIFY(start(child));
        QTest::qSleep(int(random.bounded(whole + whole / 2 + 1)));
        child.kill();
        QVERIFY(child.waitForFinished(10000));

        // The register's name always holds a whole file: the Access file or the new register.
        QVERIFY2(QFileInfo::exists(path), qPrintable(QStringLiteral("round %1").arg(round)));
        if (readAll(path) == access) {
            ++untouched;
            // The next start-up imports it after all, over whatever the kill left.
            const ImportResult again = replaceAccessRegister(path);
            QVERIFY2(again.ok(), qPrintable(describeImportProblem(path, again)));
            QCOMPARE(again.keptAccessPath, path + QStringLiteral(".access"));
        } else {
            ++switched;
        }
        QCOMPARE(readAll(path + QStringLiteral(".access")), access);
        Connection db;
        QVERIFY(db.open(path).ok());
        QCOMPARE(countParts(db), std::optional<qint64>(44));
        QCOMPARE(readTable(path, Statements::partsInStoredOrder()).size(), 45);
        if (round % 10 == 0)
            compareWithManifest(path, manifest);
    }
    qInfo("killed 40 times: %d before the switch, %d after it (one run: %lld ms)", untouched,
          switched, whole);
    QVERIFY(untouched > 0);
}

void TestAccessImport::switchKeepsOwnerAndMode_data()
{
    QTest::addColumn<int>("mode");
    QTest::newRow("owner only") << 0600;
    QTest::newRow("group reads") << 0640;
}

void TestAccessImport::switchKeepsOwnerAndMode()
{
#ifndef Q_OS_LINUX
    QSKIP("owner and mode are POSIX matters");
#else
    // The new register serves whoever the Access file served, not the umask's default.
    QFETCH(int, mode);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("vorlend.mdb"));
    QVERIFY(writeFile(path, readAll(fixturePath("register-typical.mdb"))));
    const QByteArray name = QFile::encodeName(path);
    QCOMPARE(::chmod(name.constData(), mode_t(mode)), 0);
    if (::geteuid() == 0) // only root can give a file to another user
        QCOMPARE(::chown(name.constData(), 65534, 65534), 0);
    struct stat access {};
    QCOMPARE(::stat(name.constData(), &access), 0);

    const ImportResult result = replaceAccessRegister(path);
    QVERIFY2(result.ok(), qPrintable(describeImportProblem(path, result)));
    struct stat imported {};
    QCOMPARE(::stat(name.constData(), &imported), 0);
    QVERIFY(imported.st_ino != access.st_ino);
    QCOMPARE(int(imported.st_mode & 07777), mode);
    QCOMPARE(imported.st_uid, access.st_uid);
    QCOMPARE(imported.st_gid, access.st_gid);
#endif
}

void TestAccessImport::readBackThatDiffersIsRefused_data()
{
    QTest::addColumn<QString>("table");
    QTest::newRow("a part missing") << QStringLiteral("client");
    QTest::newRow("a package type missing") << QStringLiteral("vrYZD");
}

void TestAccessImport::readBackThatDiffersIsRefused()
{
    // The new file is read back before it takes the register's name: one that does not hold
    // every row read from the Access file is refused, and every file stays as it was.
    QFETCH(QString, table);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("vorlend.mdb"));
    const QByteArray access = readAll(fixturePath("register-typical.mdb"));
    QVERIFY(writeFile(path, access));
    bool deleted = false;
    setImportWrittenHook([&](const QString& written) {
        {
            QSqlDatabase db =
                QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("mutate"));
            db.setDatabaseName(written);
            QSqlQuery query(db);
            deleted = db.open() && query.exec(QStringLiteral("DELETE FROM %1 WHERE rowid = "
                                                             "(SELECT MIN(rowid) FROM %1)")
                                                  .arg(table));
        }
        QSqlDatabase::removeDatabase(QStringLiteral("mutate"));
    });
    const ImportResult result = replaceAccessRegister(path);
    setImportWrittenHook({});
    QVERIFY(deleted);
    QCOMPARE(result.problem, ImportProblem::CannotWrite);
    const QString text = describeImportProblem(path, result);
    QVERIFY2(text.contains(QStringLiteral("в новом файле деталей")), qPrintable(text));
    QCOMPARE(readAll(path), access);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList({"vorlend.mdb"}));
}

void TestAccessImport::failuresAreSaidInTheProgramsWords()
{
    // The new file's tables cannot be made (its journal's name is taken by a folder): the
    // message names that, not the statement the engine was given.
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("new.mdb"));
    QVERIFY(QDir().mkpath(importTemporaryPath(target) + QStringLiteral("-journal")));
    const ImportResult result = importAccessRegister(fixturePath("register-typical.mdb"), target);
    QCOMPARE(result.problem, ImportProblem::CannotWrite);
    const QString text = describeImportProblem(fixturePath("register-typical.mdb"), result);
    QVERIFY2(text.startsWith(QStringLiteral("Не удаётся записать новый файл «%1» (таблицы не "
                                            "созданы")
                                 .arg(target)),
             qPrintable(text));
    QVERIFY2(!text.contains(QStringLiteral("CREATE")) && text.size() < 300, qPrintable(text));
    QVERIFY(!QFileInfo::exists(target));

    // An Access file whose list of tables is gone: one sentence of ours on the terminal, and
    // nothing from the Access library in English.
    const QString program = qEnvironmentVariable("TARVIK_BIN");
    QVERIFY2(QFileInfo(program).isExecutable(), "TARVIK_BIN must name the tarvik executable");
    QByteArray damaged = readAll(fixturePath("register-typical.mdb"));
    constexpr int kPage = 4096;
    damaged.replace(2 * kPage, kPage, QByteArray(kPage, '\0'));
    const QString source = dir.filePath(QStringLiteral("no-catalog.mdb"));
    QVERIFY(writeFile(source, damaged));
    QProcess process;
    process.start(program, {QStringLiteral("--import"), source, dir.filePath("other.mdb")});
    QVERIFY(process.waitForFinished(30000));
    QCOMPARE(process.exitCode(), 1);
    const QString said = QString::fromUtf8(process.readAllStandardError()).trimmed();
    QCOMPARE(said, QStringLiteral("Файл Access «%1» повреждён или обрезан (не читается список "
                                  "таблиц).")
                       .arg(source));
}

int main(int argc, char* argv[])
{
    if (argc == 3 && qstrcmp(argv[1], "--replace") == 0) {
        QCoreApplication app(argc, argv);
        return replaceAndReport(QString::fromLocal8Bit(argv[2]));
    }
    QCoreApplication app(argc, argv);
    TestAccessImport test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_accessimport.moc"

// The register file: opening it, its statements, record sources and picture bytes.
#include "TestRegister.h"

#include "store/records/PictureText.h"
#include "store/records/Queries.h"
#include "store/records/RecordSource.h"
#include "store/register/Connection.h"
#include "store/register/Platform.h"
#include "store/register/ProgramPaths.h"
#include "store/register/Register.h"

#include <QAbstractItemModelTester>
#include <QFile>
#include <QRegularExpression>
#include <QTest>
#include <QtEndian>

#include <memory>

using namespace tarvik;
using namespace tarvik::test;

class TestStore : public QObject {
    Q_OBJECT

private slots:
    void pathsHaveOneSeparator_data();
    void pathsHaveOneSeparator();
    void unusableFilesAreNamedNotCreated_data();
    void unusableFilesAreNamedNotCreated();
    void pictureBytesSurviveFileAndTemporaryFile_data();
    void pictureBytesSurviveFileAndTemporaryFile();
    void pictureThatClaimsHugeSizeIsRefused();
    void namesSortAndMatchIgnoringCase();
    void searchTextIsNeverSql_data();
    void searchTextIsNeverSql();
    void changesReachOtherViewsAfterRefresh();
    void countFollowsEveryChange();
    void modelIsConsistent();
    void everyStatementRuns();
    void addedPartsSortAndCount();
    void ownerClosesEveryConnectionAndSavesEdits();
    void startHeapTakesBigBlocksOnHugePages();
};

void TestStore::pathsHaveOneSeparator_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("database");
    QTest::addColumn<QString>("picture");
    QTest::newRow("root") << "/"
                          << "/base/vorlend.mdb"
                          << "/Rezerv";
    QTest::newRow("drive root") << "C:/"
                                << "C:/base/vorlend.mdb"
                                << "C:/Rezerv";
    QTest::newRow("deeper") << "/opt/tarvik"
                            << "/opt/tarvik/base/vorlend.mdb"
                            << "/opt/tarvik/Rezerv";
}

void TestStore::pathsHaveOneSeparator()
{
    QFETCH(QString, folder);
    const ProgramPaths paths(folder);
    QTEST(paths.databasePath(), "database");
    QTEST(paths.temporaryPicturePath(), "picture");
}

void TestStore::unusableFilesAreNamedNotCreated_data()
{
    QTest::addColumn<QByteArray>("content"); // "missing" for no file at all
    QTest::addColumn<int>("problem");
    QTest::newRow("missing") << QByteArray("missing") << int(OpenProblem::Missing);
    QTest::newRow("not a database") << QByteArray(4096, 'x') << int(OpenProblem::NotADatabase);
    QTest::newRow("empty file") << QByteArray() << int(OpenProblem::MissingTables);
    QTest::newRow("truncated") << QByteArray("truncated") << int(OpenProblem::Damaged);
}

void TestStore::unusableFilesAreNamedNotCreated()
{
    QFETCH(QByteArray, content);
    QFETCH(int, problem);
    TARVIK_FILE_ONLY("what stands at the file's path");
    TestRegister reg;
    if (content == "truncated") {
        QList<PartRow> parts;
        for (int i = 0; i < 500; ++i)
            parts << part(QStringLiteral("Part %1").arg(i));
        QVERIFY(reg.write(parts, {{QStringLiteral("DIP-8"), picture(Qt::red, "BMP", 200, 200)}}));
        QFile file(reg.databasePath());
        QVERIFY(file.resize(file.size() / 2));
    } else if (content != "missing") {
        QFile file(reg.databasePath());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    Connection db;
    const OpenResult result = db.open(reg.databasePath());
    QCOMPARE(int(result.problem), problem);
    QVERIFY(describeOpenProblem(reg.databasePath(), result).contains(reg.databasePath()));
    if (content == "missing")
        QVERIFY(!QFile::exists(reg.databasePath()));
}

void TestStore::pictureBytesSurviveFileAndTemporaryFile_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QByteArray all;
    for (int i = 0; i < 256; ++i)
        all.append(char(i));
    QTest::newRow("every byte value") << all + all;
    QTest::newRow("zero bytes only") << QByteArray(17, '\0');
    QTest::newRow("empty") << QByteArray();
}

void TestStore::pictureBytesSurviveFileAndTemporaryFile()
{
    QFETCH(QByteArray, bytes);
    TestRegister reg;
    QVERIFY(reg.write({}, {{QStringLiteral("DIP-8"), bytes}}));

    RecordSource source;
    QVERIFY(reg.openView(source).ok());
    source.setStatement(Statements::packageTypeNamed(QStringLiteral("dip-8")));
    QVERIFY(source.refresh());
    QVERIFY(source.hasCurrent());
    const QByteArray stored = source.field(QStringLiteral("Photo1")).toByteArray();
    QCOMPARE(stored, bytes);

    const QString temporary = reg.paths().temporaryPicturePath();
    QVERIFY(writePictureFile(stored, temporary));
    QCOMPARE(ReadPictureText(temporary), bytes);
    ShowPictureText(stored, temporary);
    QVERIFY(!QFile::exists(temporary));
    QVERIFY(ReadPictureText(temporary).isEmpty());
    QVERIFY(!QFile::exists(temporary)); // reading never creates
}

void TestStore::pictureThatClaimsHugeSizeIsRefused()
{
    // A BMP header claiming 30000 x 20000 pixels with no pixel data behind it.
    QByteArray bmp = picture(Qt::red, "BMP", 2, 2);
    qToLittleEndian<qint32>(30000, bmp.data() + 18);
    qToLittleEndian<qint32>(20000, bmp.data() + 22);
    TestRegister reg;
    QVERIFY(ShowPictureText(bmp, reg.paths().temporaryPicturePath()).isNull());
    QCOMPARE(ShowPictureText(picture(Qt::blue), reg.paths().temporaryPicturePath()).size(),
             QSize(40, 30));
}

void TestStore::namesSortAndMatchIgnoringCase()
{
    TestRegister reg;
    QVERIFY(reg.write({part("резистор"), part("Ёмкость"), part("Alpha"), part("beta"),
                       part("РЕЗИСТОР МЛТ"), part("ALPHA 2"), part("ёлка")}));
    RecordSource source;
    QVERIFY(reg.openView(source).ok());
    source.setStatement(Statements::partsByName());
    QVERIFY(source.refresh());
    QStringList names;
    const int column = source.columnOf(QStringLiteral("idFam"));
    for (int row = 0; row < source.recordCount(); ++row)
        names << source.data(source.index(row, column)).toString();
    // Ё has its place in the alphabet, after Е and before Ж.
    QCOMPARE(names, QStringList({"Alpha", "ALPHA 2", "beta", "ёлка", "Ёмкость", "резистор",
                                 "РЕЗИСТОР МЛТ"}));

    source.setStatement(Statements::partsWithNameLike(QStringLiteral("ЗИСТ")));
    QVERIFY(source.refresh());
    QCOMPARE(source.recordCount(), 2);
    source.setStatement(Statements::partsWithNameLike(QStringLiteral("ЁЛ")));
    QVERIFY(source.refresh());
    QCOMPARE(source.recordCount(), 1);
    QCOMPARE(source.field(QStringLiteral("idFam")).toString(), QStringLiteral("ёлка"));
}

void TestStore::searchTextIsNeverSql_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("found");
    QTest::newRow("apostrophe") << "c's" << QStringList{"Panasonic's"};
    QTest::newRow("quote and injection") << "' OR 1=1 --" << QStringList{};
    QTest::newRow("percent is literal") << "%" << QStringList{"50% off"};
    QTest::newRow("unclosed class") << "[a" << QStringList{};
    QTest::newRow("class") << "[0-9]%" << QStringList{"50% off"};
}

void TestStore::searchTextIsNeverSql()
{
    QFETCH(QString, text);
    TestRegister reg;
    QVERIFY(reg.write({part("Panasonic's"), part("50% off"), part("plain")}));
    RecordSource source;
    QVERIFY(reg.openView(source).ok());
    source.setStatement(Statements::partsWithNameLike(text));
    QVERIFY(source.refresh());
    QStringList found;
    for (int row = 0; row < source.recordCount(); ++row) {
        source.setCurrentRow(row);
        found << source.field(QStringLiteral("idFam")).toString();
    }
    QTEST(found, "found");
    QCOMPARE(reg.storedParts().size(), 3);
}

void TestStore::changesReachOtherViewsAfterRefresh()
{
    TestRegister reg;
    QVERIFY(reg.write({part("Bbb", "1", "5"), part("aaa", "2", "7")}));
    RecordSource writer, reader;
    QVERIFY(reg.openView(writer).ok());
    QVERIFY(reg.openView(reader).ok());
    for (RecordSource* source : {&writer, &reader}) {
        source->setStatement(Statements::partsByName());
        QVERIFY(source->refresh());
    }
    QVERIFY(writer.updateCurrent({{QStringLiteral("phone"), QStringLiteral("8")},
                                  {QStringLiteral("idFam"), QStringLiteral("Zzz")}},
                                 PartAction::Edit));
    QCOMPARE(reader.field(QStringLiteral("phone")).toString(), QStringLiteral("7"));
    QVERIFY(reader.refresh());
    QCOMPARE(reader.field(QStringLiteral("idFam")).toString(), QStringLiteral("Bbb"));
    reader.setCurrentRow(1);
    QCOMPARE(reader.field(QStringLiteral("phone")).toString(), QStringLiteral("8"));
    // The folded key follows the name, so the new name sorts and matches as it reads.
    QCOMPARE(reader.field(QStringLiteral("idFamKey")).toString(), QStringLiteral("zzz"));

    QVERIFY(writer.deleteCurrent());
    QVERIFY(!writer.hasCurrent());
    QVERIFY(
        !writer.updateCurrent({{QStringLiteral("phone"), QStringLiteral("1")}}, PartAction::Edit));
    QCOMPARE(reg.storedNames(), QStringList({"Bbb"}));
}

void TestStore::countFollowsEveryChange()
{
    TestRegister reg;
    PartRow withoutKey = part("no key");
    withoutKey.kont = QString(); // stored as NULL
    QVERIFY(reg.write({part("a"), part("b"), part("c"), withoutKey}));
    Connection db;
    QVERIFY(reg.openView(db).ok());
    QCOMPARE(countParts(db), std::optional<qint64>(3));

    RecordSource source;
    QVERIFY(reg.openView(source).ok());
    source.setStatement(Statements::partsWithNameLike(QStringLiteral("b")));
    QVERIFY(source.refresh());
    QVERIFY(source.deleteCurrent());
    QCOMPARE(countParts(db), std::optional<qint64>(2));
    source.setStatement(Statements::partsWithNameLike(QStringLiteral("a")));
    QVERIFY(source.refresh());
    QVERIFY(source.updateCurrent({{QStringLiteral("kont"), QVariant()}}, PartAction::Edit));
    QCOMPARE(countParts(db), std::optional<qint64>(1));
}

void TestStore::modelIsConsistent()
{
    TestRegister reg;
    QList<PartRow> parts;
    for (int i = 0; i < 300; ++i)
        parts << part(QStringLiteral("Part %1").arg(i, 3, 10, QLatin1Char('0')));
    QVERIFY(reg.write(parts));
    RecordSource source;
    QVERIFY(reg.openView(source).ok());
    QAbstractItemModelTester tester(&source,
                                    QAbstractItemModelTester::FailureReportingMode::QtTest);
    source.setStatement(Statements::partsByName());
    QVERIFY(source.refresh());
    QCOMPARE(source.rowCount(), 300);
    const int column = source.columnOf(QStringLiteral("idFam"));
    QCOMPARE(source.data(source.index(299, column)).toString(), QStringLiteral("Part 299"));
    QCOMPARE(source.data(source.index(64, column)).toString(), QStringLiteral("Part 064"));
    source.setStatement(Statements::partsWithNameLike(QStringLiteral("nothing")));
    QVERIFY(source.refresh());
    QCOMPARE(source.rowCount(), 0);
    QVERIFY(!source.hasCurrent());
}

void TestStore::everyStatementRuns()
{
    TestRegister reg;
    QVERIFY(reg.write({part("Диод", "1", "1", "DO-41"), part("диод", "1", "1", "DO-41")},
                      {{QStringLiteral("do-41"), picture(Qt::red)},
                       {QString(), QByteArray()},
                       {QStringLiteral("0805"), QByteArray()}}));
    const struct {
        Statement statement;
        int rows;
    } cases[] = {
        {Statements::partsByName(), 2},
        {Statements::partsInStoredOrder(), 2},
        {Statements::partsWithNameLike(QStringLiteral("иод")), 2},
        {Statements::partsNamed(QStringLiteral("ДИОД")), 2},
        {Statements::packageTypes(), 3},
        {Statements::packageTypesByName(), 3},
        {Statements::namedPackageTypesByName(), 2},
        {Statements::packageTypeNamed(QStringLiteral("Do-41")), 1},
    };
    RecordSource source;
    QVERIFY(reg.openView(source).ok());
    for (const auto& c : cases) {
        source.setStatement(c.statement);
        QVERIFY2(source.refresh(), qPrintable(c.statement.selectSql() + source.lastError()));
        QCOMPARE(source.recordCount(), c.rows);
    }
    source.setStatement(Statements::namedPackageTypesByName());
    QVERIFY(source.refresh());
    QCOMPARE(source.field(QStringLiteral("vrachYZD")).toString(), QStringLiteral("0805"));

    Connection db;
    QVERIFY(reg.openView(db).ok());
    QCOMPARE(largestPackageTypeId(db), std::optional<qint64>(3));
}

void TestStore::addedPartsSortAndCount()
{
    TestRegister reg;
    QVERIFY(reg.write({part("Бета")}));
    RecordSource source;
    QVERIFY(reg.openView(source).ok());
    source.setStatement(Statements::partsByName());
    QVERIFY(source.refresh());
    QVERIFY(source.addNew({{QStringLiteral("idFam"), QStringLiteral("альфа")},
                           {QStringLiteral("kont"), QStringLiteral("0200000001")}}));
    QCOMPARE(source.field(QStringLiteral("idFam")).toString(), QStringLiteral("Бета"));
    QVERIFY(!source.addNew({{QStringLiteral("no such field"), 1}}));
    QVERIFY(source.refresh());
    QCOMPARE(source.field(QStringLiteral("idFam")).toString(), QStringLiteral("альфа"));
    Connection db;
    QVERIFY(reg.openView(db).ok());
    QCOMPARE(countParts(db), std::optional<qint64>(2));
}

void TestStore::ownerClosesEveryConnectionAndSavesEdits()
{
    TestRegister files;
    QVERIFY(files.write({part("aaa", "1", "5")}));
    Register& owner = files.owner();
    QVERIFY(owner.check().ok());
    QCOMPARE(owner.openConnections(), 0); // the check's own probe is gone again

    RecordSource source;
    Connection handle;
    QVERIFY(source.open(owner).ok());
    QVERIFY(owner.connect(handle).ok());
    QCOMPARE(owner.openConnections(), 2);
    source.setStatement(Statements::partsByName());
    QVERIFY(source.refresh());
    source.setPendingField(QStringLiteral("sorp"), QStringLiteral("typed, not yet saved"));

    owner.closeAll();
    QCOMPARE(owner.openConnections(), 0);
    QVERIFY(!source.isOpen());
    QVERIFY(!handle.isOpen());
    QCOMPARE(files.storedParts().value(0).value(QStringLiteral("sorp")).toString(),
             QStringLiteral("typed, not yet saved"));
    // Nothing may reopen the file behind compaction's back.
    Connection late;
    QVERIFY(!owner.connect(late).ok());
    QVERIFY(!late.isOpen());

    // A connection closed by its holder leaves the owner's list; none is closed twice.
    owner.reopen();
    {
        Connection shortLived;
        QVERIFY(owner.connect(shortLived).ok());
        QCOMPARE(owner.openConnections(), 1);
    }
    QCOMPARE(owner.openConnections(), 0);
}

// The start's memory set-up: a block the size of a window's backing image must come from the
// heap, and the heap's stretch must be marked for huge pages. A stretch too big for the heap
// is mapped apart and freed at once (as is one an optimiser drops as unused), which left the
// start as slow as before.
void TestStore::startHeapTakesBigBlocksOnHugePages()
{
#if !defined(__GLIBC__) || defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    QSKIP("only the GNU C library's own allocator is set up");
#else
    platform::prepareHeap();
    std::unique_ptr<char[]> image(new char[4 << 20]);
    const auto at = reinterpret_cast<quintptr>(image.get());

    QFile maps(QStringLiteral("/proc/self/smaps"));
    QVERIFY(maps.open(QIODevice::ReadOnly | QIODevice::Text));
    const QRegularExpression range(QStringLiteral("^([0-9a-f]+)-([0-9a-f]+) .*\\[heap\\]$"));
    const QRegularExpression anyRange(QStringLiteral("^[0-9a-f]+-"));
    bool inHeap = false, onHuge = false, current = false;
    for (const QString& line : QString::fromLatin1(maps.readAll()).split(u'\n')) {
        if (const auto match = range.match(line); match.hasMatch()) {
            current = true;
            inHeap |= at >= match.captured(1).toULongLong(nullptr, 16) &&
                      at < match.captured(2).toULongLong(nullptr, 16);
        } else if (anyRange.match(line).hasMatch()) {
            current = false;
        } else if (current && line.startsWith(QLatin1String("VmFlags:"))) {
            onHuge |= line.split(u' ').contains(QLatin1String("hg"));
        }
    }
    QVERIFY2(inHeap, "a 4 MiB block was mapped on its own");
    if (!QFile::exists(QStringLiteral("/sys/kernel/mm/transparent_hugepage/enabled")))
        QSKIP("this kernel has no transparent huge pages to ask for");
    QVERIFY2(onHuge, "no part of the heap asks for huge pages");
#endif
}

QTEST_GUILESS_MAIN(TestStore)
#include "tst_store.moc"

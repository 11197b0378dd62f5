// Compacting the register: the copy replaces the file only when it is complete and sound;
// whatever fails or however the process dies, the register stays whole.
#include "TestRegister.h"

#include "store/Compaction.h"
#include "store/RecordSource.h"
#include "store/Register.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>

using namespace tarvik;
using namespace tarvik::test;

namespace {

QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Every field of every row of both tables, picture bytes included, as one hash.
QByteArray contentsOf(const QString& path)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    const auto addTable = [&](const Statement& statement, const QStringList& fields) {
        RecordSource source;
        if (!source.open(path).ok())
            return false;
        source.setStatement(statement);
        source.refresh();
        hash.addData(QByteArray::number(source.recordCount()));
        for (int row = 0; row < source.recordCount(); ++row) {
            source.setCurrentRow(row);
            for (const QString& field : fields) {
                const QVariant value = source.field(field);
                hash.addData(value.isNull() ? QByteArray("\\N") : value.toByteArray());
                hash.addData(QByteArray(1, '\0'));
            }
        }
        return true;
    };
    if (!addTable(Statements::partsInStoredOrder(),
                  {"idnom", "kont", "idFam", "pol", "datebir", "phone", "sorp", "PhotoN"})
        || !addTable(Statements::packageTypes(),
                     {"IDvrachYZD", "yzdID", "vrachYZD", "name1", "Photo1"}))
        return {};
    return hash.result();
}

// A register with free pages to give back: parts with long notes, a third of them deleted,
// and package types with pictures.
void writeRegisterWithGaps(TestRegister& files, int parts)
{
    QList<PartRow> rows;
    for (int i = 0; i < parts; ++i)
        rows << part(QStringLiteral("Деталь %1").arg(i, 5, 10, QLatin1Char('0')),
                     QStringLiteral("1,5"), QString::number(i), QStringLiteral("SOT-23"),
                     QString(2000, QChar(u'а' + i % 32)));
    QList<Package> packages;
    for (int i = 0; i < 8; ++i)
        packages << Package{QStringLiteral("ТИП-%1").arg(i),
                            picture(QColor::fromHsv(i * 40, 200, 200), "BMP", 60, 40)};
    QVERIFY(files.write(rows, packages));

    RecordSource source;
    QVERIFY(source.open(files.databasePath()).ok());
    source.setStatement(Statements::partsInStoredOrder());
    QVERIFY(source.refresh());
    for (int row = 0; row < source.recordCount(); row += 3) {
        QVERIFY(source.setCurrentRow(row));
        QVERIFY(source.deleteCurrent());
    }
}

QString childProgram()
{
    return QStringLiteral(TARVIK_COMPACT_CHILD);
}

} // namespace

class TestCompaction : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { failNextCompactionAt(CompactionStep::None); }
    void compactsAndKeepsEveryRow_data();
    void compactsAndKeepsEveryRow();
    void checkFindsDamage_data();
    void checkFindsDamage();
    void leftoverCopyIsNeverUsed();
    void failureLeavesRegisterAsItWas_data();
    void failureLeavesRegisterAsItWas();
    void copyThatCannotBeClearedStopsBeforeWriting();
    void registerLockedElsewhereIsNotCompacted();
    void killedAtAnyMomentLeavesRegisterWhole();
};

void TestCompaction::compactsAndKeepsEveryRow_data()
{
    QTest::addColumn<int>("depth");
    QTest::newRow("integrity_check") << int(FileCheckDepth::Full);
    QTest::newRow("quick_check") << int(FileCheckDepth::Quick);
}

void TestCompaction::compactsAndKeepsEveryRow()
{
    QFETCH(int, depth);
    TestRegister files;
    writeRegisterWithGaps(files, 120);
    const QString path = files.databasePath();
    QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
    const QFile::Permissions permissions = QFile::permissions(path);
    const QByteArray before = contentsOf(path);
    QVERIFY(!before.isEmpty());
    const qint64 sizeBefore = QFileInfo(path).size();

    // The program's own connections, one with an edit typed but not yet saved.
    Register owner(path);
    QVERIFY(owner.check().ok());
    RecordSource list;
    QVERIFY(list.open(owner).ok());
    list.setStatement(Statements::partsByName());
    QVERIFY(list.refresh());
    const QString original = list.field(QStringLiteral("sorp")).toString();
    list.setPendingField(QStringLiteral("sorp"), QStringLiteral("saved before compaction"));
    const qint64 editedKey = list.currentKey();

    const CompactionResult result = compactRegister(owner, FileCheckDepth(depth));
    QVERIFY2(result.ok(), qPrintable(result.detail));
    QCOMPARE(owner.openConnections(), 0);
    QVERIFY(!list.isOpen());

    QCOMPARE(result.sizeBefore, sizeBefore);
    QCOMPARE(result.sizeAfter, QFileInfo(path).size());
    QVERIFY2(result.sizeAfter < sizeBefore * 3 / 4,
             qPrintable(QStringLiteral("%1 -> %2").arg(sizeBefore).arg(result.sizeAfter)));
    QVERIFY(!QFileInfo::exists(compactionCopyPath(path)));
    QCOMPARE(QDir(QFileInfo(path).path()).entryList(QDir::Files), QStringList{"vorlend.mdb"});
    QCOMPARE(QFile::permissions(path), permissions);

    const FileCheck check = checkRegisterFile(path);
    QVERIFY2(check.ok(), qPrintable(check.problem));
    QCOMPARE(check.parts, 80);
    QCOMPARE(check.packageTypes, 8);
    // Same rows and picture bytes, apart from the edit that was saved on the way.
    RecordSource reread;
    QVERIFY(reread.open(path).ok());
    reread.setStatement(Statements::partsInStoredOrder());
    QVERIFY(reread.refresh());
    for (int row = 0; row < reread.recordCount(); ++row) {
        QVERIFY(reread.setCurrentRow(row));
        if (reread.currentKey() == editedKey) {
            QCOMPARE(reread.field(QStringLiteral("sorp")).toString(),
                     QStringLiteral("saved before compaction"));
            QVERIFY(reread.updateCurrent({{QStringLiteral("sorp"), original}}));
        }
    }
    reread.close();
    QVERIFY(contentsOf(path) == before);
}

void TestCompaction::checkFindsDamage_data()
{
    compactsAndKeepsEveryRow_data();
}

void TestCompaction::checkFindsDamage()
{
    QFETCH(int, depth);
    TestRegister files;
    writeRegisterWithGaps(files, 60);
    const QString path = files.databasePath();
    const FileCheck sound = checkRegisterFile(path, FileCheckDepth(depth));
    QVERIFY2(sound.ok(), qPrintable(sound.problem));
    QCOMPARE(sound.parts, 40);

    // Garble the middle of the file, as a write that went wrong would.
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadWrite));
    const qint64 size = file.size();
    QVERIFY(file.seek(size / 2 / 4096 * 4096));
    file.write(QByteArray(4096, '\xff'));
    file.close();
    QVERIFY(!checkRegisterFile(path, FileCheckDepth(depth)).ok());
    QVERIFY(!checkRegisterFile(path + QStringLiteral("-missing"), FileCheckDepth(depth)).ok());
}

void TestCompaction::leftoverCopyIsNeverUsed()
{
    TestRegister files;
    QVERIFY(files.write({part("Резистор"), part("Диод")}));
    const QString path = files.databasePath();
    const QString copy = compactionCopyPath(path);
    QCOMPARE(copy, path + QStringLiteral("Temp"));
    // A copy from an earlier run that was cut off, with its journal: another register
    // altogether, which must neither replace ours nor be played into the new copy.
    TestRegister other;
    QVERIFY(other.write({part("Чужая деталь")}));
    QVERIFY(QFile::copy(other.databasePath(), copy));
    QFile journal(copy + QStringLiteral("-journal"));
    QVERIFY(journal.open(QIODevice::WriteOnly));
    journal.write(QByteArray::fromHex("d9d505f920a163d7") + QByteArray(600, '\x5a'));
    journal.close();

    const QByteArray before = contentsOf(path);
    Register owner(path);
    const CompactionResult result = compactRegister(owner);
    QVERIFY2(result.ok(), qPrintable(result.detail));
    QVERIFY(contentsOf(path) == before);
    QVERIFY(!QFileInfo::exists(copy));
    QVERIFY(!QFileInfo::exists(copy + QStringLiteral("-journal")));
    QCOMPARE(files.storedNames(), QStringList({"Резистор", "Диод"}));
}

void TestCompaction::failureLeavesRegisterAsItWas_data()
{
    QTest::addColumn<int>("step");
    QTest::newRow("vacuum") << int(CompactionStep::Vacuum);
    QTest::newRow("check") << int(CompactionStep::Check);
    QTest::newRow("flush") << int(CompactionStep::Flush);
    QTest::newRow("rename") << int(CompactionStep::Replace);
}

void TestCompaction::failureLeavesRegisterAsItWas()
{
    QFETCH(int, step);
    TestRegister files;
    writeRegisterWithGaps(files, 30);
    const QString path = files.databasePath();
    const QByteArray bytes = fileBytes(path);

    Register owner(path);
    QVERIFY(owner.check().ok());
    failNextCompactionAt(CompactionStep(step));
    const CompactionResult result = compactRegister(owner);
    QVERIFY(!result.ok());
    QCOMPARE(int(result.failedStep), step);
    QVERIFY(!result.copyLeftBehind);
    QVERIFY(fileBytes(path) == bytes);
    QCOMPARE(QDir(QFileInfo(path).path()).entryList(QDir::Files), QStringList{"vorlend.mdb"});
    const QString message = describeCompactionFailure(path, result);
    QVERIFY(message.startsWith(QStringLiteral("База данных не сжата: ")));
    QVERIFY(message.contains(path));
}

void TestCompaction::copyThatCannotBeClearedStopsBeforeWriting()
{
    // Something that is no file stands under the copy's name: the run stops, and it leaves
    // both the register and what it found alone.
    TestRegister files;
    QVERIFY(files.write({part("Резистор")}));
    const QString path = files.databasePath();
    QVERIFY(QDir().mkpath(compactionCopyPath(path) + QStringLiteral("/inside")));
    const QByteArray bytes = fileBytes(path);
    Register owner(path);
    const CompactionResult result = compactRegister(owner);
    QCOMPARE(result.failedStep, CompactionStep::Prepare);
    QVERIFY(result.copyLeftBehind);
    QVERIFY(describeCompactionFailure(path, result).contains(compactionCopyPath(path)));
    QVERIFY(fileBytes(path) == bytes);
    QVERIFY(QFileInfo(compactionCopyPath(path) + QStringLiteral("/inside")).isDir());

    // A register that is no database is not compacted, nor changed.
    TestRegister garbage;
    QFile file(garbage.databasePath());
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(8192, 'x'));
    file.close();
    Register garbageOwner(garbage.databasePath());
    const CompactionResult refused = compactRegister(garbageOwner);
    QCOMPARE(refused.failedStep, CompactionStep::Vacuum);
    QVERIFY(describeCompactionFailure(garbage.databasePath(), refused)
                .contains(QStringLiteral("не является базой данных")));
    QCOMPARE(fileBytes(garbage.databasePath()), QByteArray(8192, 'x'));
    QVERIFY(!QFileInfo::exists(compactionCopyPath(garbage.databasePath())));
}

void TestCompaction::registerLockedElsewhereIsNotCompacted()
{
    TestRegister files;
    QVERIFY(files.write({part("Резистор"), part("Диод")}));
    const QString path = files.databasePath();
    const QByteArray bytes = fileBytes(path);
    {
        // Another program (the sqlite3 shell, say) in the middle of its own transaction.
        QSqlDatabase other = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"),
                                                       QStringLiteral("other-program"));
        other.setDatabaseName(path);
        QVERIFY(other.open());
        QSqlQuery lock(other);
        QVERIFY(lock.exec(QStringLiteral("BEGIN EXCLUSIVE")));

        Register owner(path);
        const CompactionResult result = compactRegister(owner);
        QVERIFY(result.failedStep != CompactionStep::None);
        QVERIFY2(describeCompactionFailure(path, result)
                     .contains(QStringLiteral("занят другой программой")),
                 qPrintable(describeCompactionFailure(path, result)));
        QVERIFY(!QFileInfo::exists(compactionCopyPath(path)));
        QVERIFY(lock.exec(QStringLiteral("ROLLBACK")));
        other.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("other-program"));
    QVERIFY(fileBytes(path) == bytes);
}

void TestCompaction::killedAtAnyMomentLeavesRegisterWhole()
{
    TestRegister files;
    writeRegisterWithGaps(files, 600);
    const QString path = files.databasePath();
    const QByteArray expected = contentsOf(path);
    QVERIFY(!expected.isEmpty());

    // How long one compaction takes here, so the kills spread over whole runs.
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QElapsedTimer timer;
    child.start(childProgram(), {path});
    QVERIFY(child.waitForReadyRead(10000));
    timer.start();
    QVERIFY(child.waitForFinished(30000));
    QCOMPARE(child.exitCode(), 0);
    const int cycle = std::max<int>(int(timer.elapsed()), 5);

    const quint32 seed = QRandomGenerator::global()->generate();
    QRandomGenerator random(seed);
    int killedWithCopy = 0;
    int killedAfterReplacing = 0;
    constexpr int kKills = 50;
    for (int kill = 0; kill < kKills; ++kill) {
        child.start(childProgram(), {path, QStringLiteral("--repeat")});
        QVERIFY(child.waitForStarted(10000));
        QVERIFY(child.waitForReadyRead(10000)); // "ready": start-up is over
        QTest::qSleep(int(random.bounded(cycle * 2 + 1)));
        child.kill();
        QVERIFY(child.waitForFinished(10000));
        QCOMPARE(child.exitStatus(), QProcess::CrashExit);
        if (child.readAllStandardOutput().contains("compacted"))
            ++killedAfterReplacing;
        if (QFileInfo::exists(compactionCopyPath(path)))
            ++killedWithCopy;

        const QString context = QStringLiteral("kill %1 of %2, seed %3").arg(kill).arg(kKills).arg(seed);
        const FileCheck check = checkRegisterFile(path);
        QVERIFY2(check.ok(), qPrintable(context + QStringLiteral(": ") + check.problem));
        QVERIFY2(contentsOf(path) == expected, qPrintable(context));
    }
    qInfo("%d kills: %d with a copy being written, %d after at least one replacement (cycle %d ms)",
          kKills, killedWithCopy, killedAfterReplacing, cycle);
    QVERIFY(killedWithCopy > 0);
    QVERIFY(killedAfterReplacing > 0);

    // The next run clears what the last kill left and finishes cleanly.
    child.start(childProgram(), {path});
    QVERIFY(child.waitForFinished(30000));
    QCOMPARE(child.exitCode(), 0);
    QCOMPARE(QDir(QFileInfo(path).path()).entryList(QDir::Files), QStringList{"vorlend.mdb"});
    QVERIFY(contentsOf(path) == expected);
}

QTEST_GUILESS_MAIN(TestCompaction)
#include "tst_compaction.moc"

// Compacting the register: the copy replaces the file only when it is complete and sound;
// whatever fails or however the process dies, the register stays whole.
#include "TestRegister.h"

#include "store/records/RecordSource.h"
#include "store/register/Compaction.h"
#include "store/register/Platform.h"
#include "store/register/Register.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#ifdef Q_OS_LINUX
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#endif

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
                  {"idnom", "kont", "idFam", "pol", "datebir", "phone", "sorp", "PhotoN"}) ||
        !addTable(Statements::packageTypes(),
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

const QString kInsertedName = QStringLiteral("Вставлена другой программой");

// The sqlite3 shell adding a part, as another program on the machine would. It says
// "inserted" only once the insert has reported success.
QString insertStatements()
{
    return QStringLiteral("INSERT INTO client (kont, idFam, idFamKey) VALUES ('1', '%1', '%2');\n"
                          ".print inserted\n")
        .arg(kInsertedName, kInsertedName.toLower());
}

bool startShell(QProcess& shell, const QString& path, const QString& statements)
{
    shell.start(QStringLiteral("sqlite3"), {QStringLiteral("-bail"), path});
    if (!shell.waitForStarted(10000))
        return false;
    shell.write(statements.toUtf8());
    shell.closeWriteChannel();
    return true;
}

// Runs SQL on a file through a plain connection of its own.
bool execOn(const QString& path, const QString& sql)
{
    bool done = false;
    {
        QSqlDatabase db =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("test-plain"));
        db.setDatabaseName(path);
        QSqlQuery query(db);
        done = db.open() && query.exec(sql);
        if (!done)
            qWarning("%s", qPrintable(query.lastError().text()));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("test-plain"));
    return done;
}

} // namespace

class TestCompaction : public QObject {
    Q_OBJECT

private slots:
    void cleanup()
    {
        failNextCompactionAt(CompactionStep::None);
        setCompactionStepHook({});
        platform::setSyncObserver({});
    }
    void compactsAndKeepsEveryRow_data();
    void compactsAndKeepsEveryRow();
    void checkFindsDamage_data();
    void checkFindsDamage();
    void leftoverCopyIsNeverUsed();
    void failureLeavesRegisterAsItWas_data();
    void failureLeavesRegisterAsItWas();
    void copyThatCannotBeClearedStopsBeforeWriting();
    void registerLockedElsewhereIsNotCompacted();
    void anotherProgramsWriteIsNeverLost_data();
    void anotherProgramsWriteIsNeverLost();
    void symbolicLinkStaysALink();
    void ownerModeAndAttributesAreKept_data();
    void ownerModeAndAttributesAreKept();
    void copyIsOnTheDiskBeforeItReplaces();
    void copyMissingRowsIsRefused_data();
    void copyMissingRowsIsRefused();
    void liveJournalStopsTheReplace();
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
    QTest::newRow("attributes") << int(CompactionStep::Attributes);
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
        QSqlDatabase other =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("other-program"));
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

void TestCompaction::anotherProgramsWriteIsNeverLost_data()
{
    QTest::addColumn<int>("step");
    QTest::newRow("between the count and the copy") << int(CompactionStep::Vacuum);
    QTest::newRow("between the copy and the rename") << int(CompactionStep::Replace);
}

void TestCompaction::anotherProgramsWriteIsNeverLost()
{
    // The sqlite3 shell inserts while the compaction runs: it is told the register is busy,
    // or its row is in the compacted register. Never a success that the rename undoes.
    if (QStandardPaths::findExecutable(QStringLiteral("sqlite3")).isEmpty())
        QSKIP("the sqlite3 shell is not installed");
    QFETCH(int, step);
    TestRegister files;
    writeRegisterWithGaps(files, 30);
    const QString path = files.databasePath();

    QProcess waiting; // opened the file before the rename, waits up to 20 s for the lock
    QProcess at_once; // gives up at once when the file is locked
    bool ran = false;
    setCompactionStepHook([&](CompactionStep at, const QString&) {
        if (int(at) != step || ran)
            return;
        ran = true;
        if (!startShell(waiting, path,
                        QStringLiteral(".timeout 20000\nSELECT COUNT(*) FROM client;\n") +
                            insertStatements()))
            return;
        waiting.waitForReadyRead(10000); // the count: the shell has the file open
        if (startShell(at_once, path, insertStatements()))
            at_once.waitForFinished(30000);
    });
    Register owner(path);
    QVERIFY(owner.check().ok());
    const CompactionResult result = compactRegister(owner);
    setCompactionStepHook({});
    QVERIFY(ran);
    QVERIFY2(result.ok(), qPrintable(describeCompactionFailure(path, result)));
    QVERIFY(waiting.waitForFinished(30000));

    const int landed = int(files.storedNames().count(kInsertedName));
    const QByteArray atOnceSaid = at_once.readAllStandardOutput() + at_once.readAllStandardError();
    const QByteArray waitingSaid = waiting.readAllStandardOutput() + waiting.readAllStandardError();
    const int reported =
        int(atOnceSaid.contains("inserted")) + int(waitingSaid.contains("inserted"));
    QVERIFY2(reported == landed, atOnceSaid + " | " + waitingSaid);
    QVERIFY2(atOnceSaid.contains("database is locked"), atOnceSaid);
    const FileCheck check = checkRegisterFile(path);
    QVERIFY2(check.ok(), qPrintable(check.problem));
}

void TestCompaction::symbolicLinkStaysALink()
{
    TestRegister files;
    writeRegisterWithGaps(files, 60);
    const QString link = files.databasePath();
    QTemporaryDir elsewhere;
    const QString real = elsewhere.filePath(QStringLiteral("vorlend.mdb"));
    QVERIFY(QFile::rename(link, real));
    QVERIFY(QFile::link(real, link));
    const QByteArray before = contentsOf(real);
    const qint64 sizeBefore = QFileInfo(real).size();

    Register owner(link);
    QVERIFY(owner.check().ok());
    const CompactionResult result = compactRegister(owner);
    QVERIFY2(result.ok(), qPrintable(describeCompactionFailure(link, result)));
    QVERIFY(QFileInfo(link).isSymLink());
    QCOMPARE(QFileInfo(link).symLinkTarget(), QFileInfo(real).canonicalFilePath());
    QVERIFY(QFileInfo(real).size() < sizeBefore);
    QVERIFY(contentsOf(real) == before);
    QCOMPARE(QDir(elsewhere.path()).entryList(QDir::Files), QStringList{"vorlend.mdb"});
    QCOMPARE(QDir(QFileInfo(link).path()).entryList(QDir::Files | QDir::System),
             QStringList{"vorlend.mdb"});
}

void TestCompaction::ownerModeAndAttributesAreKept_data()
{
    QTest::addColumn<int>("mode");
    QTest::newRow("owner only") << 0600;
    QTest::newRow("group reads") << 0640;
}

void TestCompaction::ownerModeAndAttributesAreKept()
{
#ifndef Q_OS_LINUX
    QSKIP("owner, mode and extended attributes are POSIX matters");
#else
    QFETCH(int, mode);
    TestRegister files;
    writeRegisterWithGaps(files, 30);
    const QByteArray path = QFile::encodeName(files.databasePath());
    QCOMPARE(::chmod(path.constData(), mode_t(mode)), 0);
    // A register of another user in a shared folder stays theirs; only root can try it.
    const bool asRoot = ::geteuid() == 0;
    constexpr uid_t kNobody = 65534;
    if (asRoot)
        QCOMPARE(::chown(path.constData(), kNobody, kNobody), 0);
    static const char kName[] = "user.tarvik.test";
    const QByteArray value("kept across compaction");
    const bool attributes =
        ::setxattr(path.constData(), kName, value.constData(), size_t(value.size()), 0) == 0;
    if (!attributes)
        QCOMPARE(errno, ENOTSUP);
    struct stat before {};
    QCOMPARE(::stat(path.constData(), &before), 0);

    Register owner(files.databasePath());
    const CompactionResult result = compactRegister(owner);
    QVERIFY2(result.ok(), qPrintable(describeCompactionFailure(files.databasePath(), result)));
    struct stat after {};
    QCOMPARE(::stat(path.constData(), &after), 0);
    QVERIFY(after.st_ino != before.st_ino); // the compacted copy, not the old file
    QCOMPARE(int(after.st_mode & 07777), mode);
    QCOMPARE(after.st_uid, before.st_uid);
    QCOMPARE(after.st_gid, before.st_gid);
    if (!attributes)
        QSKIP("this file system keeps no user extended attributes");
    QByteArray kept(64, '\0');
    const ssize_t size = ::getxattr(path.constData(), kName, kept.data(), size_t(kept.size()));
    QVERIFY(size >= 0);
    kept.resize(size);
    QCOMPARE(kept, value);
    if (!asRoot)
        qInfo("not root: the owner was not given away to another user here");
#endif
}

void TestCompaction::copyIsOnTheDiskBeforeItReplaces()
{
    TestRegister files;
    writeRegisterWithGaps(files, 30);
    QStringList events;
    platform::setSyncObserver(
        [&](const QString& path) { events << QStringLiteral("sync ") + path; });
    setCompactionStepHook([&](CompactionStep step, const QString&) {
        if (step == CompactionStep::Replace)
            events << QStringLiteral("replace");
    });
    Register owner(files.databasePath());
    const CompactionResult result = compactRegister(owner);
    QVERIFY2(result.ok(), qPrintable(result.detail));
    const int copy = int(events.indexOf(QStringLiteral("sync ") + result.copyPath));
    const int folder = int(events.indexOf(
        QStringLiteral("sync ") + QFileInfo(files.databasePath()).canonicalPath(), copy));
    const int replaced = int(events.indexOf(QStringLiteral("replace")));
    QVERIFY2(copy >= 0 && folder > copy && replaced > folder, qPrintable(events.join(", ")));
}

void TestCompaction::copyMissingRowsIsRefused_data()
{
    QTest::addColumn<QString>("table");
    QTest::newRow("a part") << QStringLiteral("client");
    QTest::newRow("a package type") << QStringLiteral("vrYZD");
}

void TestCompaction::copyMissingRowsIsRefused()
{
    QFETCH(QString, table);
    TestRegister files;
    writeRegisterWithGaps(files, 30);
    const QString path = files.databasePath();
    const QByteArray bytes = fileBytes(path);
    bool deleted = false;
    setCompactionStepHook([&](CompactionStep step, const QString& copy) {
        if (step == CompactionStep::Check)
            deleted = execOn(copy, QStringLiteral("DELETE FROM %1 WHERE rowid = "
                                                  "(SELECT MIN(rowid) FROM %1)")
                                       .arg(table));
    });
    Register owner(path);
    const CompactionResult result = compactRegister(owner);
    QVERIFY(deleted);
    QCOMPARE(result.failedStep, CompactionStep::Check);
    QVERIFY(
        describeCompactionFailure(path, result)
            .startsWith(QStringLiteral("База данных не сжата: сжатая копия не прошла проверку")));
    QVERIFY(fileBytes(path) == bytes);
    QCOMPARE(QDir(QFileInfo(path).path()).entryList(QDir::Files), QStringList{"vorlend.mdb"});
}

void TestCompaction::liveJournalStopsTheReplace()
{
    // A journal that would be played back belongs to the old file: the copy must not take
    // the register's name while one lies beside it.
    TestRegister files;
    writeRegisterWithGaps(files, 30);
    const QString path = files.databasePath();
    const QString journal = path + QStringLiteral("-journal");
    const QByteArray bytes = fileBytes(path);
    setCompactionStepHook([&](CompactionStep step, const QString&) {
        if (step != CompactionStep::Replace)
            return;
        QFile file(journal);
        if (file.open(QIODevice::WriteOnly))
            file.write(QByteArray::fromHex("d9d505f920a163d7") + QByteArray(600, '\x5a'));
    });
    Register owner(path);
    const CompactionResult result = compactRegister(owner);
    QCOMPARE(result.failedStep, CompactionStep::Replace);
    QVERIFY(!result.copyLeftBehind);
    QVERIFY(QFile::remove(journal));
    QVERIFY(fileBytes(path) == bytes);
    QCOMPARE(QDir(QFileInfo(path).path()).entryList(QDir::Files), QStringList{"vorlend.mdb"});
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

        const QString context =
            QStringLiteral("kill %1 of %2, seed %3").arg(kill).arg(kKills).arg(seed);
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

// The compaction itself: every row kept, damage found, and a copy that is incomplete, cannot
// be cleared or is not yet on the disk never replaces the register. The program's entry
// point is here too.
#include "TestCompaction.h"

namespace {

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
            QVERIFY(reread.updateCurrent({{QStringLiteral("sorp"), original}}, PartAction::Notes));
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

QTEST_GUILESS_MAIN(TestCompaction)
#include "moc_TestCompaction.cpp"

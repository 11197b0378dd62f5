// What the register file is besides its rows: a symbolic link stays one, and the owner, mode
// and extended attributes are kept.
#include "TestCompaction.h"

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

// The start-up switch and the command line that put an Access register's contents in place
// of the register: the Access file kept, an import killed at random moments, the new file's
// owner and mode, and failures told in the program's words. The program's entry point, which
// also runs the switch as the child that the killing test kills, is here too.
#include "TestAccessImport.h"

namespace {

// Run as a child: the start-up switch on `path`, to be killed at any moment.
int replaceAndReport(const QString& path)
{
    const ImportResult result = replaceAccessRegister(path);
    printf("%s\n", result.ok() ? "imported" : qPrintable(result.detail));
    return result.ok() ? 0 : 1;
}

} // namespace

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

#include "moc_TestAccessImport.cpp"

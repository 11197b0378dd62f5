// Files that are no Access register, or a damaged one: each refused with what is wrong, and
// none read past its end.
#include "TestAccessImport.h"

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

// Backups through the main window's menu and the day's copy after it is shown, and the
// command line's --backup.
#include "backup/TestBackup.h"

#include "MainWindowProbe.h"

#include "app/Form1.h"
#include "gui/FileDialog.h"
#include "gui/MessageBox.h"
#include "service/DailyBackup.h"
#include "store/records/RecordSource.h"

#include <QAction>
#include <QProcess>
#include <QSettings>
#include <QSignalSpy>

#include <cerrno>

void TestBackup::dailyBackupAfterTheWindowIsShownOncePerDay()
{
    TestRegister files;
    writeParts(files, 120);
    const QString path = files.databasePath();
    const QString folder = backupFolder(path);
    QVERIFY(QDir().mkpath(folder));
    // One kept: the older day's copy goes once today's is written.
    {
        QSettings ini(serverSettingsPath(path), QSettings::IniFormat);
        ini.setValue(QStringLiteral("backup/keep"), 1);
    }
    QFile older(folder + QStringLiteral("/vorlend-2000-01-01.mdb"));
    QVERIFY(older.open(QIODevice::WriteOnly));
    older.close();
    const QString today = dailyBackupPath(path, QDate::currentDate());
    {
        Form1 main(files.paths(), files.owner());
        main.show();
        QVERIFY(QTest::qWaitForWindowExposed(&main));
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(today), 30000);
        QTRY_VERIFY_WITH_TIMEOUT(!main.findChild<DailyBackup*>()->isRunning(), 30000);
        QCOMPARE(filesIn(folder), QStringList{QFileInfo(today).fileName()});
        QVERIFY(MessageBox::takeShown().isEmpty());
        MessageBox::setNextAnswer(QMessageBox::Yes);
        main.close();
    }
    const FileCheck copy = checkRegisterFile(today);
    QVERIFY2(copy.ok(), qPrintable(copy.problem));
    QCOMPARE(copy.parts, 120);
    QCOMPARE(copy.packageTypes, 4);
    if (!onServerBackend())
        QCOMPARE(contentsOf(today), contentsOf(path));

    // The next start of the same day leaves the day's copy alone.
    const QByteArray written = bytesOf(today);
    files.owner().reopen();
    Form1 again(files.paths(), files.owner());
    QVERIFY(!again.findChild<DailyBackup*>()->startIfDue(QDate::currentDate()));
    QCOMPARE(bytesOf(today), written);
    // No copies at all with keep=0.
    {
        QSettings ini(serverSettingsPath(path), QSettings::IniFormat);
        ini.setValue(QStringLiteral("backup/keep"), 0);
    }
    QVERIFY(!again.findChild<DailyBackup*>()->startIfDue(QDate::currentDate().addDays(1)));
}

void TestBackup::fullDiskDuringTheDailyBackupIsSaidOnce()
{
    TARVIK_FILE_ONLY("the seam stands in the file's copy");
    TestRegister files;
    writeParts(files, 60);
    const QString path = files.databasePath();
    const QByteArray before = bytesOf(path);
    failNextBackupAt(BackupStep::Copy, qt_error_string(ENOSPC));
    MessageBox::setNextAnswer(QMessageBox::Ok);
    Form1 main(files.paths(), files.owner());
    main.show();
    QVERIFY(QTest::qWaitForWindowExposed(&main));
    QSignalSpy ended(main.findChild<DailyBackup*>(), &DailyBackup::finished);
    QTRY_COMPARE_WITH_TIMEOUT(ended.size(), 1, 30000);
    const QList<MessageBox::Shown> shown = MessageBox::takeShown();
    QCOMPARE(shown.size(), 1);
    QCOMPARE(shown[0].icon, QMessageBox::Warning);
    QVERIFY(shown[0].text.startsWith(QStringLiteral("Резервная копия базы в файл")));
    QVERIFY(shown[0].text.contains(qt_error_string(ENOSPC)));
    QCOMPARE(filesIn(backupFolder(path)), QStringList{});
    QCOMPARE(bytesOf(path), before);
    QCOMPARE(m_ends, 0);
    // The program goes on: the list is there and a change is saved.
    waitForList(main);
    QCOMPARE(main.Data1()->recordCount(), 60);
    QVERIFY(main.Data1()->setCurrentRow(0));
    QCOMPARE(main.Data1()->replaceCurrentIf(QStringLiteral("phone"),
                                            main.Data1()->field(QStringLiteral("phone")).toString(),
                                            QStringLiteral("77"), PartAction::Plus),
             RecordSource::Replaced::Saved);
}

void TestBackup::backupNowWritesTheChosenFile()
{
    TestRegister files;
    writeParts(files, 80);
    Form1 main(files.paths(), files.owner());
    main.show();
    QVERIFY(QTest::qWaitForWindowExposed(&main));
    const QString target = files.folder() + QStringLiteral("/копии/сейчас.mdb");
    QVERIFY(QDir().mkpath(QFileInfo(target).path()));
    FileDialog::takeAsked();
    FileDialog::setNextFileName(target);
    MessageBox::setNextAnswer(QMessageBox::Ok);
    control<QAction>(&main, "backupNow")->trigger();
    const QList<FileDialog::Asked> asked = FileDialog::takeAsked();
    QCOMPARE(asked.size(), 1);
    QVERIFY(asked[0].folder.startsWith(backupFolder(files.databasePath()) + QLatin1Char('/')));
    QList<MessageBox::Shown> shown = MessageBox::takeShown();
    QCOMPARE(shown.size(), 1);
    QCOMPARE(shown[0].text, QStringLiteral("Резервная копия базы записана в файл «%1»: деталей "
                                           "80, корпусов 4.")
                                .arg(QDir::toNativeSeparators(target)));
    QCOMPARE(checkRegisterFile(target).parts, 80);
    QCOMPARE(filesIn(QFileInfo(target).path()), QStringList{"сейчас.mdb"});

    // A place that cannot be written: said, and nothing is left there.
    QFile blocker(files.folder() + QStringLiteral("/занято"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    FileDialog::setNextFileName(blocker.fileName() + QStringLiteral("/копия.mdb"));
    MessageBox::setNextAnswer(QMessageBox::Ok);
    control<QAction>(&main, "backupNow")->trigger();
    shown = MessageBox::takeShown();
    QCOMPARE(shown.size(), 1);
    QCOMPARE(shown[0].icon, QMessageBox::Warning);
    QVERIFY(shown[0].text.contains(QStringLiteral("не записана")));
    QCOMPARE(m_ends, 0);
}

void TestBackup::restoreThroughTheMenuEndsTheProgram()
{
    TARVIK_FILE_ONLY("the server's restore has cases of its own");
    TestRegister files;
    writeParts(files, 30);
    const QString path = files.databasePath();
    noDailyCopies(path);
    Form1 main(files.paths(), files.owner());
    main.show();
    QVERIFY(QTest::qWaitForWindowExposed(&main));
    const QString copy = backupFolder(path) + QStringLiteral("/vorlend-2026-01-02.mdb");
    QVERIFY(backupRegisterFile(path, copy).ok());
    const QByteArray inCopy = contentsOf(copy);
    QVERIFY(files.runAsOtherClient(QStringLiteral("DELETE FROM client WHERE idnom > 5")).isEmpty());
    const QByteArray current = contentsOf(path);

    // Asked, and declined: nothing happens.
    FileDialog::takeAsked();
    FileDialog::setNextFileName(copy);
    MessageBox::setNextAnswer(QMessageBox::No);
    control<QAction>(&main, "restoreBackup")->trigger();
    QCOMPARE(FileDialog::takeAsked().at(0).folder, backupFolder(path));
    QList<MessageBox::Shown> shown = MessageBox::takeShown();
    QCOMPARE(shown.size(), 1);
    QCOMPARE(shown[0].icon, QMessageBox::Question);
    QVERIFY(shown[0].text.contains(QStringLiteral("Копия от 02.01.2026")));
    QVERIFY(shown[0].text.contains(QStringLiteral("деталей 30, корпусов 4")));
    QCOMPARE(m_ends, 0);
    QCOMPARE(contentsOf(path), current);
    QVERIFY(files.owner().openConnections() > 0);

    FileDialog::setNextFileName(copy);
    MessageBox::setNextAnswer(QMessageBox::Yes);
    MessageBox::setNextAnswer(QMessageBox::Ok);
    control<QAction>(&main, "restoreBackup")->trigger();
    shown = MessageBox::takeShown();
    QVERIFY2(shown.size() == 2, qPrintable(shown.value(0).text));
    QVERIFY(shown[1].text.startsWith(QStringLiteral("База восстановлена из файла")));
    QCOMPARE(m_ends, 1);
    QCOMPARE(files.owner().openConnections(), 0);
    QCOMPARE(contentsOf(path), inCopy);
    QStringList kept = filesIn(backupFolder(path));
    kept.removeOne(QFileInfo(copy).fileName());
    QCOMPARE(kept.size(), 1);
    QVERIFY(kept[0].endsWith(QLatin1String("-before-restore.mdb")));
    QCOMPARE(contentsOf(backupFolder(path) + QLatin1Char('/') + kept[0]), current);
}

void TestBackup::restoreFromADamagedCopyThroughTheMenuChangesNothing()
{
    TARVIK_FILE_ONLY("a restore replaces the register's file");
    TestRegister files;
    writeParts(files, 200);
    const QString path = files.databasePath();
    const QString copy = backupFolder(path) + QStringLiteral("/vorlend-2026-01-02.mdb");
    QVERIFY(backupRegisterFile(path, copy).ok());
    damagePages(copy);
    const QByteArray before = bytesOf(path);
    noDailyCopies(path);
    Form1 main(files.paths(), files.owner());
    main.show();
    QVERIFY(QTest::qWaitForWindowExposed(&main));
    FileDialog::setNextFileName(copy);
    MessageBox::setNextAnswer(QMessageBox::Ok);
    control<QAction>(&main, "restoreBackup")->trigger();
    const QList<MessageBox::Shown> shown = MessageBox::takeShown();
    QCOMPARE(shown.size(), 1);
    QCOMPARE(shown[0].icon, QMessageBox::Warning);
    QVERIFY(shown[0].text.contains(QStringLiteral("не годится для восстановления")));
    QVERIFY(shown[0].text.endsWith(QStringLiteral("База данных не изменилась.")));
    QCOMPARE(m_ends, 0);
    QCOMPARE(bytesOf(path), before);
    QCOMPARE(filesIn(backupFolder(path)), QStringList{"vorlend-2026-01-02.mdb"});
    QVERIFY(files.owner().openConnections() > 0);
    waitForList(main);
    QCOMPARE(main.Data1()->recordCount(), 200);
}

void TestBackup::commandLineBackupRefusesAnExistingFile()
{
    TestRegister files;
    writeParts(files, 25);
    // On the server the program finds it through tarvik.ini beside where the file would be.
    QString source = files.databasePath();
    if (onServerBackend()) {
        QVERIFY(QDir().mkpath(QFileInfo(source).path()));
        QString error;
        QVERIFY(writeServerChoice(source, *files.owner().server(), &error));
        source = files.owner().server()->uri();
    }
    // The program finds the register beside itself.
    const QString program = files.folder() + QStringLiteral("/tarvik");
    QVERIFY(QFile::copy(qEnvironmentVariable("TARVIK_BIN"), program));
    const auto run = [&](const QStringList& arguments, QByteArray* out, QByteArray* err) {
        QProcess process;
        process.start(program, arguments);
        if (!process.waitForFinished(30000))
            return -1;
        *out = process.readAllStandardOutput();
        *err = process.readAllStandardError();
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    };
    const QString target = files.folder() + QStringLiteral("/копия.mdb");
    QByteArray out, err;
    QCOMPARE(run({"--backup", target}, &out, &err), 0);
    QCOMPARE(QString::fromUtf8(out).trimmed(),
             QStringLiteral("%1 -> %2: деталей 25, корпусов 4").arg(source, target));
    if (!onServerBackend())
        QCOMPARE(contentsOf(target), contentsOf(files.databasePath()));

    const QByteArray written = bytesOf(target);
    QCOMPARE(run({"--backup", target}, &out, &err), 1);
    QVERIFY(out.isEmpty());
    QCOMPARE(QString::fromUtf8(err).trimmed(),
             QStringLiteral("Файл «%1» уже есть; резервная копия пишется только в новый файл.")
                 .arg(target));
    QCOMPARE(bytesOf(target), written);
    QCOMPARE(run({"--backup"}, &out, &err), 2);
}

QTEST_MAIN(TestBackup)
#include "moc_TestBackup.cpp"

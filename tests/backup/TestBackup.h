#pragma once

// Backups and restores of the register: the test class and what its files share. Only this
// program's files include it.
#include "TestRegister.h"

#include "store/register/Backup.h"
#include "store/register/Register.h"
#include "store/register/RegisterFiles.h"
#include "store/register/Restore.h"
#include "store/register/ServerAddress.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTest>

using namespace tarvik;
using namespace tarvik::test;

// Every field of every row of both tables, as one hash; empty when the file does not read.
inline QByteArray contentsOf(const QString& path)
{
    FileReader file(path);
    if (!file.error().isEmpty())
        return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    for (const char* sql : {"SELECT * FROM client ORDER BY idnom", "SELECT * FROM vrYZD ORDER BY "
                                                                   "IDvrachYZD"}) {
        QSqlQuery query(file.connection());
        if (!query.exec(QLatin1String(sql)))
            return {};
        int rows = 0;
        while (query.next()) {
            ++rows;
            for (int field = 0; field < query.record().count(); ++field) {
                const QVariant value = query.value(field);
                hash.addData(value.isNull() ? QByteArray("\\N") : value.toByteArray());
                hash.addData(QByteArray(1, '\0'));
            }
        }
        hash.addData(QByteArray::number(rows));
    }
    return hash.result();
}

// Parts enough for a copy of many steps: long notes, a few package types with pictures.
inline void writeParts(TestRegister& files, int parts,
                       const QString& prefix = QStringLiteral("Деталь"))
{
    QList<PartRow> rows;
    for (int i = 0; i < parts; ++i)
        rows << part(QStringLiteral("%1 %2").arg(prefix).arg(i, 5, 10, QLatin1Char('0')),
                     QStringLiteral("1,5"), QString::number(i), QStringLiteral("SOT-23"),
                     QString(1500, QChar(u'а' + i % 32)));
    QList<Package> packages;
    for (int i = 0; i < 4; ++i)
        packages << Package{QStringLiteral("ТИП-%1").arg(i),
                            picture(QColor::fromHsv(i * 60, 200, 200), "BMP", 40, 30)};
    QVERIFY(files.write(rows, packages));
}

inline QByteArray bytesOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Pages in the middle of the parts' table overwritten.
inline void damagePages(const QString& path)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadWrite));
    QVERIFY(file.seek(file.size() / 2));
    file.write(QByteArray(8192, '\x5a'));
}

// The day's copy would land beside what a case looks at.
inline void noDailyCopies(const QString& registerPath)
{
    QSettings ini(serverSettingsPath(registerPath), QSettings::IniFormat);
    ini.setValue(QStringLiteral("backup/keep"), 0);
}

inline QStringList filesIn(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

class TestBackup : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    // The store (Copies.cpp).
    void backupHoldsEveryRowAndLeavesNothingElse();
    void writesBetweenStepsGoOnAndTheCopyIsConsistent();
    void failureOrCancelLeavesNoFileUnderTheName_data();
    void failureOrCancelLeavesNoFileUnderTheName();
    void dailyCopiesKeepTheNewestAndOnlyTheirOwn();
    void restoreSwapsTheCopyInAndKeepsTheRegister();
    void damagedRegisterIsRestoredAndKeptAsItWas();
    void damagedOrForeignCopyIsRefusedAndNothingChanges_data();
    void damagedOrForeignCopyIsRefusedAndNothingChanges();
    void failedRestoreLeavesTheRegisterAsItWas_data();
    void failedRestoreLeavesTheRegisterAsItWas();
    void damageCheckRunsAgainAfterTheRegisterReopens();

    // Killed at any moment (Kills.cpp).
    void backupKilledAtAnyMomentLeavesNoPartialCopy();
    void restoreKilledAtAnyMomentLeavesTheRegisterWhole();

    // The main window and the command line (Windows.cpp).
    void dailyBackupAfterTheWindowIsShownOncePerDay();
    void fullDiskDuringTheDailyBackupIsSaidOnce();
    void backupNowWritesTheChosenFile();
    void restoreThroughTheMenuEndsTheProgram();
    void restoreFromADamagedCopyThroughTheMenuChangesNothing();
    void commandLineBackupRefusesAnExistingFile();

    // A register on a server (ServerRestores.cpp).
    void earlierServerFunctionsAreReplacedAtOpen();
    void restoreOnTheServerReplacesItsRowsAndTellsOthers();
    void refusedServerRestoreChangesNothing_data();
    void refusedServerRestoreChangesNothing();

private:
    int m_ends = 0;
};

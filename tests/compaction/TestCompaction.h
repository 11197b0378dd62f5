#pragma once

// Compacting the register: the test class and what its files share. Only this program's
// files include it.
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

inline QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Every field of every row of both tables, picture bytes included, as one hash.
inline QByteArray contentsOf(const QString& path)
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
inline void writeRegisterWithGaps(TestRegister& files, int parts)
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

    // As an earlier build deleted: the journal would keep every deleted part whole.
    QVERIFY(files.withoutJournal([&] {
        RecordSource source;
        QVERIFY(source.open(files.databasePath()).ok());
        source.setStatement(Statements::partsInStoredOrder());
        QVERIFY(source.refresh());
        for (int row = 0; row < source.recordCount(); row += 3) {
            QVERIFY(source.setCurrentRow(row));
            QVERIFY(source.deleteCurrent());
        }
    }));
}

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

#pragma once

// The main window when the register is also written by other programs, locked, damaged or
// holds odd values, and the details it must never get wrong: the test class and what its
// files share. Only this program's files include it.
#include "MainWindowProbe.h"
#include "TestRegister.h"

#include "app/Form1.h"
#include "app/Startup.h"
#include "gui/MessageBox.h"
#include "store/records/PictureText.h"
#include "store/records/RecordSource.h"
#include "store/register/DamageCheck.h"
#include "store/search/NameCopy.h"

#include <QAccessible>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTableView>
#include <QTest>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

using namespace tarvik;
using namespace tarvik::test;

inline const QLocale kRussian(QLocale::Russian, QLocale::Russia);

// A connection as another program has it: plain SQL, none of the program's functions.
class PlainConnection {
public:
    explicit PlainConnection(const QString& path)
        : m_name(QStringLiteral("plain-%1").arg(++s_count))
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=0"));
        db.open();
    }
    ~PlainConnection()
    {
        QSqlDatabase::database(m_name, false).close();
        QSqlDatabase::removeDatabase(m_name);
    }
    bool exec(const QString& sql)
    {
        QSqlQuery query(QSqlDatabase::database(m_name));
        if (!query.exec(sql))
            qWarning() << sql << query.lastError().text();
        return !query.lastError().isValid();
    }
    QString name() const { return m_name; }
    QVariant value(const QString& sql)
    {
        QSqlQuery query(QSqlDatabase::database(m_name));
        return query.exec(sql) && query.next() ? query.value(0) : QVariant();
    }

private:
    static inline int s_count = 0;
    QString m_name;
};

// Overwrites one page of the file with garbage and marks the file changed, so that open
// connections read it afresh.
inline void overwritePage(const QString& path, int page)
{
    PlainConnection plain(path);
    const int pageSize = plain.value(QStringLiteral("PRAGMA page_size")).toInt();
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadWrite));
    file.seek(qint64(page - 1) * pageSize);
    file.write(QByteArray(pageSize, '\xA5'));
    file.seek(24); // file change counter
    file.write(QByteArray::fromHex("7fffff01"));
}

inline bool runningAsRoot()
{
#ifdef Q_OS_UNIX
    return geteuid() == 0;
#else
    return false;
#endif
}

class TestOtherPrograms : public QObject, private MainWindowProbe {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void valueLabelsReadTheirValue();
    void keysStayTrueUnderOtherTools();
    void keysOfAnEarlierBuildAreHealedAtOpen();
    void keysOfTheEarlierFormTakeTheAlphabetsOrder();
    void stepAfterAnotherProgramChangedTheQuantity();
    void oddQuantitiesAreNoNumbers_data();
    void oddQuantitiesAreNoNumbers();
    void commaIsNoGroupSeparator();
    void noStaleValueOrPicture();
    void linkNamedRezervIsNotWrittenThrough();
    void pictureShownFromMemoryWhenTheFileCannotBeWritten();
    void readOnlyProgramFolderStillShowsThePicture();
    void damagedNameIndexIsReportedOnceAndWritesStop();
    void damagedPartsPageIsReported();
    void backgroundCheckFindsDamage();
    void backgroundCheckStopsWhenTheRegisterCloses();
    void missingColumnKeepsTheListEmpty();
    void lockedRegisterIsReportedAndRetried();
    void lockedAtStartUp();
    void notesNeedAPart();
    void notesSavedOnLeavingARowAndOnRefresh();
    void notesUnsavedAtExitAreNeverDroppedSilently();
    void failedNotesSaveIsReported();
    void quantityBoxShowsTheStoredValueAfterAFailedSave();
    void readOnlyRegisterIsDetected();

private:
    void open(const QList<PartRow>& rows, const QList<Package>& packages = {});
    // Shows the window and lets its background read of the names finish.
    void showWindow();
    QString stored(const QString& name, const char* field) const;
    // As a user who is not root (root writes anything): the test body runs in a child.
    bool ranAsOtherUser(const char* function);
};

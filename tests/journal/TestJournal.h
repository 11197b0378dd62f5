#pragma once

// The journal of every change to a part and each part's minimum stock: the test class and
// what its files share. Only this program's files include it.
#include "TestRegister.h"
#include "TestServer.h"

#include "store/records/Minimums.h"
#include "store/records/PartWriter.h"
#include "store/register/Connection.h"
#include "store/register/Register.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTest>

#include <memory>
#include <optional>

using namespace tarvik;
using namespace tarvik::test;

// The register of one test on either back end, opened as the program opens it (checked
// once, upgraded at open), with a connection of the program's own.
class JournalFixture {
public:
    enum class Back { File, Server };
    explicit JournalFixture(Back back) : m_back(back) {}
    // Writes `parts` and opens the register; false (with a warning) when it cannot.
    bool open(const QList<PartRow>& parts);
    Connection& db() { return m_db; }
    Register& owner();
    // The id of the part stored under `name`, -1 when there is none.
    qint64 idOf(const QString& name);
    // A plain connection as another program has it (the sqlite3 shell, psql).
    QSqlDatabase plain();
    // Runs `sql` on the plain connection; the engine's words on failure, empty on success.
    QString runPlain(const QString& sql);

private:
    Back m_back;
    TestRegister m_file;
    std::unique_ptr<ServerRegister> m_server;
    Connection m_db;
    QString m_plainName;
};

class TestJournal : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    // Minimum stock (Minimum.cpp).
    void minimumSetReadAndCompared_data();
    void minimumSetReadAndCompared();
    void minimumGoesWithItsPart_data();
    void minimumGoesWithItsPart();
    void earlierRegisterGetsTheTablesAtOpen();
    void earlierServerRegisterGetsThemAtOpen();

    // What is journaled and how it reads back (Journaling.cpp).
    void programChangesJournaled_data();
    void programChangesJournaled();
    void otherProgramsChangesJournaledAsOutside_data();
    void otherProgramsChangesJournaledAsOutside();
    void pagesNewestFirstByPartAndName();
    void nameSearchReadsThePartsNamesFirst_data();
    void nameSearchReadsThePartsNamesFirst();
    void compactionKeepsTheJournal();
    void copiesToTheServerAndBackCarryTheJournal();

    // Undo (Undo.cpp).
    void undoPutsBackOrSaysWhy_data();
    void undoPutsBackOrSaysWhy();

    // The real windows (Window.cpp).
    void mainWindowChangesJournaled();
    void journalWindowListsSearchesAndUndoes();
    void journalNotKeptIsSaid();
    void journalReadsNeverHoldTheWindow_data();
    void journalReadsNeverHoldTheWindow();
    void serverReadEndsAtItsStop();
};

// Makes the register file at `path` one as earlier builds left it: without the journal and the
// minimums.
void dropJournal(const QString& path);

// Both back ends as data rows; the server's skips without TARVIK_TEST_PG.
void addBackRows();
#define JOURNAL_FIXTURE(name)                                                                      \
    QFETCH(bool, onServer);                                                                        \
    if (onServer)                                                                                  \
        TARVIK_SKIP_WITHOUT_SERVER();                                                              \
    JournalFixture name(onServer ? JournalFixture::Back::Server : JournalFixture::Back::File)

#pragma once

// The stock's figures in the main window's status line, the marks in the parts grid, and the
// shortage list with its CSV, on either back end.
#include "MainWindowProbe.h"
#include "TestRegister.h"
#include "TestServer.h"

#include <QObject>
#include <QSqlDatabase>
#include <QTest>

#include <memory>

using namespace tarvik;
using namespace tarvik::test;

// The main window on a register of the file or of the test server, with a plain connection as
// another program (the sqlite3 shell, psql) has it.
class StockFixture {
public:
    explicit StockFixture(bool onServer) : m_onServer(onServer) {}
    ~StockFixture();
    // Writes `parts`, opens the window and waits for the figures.
    bool open(const QList<PartRow>& parts);
    MainWindowProbe& probe() { return m_probe; }
    Register& owner();
    // Runs `sql` as another program; the engine's words on failure, empty on success.
    QString runPlain(const QString& sql);
    QVariant plainValue(const QString& sql);
    qint64 idOf(const QString& name);
    QString status(const char* label) const;
    // The figures have followed everything committed (the file is looked at now).
    void settle();

private:
    QSqlDatabase plain();
    bool m_onServer;
    std::unique_ptr<ServerRegister> m_server;
    QString m_plainName;
    MainWindowProbe m_probe;
};

class TestStock : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    // The status line and the grid's marks (Figures.cpp).
    void totalsFollowEveryChange_data();
    void totalsFollowEveryChange();
    void shownFiguresWhileSearchNarrows_data();
    void shownFiguresWhileSearchNarrows();
    void rowMarkedAtItsMinimum_data();
    void rowMarkedAtItsMinimum();

    // The shortage list (Shortages.cpp).
    void shortageListEditsAndRefuses_data();
    void shortageListEditsAndRefuses();
    void shortageCsvReadsBack();
};

void addBackRows();
#define STOCK_FIXTURE(name)                                                                        \
    QFETCH(bool, onServer);                                                                        \
    if (onServer)                                                                                  \
        TARVIK_SKIP_WITHOUT_SERVER();                                                              \
    StockFixture name(onServer)

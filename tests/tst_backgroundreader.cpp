// The background reader's protocol: a job on a thread and connection of its own that gives
// way to the window's changes and to the register closing, and is told back on the owner's
// thread.
#include "store/register/BackgroundReader.h"
#include "store/register/Register.h"

#include "TestRegister.h"

#include <QSemaphore>
#include <QSqlQuery>
#include <QTest>
#include <QThread>

#include <memory>
#include <optional>

using namespace tarvik;
using namespace tarvik::test;

namespace {

using Outcome = BackgroundReader::Outcome;

// A statement that never ends by itself: only an interruption stops it. `entered` is
// released just before it starts, so an interruption may come before or during it.
BackgroundReader::Job endlessRead(QSemaphore& entered)
{
    return [&entered](BackgroundReader::Run& run) {
        QSqlQuery query(run.db.connection());
        entered.release();
        return query.exec(QStringLiteral("WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x + 1 "
                                         "FROM n) SELECT count(*) FROM n")) &&
               query.next();
    };
}

// What the owner is told: each end with the thread it was told on.
struct Told {
    QList<Outcome> outcomes;
    QList<QThread*> threads;

    void follow(BackgroundReader& reader)
    {
        // Direct: records the thread the signal is emitted on.
        QObject::connect(
            &reader, &BackgroundReader::ended, &reader,
            [this](Outcome outcome) {
                outcomes << outcome;
                threads << QThread::currentThread();
            },
            Qt::DirectConnection);
    }
    bool wait() const
    {
        return QTest::qWaitFor([this] { return !outcomes.isEmpty(); }, 10000);
    }
};

} // namespace

class TestBackgroundReader : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void changeInterruptsOnlyAReaderThatGivesWay();
    void endIsToldOnceOnTheOwnersThread();
    void closeAndDestructionStopTheJob();

private:
    std::unique_ptr<TestRegister> m_register;
};

void TestBackgroundReader::init()
{
    m_register = std::make_unique<TestRegister>();
    QVERIFY(m_register->write({part(QStringLiteral("Резистор"))}));
    QVERIFY(m_register->owner().check().ok());
}

void TestBackgroundReader::cleanup()
{
    m_register.reset();
}

void TestBackgroundReader::changeInterruptsOnlyAReaderThatGivesWay()
{
    Register& reg = m_register->owner();
    {
        BackgroundReader reader(reg, BackgroundReader::Writes::Interrupt);
        Told told;
        told.follow(reader);
        QSemaphore entered;
        QVERIFY(reader.start(endlessRead(entered)));
        entered.acquire();
        reg.announceWrite();
        QVERIFY(told.wait());
        QCOMPARE(told.outcomes, QList<Outcome>{Outcome::InterruptedByWrite});
        QVERIFY(!reader.isRunning());
    }
    {
        // A reader that lets changes run is not stopped by one: its job goes on to its end.
        BackgroundReader reader(reg, BackgroundReader::Writes::LetRun);
        reader.holdSteps(true, 1);
        Told told;
        told.follow(reader);
        QSemaphore held;
        std::optional<int> parts;
        QVERIFY(reader.start([&](BackgroundReader::Run& run) {
            held.release();
            if (!run.proceed(1))
                return false;
            QSqlQuery query(run.db.connection());
            if (query.exec(QStringLiteral("SELECT count(*) FROM client")) && query.next())
                parts = query.value(0).toInt();
            return parts.has_value();
        }));
        held.acquire();
        reg.announceWrite();
        reader.holdSteps(false);
        QVERIFY(told.wait());
        QCOMPARE(told.outcomes, QList<Outcome>{Outcome::Finished});
        QCOMPARE(parts, std::optional<int>(1));
    }
}

void TestBackgroundReader::endIsToldOnceOnTheOwnersThread()
{
    BackgroundReader reader(m_register->owner(), BackgroundReader::Writes::Interrupt);
    Told told;
    told.follow(reader);
    QSemaphore finished;
    QVERIFY(reader.start([&](BackgroundReader::Run&) {
        finished.release();
        return false;
    }));
    QVERIFY(!reader.start([](BackgroundReader::Run&) { return true; })); // one at a time
    finished.acquire();
    QVERIFY(told.wait());
    QCOMPARE(told.outcomes, QList<Outcome>{Outcome::Failed});
    QCOMPARE(told.threads, QList<QThread*>{QThread::currentThread()});

    // Taken at once by the owner, and not told again when the thread's own notice arrives.
    QVERIFY(reader.start([](BackgroundReader::Run&) { return true; }));
    QVERIFY(QTest::qWaitFor([&] {
        reader.takeEnded();
        return !reader.isRunning();
    }));
    QCOMPARE(told.outcomes.size(), 2);
    QCOMPARE(told.outcomes.last(), Outcome::Finished);
    QCoreApplication::processEvents();
    QCOMPARE(told.outcomes.size(), 2);
    QCOMPARE(told.threads.last(), QThread::currentThread());
}

void TestBackgroundReader::closeAndDestructionStopTheJob()
{
    Register& reg = m_register->owner();
    QSemaphore entered;
    Told told;
    {
        BackgroundReader reader(reg, BackgroundReader::Writes::LetRun);
        told.follow(reader);
        QVERIFY(reader.start(endlessRead(entered)));
        entered.acquire();
        QCOMPARE(reg.openConnections(), 1);
    } // the destructor returns only once the job has ended and its connection is closed
    QCOMPARE(reg.openConnections(), 0);

    BackgroundReader reader(reg, BackgroundReader::Writes::LetRun);
    told.follow(reader);
    QVERIFY(reader.start(endlessRead(entered)));
    entered.acquire();
    reg.closeAll(); // as compaction does: the close waits for the job to end
    QVERIFY(!reader.isRunning());
    QCOMPARE(reg.openConnections(), 0);
    QVERIFY(!reader.start(endlessRead(entered))); // nothing runs on a closed register
    QCoreApplication::processEvents();
    QVERIFY(told.outcomes.isEmpty()); // a stopped job's end is not told

    reg.reopen();
    QVERIFY(reader.start([](BackgroundReader::Run&) { return true; }));
    QVERIFY(told.wait());
    QCOMPARE(told.outcomes, QList<Outcome>{Outcome::Finished});
}

QTEST_MAIN(TestBackgroundReader)
#include "tst_backgroundreader.moc"

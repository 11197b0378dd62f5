#include "store/server/ServerRestore.h"

#include "store/register/Connection.h"
#include "store/register/JournalSchema.h"
#include "store/register/ServerFunctions.h"
#include "store/server/ServerBackup.h"
#include "store/server/ServerConnection.h"
#include "store/server/ServerRows.h"

#include <QDir>
#include <QSqlQuery>
#include <QStringList>
#include <QVariant>

#include <memory>

namespace tarvik {
namespace {

// As long as the program's own sessions wait for a lock: a writer that holds the register
// longer is not waited for.
constexpr int kLockWaitMs = 4000;

// The server's code for a lock not granted in time.
const QLatin1String kLockNotAvailable("55P03");

class ServerRestorer {
public:
    ServerRestorer(const ServerAddress& address, const QString& password, const QString& copyPath,
                   const QString& keepCurrentAs)
        : m_address(address),
          m_password(password),
          m_chosen(copyPath)
    {
        m_result.keptAs = keepCurrentAs;
    }

    RestoreResult run()
    {
        const bool done =
            checkCopy() && prepare() && lock() && keepCurrent() && copy() && check() && commit();
        if (!done && m_begun)
            db().rollback();
        return m_result;
    }

private:
    QSqlDatabase db() const { return m_server.connection(); }
    bool fail(RestoreStep step, const QString& detail)
    {
        m_result.failedStep = step;
        m_result.detail = detail;
        return false;
    }
    bool fail(RestoreStep step, const QSqlError& error) { return fail(step, engineDetail(error)); }
    bool beginning(RestoreStep step)
    {
        return restoreStepBegins(step) || fail(step, QStringLiteral("injected failure"));
    }

    bool checkCopy()
    {
        if (!beginning(RestoreStep::CheckCopy))
            return false;
        m_result.copy = checkRestoreCandidate(m_chosen, FileCheckDepth::Full);
        return m_result.copy.ok() || fail(RestoreStep::CheckCopy, m_result.copy.problem);
    }
    bool prepare()
    {
        if (!beginning(RestoreStep::Prepare))
            return false;
        const OpenResult opened = m_file.open(m_chosen);
        if (!opened.ok() && opened.problem != OpenProblem::ReadOnly)
            return fail(RestoreStep::Prepare, whyNotOpened(opened));
        if (!m_server.open(m_address, m_password))
            return fail(RestoreStep::Prepare, m_server.error());
        QSqlDatabase server = db();
        if (!server.transaction())
            return fail(RestoreStep::Prepare, server.lastError());
        m_begun = true;
        return true;
    }
    // Writers are kept out until the commit; readers go on reading the register as it was.
    bool lock()
    {
        if (!beginning(RestoreStep::Lock))
            return false;
        m_journal = hasJournal(db());
        m_journalNames = m_journal && hasJournalNames(db());
        QStringList tables{QStringLiteral("client"), QStringLiteral("vrYZD"),
                           QStringLiteral("clientKontCount"), QStringLiteral("clientNameChanges")};
        if (m_journal)
            tables << QStringLiteral("partMinimum") << QStringLiteral("partJournal");
        if (m_journalNames)
            tables << QStringLiteral("partJournalNames");
        QSqlQuery query(db());
        query.setForwardOnly(true);
        if (!query.exec(QStringLiteral("SET LOCAL lock_timeout = %1").arg(kLockWaitMs)))
            return fail(RestoreStep::Prepare, query.lastError());
        // Only a lock not granted in time is the step's own failure: the register is busy.
        if (!query.exec(QStringLiteral("LOCK TABLE %1 IN EXCLUSIVE MODE")
                            .arg(tables.join(QStringLiteral(", ")))))
            return fail(query.lastError().nativeErrorCode() == kLockNotAvailable
                            ? RestoreStep::Lock
                            : RestoreStep::Prepare,
                        query.lastError());
        if (!query.exec(QStringLiteral("SELECT n FROM clientNameChanges")) || !query.next())
            return fail(RestoreStep::Prepare, query.lastError());
        m_nameChanges = query.value(0).toLongLong();
        return true;
    }
    bool keepCurrent()
    {
        if (!beginning(RestoreStep::KeepCurrent))
            return false;
        const BackupResult kept = backupServerRegister(m_address, m_password, m_result.keptAs);
        return kept.ok() || fail(RestoreStep::KeepCurrent, kept.detail);
    }
    bool copy()
    {
        if (!beginning(RestoreStep::Copy))
            return false;
        QSqlDatabase server = db();
        QSqlQuery query(server);
        const auto failed = [&](const QSqlError& error) { return fail(RestoreStep::Copy, error); };
        // The triggers stand aside for this transaction: the rows are put in place below, the
        // counters set once and everything announced once.
        if (!query.exec(QStringLiteral("SET LOCAL tarvik.restoring = 'on'")))
            return failed(query.lastError());
        QSqlError error;
        if (!serverFunctionsCurrent(server) && !createServerFunctions(server, &error))
            return fail(RestoreStep::Copy,
                        withDetail(QStringLiteral("функции сервера этой программы не обновлены"),
                                   engineDetail(error)));
        m_rows = std::make_unique<RowsToServer>(m_file.connection(), server, m_control);
        if (!m_rows->countFile())
            return fail(RestoreStep::Copy, m_rows->result().error);
        // A copy's journal needs the server's tables for it, as a file gets them at its open.
        if (m_rows->fileHasJournal() && !m_journal) {
            if (!createJournalTables(server, &error) || !createJournalTriggers(server, &error))
                return failed(error);
            m_journal = m_journalNames = true;
        }
        QStringList tables;
        if (m_journalNames)
            tables << QStringLiteral("partJournalNames");
        if (m_journal)
            tables << QStringLiteral("partJournal") << QStringLiteral("partMinimum");
        tables << QStringLiteral("client") << QStringLiteral("vrYZD");
        for (const QString& table : tables) {
            if (!query.exec(QStringLiteral("DELETE FROM %1").arg(table)))
                return failed(query.lastError());
        }
        if (!m_rows->copyRows() || !m_rows->setNextNumbers() || !m_rows->setCounters())
            return fail(RestoreStep::Copy, m_rows->result().error);
        // The names the journal's entries carry, as its trigger would have put them down.
        if (m_journalNames &&
            !query.exec(QStringLiteral(
                "INSERT INTO partJournalNames (part, nameKey, name) SELECT DISTINCT part, "
                "nameKey, CASE WHEN nameKey IS NULL THEN name END FROM partJournal "
                "ON CONFLICT DO NOTHING")))
            return failed(query.lastError());
        // Whatever another program remembers of the names is older than this.
        query.prepare(QStringLiteral("UPDATE clientNameChanges SET n = greatest(n, ?) + 1"));
        query.addBindValue(m_nameChanges);
        if (!query.exec())
            return failed(query.lastError());
        // No number: everything changed, as after a TRUNCATE. Sent at the commit.
        return query.exec(
                   QStringLiteral("SELECT pg_notify('tarvik_parts', ':' || pg_backend_pid()), "
                                  "pg_notify('tarvik_types', ':' || pg_backend_pid())")) ||
               failed(query.lastError());
    }
    bool check()
    {
        if (!beginning(RestoreStep::Check))
            return false;
        if (!m_rows->check())
            return fail(RestoreStep::Check, m_rows->result().error);
        if (m_rows->parts() != m_result.copy.parts || m_rows->types() != m_result.copy.packageTypes)
            return fail(RestoreStep::Check, QStringLiteral("деталей %1 из %2, корпусов %3 из %4")
                                                .arg(m_rows->parts())
                                                .arg(m_result.copy.parts)
                                                .arg(m_rows->types())
                                                .arg(m_result.copy.packageTypes));
        return true;
    }
    bool commit()
    {
        if (!beginning(RestoreStep::Replace))
            return false;
        QSqlDatabase server = db();
        if (!server.commit())
            return fail(RestoreStep::Replace, server.lastError());
        m_begun = false;
        return true;
    }

    ServerAddress m_address;
    QString m_password;
    QString m_chosen;
    Connection m_file;
    ServerConnection m_server;
    CopyControl m_control;
    std::unique_ptr<RowsToServer> m_rows;
    bool m_begun = false;
    bool m_journal = false;      // the server keeps the journal and the minimums
    bool m_journalNames = false; // and the names of the journal's parts
    qint64 m_nameChanges = 0;    // the name-change counter as the lock found it
    RestoreResult m_result;
};

} // namespace

RestoreResult restoreServerRegister(const ServerAddress& address, const QString& password,
                                    const QString& copyPath, const QString& keepCurrentAs)
{
    return ServerRestorer(address, password, copyPath, keepCurrentAs).run();
}

QString describeServerRestoreFailure(const QString& server, const QString& copyPath,
                                     const RestoreResult& result)
{
    QString reason;
    switch (result.failedStep) {
    case RestoreStep::None:
        return {};
    case RestoreStep::CheckCopy:
        return describeUnusableCopy(copyPath, result.detail) +
               QStringLiteral(". База на сервере не изменилась.");
    case RestoreStep::Prepare:
        reason = QStringLiteral("не удалось начать запись на сервере");
        break;
    case RestoreStep::Lock:
        reason = QStringLiteral("база на сервере занята: другой компьютер ведёт в ней долгую "
                                "запись, повторите позже");
        break;
    case RestoreStep::KeepCurrent:
        reason = QStringLiteral("не удалось сохранить в файл «%1» копию текущей базы")
                     .arg(QDir::toNativeSeparators(result.keptAs));
        break;
    case RestoreStep::Copy:
        reason = QStringLiteral("не удалось записать на сервер строки копии");
        break;
    case RestoreStep::Check:
    case RestoreStep::Attributes:
    case RestoreStep::Flush:
        reason = QStringLiteral("записанное на сервере не совпало с копией");
        break;
    case RestoreStep::Replace:
        reason = QStringLiteral("сервер не сохранил восстановленное");
        break;
    }
    return withDetail(QStringLiteral("База на сервере %1 не восстановлена: ").arg(server) + reason,
                      result.detail) +
           QStringLiteral(". На сервере ничего не изменено.");
}

} // namespace tarvik

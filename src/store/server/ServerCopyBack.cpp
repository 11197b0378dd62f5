#include "store/server/ServerCopy.h"

#include "store/records/PartRow.h"
#include "store/records/Seeding.h"
#include "store/register/Connection.h"
#include "store/register/JournalSchema.h"
#include "store/register/Platform.h"
#include "store/server/ServerConnection.h"
#include "store/server/ServerSchema.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QVariant>

#include <limits>
#include <utility>

namespace tarvik {
namespace {

// Rows per page read from the server: pictures make a package type's row large.
constexpr int kPartsPage = 1000;
constexpr int kTypesPage = 50;

class FromServer {
public:
    FromServer(const QSqlDatabase& server, const CopyControl& control)
        : m_server(server),
          m_control(control)
    {
    }

    // Fills `seeder`; the server's read-only snapshot is opened and closed by the caller.
    bool copyInto(Seeder& seeder);
    // The counters and next numbers the new file takes over.
    bool readCounters();
    bool writeCounters(const QString& path);
    // The minimums and the journal, inside the server's snapshot, with the file's triggers
    // after them.
    bool copyJournal(const QString& path);

    ServerCopyResult result;

private:
    bool failed(const QString& what, const QSqlError& error = {})
    {
        result.error = describeServerFailure(what, error);
        return false;
    }
    bool step(qint64 rows)
    {
        m_done += rows;
        if (m_control.progress)
            m_control.progress(m_done, m_inAll);
        if (!m_control.cancelled())
            return true;
        result.outcome = ServerCopyResult::Outcome::Cancelled;
        return false;
    }

    QSqlDatabase m_server;
    const CopyControl& m_control;
    qint64 m_done = 0;
    qint64 m_inAll = 0;
    qint64 m_nameChanges = 0;
    qint64 m_lastPart = 0;
    qint64 m_lastType = 0;
};

bool FromServer::readCounters()
{
    QSqlQuery query(m_server);
    query.setForwardOnly(true);
    if (!query.exec(QStringLiteral(
            "SELECT (SELECT count(*) FROM client), (SELECT count(*) FROM vrYZD), "
            "(SELECT n FROM clientNameChanges LIMIT 1), "
            "pg_sequence_last_value(pg_get_serial_sequence('client', 'idnom')::regclass), "
            "pg_sequence_last_value(pg_get_serial_sequence('vryzd', 'idvrachyzd')::regclass)")) ||
        !query.next())
        return failed(QStringLiteral("Таблицы на сервере не читаются"), query.lastError());
    m_inAll = query.value(0).toLongLong() + query.value(1).toLongLong();
    m_nameChanges = query.value(2).toLongLong();
    m_lastPart = query.value(3).toLongLong();
    m_lastType = query.value(4).toLongLong();
    return true;
}

bool FromServer::copyInto(Seeder& seeder)
{
    QSqlQuery query(m_server);
    query.setForwardOnly(true);
    // Page by page in number order, so that a large register never sits in memory whole.
    qint64 after = -1;
    for (;;) {
        query.prepare(QStringLiteral("SELECT idnom, kont, idFam, pol, datebir, phone, sorp, "
                                     "PhotoN FROM client WHERE idnom > ? ORDER BY idnom LIMIT %1")
                          .arg(kPartsPage));
        query.addBindValue(after);
        if (!query.exec())
            return failed(QStringLiteral("Детали на сервере не читаются"), query.lastError());
        qint64 rows = 0;
        while (query.next()) {
            after = query.value(0).toLongLong();
            const PartRow part = PartRow::read(
                [&](const QString& column) { return query.value(query.record().indexOf(column)); });
            if (!seeder.addExistingPart(after, part))
                return failed(QStringLiteral("Новый файл не записывается: ") + seeder.error());
            ++rows;
            ++result.parts;
        }
        if (query.lastError().isValid())
            return failed(QStringLiteral("Детали на сервере не читаются"), query.lastError());
        if (!step(rows))
            return false;
        if (rows < kPartsPage)
            break;
    }
    after = -1;
    for (;;) {
        query.prepare(QStringLiteral("SELECT IDvrachYZD, yzdID, vrachYZD, name1, Photo1 FROM "
                                     "vrYZD WHERE IDvrachYZD > ? ORDER BY IDvrachYZD LIMIT %1")
                          .arg(kTypesPage));
        query.addBindValue(after);
        if (!query.exec())
            return failed(QStringLiteral("Корпуса на сервере не читаются"), query.lastError());
        qint64 rows = 0;
        while (query.next()) {
            after = query.value(0).toLongLong();
            const QByteArray picture = query.value(4).toByteArray();
            if (!seeder.addExistingPackageType(after, query.value(1), query.value(2).toString(),
                                               query.value(3).toString(), picture))
                return failed(QStringLiteral("Новый файл не записывается: ") + seeder.error());
            if (!picture.isEmpty()) {
                ++result.pictures;
                result.pictureBytes += picture.size();
            }
            ++rows;
            ++result.types;
        }
        if (query.lastError().isValid())
            return failed(QStringLiteral("Корпуса на сервере не читаются"), query.lastError());
        if (!step(rows))
            return false;
        if (rows < kTypesPage)
            break;
    }
    return true;
}

bool FromServer::writeCounters(const QString& path)
{
    Connection file;
    if (!file.open(path).ok())
        return failed(QStringLiteral("Новый файл не открывается"));
    QSqlDatabase db = file.connection();
    if (!db.transaction())
        return failed(QStringLiteral("Новый файл не записывается"), db.lastError());
    QSqlQuery query(db);
    const auto run = [&](const QString& sql, const QVariantList& values) {
        query.prepare(sql);
        for (const QVariant& value : values)
            query.addBindValue(value);
        return query.exec();
    };
    // Numbers the server gave once are not given again by the file either.
    bool ok = run(QStringLiteral("UPDATE clientNameChanges SET n = ?"), {m_nameChanges});
    for (const auto& [table, last] : {std::pair{QStringLiteral("client"), m_lastPart},
                                      std::pair{QStringLiteral("vrYZD"), m_lastType}}) {
        if (!ok || last <= 0)
            continue;
        ok = run(QStringLiteral("UPDATE sqlite_sequence SET seq = max(seq, ?) WHERE name = ?"),
                 {last, table});
        if (ok && query.numRowsAffected() == 0)
            ok = run(QStringLiteral("INSERT INTO sqlite_sequence (name, seq) VALUES (?, ?)"),
                     {table, last});
    }
    const QSqlError error = query.lastError();
    query.finish();
    if (!ok || !db.commit()) {
        db.rollback();
        return failed(QStringLiteral("Новый файл не записывается"), ok ? db.lastError() : error);
    }
    return true;
}

bool FromServer::copyJournal(const QString& path)
{
    if (!hasJournal(m_server))
        return true; // the file gets its own at its first open
    Connection file;
    if (!file.open(path).ok())
        return failed(QStringLiteral("Новый файл не открывается"));
    QSqlDatabase db = file.connection();
    QSqlError error;
    if (!db.transaction() || !createJournalTables(db, &error))
        return failed(QStringLiteral("Журнал в новом файле не создаётся"),
                      error.isValid() ? error : db.lastError());
    QSqlQuery read(m_server);
    read.setForwardOnly(true);
    QSqlQuery write(db);
    // The new file's triggers would put each minimum down as a new change: the one that
    // would is added again after the copy.
    if (!write.exec(QStringLiteral("DROP TRIGGER IF EXISTS partMinimum_journal_insert")))
        return failed(QStringLiteral("Новый файл не записывается"), write.lastError());
    const auto copyRows = [&](const QString& table, const QString& columns, const QString& key) {
        const int count = int(columns.count(QLatin1Char(',')) + 1);
        write.prepare(QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                          .arg(table, columns,
                               QStringList(count, QStringLiteral("?")).join(QStringLiteral(", "))));
        qint64 after = std::numeric_limits<qint64>::min();
        for (;;) {
            read.prepare(QStringLiteral("SELECT %1 FROM %2 WHERE %3 > ? ORDER BY %3 LIMIT %4")
                             .arg(columns, table, key)
                             .arg(kPartsPage));
            read.addBindValue(after);
            if (!read.exec())
                return failed(QStringLiteral("Журнал на сервере не читается"), read.lastError());
            int rows = 0;
            while (read.next()) {
                after = read.value(0).toLongLong();
                for (int c = 0; c < count; ++c)
                    write.addBindValue(read.value(c));
                if (!write.exec())
                    return failed(QStringLiteral("Новый файл не записывается"), write.lastError());
                ++rows;
            }
            if (rows < kPartsPage)
                return true;
        }
    };
    const bool copied =
        copyRows(QStringLiteral("partMinimum"), QStringLiteral("idnom, minimum"),
                 QStringLiteral("idnom")) &&
        copyRows(QStringLiteral("partJournal"),
                 QStringLiteral("entry, changedAt, computer, login, outside, action, operation, "
                                "part, name, nameKey, field, was, became"),
                 QStringLiteral("entry"));
    write.finish();
    if (!copied || !createJournalTriggers(db, &error) || !db.commit()) {
        db.rollback();
        return copied ? failed(QStringLiteral("Журнал в новом файле не создаётся"),
                               error.isValid() ? error : db.lastError())
                      : false;
    }
    return true;
}

QString temporaryNameBeside(const QString& path)
{
    const QFileInfo target(path);
    for (int n = 0;; ++n) {
        const QString candidate =
            target.absoluteDir().filePath(QStringLiteral(".%1.%2-%3.part")
                                              .arg(target.fileName())
                                              .arg(QCoreApplication::applicationPid())
                                              .arg(n));
        if (!QFileInfo::exists(candidate))
            return candidate;
    }
}

} // namespace

ServerCopyResult copyRegisterFromServer(const ServerAddress& address, const QString& filePath,
                                        const QString& password, const CopyControl& control)
{
    ServerCopyResult refused;
    if (QFileInfo::exists(filePath) || QFileInfo(filePath).isSymLink()) {
        refused.error = QStringLiteral("Файл «%1» уже есть; копия с сервера пишется только в "
                                       "новый файл.")
                            .arg(filePath);
        return refused;
    }
    ServerConnection server;
    if (!server.open(address, password)) {
        refused.error = server.error();
        return refused;
    }
    QSqlDatabase db = server.connection();
    bool holds = false;
    QSqlError error;
    if (!serverHoldsRegister(db, &holds, &error) || !holds) {
        refused.error = holds || error.isValid()
                            ? describeServerFailure(QStringLiteral("Таблицы на сервере не "
                                                                   "читаются"),
                                                    error)
                            : QStringLiteral("В базе данных на сервере %1 нет базы деталей.")
                                  .arg(address.display());
        return refused;
    }

    FromServer copy(db, control);
    const QString temporary = temporaryNameBeside(filePath);
    QSqlQuery snapshot(db);
    // One snapshot: rows, counters and numbers as they were at one moment, whatever other
    // computers change meanwhile.
    if (!snapshot.exec(QStringLiteral("BEGIN ISOLATION LEVEL REPEATABLE READ, READ ONLY"))) {
        refused.error = describeServerFailure(QStringLiteral("Сервер не начинает чтение"),
                                              snapshot.lastError());
        return refused;
    }
    bool written = false;
    {
        Seeder seeder(temporary);
        if (!seeder.ok())
            copy.result.error =
                QStringLiteral("Новый файл «%1» не создаётся: %2").arg(temporary, seeder.error());
        else if (copy.readCounters() && copy.copyInto(seeder)) {
            written = seeder.commit();
            if (!written)
                copy.result.error = QStringLiteral("Новый файл не записывается: ") + seeder.error();
            const Seeder::Written back = written ? seeder.readBack() : Seeder::Written{};
            if (written && (back.parts != copy.result.parts || back.types != copy.result.types ||
                            back.integrity != QLatin1String("ok"))) {
                copy.result.error = QStringLiteral("Новый файл не совпадает с сервером");
                written = false;
            }
        }
    }
    if (written)
        written = copy.copyJournal(temporary);
    snapshot.exec(QStringLiteral("ROLLBACK"));
    QString syncError;
    if (written)
        written = copy.writeCounters(temporary);
    if (written && !platform::syncFile(temporary, &syncError)) {
        copy.result.error = QStringLiteral("Новый файл не записан на диск: ") + syncError;
        written = false;
    }
    // The name is taken only if still free: a file that appeared meanwhile stays.
    if (written && !QFile::rename(temporary, filePath)) {
        copy.result.error = QStringLiteral("Файл «%1» не создан: на его месте уже что-то есть "
                                           "или папка не записывается.")
                                .arg(filePath);
        written = false;
    }
    if (!written) {
        QFile::remove(temporary);
        if (copy.result.outcome == ServerCopyResult::Outcome::Cancelled)
            copy.result.error.clear();
        return copy.result;
    }
    platform::syncFolder(QFileInfo(filePath).absolutePath(), &syncError);
    copy.result.outcome = ServerCopyResult::Outcome::Copied;
    return copy.result;
}

} // namespace tarvik

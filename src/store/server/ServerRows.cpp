#include "store/server/ServerRows.h"

#include "store/register/JournalSchema.h"
#include "store/server/ServerConnection.h"

#include <QCryptographicHash>
#include <QSqlQuery>
#include <QStringList>
#include <QVariant>

namespace tarvik {

// Named in the class's header, known only here.
struct RowTable {
    enum class Kind { Id, Text, Bytes };
    struct Column {
        const char* name;
        Kind kind;
    };

    const char* name;
    const char* what; // the row in the program's words: "деталь", "корпус"
    std::vector<Column> columns;
};

namespace {

// Rows per statement: one round trip to the server carries this many.
constexpr int kBatchRows = 100;

using Kind = RowTable::Kind;
using Column = RowTable::Column;

const RowTable kParts = {"client",
                         "деталь",
                         {{"idnom", Kind::Id},
                          {"kont", Kind::Text},
                          {"idFam", Kind::Text},
                          {"pol", Kind::Text},
                          {"datebir", Kind::Text},
                          {"phone", Kind::Text},
                          {"sorp", Kind::Text},
                          {"PhotoN", Kind::Text},
                          {"idFamKey", Kind::Text}}};
const RowTable kTypes = {"vrYZD",
                         "корпус",
                         {{"IDvrachYZD", Kind::Id},
                          {"yzdID", Kind::Text},
                          {"vrachYZD", Kind::Text},
                          {"name1", Kind::Text},
                          {"Photo1", Kind::Bytes}}};

// Kept beside the parts by this and later builds; a file of an earlier one has neither.
const RowTable kMinimums = {
    "partMinimum", "минимум", {{"idnom", Kind::Id}, {"minimum", Kind::Text}}};
const RowTable kJournal = {"partJournal",
                           "запись журнала",
                           {{"entry", Kind::Id},
                            {"changedAt", Kind::Text},
                            {"computer", Kind::Text},
                            {"login", Kind::Text},
                            {"outside", Kind::Id},
                            {"action", Kind::Text},
                            {"operation", Kind::Text},
                            {"part", Kind::Id},
                            {"name", Kind::Text},
                            {"nameKey", Kind::Text},
                            {"field", Kind::Text},
                            {"was", Kind::Text},
                            {"became", Kind::Text}}};

QStringList columnNames(const RowTable& table)
{
    QStringList names;
    for (const Column& column : table.columns)
        names << QLatin1String(column.name);
    return names;
}

// What the file's engine lets any column hold, as the server's text or bytea keeps it. The
// file keeps a number in a text column as text already; a number in yzdID goes over as its
// shortest exact digits and comes back as the same number. Text the server cannot hold
// (a NUL character, bytes that are no UTF-8 in a text column) is refused, not altered.
bool toServer(const QVariant& value, const QString& storedType, Kind kind, QVariant* out)
{
    switch (kind) {
    case Kind::Id:
        *out = value.toLongLong();
        return true;
    case Kind::Bytes:
        if (storedType == QLatin1String("null"))
            *out = QVariant(QMetaType::fromType<QByteArray>());
        else if (value.typeId() == QMetaType::QByteArray)
            // The engine hands a zero-length blob over as a null array: it is no NULL.
            *out = value.toByteArray().isNull() ? QByteArray("", 0) : value.toByteArray();
        else
            *out = value.toString().toUtf8();
        return true;
    case Kind::Text:
        break;
    }
    if (storedType == QLatin1String("null")) {
        *out = QVariant(QMetaType::fromType<QString>());
        return true;
    }
    QString text;
    if (value.typeId() == QMetaType::QByteArray) {
        const QByteArray bytes = value.toByteArray();
        text = QString::fromUtf8(bytes);
        if (text.toUtf8() != bytes)
            return false;
    } else {
        text = value.toString();
    }
    if (text.isNull())
        text = QLatin1String("");
    if (text.contains(QChar(0)))
        return false;
    *out = text;
    return true;
}

} // namespace

bool RowsToServer::failed(const QString& what, const QSqlError& error)
{
    m_result.error = describeServerFailure(what, error);
    return false;
}

bool RowsToServer::cancelled()
{
    if (!m_control.cancelled())
        return false;
    m_result.outcome = ServerCopyResult::Outcome::Cancelled;
    return true;
}

bool RowsToServer::countFile()
{
    qint64 minimums = 0, entries = 0;
    if (!count(kParts, &m_parts) || !count(kTypes, &m_types))
        return false;
    m_journal = hasJournal(m_file);
    if (m_journal && (!count(kMinimums, &minimums) || !count(kJournal, &entries)))
        return false;
    m_inAll = m_parts + m_types + minimums + entries;
    return true;
}

bool RowsToServer::copyRows()
{
    qint64 copiedParts = 0, copiedTypes = 0, copiedRows = 0;
    if (!copy(kParts, &copiedParts) || !copy(kTypes, &copiedTypes) ||
        (m_journal && (!copy(kMinimums, &copiedRows) || !copy(kJournal, &copiedRows))))
        return false;
    m_result.parts = copiedParts;
    m_result.types = copiedTypes;
    return true;
}

bool RowsToServer::count(const RowTable& table, qint64* rows)
{
    QSqlQuery query(m_file);
    if (!query.exec(QStringLiteral("SELECT count(*) FROM %1").arg(QLatin1String(table.name))) ||
        !query.next())
        return failed(QStringLiteral("Файл базы данных не читается"), query.lastError());
    *rows = query.value(0).toLongLong();
    return true;
}

bool RowsToServer::prepareInsert(const RowTable& table, int rows, QSqlQuery* statement)
{
    const QStringList names = columnNames(table);
    const QString row = QLatin1Char('(') +
                        QStringList(names.size(), QStringLiteral("?")).join(QStringLiteral(", ")) +
                        QLatin1Char(')');
    *statement = QSqlQuery(m_server);
    return statement->prepare(QStringLiteral("INSERT INTO %1 (%2) VALUES %3")
                                  .arg(QLatin1String(table.name), names.join(QStringLiteral(", ")),
                                       QStringList(rows, row).join(QStringLiteral(", ")))) ||
           failed(QStringLiteral("Запись на сервер не готовится"), statement->lastError());
}

bool RowsToServer::insert(const RowTable& table, QSqlQuery& statement, const QVariantList& values)
{
    for (const QVariant& value : values)
        statement.addBindValue(value);
    if (!statement.exec())
        return failed(
            QStringLiteral("Сервер не принял строки таблицы %1").arg(QLatin1String(table.name)),
            statement.lastError());
    statement.finish();
    m_done += values.size() / qsizetype(table.columns.size());
    if (m_control.progress)
        m_control.progress(m_done, m_inAll);
    return true;
}

bool RowsToServer::copy(const RowTable& table, qint64* copied)
{
    // Each field with its stored type: the engine hands a NULL and a zero-length value over
    // alike.
    QStringList fields;
    for (const Column& column : table.columns)
        fields << QLatin1String(column.name) << QStringLiteral("typeof(%1)").arg(column.name);
    QSqlQuery read(m_file);
    read.setForwardOnly(true);
    if (!read.exec(QStringLiteral("SELECT %1 FROM %2 ORDER BY %3")
                       .arg(fields.join(QStringLiteral(", ")), QLatin1String(table.name),
                            QLatin1String(table.columns.front().name))))
        return failed(QStringLiteral("Файл базы данных не читается"), read.lastError());
    QSqlQuery full;
    if (!prepareInsert(table, kBatchRows, &full))
        return false;
    QVariantList values;
    int rows = 0;
    while (read.next()) {
        const qint64 id = read.value(0).toLongLong();
        for (int c = 0; c < int(table.columns.size()); ++c) {
            const Column& column = table.columns[size_t(c)];
            const QString storedType = read.value(2 * c + 1).toString();
            QVariant value;
            if (!toServer(read.value(2 * c), storedType, column.kind, &value))
                return failed(QStringLiteral("В поле %1 (%2 № %3) текст, который сервер не "
                                             "хранит: знак с кодом 0 или байты не в UTF-8")
                                  .arg(QLatin1String(column.name), QLatin1String(table.what))
                                  .arg(id));
            if (column.kind == Kind::Bytes) {
                const QByteArray bytes = value.toByteArray();
                m_pictures.push_back({id, storedType == QLatin1String("null"), bytes.size(),
                                      QCryptographicHash::hash(bytes, QCryptographicHash::Sha256)});
            }
            values << value;
        }
        if (++rows == kBatchRows) {
            if (!insert(table, full, values))
                return false;
            if (cancelled())
                return false;
            values.clear();
            rows = 0;
        }
        ++*copied;
    }
    if (read.lastError().isValid())
        return failed(QStringLiteral("Файл базы данных не читается"), read.lastError());
    if (rows > 0) {
        QSqlQuery tail;
        if (!prepareInsert(table, rows, &tail) || !insert(table, tail, values))
            return false;
    }
    return !cancelled();
}

// The next number each table gives is where the file's would be: numbers of deleted parts
// are not given again, as on the file.
bool RowsToServer::setNextNumbers()
{
    QSqlQuery file(m_file);
    QSqlQuery server(m_server);
    for (const RowTable* table : {&kParts, &kTypes, &kJournal}) {
        if (table == &kJournal && !m_journal)
            continue;
        const QString name = QLatin1String(table->name);
        const QString id = QLatin1String(table->columns.front().name);
        qint64 next = 0;
        if (file.exec(QStringLiteral("SELECT max(id) FROM (SELECT max(%1) AS id FROM %2 UNION "
                                     "ALL SELECT seq FROM sqlite_sequence WHERE name = '%2')")
                          .arg(id, name)) &&
            file.next())
            next = file.value(0).toLongLong();
        else if (!file.exec(QStringLiteral("SELECT max(%1) FROM %2").arg(id, name)) || !file.next())
            return failed(QStringLiteral("Файл базы данных не читается"), file.lastError());
        else
            next = file.value(0).toLongLong();
        file.finish();
        if (next <= 0)
            continue;
        server.prepare(QStringLiteral("SELECT setval(pg_get_serial_sequence('%1', '%2'), ?)")
                           .arg(name.toLower(), id.toLower()));
        server.addBindValue(next);
        if (!server.exec())
            return failed(QStringLiteral("Нумерация на сервере не установлена"),
                          server.lastError());
    }
    return true;
}

// The record count is counted afresh; the name-change counter goes on from the file's.
bool RowsToServer::setCounters()
{
    QSqlQuery file(m_file);
    qint64 nameChanges = 0;
    if (file.exec(QStringLiteral("SELECT n FROM clientNameChanges")) && file.next())
        nameChanges = file.value(0).toLongLong();
    file.finish();
    QSqlQuery server(m_server);
    if (!server.exec(QStringLiteral("UPDATE clientKontCount SET n = (SELECT count(kont) FROM "
                                    "client)")))
        return failed(QStringLiteral("Счётчик записей на сервере не установлен"),
                      server.lastError());
    server.prepare(QStringLiteral("UPDATE clientNameChanges SET n = ?"));
    server.addBindValue(nameChanges);
    return server.exec() ||
           failed(QStringLiteral("Счётчик изменений на сервере не установлен"), server.lastError());
}

bool RowsToServer::check()
{
    QSqlQuery server(m_server);
    server.setForwardOnly(true);
    if (!server.exec(QStringLiteral("SELECT (SELECT count(*) FROM client), (SELECT count(*) FROM "
                                    "vrYZD)")) ||
        !server.next())
        return failed(QStringLiteral("Записанное на сервере не читается"), server.lastError());
    if (server.value(0).toLongLong() != m_parts || server.value(1).toLongLong() != m_types)
        return failed(QStringLiteral("На сервере не столько строк, сколько в файле: деталей %1 "
                                     "из %2, корпусов %3 из %4")
                          .arg(server.value(0).toLongLong())
                          .arg(m_parts)
                          .arg(server.value(1).toLongLong())
                          .arg(m_types));
    server.finish();
    if (!server.exec(QStringLiteral("SELECT IDvrachYZD, Photo1 IS NULL, length(Photo1), "
                                    "sha256(Photo1) FROM vrYZD ORDER BY IDvrachYZD")))
        return failed(QStringLiteral("Рисунки на сервере не читаются"), server.lastError());
    size_t i = 0;
    for (; server.next(); ++i) {
        const PictureCheck* sent = i < m_pictures.size() ? &m_pictures[i] : nullptr;
        const bool isNull = server.value(1).toBool();
        if (!sent || sent->id != server.value(0).toLongLong() || sent->isNull != isNull ||
            (!isNull && (sent->length != server.value(2).toLongLong() ||
                         sent->sha256 != server.value(3).toByteArray())))
            return failed(QStringLiteral("Рисунок корпуса № %1 на сервере не совпадает с файлом")
                              .arg(server.value(0).toLongLong()));
        if (!isNull && sent->length > 0) {
            ++m_result.pictures;
            m_result.pictureBytes += sent->length;
        }
    }
    if (server.lastError().isValid() || i != m_pictures.size())
        return failed(QStringLiteral("Рисунки на сервере не читаются"), server.lastError());
    return true;
}

} // namespace tarvik

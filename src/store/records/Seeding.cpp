#include "store/records/Seeding.h"

#include "store/register/JournalSchema.h"
#include "store/register/NameKeys.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>

// The schema is a resource of a static library: it must be pulled in explicitly.
static void initStoreResources()
{
    Q_INIT_RESOURCE(store);
}

namespace tarvik {
namespace {

bool isDiskFull(const QSqlError& error)
{
    constexpr int kSqliteFull = 13;
    // A failed COMMIT reaches us without the engine's code, only with its words.
    return (error.nativeErrorCode().toInt() & 0xff) == kSqliteFull ||
           error.databaseText().contains(QLatin1String("disk is full"));
}

QStringList schemaStatements()
{
    initStoreResources();
    QFile file(QStringLiteral(":/store/schema.sql"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QString text = QString::fromUtf8(file.readAll());
    // Statements end with ";" at a line's end; trigger bodies end with "END;".
    QStringList statements;
    QString current;
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        const QString code = line.section(QStringLiteral("--"), 0, 0);
        current += code + QLatin1Char('\n');
        const QString trimmed = code.trimmed();
        const bool inTrigger = current.contains(QLatin1String("CREATE TRIGGER"));
        if (trimmed.endsWith(QLatin1Char(';')) &&
            (!inTrigger || trimmed == QLatin1String("END;"))) {
            statements << current.trimmed();
            current.clear();
        }
    }
    return statements;
}

} // namespace

Seeder::Seeder(const QString& path) : m_path(path)
{
    if (QFileInfo::exists(path)) {
        m_error = QStringLiteral("файл или папка с этим именем уже есть");
        return;
    }
    // The only place that may create a file: an empty one, then opened like any other.
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        m_error = QStringLiteral("файл не создаётся: ") + file.errorString();
        return;
    }
    file.close();

    // A 0-byte file is a valid empty database; the tables come next.
    const OpenResult opened = m_db.open(path);
    QSqlDatabase db = m_db.connection();
    if (!db.isOpen()) {
        m_error =
            withDetail(QStringLiteral("новый файл не открывается"), engineDetail(opened.detail));
        return;
    }
    QSqlQuery query(db);
    // A large cache keeps the name index from being rewritten page by page in big files.
    query.exec(QStringLiteral("PRAGMA cache_size = -262144"));
    if (!db.transaction()) {
        m_error =
            withDetail(QStringLiteral("новый файл не записывается"), engineDetail(db.lastError()));
        return;
    }
    const QStringList schema = schemaStatements();
    if (schema.isEmpty()) {
        m_error = QStringLiteral("в программе нет описания таблиц");
        return;
    }
    for (const QString& statement : schema) {
        if (!query.exec(statement) && !fail(QStringLiteral("таблицы не созданы"), query))
            return;
    }
    if (!addNameKeyTriggers(db)) {
        m_error = QStringLiteral("не созданы триггеры ключа имени");
        return;
    }
    QStringList partColumns;
    for (const PartRow::Field& field : PartRow::kFields)
        partColumns << QLatin1String(field.column);
    partColumns << QStringLiteral("idFamKey");
    m_insertPart = QSqlQuery(db);
    if (!m_insertPart.prepare(QStringLiteral("INSERT INTO client (%1) VALUES (%2)")
                                  .arg(partColumns.join(QStringLiteral(", ")),
                                       QStringList(partColumns.size(), QStringLiteral("?"))
                                           .join(QStringLiteral(", ")))))
        fail(QStringLiteral("запись деталей не готовится"), m_insertPart);
    m_insertType = QSqlQuery(db);
    if (!m_insertType.prepare(
            QStringLiteral("INSERT INTO vrYZD (yzdID, vrachYZD, name1, Photo1) "
                           "VALUES ((SELECT MAX(IDvrachYZD) + 1 FROM vrYZD), ?, ?, ?)")))
        fail(QStringLiteral("запись корпусов не готовится"), m_insertType);
    m_insertExistingPart = QSqlQuery(db);
    if (!m_insertExistingPart.prepare(
            QStringLiteral("INSERT INTO client (idnom, kont, idFam, pol, datebir, phone, sorp, "
                           "PhotoN, idFamKey) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)")))
        fail(QStringLiteral("запись деталей не готовится"), m_insertExistingPart);
    m_insertExistingType = QSqlQuery(db);
    if (!m_insertExistingType.prepare(
            QStringLiteral("INSERT INTO vrYZD (IDvrachYZD, yzdID, vrachYZD, name1, Photo1) "
                           "VALUES (?, ?, ?, ?, ?)")))
        fail(QStringLiteral("запись корпусов не готовится"), m_insertExistingType);
}

Seeder::~Seeder()
{
    m_insertPart = QSqlQuery();
    m_insertType = QSqlQuery();
    m_insertExistingPart = QSqlQuery();
    m_insertExistingType = QSqlQuery();
    if (!m_committed && m_db.isOpen()) {
        m_db.connection().rollback();
        m_db.close();
        QFile::remove(m_path); // a half-written file must not pass for a register
    }
}

bool Seeder::fail(const QString& what, const QSqlQuery& query)
{
    if (isDiskFull(query.lastError()))
        m_diskFull = true;
    const QString words = engineDetail(query.lastError());
    m_error = words.isEmpty() ? what : what + QStringLiteral(": ") + words;
    return false;
}

bool Seeder::addPackageType(const QString& name, const QString& fileName, const QByteArray& picture)
{
    if (!ok())
        return false;
    m_insertType.addBindValue(name.toUpper());
    m_insertType.addBindValue(fileName);
    m_insertType.addBindValue(picture);
    return m_insertType.exec() ||
           fail(QStringLiteral("не записан корпус «%1»").arg(name), m_insertType);
}

bool Seeder::addPart(const PartRow& part)
{
    if (!ok())
        return false;
    for (const PartRow::Field& field : PartRow::kFields)
        m_insertPart.addBindValue(part.*field.member);
    m_insertPart.addBindValue(nameKey(part.idFam));
    return m_insertPart.exec() ||
           fail(QStringLiteral("не записана деталь «%1»").arg(part.idFam), m_insertPart);
}

bool Seeder::commit()
{
    if (!ok())
        return false;
    m_insertPart.finish();
    m_insertType.finish();
    m_insertExistingPart.finish();
    m_insertExistingType.finish();
    // The journal comes last: the rows seeded here are no changes, and they keep the places
    // in the file they had before there was one.
    QSqlError journalError;
    if (!createJournalTables(m_db.connection(), &journalError) ||
        !createJournalTriggers(m_db.connection(), &journalError)) {
        m_error =
            withDetail(QStringLiteral("не создан журнал изменений"), engineDetail(journalError));
        return false;
    }
    if (!m_db.connection().commit()) {
        const QSqlError error = m_db.connection().lastError();
        m_diskFull = isDiskFull(error);
        const QString words = engineDetail(error);
        m_error = QStringLiteral("записанное не сохранено") +
                  (words.isEmpty() ? QString() : QStringLiteral(": ") + words);
        return false;
    }
    m_committed = true;
    return true;
}

bool Seeder::addExistingPackageType(qint64 id, const QVariant& yzdID, const QString& name,
                                    const QString& fileName, const QByteArray& picture)
{
    if (!ok())
        return false;
    m_insertExistingType.addBindValue(id);
    m_insertExistingType.addBindValue(yzdID.isNull() ? QVariant() : yzdID);
    m_insertExistingType.addBindValue(name);
    m_insertExistingType.addBindValue(fileName);
    m_insertExistingType.addBindValue(picture);
    return m_insertExistingType.exec() ||
           fail(QStringLiteral("не записан корпус № %1").arg(id), m_insertExistingType);
}

bool Seeder::addExistingPart(qint64 idnom, const PartRow& part)
{
    if (!ok())
        return false;
    m_insertExistingPart.addBindValue(idnom);
    for (const QString* value :
         {&part.kont, &part.idFam, &part.pol, &part.datebir, &part.phone, &part.sorp, &part.PhotoN})
        m_insertExistingPart.addBindValue(*value);
    m_insertExistingPart.addBindValue(nameKey(part.idFam));
    return m_insertExistingPart.exec() ||
           fail(QStringLiteral("не записана деталь № %1").arg(idnom), m_insertExistingPart);
}

Seeder::Written Seeder::readBack()
{
    Written written;
    if (!m_committed)
        return written;
    QSqlQuery query(m_db.connection());
    if (query.exec(QStringLiteral("PRAGMA integrity_check")) && query.next())
        written.integrity = query.value(0).toString();
    query.finish();
    if (query.exec(QStringLiteral("SELECT (SELECT COUNT(*) FROM client), (SELECT COUNT(*) FROM "
                                  "vrYZD), (SELECT n FROM clientKontCount), (SELECT COUNT(kont) "
                                  "FROM client)")) &&
        query.next()) {
        written.parts = query.value(0).toLongLong();
        written.types = query.value(1).toLongLong();
        written.counted = query.value(2).toLongLong();
        written.kontValues = query.value(3).toLongLong();
    }
    return written;
}

FirstRegister createFirstRegister(const QString& path, const QString& demo)
{
    FirstRegister made;
    const QFileInfo target(path);
    if (target.exists()) {
        made.error = QStringLiteral("файл или папка с этим именем уже есть");
        return made;
    }
    if (!QDir().mkpath(target.absolutePath())) {
        made.error = QStringLiteral("папка %1 не создаётся").arg(target.absolutePath());
        return made;
    }
    if (QFileInfo::exists(demo)) {
        QFile copy(demo);
        if (!copy.copy(path)) {
            made.error = QStringLiteral("копия не создаётся: ") + copy.errorString();
            QFile::remove(path);
            return made;
        }
        // An installed demo is read-only; the user's copy is the user's to change.
        QFile::setPermissions(path,
                              QFile::permissions(path) | QFile::ReadOwner | QFile::WriteOwner);
        made.fromDemo = true;
        return made;
    }
    Seeder empty(path);
    if (!empty.ok() || !empty.commit()) {
        made.error = empty.error();
        QFile::remove(path);
    }
    return made;
}

} // namespace tarvik

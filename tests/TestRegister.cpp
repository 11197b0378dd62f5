#include "TestRegister.h"

#include "TestServer.h"

#include "store/records/RecordSource.h"
#include "store/register/JournalSchema.h"
#include "store/server/ServerCopy.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QSqlError>
#include <QSqlField>
#include <QSqlQuery>
#include <QTest>

#ifndef Q_OS_WIN
#include <sys/stat.h>
#endif

namespace tarvik::test {

PartRow part(const QString& name, const QString& price, const QString& quantity,
             const QString& package, const QString& notes)
{
    return {
        QStringLiteral("01%1").arg(name.size()), name, price, package, quantity, notes, package};
}

QByteArray picture(const QColor& colour, const char* format, int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(colour);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

void typeText(QWidget* widget, const QString& text)
{
    for (const QChar ch : text) {
        const Qt::Key key = ch.unicode() < 0x80 && ch.isLetterOrNumber()
                                ? Qt::Key(ch.toUpper().unicode())
                                : Qt::Key_unknown;
        QTest::sendKeyEvent(QTest::Click, widget, key, QString(ch), Qt::NoModifier);
    }
}

bool makeNonFile(const QString& path, const QString& kind)
{
    if (kind == QLatin1String("folder"))
        return QDir().mkdir(path);
#ifdef Q_OS_WIN
    return false;
#else
    return ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0;
#endif
}

void nonFileRows(const QString& folderWords, const QString& pipeWords)
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("named");
    QTest::newRow("folder") << "folder" << folderWords;
#ifndef Q_OS_WIN
    QTest::newRow("pipe") << "pipe" << pipeWords;
#else
    Q_UNUSED(pipeWords);
#endif
}

bool onServerBackend()
{
    static const bool server = qEnvironmentVariable("TARVIK_TEST_BACKEND") == "server";
    return server;
}

TestRegister::TestRegister()
{
    QDir(m_dir.path()).mkpath(QStringLiteral("base"));
}

// The registers go before the database they are connected to.
TestRegister::~TestRegister()
{
    m_elsewhere.reset();
    m_owner.reset();
}

ScratchServerDatabase& TestRegister::server()
{
    if (!m_server) {
        m_server = std::make_unique<ScratchServerDatabase>();
        if (!m_server->ok())
            qFatal("no database on the test server: %s", qPrintable(m_server->error()));
    }
    return *m_server;
}

Register& TestRegister::owner()
{
    if (!m_owner) {
        m_owner = onServerBackend() ? std::make_unique<Register>(server().address())
                                    : std::make_unique<Register>(databasePath());
    }
    return *m_owner;
}

OpenResult TestRegister::openView(RecordSource& source)
{
    if (!onServerBackend())
        return source.open(databasePath());
    if (!m_elsewhere)
        m_elsewhere = std::make_unique<Register>(server().address());
    return source.open(*m_elsewhere);
}

OpenResult TestRegister::openView(Connection& db)
{
    return onServerBackend() ? db.open(server().address()) : db.open(databasePath());
}

QString TestRegister::runAsOtherClient(const QString& sql)
{
    if (onServerBackend())
        return server().run(sql);
    const QString name = QStringLiteral("test-elsewhere");
    QString error;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(databasePath());
        if (!db.open()) {
            error = db.lastError().text();
        } else {
            QSqlQuery query(db);
            if (!query.exec(sql))
                error = query.lastError().text();
        }
    }
    QSqlDatabase::removeDatabase(name);
    return error;
}

bool TestRegister::write(const QList<PartRow>& parts, const QList<Package>& packages)
{
    Seeder seeder(databasePath());
    for (const Package& package : packages)
        seeder.addPackageType(package.name, package.name.toLower() + QStringLiteral(".bmp"),
                              package.picture);
    for (const PartRow& row : parts)
        seeder.addPart(row);
    const bool committed = seeder.commit();
    if (!committed) {
        qWarning("test register not written: %s", qPrintable(seeder.error()));
        return false;
    }
    if (!onServerBackend())
        return true;
    // The file goes once copied: a case that still reads it fails instead of passing on it.
    const ServerCopyResult copied = copyRegisterToServer(databasePath(), server().address());
    if (!copied.ok()) {
        qWarning("test register not copied to the server: %s", qPrintable(copied.error));
        return false;
    }
    return QFile::remove(databasePath());
}

QList<QVariantMap> TestRegister::storedParts() const
{
    std::unique_ptr<Register> reader; // a register of its own: its reads are no window's
    RecordSource source;
    if (onServerBackend()) {
        if (!m_server)
            return {};
        reader = std::make_unique<Register>(m_server->address());
        source.open(*reader);
    } else {
        source.open(databasePath());
    }
    source.setStatement(Statements::partsInStoredOrder());
    source.refresh();
    QList<QVariantMap> rows;
    for (int row = 0; row < source.recordCount(); ++row) {
        source.setCurrentRow(row);
        QVariantMap values;
        for (const char* name :
             {"idnom", "kont", "idFam", "pol", "datebir", "phone", "sorp", "PhotoN", "idFamKey"})
            values.insert(QLatin1String(name), source.field(QLatin1String(name)));
        rows << values;
    }
    return rows;
}

QStringList TestRegister::storedNames() const
{
    QStringList names;
    for (const QVariantMap& row : storedParts())
        names << row.value(QStringLiteral("idFam")).toString();
    return names;
}

bool TestRegister::withoutJournal(const std::function<void()>& change, bool restore)
{
    {
        Connection db;
        if (!db.open(databasePath()).ok())
            return false;
        QSqlQuery query(db.connection());
        for (const char* trigger :
             {"client_journal_insert", "client_journal_update", "client_journal_delete"}) {
            if (!query.exec(QStringLiteral("DROP TRIGGER %1").arg(QLatin1String(trigger))))
                return false;
        }
    }
    change();
    if (!restore)
        return true;
    Connection db;
    return db.open(databasePath()).ok() && createJournalTriggers(db.connection(), nullptr);
}

} // namespace tarvik::test

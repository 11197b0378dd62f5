#include "TestJournal.h"

#include <QApplication>

void addBackRows()
{
    QTest::addColumn<bool>("onServer");
    QTest::newRow("file") << false;
    QTest::newRow("server") << true;
}

bool JournalFixture::open(const QList<PartRow>& parts)
{
    if (m_back == Back::Server) {
        m_server = std::make_unique<ServerRegister>();
        if (!m_server->write(parts)) {
            qWarning("server register not written: %s", qPrintable(m_server->error()));
            return false;
        }
    } else if (!m_file.write(parts)) {
        return false;
    }
    const OpenResult checked = owner().check();
    if (!checked.ok()) {
        qWarning("register not opened: %s", qPrintable(checked.detail));
        return false;
    }
    return owner().connect(m_db).ok();
}

Register& JournalFixture::owner()
{
    return m_server ? m_server->owner() : m_file.owner();
}

qint64 JournalFixture::idOf(const QString& name)
{
    QSqlQuery query(m_db.connection());
    query.prepare(QStringLiteral("SELECT idnom FROM client WHERE idFam = ?"));
    query.addBindValue(name);
    return query.exec() && query.next() ? query.value(0).toLongLong() : -1;
}

QSqlDatabase JournalFixture::plain()
{
    if (m_server)
        return m_server->server().connection();
    if (m_plainName.isEmpty()) {
        static int count = 0;
        m_plainName = QStringLiteral("journal-plain-%1").arg(++count);
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_plainName);
        db.setDatabaseName(m_file.databasePath());
        db.open();
    }
    return QSqlDatabase::database(m_plainName, false);
}

QString JournalFixture::runPlain(const QString& sql)
{
    QSqlQuery query(plain());
    return query.exec(sql) ? QString() : query.lastError().text();
}

void dropJournal(const QString& path)
{
    Connection db;
    QVERIFY(db.open(path).ok());
    QSqlQuery query(db.connection());
    for (const char* sql :
         {"DROP TRIGGER client_journal_insert", "DROP TRIGGER client_journal_update",
          "DROP TRIGGER client_journal_delete", "DROP TABLE partJournal", "DROP TABLE partMinimum",
          "DROP TABLE journalContext", "DROP TABLE partJournalNames"})
        QVERIFY2(query.exec(QLatin1String(sql)), sql);
}

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    TestJournal test;
    return QTest::qExec(&test, argc, argv);
}

#include "moc_TestJournal.cpp"

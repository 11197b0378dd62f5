#include "TestStock.h"

#include "app/Startup.h"
#include "gui/MessageBox.h"
#include "store/search/StockFigures.h"

#include <QApplication>
#include <QLocale>
#include <QSqlError>
#include <QSqlQuery>
#include <QStatusBar>

void addBackRows()
{
    QTest::addColumn<bool>("onServer");
    QTest::newRow("file") << false;
    QTest::newRow("server") << true;
}

StockFixture::~StockFixture()
{
    m_probe.closeWindow();
    if (!m_plainName.isEmpty())
        QSqlDatabase::removeDatabase(m_plainName);
}

bool StockFixture::open(const QList<PartRow>& parts)
{
    if (m_onServer) {
        m_server = std::make_unique<ServerRegister>();
        if (!m_server->write(parts)) {
            qWarning("server register not written: %s", qPrintable(m_server->error()));
            return false;
        }
        m_probe.m_window = std::make_unique<Form1>(m_server->file().paths(), owner());
    } else {
        m_probe.m_register = std::make_unique<TestRegister>();
        if (!m_probe.m_register->write(parts))
            return false;
        m_probe.m_window = std::make_unique<Form1>(m_probe.m_register->paths(), owner());
    }
    m_probe.m_window->show();
    if (!QTest::qWaitForWindowExposed(m_probe.m_window.get()))
        return false;
    waitForList(*m_probe.m_window);
    if (!QTest::qWaitFor([this] { return m_probe.m_window->stockFigures()->isReady(); }, 20000))
        return false;
    m_probe.grid()->setFocus();
    return true;
}

Register& StockFixture::owner()
{
    return m_server ? m_server->owner() : m_probe.m_register->owner();
}

QSqlDatabase StockFixture::plain()
{
    if (m_server)
        return m_server->server().connection();
    if (m_plainName.isEmpty()) {
        static int count = 0;
        m_plainName = QStringLiteral("stock-plain-%1").arg(++count);
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_plainName);
        db.setDatabaseName(m_probe.m_register->databasePath());
        db.open();
    }
    return QSqlDatabase::database(m_plainName, false);
}

QString StockFixture::runPlain(const QString& sql)
{
    QSqlQuery query(plain());
    return query.exec(sql) ? QString() : query.lastError().text();
}

QVariant StockFixture::plainValue(const QString& sql)
{
    QSqlQuery query(plain());
    return query.exec(sql) && query.next() ? query.value(0) : QVariant();
}

qint64 StockFixture::idOf(const QString& name)
{
    QSqlQuery query(plain());
    query.prepare(QStringLiteral("SELECT idnom FROM client WHERE idFam = ?"));
    query.addBindValue(name);
    return query.exec() && query.next() ? query.value(0).toLongLong() : -1;
}

QString StockFixture::status(const char* label) const
{
    auto* widget = m_probe.m_window->statusBar()->findChild<QLabel*>(QLatin1String(label));
    if (!widget)
        qFatal("no status label %s", label);
    return widget->isVisibleTo(m_probe.m_window.get()) ? widget->text() : QString();
}

void StockFixture::settle()
{
    m_probe.m_window->stockFigures()->checkNow();
}

void TestStock::initTestCase()
{
    prepareApplication(*qApp);
}

void TestStock::cleanup()
{
    MessageBox::takeShown();
    QLocale::setDefault(QLocale::c());
}

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    TestStock test;
    return QTest::qExec(&test, argc, argv);
}

#include "moc_TestStock.cpp"

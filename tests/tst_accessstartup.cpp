// Start-up with an Access register in the register's place.
#include "AccessFixtures.h"
#include "TestRegister.h"

#include "app/AccessImportStartup.h"
#include "app/Form1.h"
#include "app/MessageBox.h"
#include "app/Startup.h"

#include <QApplication>
#include <QTest>

using namespace tarvik;
using namespace tarvik::test;

class TestAccessStartup : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { prepareApplication(*qApp); }
};

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    TestAccessStartup test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_accessstartup.moc"

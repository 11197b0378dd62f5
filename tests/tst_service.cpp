// Help, the about window, and the service commands of the main window.
#include "TestRegister.h"

#include "app/Form1.h"
#include "app/Startup.h"
#include "gui/MessageBox.h"
#include "gui/ProgramEnd.h"
#include "gui/Shell.h"
#include "service/Form21.h"
#include "service/Help.h"
#include "store/records/RecordSource.h"
#include "store/register/Compaction.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QImageReader>
#include <QLabel>
#include <QMenuBar>
#include <QTest>
#include <QTimer>
#include <QUrlQuery>

using namespace tarvik;
using namespace tarvik::test;

namespace {

struct Started {
    QString program;
    QStringList arguments;
};

// Closes the modal window that opens next, after `look` has seen it.
void whenModalOpens(std::function<void(QWidget*)> look)
{
    QTimer::singleShot(0, [look] {
        QWidget* modal = QApplication::activeModalWidget();
        look(modal);
        if (modal)
            modal->close();
    });
}

} // namespace

class TestService : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void helpStartsViewerAndSaysOnlyWhenItIsMissing_data();
    void helpStartsViewerAndSaysOnlyWhenItIsMissing();
    void aboutWindowShowsItsDesign();
    void mailLinkOnAnyButtonAndWebLinkOnClick();
    void aboutOpensAFreshModalWindowOverTheMainWindow();
    void compressEndsTheProgramWithoutTheExitQuestion();
    void failedCompressSaysSoAndStillEnds();
    void helpItemIsOffButReachesHelp();

private:
    QList<Started> m_started;
    QList<QUrl> m_opened;
    Shell::Start m_startAnswer = Shell::Start::Started;
    int m_ends = 0;
};

void TestService::initTestCase()
{
    prepareApplication(*qApp);
    Shell::setProgramStarter([this](const QString& program, const QStringList& arguments) {
        m_started << Started{program, arguments};
        return m_startAnswer;
    });
    Shell::setUrlOpener([this](const QUrl& url) {
        m_opened << url;
        return true;
    });
    ProgramEnd::setStandIn([this] { ++m_ends; });
}

void TestService::init()
{
    m_started.clear();
    m_opened.clear();
    m_startAnswer = Shell::Start::Started;
    m_ends = 0;
    MessageBox::takeShown();
}

void TestService::cleanup()
{
    failNextCompactionAt(CompactionStep::None);
}

void TestService::helpStartsViewerAndSaysOnlyWhenItIsMissing_data()
{
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("message");
    QTest::newRow("started") << int(Shell::Start::Started) << false;
    QTest::newRow("viewer missing") << int(Shell::Start::NotFound) << true;
    QTest::newRow("other failure") << int(Shell::Start::Failed) << false;
}

void TestService::helpStartsViewerAndSaysOnlyWhenItIsMissing()
{
    QFETCH(int, answer);
    QFETCH(bool, message);
    m_startAnswer = Shell::Start(answer);
    if (message)
        MessageBox::setNextAnswer(QMessageBox::Ok);
    const QString folder = QStringLiteral("/opt/Тарвик с пробелами");
    showHelp(nullptr, ProgramPaths(folder + QLatin1Char('/')));

    QCOMPARE(m_started.size(), 1);
    QCOMPARE(m_started[0].program, QStringLiteral("HH.exe"));
    // The help file, whole, as one argument (blanks and all).
    QCOMPARE(m_started[0].arguments,
             QStringList{QDir::toNativeSeparators(folder + QStringLiteral("/vorlend.chm"))});
    const QList<MessageBox::Shown> shown = MessageBox::takeShown();
    QCOMPARE(shown.size(), message ? 1 : 0);
    if (message) {
        QCOMPARE(shown[0].text, QStringLiteral("HH.exe Программа не найдена"));
        QCOMPARE(shown[0].title, QStringLiteral("Tarvik"));
        QCOMPARE(shown[0].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        QCOMPARE(shown[0].icon, QMessageBox::NoIcon);
    }
}

void TestService::aboutWindowShowsItsDesign()
{
    Form21 window;
    QCOMPARE(window.windowTitle(), QStringLiteral("О программе"));
    QCOMPARE(window.findChildren<QLabel*>().size(), 5); // three texts and two pictures

    // Our own pictures, one of each kind, bundled with the program.
    for (const auto& [name, format] :
         {std::pair{"Picture2", "gif"}, std::pair{"Picture3", "jpeg"}}) {
        auto* label = control<QLabel>(&window, name);
        QVERIFY2(!label->pixmap().isNull(), name);
        QVERIFY(label->pixmap().width() <= label->width());
        QVERIFY(label->pixmap().height() <= label->height());
    }
    QCOMPARE(QImageReader(QStringLiteral(":/service/about-logo.gif")).format(), QByteArray("gif"));
    QCOMPARE(QImageReader(QStringLiteral(":/service/about-board.jpg")).format(),
             QByteArray("jpeg"));

    const auto text = [&](const char* name) { return control<QLabel>(&window, name)->text(); };
    QVERIFY(text("Label2").contains(QStringLiteral(".example.org")));
    QCOMPARE(text("cmdBrouse"), QStringLiteral("https://tarvik.example.org/"));
    QCOMPARE(text("Label1"), QStringLiteral("tarvik@example.org"));
    for (const char* name : {"Label1", "Label2", "cmdBrouse"}) {
        auto* label = control<QLabel>(&window, name);
        QCOMPARE(label->accessibleName(), label->text());   // the value itself
        QVERIFY(!label->accessibleDescription().isEmpty()); // and what it is for
    }
    for (const char* name : {"Picture2", "Picture3"})
        QVERIFY(!control<QLabel>(&window, name)->accessibleName().isEmpty());

    // Every control inside the window, none cut off.
    for (QLabel* label : window.findChildren<QLabel*>())
        QVERIFY2(window.rect().contains(label->geometry()), qPrintable(label->objectName()));
    for (const char* name : {"Label1", "Label2", "cmdBrouse"}) {
        auto* label = control<QLabel>(&window, name);
        QVERIFY(label->fontMetrics().horizontalAdvance(label->text()) <= label->width());
    }
}

void TestService::mailLinkOnAnyButtonAndWebLinkOnClick()
{
    const QUrl link = Form21::mailLink(QStringLiteral("tarvik@example.org"), 1, 0, 0);
    QCOMPARE(link.scheme(), QStringLiteral("mailto"));
    QCOMPARE(link.path(), QStringLiteral("tarvik@example.org"));
    QCOMPARE(QUrlQuery(link).queryItemValue(QStringLiteral("Subject"), QUrl::FullyDecoded),
             QStringLiteral("Тарвик деталей (1.0.0)"));
    QCOMPARE(link.toString(QUrl::FullyEncoded),
             QStringLiteral("mailto:tarvik@example.org?Subject=%D0%A2%D0%B0%D1%80%D0%B2%D0%B8%D0%BA"
                            "%20%D0%B4%D0%B5%D1%82%D0%B0%D0%BB%D0%B5%D0%B9%20(1.0.0)"));
    QCOMPARE(QUrlQuery(Form21::mailLink(QStringLiteral("a@example.org"), 2, 10, 3))
                 .queryItemValue(QStringLiteral("Subject"), QUrl::FullyDecoded),
             QStringLiteral("Тарвик деталей (2.10.3)"));

    Form21 window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto* mail = control<QLabel>(&window, "Label1");
    auto* web = control<QLabel>(&window, "cmdBrouse");
    QTest::mouseClick(mail, Qt::LeftButton);
    QTest::mouseClick(mail, Qt::RightButton);
    QTest::mouseClick(mail, Qt::MiddleButton);
    QCOMPARE(m_opened, QList<QUrl>(3, link)); // built with this build's version, 1.0.0

    m_opened.clear();
    QTest::mouseClick(web, Qt::LeftButton);
    QCOMPARE(m_opened, QList<QUrl>{QUrl(QStringLiteral("https://tarvik.example.org/"))});
    // A press that wanders off before the release opens nothing.
    m_opened.clear();
    QTest::mousePress(mail, Qt::LeftButton);
    QTest::mouseRelease(mail, Qt::LeftButton, {}, QPoint(-20, -20));
    QVERIFY(m_opened.isEmpty());

    // From the keyboard too.
    web->setFocus();
    QTest::keyClick(web, Qt::Key_Return);
    QCOMPARE(m_opened.size(), 1);
}

void TestService::aboutOpensAFreshModalWindowOverTheMainWindow()
{
    TestRegister files;
    QVERIFY(files.write({part("Резистор")}));
    Form1 main(files.paths(), files.owner());
    main.show();
    QVERIFY(QTest::qWaitForWindowExposed(&main));
    QAction* about = control<QAction>(&main, "about");

    QPointer<QWidget> first;
    int opened = 0;
    whenModalOpens([&](QWidget* modal) {
        QVERIFY(qobject_cast<Form21*>(modal));
        ++opened;
        QCOMPARE(modal->parentWidget(), &main);
        QVERIFY(modal->isModal());
        first = modal;
        // Changed while open: the next opening must not show it.
        control<QLabel>(modal, "Label2")->setText(QStringLiteral("changed"));
    });
    about->trigger();
    QCOMPARE(opened, 1);
    QVERIFY(first.isNull()); // gone once closed

    whenModalOpens([&](QWidget* modal) {
        QVERIFY(qobject_cast<Form21*>(modal));
        ++opened;
        QVERIFY(control<QLabel>(modal, "Label2")->text().contains(QStringLiteral("example.org")));
    });
    about->trigger();
    QCOMPARE(opened, 2);
    QVERIFY(main.findChildren<Form21*>().isEmpty());
    QVERIFY(MessageBox::takeShown().isEmpty());
}

void TestService::compressEndsTheProgramWithoutTheExitQuestion()
{
    TestRegister files;
    QList<PartRow> rows;
    for (int i = 0; i < 60; ++i)
        rows << part(QStringLiteral("Деталь %1").arg(i), "1", "1", {}, QString(3000, QChar('x')));
    QVERIFY(files.write(rows));
    // Free pages for the compaction to give back (the journal would keep the deleted parts).
    QVERIFY(files.withoutJournal([&] {
        RecordSource source;
        QVERIFY(source.open(files.databasePath()).ok());
        source.setStatement(Statements::partsInStoredOrder());
        QVERIFY(source.refresh());
        for (int row = 0; row < 30; ++row)
            QVERIFY(source.setCurrentRow(row) && source.deleteCurrent());
    }));
    {
        Form1 main(files.paths(), files.owner());
        main.show();
        QVERIFY(QTest::qWaitForWindowExposed(&main));
        const QList<QVariantMap> before = files.storedParts();
        const qint64 sizeBefore = QFileInfo(files.databasePath()).size();

        control<QAction>(&main, "compress")->trigger();
        QCOMPARE(m_ends, 1);
        QVERIFY(MessageBox::takeShown().isEmpty()); // no question, no notice
        QCOMPARE(files.owner().openConnections(), 0);
        QVERIFY(!QFileInfo::exists(compactionCopyPath(files.databasePath())));
        QVERIFY(QFileInfo(files.databasePath()).size() < sizeBefore);
        QCOMPARE(files.storedParts(), before);
    }
    QVERIFY(MessageBox::takeShown().isEmpty()); // nor when the window goes away
}

void TestService::failedCompressSaysSoAndStillEnds()
{
    TestRegister files;
    QVERIFY(files.write({part("Резистор")}));
    Form1 main(files.paths(), files.owner());
    main.show();
    QVERIFY(QTest::qWaitForWindowExposed(&main));

    failNextCompactionAt(CompactionStep::Replace);
    MessageBox::setNextAnswer(QMessageBox::Ok);
    control<QAction>(&main, "compress")->trigger();
    const QList<MessageBox::Shown> shown = MessageBox::takeShown();
    QCOMPARE(shown.size(), 1);
    QCOMPARE(shown[0].title, QStringLiteral("Тарвик радиодеталей"));
    QVERIFY(shown[0].text.startsWith(QStringLiteral("База данных не сжата")));
    QCOMPARE(shown[0].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(m_ends, 1);
    QCOMPARE(files.storedNames(), QStringList{"Резистор"});
}

void TestService::helpItemIsOffButReachesHelp()
{
    TestRegister files;
    QVERIFY(files.write({part("Резистор")}));
    Form1 main(files.paths(), files.owner());
    QAction* help = control<QAction>(&main, "mHelpOption");
    QVERIFY(!help->isEnabled());
    help->trigger();
    QVERIFY(m_started.isEmpty());

    help->setEnabled(true); // what choosing the item would run
    m_startAnswer = Shell::Start::NotFound;
    MessageBox::setNextAnswer(QMessageBox::Ok);
    help->trigger();
    QCOMPARE(m_started.size(), 1);
    QCOMPARE(m_started[0].arguments, QStringList{QDir::toNativeSeparators(
                                         files.folder() + QStringLiteral("/vorlend.chm"))});
    QCOMPARE(MessageBox::takeShown().value(0).text, QStringLiteral("HH.exe Программа не найдена"));
}

QTEST_MAIN(TestService)
#include "tst_service.moc"

// The parts list of the main window: current-part details, quick search, the record
// count, quantity steps and deletion, driven through the real window.
#include "MainWindowProbe.h"
#include "TestRegister.h"

#include "app/Form1.h"
#include "app/Startup.h"
#include "gui/MessageBox.h"
#include "store/records/RecordSource.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QToolButton>

using namespace tarvik;
using namespace tarvik::test;

namespace {

const QLocale kRussian(QLocale::Russian, QLocale::Russia);

// Stored in this order; by name they sort as NE555P, Panasonic's, Конденсатор,
// Резистор МЛТ, резистор С2-33.
QList<PartRow> parts()
{
    return {part("Конденсатор К50-35", "12,5", "4", "DIP-8", "электролит\n105 °C"),
            part("Резистор МЛТ", "0,35", "3", "НЕТ ТАКОГО"), part("NE555P", "", "7", "TO-92"),
            part("Panasonic's EEU", "1", "0", "SOT-23"),
            part("резистор С2-33", "2,5", "2,5", "dip-8")};
}

QList<Package> packages()
{
    return {{"DIP-8", picture(Qt::red, "BMP", 30, 20)},
            {"TO-92", QByteArray()},
            {"SOT-23", picture(Qt::blue, "JPG", 50, 40)}};
}

// The label's room holds all it says, whatever the font.
bool showsWholeText(const QLabel* label)
{
    const QFontMetrics metrics(label->font());
    return label->contentsRect().width() >= metrics.horizontalAdvance(label->text()) &&
           label->contentsRect().height() >= metrics.height();
}

} // namespace

class TestPartsList : public QObject, private MainWindowProbe {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void rowChangeShowsDetailsAndPicture();
    void stockValueFollowsRegionalSettings_data();
    void stockValueFollowsRegionalSettings();
    void searchNarrowsWhileCountStaysWhole();
    void searchTakesAnyText_data();
    void searchTakesAnyText();
    void emptyingTheBoxKeepsTheLastFilter();
    void showAllAndTheCountSentence();
    void yoFollowsYeInTheListAndSearch();
    void quantityStepsAreStored_data();
    void quantityStepsAreStored();
    void quantityThatIsNoNumberIsRefused();
    void partGoneSinceRefreshIsReported();
    void deletionAsksFirst();
    void deletionAfterSearchShowsWholeTableInStoredOrder();
    void deletingEveryPartLeavesAnEmptyList();

private:
    void open(const QList<PartRow>& rows = parts());
};

void TestPartsList::initTestCase()
{
    prepareApplication(*qApp);
}

void TestPartsList::init()
{
    QLocale::setDefault(kRussian);
    open();
}

void TestPartsList::cleanup()
{
    QVERIFY2(MessageBox::takeShown().isEmpty(), "a message nobody expected");
    closeWindow();
}

void TestPartsList::open(const QList<PartRow>& rows)
{
    m_window.reset();
    m_register = std::make_unique<TestRegister>();
    QVERIFY(m_register->write(rows, packages()));
    m_window = std::make_unique<Form1>(m_register->paths(), m_register->owner());
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    grid()->setFocus();
}

void TestPartsList::rowChangeShowsDetailsAndPicture()
{
    const QString temporary = m_register->paths().temporaryPicturePath();
    auto* image = control<QLabel>("Image2");
    struct Expected {
        const char* name;
        const char* quantity;
        bool picture;
    };
    const Expected rows[] = {{"NE555P", "7", false},            // its type has no picture
                             {"Panasonic's EEU", "0", true},    // JPEG
                             {"Конденсатор К50-35", "4", true}, // BMP
                             {"Резистор МЛТ", "3", false},      // names no type
                             {"резистор С2-33", "2,5", true}};  // type named in other case
    for (int row = 0; row < 5; ++row) {
        if (row > 0)
            down();
        const Expected& expected = rows[row];
        QCOMPARE(grid()->currentIndex().row(), row);
        QCOMPARE(text("Text1"), QString::fromUtf8(expected.name));
        QCOMPARE(text("Text4"), QString::fromUtf8(expected.quantity));
        QCOMPARE(label("lblRecordCount1"), QStringLiteral("5"));
        QCOMPARE(image->isVisible(), expected.picture);
        if (expected.picture) {
            QVERIFY(!QFile::exists(temporary));
            QVERIFY(!image->pixmap().isNull());
        } else {
            QVERIFY(QFile::exists(temporary)); // left behind, empty
            QCOMPARE(QFileInfo(temporary).size(), 0);
        }
    }
    QTest::keyClick(grid(), Qt::Key_Up);
    QTest::keyClick(grid(), Qt::Key_Up);
    QCOMPARE(control<QPlainTextEdit>("txtDisc")->toPlainText(),
             QStringLiteral("электролит\n105 °C"));
    QCOMPARE(image->pixmap().toImage().pixelColor(5, 5), QColor(Qt::red));
    QCOMPARE(text("Text3"), QStringLiteral("DIP-8"));
}

void TestPartsList::stockValueFollowsRegionalSettings_data()
{
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<QString>("price");
    QTest::addColumn<QString>("quantity");
    QTest::addColumn<QString>("value");
    QTest::newRow("ru whole") << kRussian << "12,5"
                              << "4"
                              << "50";
    QTest::newRow("ru fraction") << kRussian << "0,35"
                                 << "3"
                                 << "1,05";
    QTest::newRow("ru big, no grouping") << kRussian << "1250,5"
                                         << "1000"
                                         << "1250500";
    QTest::newRow("en") << QLocale(QLocale::English, QLocale::UnitedStates) << "12.5"
                        << "4"
                        << "50";
    QTest::newRow("en fraction") << QLocale(QLocale::English, QLocale::UnitedStates) << "2.5"
                                 << "2.5"
                                 << "6.25";
}

void TestPartsList::stockValueFollowsRegionalSettings()
{
    QFETCH(QLocale, locale);
    QFETCH(QString, price);
    QFETCH(QString, quantity);
    QLocale::setDefault(locale);
    // Without a price there is no value: the one shown before must not pass for it.
    open({part("A", price, quantity), part("B", "", "5"), part("C", "x", "5")});
    QTEST(label("Label9"), "value");
    down();
    QCOMPARE(label("Label9"), QString());
    down();
    QCOMPARE(label("Label9"), QString());
}

void TestPartsList::searchNarrowsWhileCountStaysWhole()
{
    typeText(control<QLineEdit>("Text5"), QStringLiteral("рез"));
    QCOMPARE(listed(), QStringList({"Резистор МЛТ", "резистор С2-33"}));
    QCOMPARE(label("lblRecordCount1"), QStringLiteral("5"));
    QCOMPARE(text("Text1"), QStringLiteral("Резистор МЛТ"));

    control<QLineEdit>("Text5")->clear();
    typeText(control<QLineEdit>("Text5"), QStringLiteral("РЕЗИСТОР м"));
    QCOMPARE(listed(), QStringList({"Резистор МЛТ"}));
    QCOMPARE(label("lblRecordCount1"), QStringLiteral("5"));
}

void TestPartsList::searchTakesAnyText_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QStringList>("found");
    QTest::newRow("apostrophe") << "'s" << QStringList{"Panasonic's EEU"};
    QTest::newRow("unclosed class, then closed")
        << "[р]" << QStringList{"Конденсатор К50-35", "Резистор МЛТ", "резистор С2-33"};
    QTest::newRow("digits") << "#-#" << QStringList{"Конденсатор К50-35", "резистор С2-33"};
    QTest::newRow("nothing matches") << "ЯЯЯ" << QStringList{};
}

void TestPartsList::searchTakesAnyText()
{
    QFETCH(QString, typed);
    QFETCH(QStringList, found);
    auto* box = control<QLineEdit>("Text5");
    // A pattern is answered off the window's thread once the names are in memory.
    typeText(box, typed.left(1));
    if (typed.startsWith(QLatin1Char('[')))
        QTRY_COMPARE(listed(), QStringList()); // a pattern still open finds nothing, quietly
    typeText(box, typed.mid(1));
    QTRY_COMPARE(listed(), found);
    if (found.isEmpty()) {
        QVERIFY(control<QLabel>("Image2")->isHidden());
        QCOMPARE(text("Text1"), QString());
    }
}

void TestPartsList::emptyingTheBoxKeepsTheLastFilter()
{
    auto* box = control<QLineEdit>("Text5");
    typeText(box, QStringLiteral("ко"));
    QCOMPARE(listed(), QStringList({"Конденсатор К50-35"}));
    QTest::keyClick(box, Qt::Key_Backspace);
    QTest::keyClick(box, Qt::Key_Backspace);
    QCOMPARE(box->text(), QString());
    QCOMPARE(listed(), QStringList({"Конденсатор К50-35"})); // filtered by "к"
}

void TestPartsList::showAllAndTheCountSentence()
{
    typeText(control<QLineEdit>("Text5"), QStringLiteral("xyz"));
    QCOMPARE(listed(), QStringList());
    click("Reset");
    QCOMPARE(listed().size(), 5);
    QCOMPARE(listed().first(), QStringLiteral("NE555P"));
    QCOMPARE(text("Text5"), QStringLiteral("xyz"));
    QCOMPARE(label("lblRecordCount1"), QStringLiteral("Таблица содержит - 5   записей"));
    QVERIFY(showsWholeText(control<QLabel>("lblRecordCount1")));
    grid()->setFocus();
    down();
    QCOMPARE(label("lblRecordCount1"), QStringLiteral("5"));
    QVERIFY(showsWholeText(control<QLabel>("lblRecordCount1")));
}

void TestPartsList::yoFollowsYeInTheListAndSearch()
{
    // Ё is a letter of its own, after Е and before Ж, whether typed Ё or ё; the search
    // tells it from Е as the order does.
    open({part("Ящик"), part("Ёмкостный датчик"), part("Жгут"), part("ёлка"), part("Ель"),
          part("Трансформатор"), part("ЕЁЖ"), part("ЕЯ")});
    const QStringList byName = {"ЕЁЖ",  "Ель",           "ЕЯ",  "ёлка", "Ёмкостный датчик",
                                "Жгут", "Трансформатор", "Ящик"};
    QCOMPARE(listed(), byName);
    auto* box = control<QLineEdit>("Text5");
    typeText(box, QStringLiteral("Ё"));
    QCOMPARE(listed(), QStringList({"ЕЁЖ", "ёлка", "Ёмкостный датчик"}));
    box->clear();
    typeText(box, QStringLiteral("ел"));
    QCOMPARE(listed(), QStringList({"Ель"}));
    box->clear();
    typeText(box, QStringLiteral("е"));
    QCOMPARE(listed(), QStringList({"ЕЁЖ", "Ель", "ЕЯ"}));
    typeText(box, QStringLiteral("ж"));
    QCOMPARE(listed(), QStringList());
    box->clear();
    typeText(box, QStringLiteral("Ё?к"));
    // A pattern is answered off the window's thread once the names are in memory.
    QTRY_COMPARE(listed(), QStringList({"ёлка", "Ёмкостный датчик"}));
    click("Reset");
    QCOMPARE(listed(), byName);
}

void TestPartsList::quantityStepsAreStored_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("shown");
    QTest::newRow("plus on a fraction") << "резистор С2-33"
                                        << "plus"
                                        << "3,5";
    QTest::newRow("minus below zero") << "Panasonic's EEU"
                                      << "minus"
                                      << "-1";
    QTest::newRow("plus") << "NE555P"
                          << "plus"
                          << "8";
}

void TestPartsList::quantityStepsAreStored()
{
    QFETCH(QString, name);
    QFETCH(QString, button);
    QFETCH(QString, shown);
    searchFor(*m_window, name);
    QCOMPARE(text("Text1"), name);
    click(qPrintable(button));
    QTEST(text("Text4"), "shown");
    // The value follows the new quantity.
    const double price = kRussian.toDouble(text("Text2"));
    QCOMPARE(label("Label9"), text("Text2").isEmpty()
                                  ? QString()
                                  : kRussian.toString(price * kRussian.toDouble(shown), 'g', 15));
    for (const QVariantMap& row : m_register->storedParts()) {
        if (row.value("idFam").toString() == name)
            QCOMPARE(row.value("phone").toString(), shown);
    }
}

void TestPartsList::quantityThatIsNoNumberIsRefused()
{
    open({part("Много", "1", "много")});
    MessageBox::setNextAnswer(QMessageBox::Ok);
    click("plus");
    const QList<MessageBox::Shown> shown = MessageBox::takeShown();
    QCOMPARE(shown.size(), 1);
    QVERIFY(shown[0].text.contains(QStringLiteral("много")));
    QCOMPARE(text("Text4"), QStringLiteral("много"));
    QCOMPARE(m_register->storedParts().at(0).value("phone").toString(), QStringLiteral("много"));
}

void TestPartsList::partGoneSinceRefreshIsReported()
{
    // Another view of the file deletes the current part behind the window's back.
    RecordSource other;
    QVERIFY(m_register->openView(other).ok());
    other.setStatement(Statements::partsWithNameLike(QStringLiteral("NE555")));
    QVERIFY(other.refresh());
    QVERIFY(other.deleteCurrent());

    MessageBox::setNextAnswer(QMessageBox::Ok);
    click("plus");
    QCOMPARE(MessageBox::takeShown().size(), 1);
    QCOMPARE(m_register->storedParts().size(), 4);
    down(); // the list goes on working
    QCOMPARE(text("Text1"), QStringLiteral("Panasonic's EEU"));
    click("plus");
    QCOMPARE(text("Text4"), QStringLiteral("1"));
}

void TestPartsList::deletionAsksFirst()
{
    down();
    MessageBox::setNextAnswer(QMessageBox::No);
    click("dPaz");
    QList<MessageBox::Shown> shown = MessageBox::takeShown();
    QCOMPARE(shown.size(), 1);
    QCOMPARE(shown[0].text, QStringLiteral("Вы действительно хотите удалить данные?"));
    QCOMPARE(shown[0].title, QStringLiteral("Тарвик радиодеталей"));
    QCOMPARE(shown[0].icon, QMessageBox::Question);
    QCOMPARE(shown[0].buttons, QMessageBox::Yes | QMessageBox::No);
    QCOMPARE(m_register->storedParts().size(), 5);
    QCOMPARE(grid()->currentIndex().row(), 1);
    QCOMPARE(listed().size(), 5);

    MessageBox::setNextAnswer(QMessageBox::Yes);
    click("dPaz");
    QCOMPARE(MessageBox::takeShown().size(), 1);
    QVERIFY(!m_register->storedNames().contains(QStringLiteral("Panasonic's EEU")));
    QCOMPARE(label("lblRecordCount1"), QStringLiteral("4"));
}

void TestPartsList::deletionAfterSearchShowsWholeTableInStoredOrder()
{
    searchFor(*m_window, QStringLiteral("рез"));
    grid()->setFocus();
    down(); // leaves the whole table, unsorted, as the list's next statement
    QCOMPARE(text("Text1"), QStringLiteral("резистор С2-33"));
    MessageBox::setNextAnswer(QMessageBox::Yes);
    click("dPaz");
    QCOMPARE(MessageBox::takeShown().size(), 1);
    QCOMPARE(listed(),
             QStringList({"Конденсатор К50-35", "Резистор МЛТ", "NE555P", "Panasonic's EEU"}));
    QCOMPARE(grid()->currentIndex().row(), 0);
    QCOMPARE(text("Text1"), QStringLiteral("Конденсатор К50-35"));
}

void TestPartsList::deletingEveryPartLeavesAnEmptyList()
{
    for (int left = 5; left > 0; --left) {
        MessageBox::setNextAnswer(QMessageBox::Yes);
        click("dPaz");
        QCOMPARE(MessageBox::takeShown().size(), 1);
        QCOMPARE(listed().size(), left - 1);
    }
    QCOMPARE(m_register->storedParts().size(), 0);
    QCOMPARE(text("Text1"), QString());
    // With no current part the commands do nothing and ask nothing.
    click("dPaz");
    click("plus");
    click("minus");
    QVERIFY(MessageBox::takeShown().isEmpty());
}

QTEST_MAIN(TestPartsList)
#include "tst_partslist.moc"

// The main window as it opens and closes.
#include "ReaderProbe.h"
#include "TestRegister.h"

#include "app/Form1.h"
#include "app/Startup.h"
#include "gui/MessageBox.h"
#include "store/records/RecordSource.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QTimer>

#include <QToolButton>
#include <algorithm>
#include <cmath>

using namespace tarvik;
using namespace tarvik::test;

class TestForm1 : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void titleAndListOnOpen();
    void readersHearTheShownColumnOnly();
    void controlsAtTheirPlaces_data();
    void controlsAtTheirPlaces();
    void fontsAndColours();
    void selectedRowIsReadable();
    void menus();
    void everyControlCanBeReached();
    void exitAskedEveryWay_data();
    void exitAskedEveryWay();
    void unusableRegisterIsReportedOnce();
    void boxesAndQtsOwnTextsAreRussian();

private:
    std::unique_ptr<TestRegister> m_register;
    std::unique_ptr<Form1> m_window;
    template <typename T> T* control(const char* name) const
    {
        return test::control<T>(m_window.get(), name);
    }
};

void TestForm1::initTestCase()
{
    prepareApplication(*qApp);
}

void TestForm1::init()
{
    m_window.reset();
    m_register = std::make_unique<TestRegister>();
    QVERIFY(m_register->write({part("Транзистор КТ315Б", "2,5", "10", "TO-92"),
                               part("diode 1N4007", "0,3", "100"),
                               part("Конденсатор К50-35", "12,5", "4")},
                              {{QStringLiteral("TO-92"), picture(Qt::green)}}));
    m_window = std::make_unique<Form1>(m_register->paths(), m_register->owner());
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    QVERIFY(MessageBox::takeShown().isEmpty());
}

void TestForm1::titleAndListOnOpen()
{
    QCOMPARE(m_window->windowTitle(), QStringLiteral("Тарвик радиодеталей 1.0.0"));
    auto* grid = control<QTableView>("TDBGrid2");
    QCOMPARE(grid->model()->rowCount(), 3);
    const int name = m_window->Data1()->columnOf(QStringLiteral("idFam"));
    QStringList names;
    for (int row = 0; row < 3; ++row)
        names << grid->model()->index(row, name).data().toString();
    QCOMPARE(names, QStringList({"diode 1N4007", "Конденсатор К50-35", "Транзистор КТ315Б"}));
    QCOMPARE(grid->model()->headerData(name, Qt::Horizontal).toString(),
             QStringLiteral("Наименование"));
    QCOMPARE(grid->currentIndex().row(), 0);
    QCOMPARE(control<QLineEdit>("Text1")->text(), QStringLiteral("diode 1N4007"));
    QCOMPARE(control<QLineEdit>("Text2")->text(), QStringLiteral("0,3"));
    QVERIFY(control<QLineEdit>("Text1")->isReadOnly());
}

void TestForm1::readersHearTheShownColumnOnly()
{
    // The list's source holds every field of a part; a reader gets the names it shows.
    auto* grid = control<QTableView>("TDBGrid2");
    QCOMPARE(heardItems(grid), QStringList({"Наименование", "diode 1N4007", "Конденсатор К50-35",
                                            "Транзистор КТ315Б"}));
    QAccessibleTableInterface* table =
        QAccessible::queryAccessibleInterface(grid)->tableInterface();
    QVERIFY(table);
    QCOMPARE(table->columnCount(), 1);
    QCOMPARE(table->rowCount(), 3);
    QCOMPARE(table->columnDescription(0), QStringLiteral("Наименование"));
    QCOMPARE(table->cellAt(2, 0)->text(QAccessible::Name), QStringLiteral("Транзистор КТ315Б"));
    QCOMPARE(table->selectedRows(), QList<int>({0}));
}

void TestForm1::controlsAtTheirPlaces_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<QString>("text");
    // Pixels are twips / 15.
    QTest::newRow("nPaz") << "nPaz" << QRect(8, 0, 73, 41) << "";
    QTest::newRow("dPaz") << "dPaz" << QRect(184, 0, 73, 41) << "";
    QTest::newRow("vrachey1") << "vrachey1" << QRect(560, 0, 81, 41) << "Корпус";
    QTest::newRow("Command1") << "Command1" << QRect(704, 0, 81, 41) << "Выход";
    QTest::newRow("Label1") << "Label1" << QRect(272, 8, 169, 20) << "Данные о детали";
    QTest::newRow("Label8") << "Label8" << QRect(8, 40, 113, 16) << "Список деталей";
    QTest::newRow("TDBGrid2") << "TDBGrid2" << QRect(8, 56, 249, 369) << "";
    QTest::newRow("Text1") << "Text1" << QRect(384, 48, 401, 27) << "";
    QTest::newRow("Text3") << "Text3" << QRect(384, 82, 129, 25) << "";
    QTest::newRow("Text4") << "Text4" << QRect(576, 83, 73, 24) << "";
    QTest::newRow("Text2") << "Text2" << QRect(704, 82, 81, 25) << "";
    QTest::newRow("minus") << "minus" << QRect(576, 112, 33, 17) << "-";
    QTest::newRow("plus") << "plus" << QRect(616, 112, 33, 17) << "+";
    QTest::newRow("Label9") << "Label9" << QRect(704, 112, 81, 17) << "";
    QTest::newRow("Label2") << "Label2" << QRect(272, 136, 129, 20) << "Информация";
    QTest::newRow("txtDisc") << "txtDisc" << QRect(592, 160, 193, 377) << "";
    QTest::newRow("Reset") << "Reset" << QRect(8, 432, 249, 41) << "Показать все";
    QTest::newRow("Frame2") << "Frame2" << QRect(8, 480, 249, 57) << "Быстрый поиск";
    QTest::newRow("Text5") << "Text5" << QRect(8, 24, 233, 25) << "";
}

void TestForm1::controlsAtTheirPlaces()
{
    QFETCH(QString, name);
    QFETCH(QRect, geometry);
    QFETCH(QString, text);
    QWidget* widget = control<QWidget>(qPrintable(name));
    QCOMPARE(widget->geometry(), geometry);
    if (auto* button = qobject_cast<QAbstractButton*>(widget))
        QCOMPARE(button->text(), text);
    else if (auto* label = qobject_cast<QLabel*>(widget); label && !text.isEmpty())
        QCOMPARE(label->text(), text);
    else if (auto* frame = qobject_cast<QGroupBox*>(widget))
        QCOMPARE(frame->title(), text);
    QCOMPARE(m_window->centralWidget()->size(), QSize(788, 541));
}

void TestForm1::fontsAndColours()
{
    const QString family = QFontInfo(control<QLineEdit>("Text1")->font()).family();
    QVERIFY2(family == "Arial" || family == "Liberation Sans", qPrintable(family));
    QCOMPARE(control<QLineEdit>("Text1")->font().pointSize(), 12);
    QCOMPARE(control<QPlainTextEdit>("txtDisc")->font().pointSize(), 12);
    QVERIFY(control<QLabel>("Label1")->font().bold());
    QCOMPARE(control<QLabel>("Label1")->font().pointSize(), 12);
    QVERIFY(control<QLineEdit>("Text5")->font().bold());
    for (const char* heading : {"Label1", "Label8", "lblRecordCount1", "Label2"}) {
        QLabel* label = control<QLabel>(heading);
        QCOMPARE(label->palette().color(label->foregroundRole()), QColor(Qt::blue));
    }
}

namespace {

double luminance(const QColor& colour)
{
    const auto linear = [](double v) {
        return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(colour.redF()) + 0.7152 * linear(colour.greenF()) +
           0.0722 * linear(colour.blueF());
}

double contrast(const QColor& a, const QColor& b)
{
    const double first = luminance(a);
    const double second = luminance(b);
    return (std::max(first, second) + 0.05) / (std::min(first, second) + 0.05);
}

} // namespace

void TestForm1::selectedRowIsReadable()
{
    // What the lists paint their current row with, whether the window is active or not.
    const QPalette colours = control<QTableView>("TDBGrid2")->palette();
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        const double ratio = contrast(colours.color(group, QPalette::Highlight),
                                      colours.color(group, QPalette::HighlightedText));
        QVERIFY2(ratio >= 4.5, qPrintable(QString::number(ratio)));
    }
}

void TestForm1::menus()
{
    const QList<QAction*> menus = m_window->menuBar()->actions();
    QCOMPARE(menus.size(), 2);
    QCOMPARE(menus[0]->text(), QStringLiteral("Справочники"));
    QCOMPARE(menus[1]->text(), QStringLiteral("Сервис"));
    QStringList items;
    for (QAction* item : menus[1]->menu()->actions())
        items << (item->isSeparator() ? QStringLiteral("-") : item->text()) +
                     (item->isEnabled() ? "" : " (off)");
    // The described items as they are, then the move to a server, the journal, the backups and
    // the CSV after them.
    QCOMPARE(items, QStringList({"Поиск (off)", "Сжать базу", "Помощь (off)", "-", "О программе",
                                 "Перенести базу на сервер…", "Журнал изменений",
                                 "Журнал этой детали", "Резервная копия…", "Восстановить из копии…",
                                 "Экспорт в CSV…", "Импорт из CSV…"}));
    QCOMPARE(control<QAction>("vrachey")->text(), QStringLiteral("Справочник типов"));
}

void TestForm1::everyControlCanBeReached()
{
    for (QWidget* widget : m_window->findChildren<QWidget*>()) {
        const bool needsName =
            qobject_cast<QLineEdit*>(widget) || qobject_cast<QPlainTextEdit*>(widget) ||
            qobject_cast<QTableView*>(widget) || qobject_cast<QToolButton*>(widget);
        if (!needsName || widget->objectName().startsWith(QLatin1String("qt_")))
            continue;
        QVERIFY2(!widget->accessibleName().isEmpty(), qPrintable(widget->objectName()));
    }
    for (const char* name : {"nPaz", "iPaz", "dPaz"}) {
        auto* button = control<QToolButton>(name);
        QVERIFY(!button->icon().isNull());
        // The tooltip adds the key that does the same.
        QVERIFY(button->toolTip().startsWith(button->accessibleName() + QLatin1String(" (")));
    }
    QVERIFY(control<QToolButton>("iPaz")->toolTip().startsWith(QStringLiteral("Изменить данные")));
}

void TestForm1::exitAskedEveryWay_data()
{
    QTest::addColumn<bool>("byButton");
    QTest::newRow("Выход") << true;
    QTest::newRow("close box") << false;
}

void TestForm1::exitAskedEveryWay()
{
    QFETCH(bool, byButton);
    const auto requestClose = [&] {
        if (byButton)
            QTest::mouseClick(control<QPushButton>("Command1"), Qt::LeftButton);
        else
            m_window->close();
    };
    // A filter and a current part that answering No must leave alone.
    typeText(control<QLineEdit>("Text5"), QStringLiteral("о"));
    auto* grid = control<QTableView>("TDBGrid2");
    QTest::keyClick(grid, Qt::Key_Down);
    const QString current = control<QLineEdit>("Text1")->text();
    const int rows = grid->model()->rowCount();

    MessageBox::setNextAnswer(QMessageBox::No);
    requestClose();
    QList<MessageBox::Shown> shown = MessageBox::takeShown();
    QCOMPARE(shown.size(), 1);
    QCOMPARE(shown[0].text, QStringLiteral("Действительно хотите выйти ?"));
    QCOMPARE(shown[0].title, QStringLiteral("Тарвик радиодеталей"));
    QCOMPARE(shown[0].icon, QMessageBox::Question);
    QCOMPARE(shown[0].buttons, QMessageBox::Yes | QMessageBox::No);
    QVERIFY(m_window->isVisible());
    QCOMPARE(control<QLineEdit>("Text1")->text(), current);
    QCOMPARE(grid->model()->rowCount(), rows);
    QVERIFY(m_window->Data1()->isOpen());

    // Notes typed but not yet saved are not lost by leaving.
    control<QPlainTextEdit>("txtDisc")->setPlainText(QStringLiteral("проверено"));
    const QString notedPart = current;
    MessageBox::setNextAnswer(QMessageBox::Yes);
    requestClose();
    QCOMPARE(MessageBox::takeShown().size(), 1);
    QVERIFY(!m_window->isVisible());
    QVERIFY(!m_window->Data1()->isOpen());
    QVERIFY(!m_window->Data7()->isOpen());
    for (const QVariantMap& row : m_register->storedParts()) {
        if (row.value("idFam").toString() == notedPart)
            QCOMPARE(row.value("sorp").toString(), QStringLiteral("проверено"));
    }
}

void TestForm1::unusableRegisterIsReportedOnce()
{
    TARVIK_FILE_ONLY("a missing file");
    m_window.reset();
    TestRegister empty; // no file at all
    MessageBox::setNextAnswer(QMessageBox::Ok);
    Form1 window(empty.paths(), empty.owner());
    window.show();
    const QList<MessageBox::Shown> shown = MessageBox::takeShown();
    QCOMPARE(shown.size(), 1);
    QVERIFY(shown[0].text.contains(empty.databasePath()));
    QCOMPARE(shown[0].buttons, QMessageBox::Ok);
    QCOMPARE(window.findChild<QTableView*>("TDBGrid2")->model()->rowCount(), 0);
    QVERIFY(!QFile::exists(empty.databasePath()));
    MessageBox::setNextAnswer(QMessageBox::Yes);
    window.close();
    MessageBox::takeShown(); // the exit question, answered above
}

void TestForm1::boxesAndQtsOwnTextsAreRussian()
{
    // A real box this time, not the test seam: the exit question as the user sees it.
    QStringList buttons;
    QTimer::singleShot(0, this, [&buttons] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        for (QAbstractButton* button : box->buttons())
            buttons << button->text();
        box->button(QMessageBox::No)->click();
    });
    control<QPushButton>("Command1")->click();
    buttons.sort();
    QCOMPARE(buttons, QStringList({"Да", "Нет"}));
    QVERIFY(m_window->isVisible()); // No keeps the window

    // Qt's own texts (file dialog, context menus) come from its Russian translation.
    QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("Отмена"));
}

QTEST_MAIN(TestForm1)
#include "tst_form1.moc"

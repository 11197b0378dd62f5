// The status line's figures and the grid's marks through the real main window.
#include "TestStock.h"

#include "gui/MessageBox.h"
#include "stock/StockStatus.h"
#include "store/records/PartWriter.h"
#include "store/records/RecordSource.h"
#include "store/search/StockFigures.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QTimer>

namespace {

constexpr int kFollowed = 5000; // another program's change on the file is looked for each second

const QString kValue = QStringLiteral("Стоимость склада: %1");
const QString kBelow = QStringLiteral("Ниже минимума: %1");

} // namespace

void TestStock::totalsFollowEveryChange_data()
{
    addBackRows();
}

void TestStock::totalsFollowEveryChange()
{
    STOCK_FIXTURE(stock);
    // 2 × 3 + 1.5 × 4 (+ a price that is no number, which counts nothing).
    QVERIFY(
        stock.open({part(QStringLiteral("Альфа"), QStringLiteral("2"), QStringLiteral("3")),
                    part(QStringLiteral("Бета"), QStringLiteral("1.5"), QStringLiteral("4")),
                    part(QStringLiteral("Гамма"), QStringLiteral("нет"), QStringLiteral("5"))}));
    MainWindowProbe& probe = stock.probe();
    QCOMPARE(stock.status("stockValue"), kValue.arg(12));
    QCOMPARE(stock.status("belowMinimum"), kBelow.arg(0));
    QCOMPARE(stock.status("shownFigures"), QString()); // nothing narrowed
    auto* value = probe.m_window->findChild<QLabel*>(QStringLiteral("stockValue"));
    QCOMPARE(value->accessibleName(), kValue.arg(12));
    QVERIFY(!value->accessibleDescription().isEmpty());

    // "Альфа" is current: "+" and "-" as they are clicked.
    QCOMPARE(probe.text("Text1"), QStringLiteral("Альфа"));
    probe.click("plus");
    QCOMPARE(stock.status("stockValue"), kValue.arg(14));
    probe.click("minus");
    probe.click("minus");
    QCOMPARE(stock.status("stockValue"), kValue.arg(10));

    // An edit through the list's write path, as the edit dialog saves it.
    QVERIFY(probe.m_window->Data1()->updateCurrent({{QStringLiteral("pol"), QStringLiteral("3")}},
                                                   PartAction::Edit));
    QCOMPARE(stock.status("stockValue"), kValue.arg(12));

    // Another program's changes: a quantity and a minimum.
    QCOMPARE(stock.runPlain(QStringLiteral("UPDATE client SET phone = '10' WHERE idFam = 'Бета'")),
             QString());
    QTRY_COMPARE_WITH_TIMEOUT(stock.status("stockValue"), kValue.arg(21), kFollowed);
    QCOMPARE(stock.runPlain(QStringLiteral("INSERT INTO partMinimum (idnom, minimum) VALUES "
                                           "(%1, 10)")
                                .arg(stock.idOf(QStringLiteral("Бета")))),
             QString());
    QTRY_COMPARE_WITH_TIMEOUT(stock.status("belowMinimum"), kBelow.arg(1), kFollowed);

    // The current part deleted.
    MessageBox::setNextAnswer(QMessageBox::Yes);
    probe.click("dPaz");
    QTRY_COMPARE_WITH_TIMEOUT(stock.status("stockValue"), kValue.arg(15), kFollowed);
    QCOMPARE(stock.status("belowMinimum"), kBelow.arg(1));
}

void TestStock::shownFiguresWhileSearchNarrows_data()
{
    addBackRows();
}

void TestStock::shownFiguresWhileSearchNarrows()
{
    STOCK_FIXTURE(stock);
    QVERIFY(
        stock.open({part(QStringLiteral("Диод КД522"), QStringLiteral("2"), QStringLiteral("3")),
                    part(QStringLiteral("Диод 1N4148"), QStringLiteral("1"), QStringLiteral("10")),
                    part(QStringLiteral("Реле"), QStringLiteral("5"), QStringLiteral("1"))}));
    QCOMPARE(stock.runPlain(QStringLiteral("INSERT INTO partMinimum (idnom, minimum) VALUES "
                                           "(%1, 3), (%2, 1)")
                                .arg(stock.idOf(QStringLiteral("Диод КД522")))
                                .arg(stock.idOf(QStringLiteral("Реле")))),
             QString());
    if (stock.owner().onServer())
        QTest::qWait(300); // the server's announcement, gathered
    stock.settle();
    QTRY_COMPARE_WITH_TIMEOUT(stock.status("belowMinimum"), kBelow.arg(2), kFollowed);
    QCOMPARE(stock.status("stockValue"), kValue.arg(21));

    searchFor(*stock.probe().m_window, QStringLiteral("диод"));
    QCOMPARE(stock.probe().listed().size(), 2);
    QCOMPARE(stock.status("shownFigures"),
             QStringLiteral("Показано: стоимость 16, ниже минимума 1"));
    // The narrowed figures follow a change too.
    stock.probe().click("plus");
    QCOMPARE(stock.status("shownFigures"),
             QStringLiteral("Показано: стоимость 17, ниже минимума 1"));
    QCOMPARE(stock.status("stockValue"), kValue.arg(22));

    // The whole list again: no narrowed figures.
    stock.probe().click("Reset");
    QCOMPARE(stock.status("shownFigures"), QString());

    // A list longer than a slice is summed between events; a change made meanwhile counts.
    auto* status = stock.probe().m_window->findChild<StockStatus*>();
    QVERIFY(status);
    status->setSummedAtOnce(1);
    auto* box = stock.probe().control<QLineEdit>("Text5");
    box->clear();
    searchFor(*stock.probe().m_window, QStringLiteral("диод"));
    QTRY_COMPARE(stock.status("shownFigures"),
                 QStringLiteral("Показано: стоимость 17, ниже минимума 1"));
    box->clear();
    searchFor(*stock.probe().m_window, QStringLiteral("д"));
    QCoreApplication::processEvents(); // a slice, perhaps more
    stock.probe().click("plus");
    QTRY_COMPARE(stock.status("shownFigures"),
                 QStringLiteral("Показано: стоимость 18, ниже минимума 1"));
}

void TestStock::rowMarkedAtItsMinimum_data()
{
    addBackRows();
}

void TestStock::rowMarkedAtItsMinimum()
{
    STOCK_FIXTURE(stock);
    QVERIFY(
        stock.open({part(QStringLiteral("Конденсатор"), QStringLiteral("1"), QStringLiteral("2")),
                    part(QStringLiteral("Резистор"), QStringLiteral("1"), QStringLiteral("9"))}));
    MainWindowProbe& probe = stock.probe();
    const auto cell = [&probe](int row, int role) {
        return probe.grid()
            ->model()
            ->index(row, probe.m_window->Data1()->columnOf(QStringLiteral("idFam")))
            .data(role);
    };
    QVERIFY(!cell(0, Qt::BackgroundRole).isValid());

    // The minimum given through the main window's command, at the current part's quantity.
    QCOMPARE(probe.text("Text1"), QStringLiteral("Конденсатор"));
    QTimer::singleShot(0, [] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        QVERIFY(dialog);
        auto* box = control<QLineEdit>(dialog, "minimum");
        typeText(box, QStringLiteral("-2x")); // digits only
        QCOMPARE(box->text(), QStringLiteral("2"));
        QTest::mouseClick(control<QAbstractButton>(dialog, "ok"), Qt::LeftButton);
    });
    probe.m_window->findChild<QAction*>(QStringLiteral("minimumStock"))->trigger();
    QVERIFY(MessageBox::takeShown().isEmpty());
    QCOMPARE(cell(0, Qt::AccessibleDescriptionRole).toString(), QStringLiteral("ниже минимума: 2"));
    QCOMPARE(cell(0, Qt::ToolTipRole).toString(), QStringLiteral("ниже минимума: 2"));
    QVERIFY(cell(0, Qt::BackgroundRole).isValid());
    QVERIFY(!cell(1, Qt::BackgroundRole).isValid());
    QVERIFY(!cell(1, Qt::AccessibleDescriptionRole).isValid());
    QCOMPARE(stock.status("belowMinimum"), kBelow.arg(1));

    // One more in stock: above the minimum, unmarked.
    probe.click("plus");
    QVERIFY(!cell(0, Qt::BackgroundRole).isValid());
    QVERIFY(!cell(0, Qt::AccessibleDescriptionRole).isValid());
    QCOMPARE(stock.status("belowMinimum"), kBelow.arg(0));
}

// The shortage list: its rows, the minimum edited in its cell, and the CSV it writes.
#include "TestStock.h"

#include "gui/FileDialog.h"
#include "gui/MessageBox.h"
#include "stock/ShortageWindow.h"

#include <QAbstractButton>
#include <QFile>
#include <QHeaderView>
#include <QLineEdit>
#include <QTableView>
#include <QTemporaryDir>

namespace {

QStringList rows(QTableView* grid)
{
    QStringList lines;
    for (int row = 0; row < grid->model()->rowCount(); ++row) {
        QStringList cells;
        for (int column = 0; column < grid->model()->columnCount() - 1; ++column)
            cells << grid->model()->index(row, column).data().toString();
        lines << cells.join(QLatin1Char('|'));
    }
    return lines;
}

// Types `text` into the minimum's cell of `row` and ends the edit with Enter.
void editMinimum(QTableView* grid, int row, const QString& text)
{
    grid->setFocus();
    grid->setCurrentIndex(grid->model()->index(row, 3));
    QTest::keyClick(grid, Qt::Key_F2);
    auto* editor = grid->findChild<QLineEdit*>();
    QVERIFY(editor);
    editor->clear();
    typeText(editor, text);
    QTest::keyClick(editor, Qt::Key_Return);
    QTest::qWait(20); // the write follows once the editor has closed
}

// RFC 4180 with ';' between fields: quoted fields may hold ';', CR, LF and doubled quotes.
QList<QStringList> parseCsv(const QString& text)
{
    QList<QStringList> records;
    QStringList record;
    QString field;
    bool quoted = false;
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (quoted) {
            if (c == QLatin1Char('"') && i + 1 < text.size() &&
                text.at(i + 1) == QLatin1Char('"')) {
                field += c;
                ++i;
            } else if (c == QLatin1Char('"')) {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == QLatin1Char('"') && field.isEmpty()) {
            quoted = true;
        } else if (c == QLatin1Char(';')) {
            record << std::exchange(field, {});
        } else if (c == QLatin1Char('\r') && i + 1 < text.size() &&
                   text.at(i + 1) == QLatin1Char('\n')) {
            record << std::exchange(field, {});
            records << std::exchange(record, {});
            ++i;
        } else {
            field += c; // a bare CR or LF outside quotes would be a fault: kept, and seen
        }
    }
    if (!field.isEmpty() || !record.isEmpty())
        records << (record << field);
    return records;
}

} // namespace

void TestStock::shortageListEditsAndRefuses_data()
{
    addBackRows();
}

void TestStock::shortageListEditsAndRefuses()
{
    STOCK_FIXTURE(stock);
    QVERIFY(
        stock.open({part(QStringLiteral("Транзистор"), QStringLiteral("2"), QStringLiteral("3"),
                         QStringLiteral("TO-92")),
                    part(QStringLiteral("Диод"), QStringLiteral("нет"), QStringLiteral("1")),
                    part(QStringLiteral("Реле"), QStringLiteral("5"), QStringLiteral("9")),
                    part(QStringLiteral("Дроссель"), QStringLiteral("1"), QStringLiteral("0"))}));
    const qint64 transistor = stock.idOf(QStringLiteral("Транзистор"));
    QCOMPARE(stock.runPlain(QStringLiteral("INSERT INTO partMinimum (idnom, minimum) VALUES "
                                           "(%1, 10), (%2, 1), (%3, 4)")
                                .arg(transistor)
                                .arg(stock.idOf(QStringLiteral("Диод")))
                                .arg(stock.idOf(QStringLiteral("Реле")))),
             QString());

    // Active, as the menu opens it: its keys are its own, not the main window's.
    ShortageWindow window(stock.owner());
    window.show();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    auto* grid = control<QTableView>(&window, "shortages");
    // By name; at its minimum counts; a price that is no number gives no value; no minimum,
    // or above it, is not listed.
    QCOMPARE(rows(grid), (QStringList{QStringLiteral("Диод||1|1|0|"),
                                      QStringLiteral("Транзистор|TO-92|3|10|7|14")}));
    QVERIFY(!control<QAbstractButton>(&window, "saveCsv")->accessibleName().isEmpty());
    // Every column whole, none past the grid's right edge.
    const QHeaderView* header = grid->horizontalHeader();
    const QAbstractItemView* cells = grid;
    for (int column = 0; column < header->count(); ++column) {
        QVERIFY2(header->sectionSize(column) >=
                     std::max(header->sectionSizeHint(column), cells->sizeHintForColumn(column)),
                 qPrintable(QString::number(column)));
        QVERIFY2(header->sectionViewportPosition(column) + header->sectionSize(column) <=
                     grid->viewport()->width(),
                 qPrintable(QString::number(column)));
    }

    // Edited in its cell, written through the write path and journaled.
    editMinimum(grid, 1, QStringLiteral("12"));
    QVERIFY(MessageBox::takeShown().isEmpty());
    QTRY_COMPARE(rows(grid).at(1), QStringLiteral("Транзистор|TO-92|3|12|9|18"));
    QCOMPARE(
        stock
            .plainValue(
                QStringLiteral("SELECT minimum FROM partMinimum WHERE idnom = %1").arg(transistor))
            .toLongLong(),
        12);
    QCOMPARE(stock
                 .plainValue(QStringLiteral("SELECT action || ':' || was || '>' || became FROM "
                                            "partJournal WHERE field = 'minimum' ORDER BY entry "
                                            "DESC LIMIT 1"))
                 .toString(),
             QStringLiteral("minimum:10>12"));
    QVERIFY(window.changedMinimums());

    // Another program changed it meanwhile: refused, said why, and the list read again.
    QCOMPARE(
        stock.runPlain(
            QStringLiteral("UPDATE partMinimum SET minimum = 20 WHERE idnom = %1").arg(transistor)),
        QString());
    MessageBox::setNextAnswer(QMessageBox::Ok);
    editMinimum(grid, 1, QStringLiteral("5"));
    QTRY_COMPARE(rows(grid).at(1), QStringLiteral("Транзистор|TO-92|3|20|17|34"));
    const auto shown = MessageBox::takeShown();
    QCOMPARE(shown.size(), 1);
    QVERIFY2(shown.first().text.contains(QStringLiteral("не сохранён")) &&
                 shown.first().text.contains(QStringLiteral("20")),
             qPrintable(shown.first().text));
    QCOMPARE(rows(grid).at(1), QStringLiteral("Транзистор|TO-92|3|20|17|34"));

    // Emptied: no minimum, off the list.
    editMinimum(grid, 1, QString());
    QTRY_COMPARE(rows(grid), QStringList{QStringLiteral("Диод||1|1|0|")});
}

void TestStock::shortageCsvReadsBack()
{
    // Numbers as a Russian user reads them, with a decimal comma.
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
    StockFixture stock(false);
    QVERIFY(stock.open(
        {part(QStringLiteral("Реле \"РЭС-9\"; 12 В"), QStringLiteral("1,5"), QStringLiteral("1"),
              QString(), QStringLiteral("брать у «Чипа»\r\nвторая строка")),
         part(QStringLiteral("=СУММ(A1)"), QStringLiteral("2"), QStringLiteral("0"))}));
    QCOMPARE(stock.runPlain(QStringLiteral("INSERT INTO partMinimum (idnom, minimum) "
                                           "SELECT idnom, 4 FROM client")),
             QString());

    ShortageWindow window(stock.owner());
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("заказ"));
    FileDialog::setNextFileName(path);
    QTest::mouseClick(control<QAbstractButton>(&window, "saveCsv"), Qt::LeftButton);
    QVERIFY(MessageBox::takeShown().isEmpty());

    QFile file(path + QStringLiteral(".csv"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    QVERIFY(bytes.startsWith("\xEF\xBB\xBF"));
    QVERIFY(bytes.endsWith("\r\n"));
    const QList<QStringList> records = parseCsv(QString::fromUtf8(bytes.mid(3)));
    const QList<QStringList> expected{
        {QStringLiteral("Наименование"), QStringLiteral("Корпус"), QStringLiteral("Количество"),
         QStringLiteral("Минимум"), QStringLiteral("Нехватка"), QStringLiteral("Сумма нехватки"),
         QStringLiteral("Доп. информация")},
        // A formula's text is not run.
        {QStringLiteral("'=СУММ(A1)"), QString(), QStringLiteral("0"), QStringLiteral("4"),
         QStringLiteral("4"), QStringLiteral("8"), QString()},
        {QStringLiteral("Реле \"РЭС-9\"; 12 В"), QString(), QStringLiteral("1"),
         QStringLiteral("4"), QStringLiteral("3"), QStringLiteral("4,5"),
         QStringLiteral("брать у «Чипа»\r\nвторая строка")},
    };
    QCOMPARE(records, expected);
}

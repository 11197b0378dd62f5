// The main window's commands that open the dialogs, and what the main window shows after.
#include "TestPartDialogs.h"

void TestPartDialogs::newPartFromMainWindow()
{
    m_window = std::make_unique<Form1>(m_register->paths(), m_register->owner());
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    auto* grid = test::control<QTableView>(m_window.get(), "TDBGrid2");
    auto* nPaz = test::control<QToolButton>(m_window.get(), "nPaz");
    grid->setFocus();
    QTest::keyClick(grid, Qt::Key_Down);
    QTest::keyClick(grid, Qt::Key_Down);

    // The list stands on its first row before the dialog shows, even when it is cancelled.
    int rowWhileOpen = -1;
    whenModal([&](QDialog* dialog) {
        QCOMPARE(dialog->objectName(), QStringLiteral("Form2"));
        QCOMPARE(dialog->parentWidget(), m_window.get());
        QVERIFY(dialog->isModal());
        rowWhileOpen = grid->currentIndex().row();
        test::control<QLineEdit>(dialog, "Fam")->setText(QStringLiteral("отменённый"));
        test::control<QPushButton>(dialog, "Exit")->click();
    });
    QTest::mouseClick(nPaz, Qt::LeftButton);
    QCOMPARE(rowWhileOpen, 0);
    QCOMPARE(grid->currentIndex().row(), 0);

    // A fresh dialog each time; the saved part shows in the list and the details.
    whenModal([&](QDialog* dialog) {
        QCOMPARE(test::control<QLineEdit>(dialog, "Fam")->text(), QString());
        test::control<QLineEdit>(dialog, "Fam")->setText(QStringLiteral("AAA первый"));
        test::control<QLineEdit>(dialog, "txtVozrast")->setText(QStringLiteral("5"));
        test::control<QComboBox>(dialog, "DBCombo8")->setEditText(QStringLiteral("dip-8"));
        test::control<QPushButton>(dialog, "cmdAdd1")->click();
        QVERIFY(!dialog->isVisible());
    });
    QTest::mouseClick(nPaz, Qt::LeftButton);
    QCOMPARE(m_register->storedParts().size(), parts().size() + 1);
    QCOMPARE(test::control<QLineEdit>(m_window.get(), "Text1")->text(),
             QStringLiteral("AAA первый"));
    QCOMPARE(test::control<QLabel>(m_window.get(), "lblRecordCount1")->text(),
             QString::number(parts().size() + 1));
    QCOMPARE(colourOf(test::control<QLabel>(m_window.get(), "Image2")), QColor(Qt::red));
    QCOMPARE(QApplication::activeModalWidget(), nullptr);
}

void TestPartDialogs::editPartFromMainWindow()
{
    m_window = std::make_unique<Form1>(m_register->paths(), m_register->owner());
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    auto* grid = test::control<QTableView>(m_window.get(), "TDBGrid2");
    test::searchFor(*m_window, QStringLiteral("рез"));
    QCOMPARE(grid->model()->rowCount(), 1);
    // Notes typed in the main window and not yet stored: the dialog's save comes after them.
    test::control<QPlainTextEdit>(m_window.get(), "txtDisc")->setPlainText(QStringLiteral("A"));

    whenModal([&](QDialog* dialog) {
        QCOMPARE(dialog->objectName(), QStringLiteral("Form12"));
        QCOMPARE(dialog->parentWidget(), m_window.get());
        // No refresh: the filtered list and its row stay while the dialog is open.
        QCOMPARE(grid->model()->rowCount(), 1);
        QCOMPARE(test::control<QLineEdit>(dialog, "Fam")->text(), QStringLiteral("Резистор МЛТ"));
        QCOMPARE(test::control<QLineEdit>(dialog, "Cena")->text(), QStringLiteral("0,35"));
        QCOMPARE(test::control<QLineEdit>(dialog, "txtVozrast")->text(), QStringLiteral("3"));
        QCOMPARE(test::control<QComboBox>(dialog, "DBCombo8")->currentText(),
                 QStringLiteral("DIP-8"));
        auto* notes = test::control<QPlainTextEdit>(dialog, "txtDisc");
        QCOMPARE(notes->toPlainText(), QStringLiteral("A"));
        notes->setPlainText(QStringLiteral("B"));
        test::control<QLineEdit>(dialog, "txtVozrast")->setText(QStringLiteral("9"));
        test::control<QPushButton>(dialog, "cmdAdd1")->click();
        QVERIFY(!dialog->isVisible());
    });
    QTest::mouseClick(test::control<QToolButton>(m_window.get(), "iPaz"), Qt::LeftButton);
    const QVariantMap row = stored(QStringLiteral("Резистор МЛТ"));
    QCOMPARE(row.value("sorp").toString(), QStringLiteral("B"));
    QCOMPARE(row.value("phone").toString(), QStringLiteral("9"));
    QCOMPARE(row.value("PhotoN").toString(), QStringLiteral("DIP-8"));
    QCOMPARE(m_register->storedParts().size(), parts().size());
    // The list is whole again, by name.
    QCOMPARE(grid->model()->rowCount(), parts().size());
    QCOMPARE(test::control<QLineEdit>(m_window.get(), "Text1")->text(), QStringLiteral("NE555P"));

    // Another program changes the part while the dialog is open; the user gives up: the
    // details show what the file holds, as the list does.
    whenModal([&](QDialog* dialog) {
        runSql(QStringLiteral("UPDATE client SET phone = '41' WHERE idFam = 'NE555P'"));
        MessageBox::setNextAnswer(QMessageBox::No);
        test::control<QPushButton>(dialog, "cmdAdd1")->click();
        QCOMPARE(MessageBox::takeShown().size(), 1);
        dialog->reject();
    });
    QTest::mouseClick(test::control<QToolButton>(m_window.get(), "iPaz"), Qt::LeftButton);
    QCOMPARE(test::control<QLineEdit>(m_window.get(), "Text4")->text(), QStringLiteral("41"));
}

void TestPartDialogs::priceWithDecimalCommaEndToEnd()
{
    const QLocale before;
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
    m_window = std::make_unique<Form1>(m_register->paths(), m_register->owner());
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    test::searchFor(*m_window, QStringLiteral("NE555P"));
    whenModal([&](QDialog* dialog) {
        auto* price = test::control<QLineEdit>(dialog, "Cena");
        price->clear();
        typeText(price, QStringLiteral("12,5"));
        auto* quantity = test::control<QLineEdit>(dialog, "txtVozrast");
        quantity->clear();
        typeText(quantity, QStringLiteral("2,"));
        test::control<QPushButton>(dialog, "cmdAdd1")->click();
    });
    QTest::mouseClick(test::control<QToolButton>(m_window.get(), "iPaz"), Qt::LeftButton);
    QCOMPARE(stored(QStringLiteral("NE555P")).value("pol").toString(), QStringLiteral("12,5"));
    QCOMPARE(stored(QStringLiteral("NE555P")).value("phone").toString(), QStringLiteral("2"));
    QCOMPARE(test::control<QLineEdit>(m_window.get(), "Text1")->text(), QStringLiteral("NE555P"));
    const auto stockValue = [&] { return test::control<QLabel>(m_window.get(), "Label9")->text(); };
    QCOMPARE(stockValue(), QStringLiteral("25"));
    QTest::mouseClick(test::control<QPushButton>(m_window.get(), "plus"), Qt::LeftButton);
    QCOMPARE(stockValue(), QStringLiteral("37,5"));
    QTest::mouseClick(test::control<QPushButton>(m_window.get(), "minus"), Qt::LeftButton);
    QCOMPARE(stockValue(), QStringLiteral("25"));
    QLocale::setDefault(before);
}

void TestPartDialogs::apostrophesEndToEnd()
{
    m_window = std::make_unique<Form1>(m_register->paths(), m_register->owner());
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    const QString name = QStringLiteral("O'Neil's 'quoted' part");
    whenModal([&](QDialog* dialog) {
        typeText(test::control<QLineEdit>(dialog, "Fam"), name);
        typeText(test::control<QComboBox>(dialog, "DBCombo8")->lineEdit(), QStringLiteral("o'r"));
        typeText(test::control<QComboBox>(dialog, "DBCombo8")->lineEdit(), QStringLiteral("ing"));
        typeText(test::control<QLineEdit>(dialog, "txtVozrast"), QStringLiteral("1"));
        test::control<QPushButton>(dialog, "cmdAdd1")->click();
    });
    QTest::mouseClick(test::control<QToolButton>(m_window.get(), "nPaz"), Qt::LeftButton);
    QCOMPARE(stored(name).value("PhotoN").toString(), QStringLiteral("O'RING"));

    // Found by the search, shown with its picture, and warned about as a duplicate.
    test::searchFor(*m_window, QStringLiteral("'quoted'"));
    QCOMPARE(test::control<QLineEdit>(m_window.get(), "Text1")->text(), name);
    QCOMPARE(colourOf(test::control<QLabel>(m_window.get(), "Image2")), QColor(Qt::yellow));
    whenModal([&](QDialog* dialog) {
        auto* fam = test::control<QLineEdit>(dialog, "Fam");
        QCOMPARE(fam->text(), name);
        fam->setText(name + QStringLiteral("'"));
        test::control<QPushButton>(dialog, "cmdAdd1")->click();
    });
    QTest::mouseClick(test::control<QToolButton>(m_window.get(), "iPaz"), Qt::LeftButton);
    const QVariantMap row = stored(name + QStringLiteral("'"));
    QCOMPARE(row.value("PhotoN").toString(), QStringLiteral("O'RING"));
    QCOMPARE(row.value("datebir").toString(), QStringLiteral("O'RING"));

    whenModal([&](QDialog* dialog) {
        test::control<QLineEdit>(dialog, "Fam")->setText(name + QStringLiteral("'"));
        MessageBox::setNextAnswer(QMessageBox::Ok);
        typeText(test::control<QLineEdit>(dialog, "txtVozrast"), QStringLiteral("2"));
        QCOMPARE(MessageBox::takeShown().size(), 1);
        dialog->reject();
    });
    QTest::mouseClick(test::control<QToolButton>(m_window.get(), "nPaz"), Qt::LeftButton);
}

void TestPartDialogs::editWithNoCurrentPartDoesNothing()
{
    m_window = std::make_unique<Form1>(m_register->paths(), m_register->owner());
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    test::searchFor(*m_window, QStringLiteral("нет такого"));
    bool opened = false;
    QTimer::singleShot(0, this, [&] {
        if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
            opened = true;
            dialog->reject();
        }
    });
    QTest::mouseClick(test::control<QToolButton>(m_window.get(), "iPaz"), Qt::LeftButton);
    QTest::qWait(10);
    QVERIFY(!opened);
    QCOMPARE(m_register->storedParts().size(), parts().size());
}

void TestPartDialogs::mainWindowShowsNoPictureItCannotDecode()
{
    // The main window shows pictures through the dialogs' helper: never the previous part's.
    m_window = std::make_unique<Form1>(m_register->paths(), m_register->owner());
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    auto* search = test::control<QLineEdit>(m_window.get(), "Text5");
    auto* picture = test::control<QLabel>(m_window.get(), "Image2");
    test::searchFor(*m_window, QStringLiteral("МЛТ"));
    QCOMPARE(colourOf(picture), QColor(Qt::red));
    search->clear();
    test::searchFor(*m_window, QStringLiteral("Брак"));
    QCOMPARE(test::control<QLineEdit>(m_window.get(), "Text1")->text(), QStringLiteral("Брак"));
    QVERIFY(picture->pixmap().isNull());
}

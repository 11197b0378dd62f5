// The dialogs' layout and tab order, the typing rules, the checks on OK and the
// duplicate-name warning. The dialogs' fixture and the program's entry point are here too.
#include "TestPartDialogs.h"

void TestPartDialogs::initTestCase()
{
    prepareApplication(*qApp);
    // A box nobody answered would wait forever; it is closed and the test fails instead.
    m_boxWatch.setInterval(200);
    connect(&m_boxWatch, &QTimer::timeout, this, [this] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            m_unexpectedBoxes << box->text();
            box->done(QMessageBox::Ok);
        }
    });
    m_boxWatch.start();
}

void TestPartDialogs::init()
{
    m_register = std::make_unique<TestRegister>();
    QVERIFY(m_register->write(parts(), packages()));
}

void TestPartDialogs::cleanup()
{
    m_dialog.reset();
    m_data1.reset();
    if (m_window) {
        MessageBox::setNextAnswer(QMessageBox::Yes);
        m_window->close();
        MessageBox::takeShown();
        m_window.reset();
    }
    QVERIFY2(MessageBox::takeShown().isEmpty(), "a message nobody expected");
    QVERIFY2(m_unexpectedBoxes.isEmpty(), qPrintable(m_unexpectedBoxes.join(" | ")));
}

// The dialog as the main window builds it: on a parts list whose current row is `name`.
void TestPartDialogs::open(Kind kind, const QString& name, bool show)
{
    m_dialog.reset();
    m_data1 = std::make_unique<RecordSource>();
    QVERIFY(m_data1->open(m_register->owner()).ok());
    m_data1->setStatement(name.isEmpty() ? Statements::partsInStoredOrder()
                                         : Statements::partsNamed(name));
    QVERIFY(m_data1->refresh());
    if (kind == New) {
        m_dialog = std::make_unique<Form2>(m_register->owner(), m_register->paths(), saver());
    } else {
        QVERIFY(m_data1->hasCurrent());
        const PartRow current =
            PartRow::read([this](const QString& f) { return m_data1->field(f); });
        m_dialog = std::make_unique<Form12>(m_register->owner(), m_register->paths(), current,
                                            m_data1->currentPart(), saver());
    }
    if (show) {
        m_dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_dialog.get()));
    }
}

QStringList TestPartDialogs::listed() const
{
    QStringList names;
    for (int i = 0; i < combo()->count(); ++i)
        names << combo()->itemText(i);
    return names;
}

QVariantMap TestPartDialogs::stored(const QString& name) const
{
    for (const QVariantMap& row : m_register->storedParts()) {
        if (row.value("idFam").toString() == name)
            return row;
    }
    return {};
}

void TestPartDialogs::whenModal(std::function<void(QDialog*)> drive)
{
    QTimer::singleShot(0, this, [drive] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        QVERIFY2(dialog, "no dialog opened");
        drive(dialog);
        if (dialog->isVisible())
            dialog->reject(); // whatever failed above, the command must come back
    });
}

void TestPartDialogs::runSql(const QString& sql) const
{
    // A plain connection, as another tool would have.
    const QString error = m_register->runAsOtherClient(sql);
    QVERIFY2(error.isEmpty(), qPrintable(sql + QStringLiteral(": ") + error));
}

// ---- layout -------------------------------------------------------------------------------

void TestPartDialogs::layout_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<QString>("text");
    // Pixels are twips / 15.
    const struct {
        const char* name;
        QRect inNew, inEdit;
        const char* text;
    } controls[] = {
        {"Label1", {24, 16, 105, 17}, {24, 8, 105, 17}, "Данные"},
        {"Label2", {24, 51, 121, 17}, {24, 43, 121, 17}, "Наименование"},
        {"Fam", {120, 48, 457, 22}, {120, 40, 457, 22}, ""},
        {"Label3", {24, 91, 57, 17}, {24, 83, 57, 17}, "Корпус"},
        {"DBCombo8", {120, 88, 129, 23}, {120, 80, 129, 23}, ""},
        {"Label5", {256, 91, 73, 17}, {256, 83, 73, 17}, "Количество"},
        {"txtVozrast", {328, 88, 73, 22}, {328, 80, 73, 22}, ""},
        {"Label4", {448, 91, 41, 17}, {448, 83, 41, 17}, "Цена"},
        {"Cena", {488, 88, 89, 22}, {488, 80, 89, 22}, ""},
        {"Image2", {24, 128, 273, 233}, {24, 128, 273, 233}, ""},
        {"Label24", {304, 128, 273, 17}, {304, 128, 273, 17}, "Доп. информац."},
        {"txtDisc", {312, 152, 273, 206}, {304, 160, 273, 190}, ""},
        {"cmdAdd1", {160, 376, 89, 33}, {152, 376, 89, 33}, "OK"},
        {"Exit", {360, 376, 89, 33}, {336, 376, 89, 33}, "Отмена"},
    };
    for (const auto& c : controls) {
        QTest::addRow("new %s", c.name) << int(New) << c.name << c.inNew << c.text;
        const QString editText = QLatin1String(c.name) == "cmdAdd1" ? "ОК" : c.text;
        QTest::addRow("edit %s", c.name) << int(Edit) << c.name << c.inEdit << editText;
    }
}

void TestPartDialogs::layout()
{
    QFETCH(int, kind);
    QFETCH(QString, name);
    QFETCH(QRect, geometry);
    QFETCH(QString, text);
    open(Kind(kind), "NE555P");
    QWidget* widget = control<QWidget>(qPrintable(name));
    QCOMPARE(widget->geometry(), geometry);
    if (auto* button = qobject_cast<QPushButton*>(widget))
        QCOMPARE(button->text(), text);
    else if (auto* label = qobject_cast<QLabel*>(widget); label && !text.isEmpty())
        QCOMPARE(label->text(), text);
    QVERIFY2(!widget->accessibleName().isEmpty(), qPrintable(name));
}

void TestPartDialogs::windowTabOrderAndFirstFocus_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("objectName");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QSize>("client");
    QTest::addColumn<QStringList>("tabOrder");
    QTest::newRow("new") << int(New) << "Form2"
                         << "Новый элемент" << QSize(598, 419)
                         << QStringList{"cmdAdd1",    "Exit", "Cena",    "txtDisc",
                                        "txtVozrast", "Fam",  "DBCombo8"};
    QTest::newRow("edit") << int(Edit) << "Form12"
                          << "Изменение данных" << QSize(592, 419)
                          << QStringList{"cmdAdd1", "Exit", "Fam",     "txtVozrast",
                                         "txtDisc", "Cena", "DBCombo8"};
}

void TestPartDialogs::windowTabOrderAndFirstFocus()
{
    QFETCH(int, kind);
    QFETCH(QStringList, tabOrder);
    open(Kind(kind), "NE555P", false);
    QTEST(m_dialog->objectName(), "objectName");
    QTEST(m_dialog->windowTitle(), "title");
    QTEST(m_dialog->size(), "client");
    QCOMPARE(m_dialog->minimumSize(), m_dialog->maximumSize());
    const Qt::WindowFlags flags = m_dialog->windowFlags();
    QVERIFY(!(flags & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
    QVERIFY(flags & Qt::WindowCloseButtonHint);

    // Until the timer fires the focus is on the first tab stop, OK.
    QCOMPARE(m_dialog->focusWidget(), control<QPushButton>("cmdAdd1"));
    auto* timer = control<QTimer>("Timer1");
    QCOMPARE(timer->interval(), 100);
    QVERIFY(timer->isSingleShot());
    m_dialog->show();
    m_dialog->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_dialog.get()));
    QTRY_COMPARE(QApplication::focusWidget(), box("Fam"));
    QVERIFY(!timer->isActive());
    // Centred before the window manager has told the frame's size: within a few pixels.
    const QPoint offCentre =
        m_dialog->frameGeometry().center() - m_dialog->screen()->availableGeometry().center();
    QVERIFY2(offCentre.manhattanLength() <= 8,
             qPrintable(QStringLiteral("%1, %2").arg(offCentre.x()).arg(offCentre.y())));
    QVERIFY(!control<QLineEdit>("Text1")->isVisible());

    control<QPushButton>("cmdAdd1")->setFocus();
    QStringList visited;
    tabOrder << "cmdAdd1"; // and round again
    for (int i = 0; i < tabOrder.size(); ++i) {
        QWidget* focus = QApplication::focusWidget();
        if (qobject_cast<QComboBox*>(focus->parentWidget()))
            focus = focus->parentWidget();
        visited << focus->objectName();
        QTest::keyClick(focus, Qt::Key_Tab);
    }
    QCOMPARE(visited, tabOrder);
}

// ---- typing -------------------------------------------------------------------------------

void TestPartDialogs::quantityAndPriceTakeDigitsOnly_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("typed");
    // A price also takes one decimal comma; a second one is swallowed.
    QTest::newRow("new quantity") << int(New) << "txtVozrast"
                                  << "12345";
    QTest::newRow("new price") << int(New) << "Cena"
                               << "123,45";
    QTest::newRow("edit quantity") << int(Edit) << "txtVozrast"
                                   << "12345";
    QTest::newRow("edit price") << int(Edit) << "Cena"
                                << "123,45";
}

void TestPartDialogs::quantityAndPriceTakeDigitsOnly()
{
    QFETCH(int, kind);
    QFETCH(QString, name);
    QFETCH(QString, typed);
    open(Kind(kind), "NE555P");
    QLineEdit* field = box(qPrintable(name));
    field->clear();
    typeText(field, QStringLiteral("1a2-3,4 .5,б٣"));
    QCOMPARE(field->text(), typed);
    QTest::keyClick(field, Qt::Key_Backspace);
    QTest::keyClick(field, Qt::Key_Return);
    QTest::keyClick(field, Qt::Key_Escape); // swallowed: the dialog stays
    QVERIFY(m_dialog->isVisible());
    QCOMPARE(field->text(), typed.chopped(1));
    // Keys that type nothing keep their use.
    QTest::keyClick(field, Qt::Key_Home);
    QTest::keyClick(field, Qt::Key_Delete);
    QCOMPARE(field->text(), typed.chopped(1).mid(1));

    // The paste key is swallowed; text that arrives without typing is not filtered.
    QApplication::clipboard()->setText(QStringLiteral("7,5 шт"));
    QTest::keyClick(field, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(field->text(), typed.chopped(1).mid(1));
    field->paste(); // the context menu's "Paste"
    QCOMPARE(field->text(), QStringLiteral("7,5 шт") + typed.chopped(1).mid(1));
}

void TestPartDialogs::validationMessagesInOrder_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("quantity");
    QTest::addColumn<QString>("message");
    QTest::newRow("new, both empty") << int(New) << ""
                                     << ""
                                     << "Вы не заполнили наименование";
    QTest::newRow("new, no name") << int(New) << ""
                                  << "5"
                                  << "Вы не заполнили наименование";
    QTest::newRow("new, no quantity") << int(New) << "Диод"
                                      << ""
                                      << "Вы не выбрали количество";
    QTest::newRow("edit, no name") << int(Edit) << ""
                                   << "7"
                                   << "Вы не заполнили наименование";
    QTest::newRow("edit, no quantity") << int(Edit) << "NE555P"
                                       << ""
                                       << "Вы не выбрали количество";
}

void TestPartDialogs::validationMessagesInOrder()
{
    QFETCH(int, kind);
    QFETCH(QString, message);
    open(Kind(kind), "NE555P");
    QFETCH(QString, name);
    QFETCH(QString, quantity);
    box("Fam")->setText(name);
    box("txtVozrast")->setText(quantity);
    const QList<QVariantMap> before = m_register->storedParts();

    MessageBox::setNextAnswer(QMessageBox::Ok);
    clickOk();
    const QList<MessageBox::Shown> shown = MessageBox::takeShown();
    QCOMPARE(shown.size(), 1);
    QCOMPARE(shown[0].text, message);
    QCOMPARE(shown[0].title, QStringLiteral("Тарвик"));
    QCOMPARE(shown[0].icon, QMessageBox::NoIcon);
    QCOMPARE(shown[0].buttons, QMessageBox::Ok);
    QVERIFY(m_dialog->isVisible());
    QVERIFY(control<QPushButton>("cmdAdd1")->isEnabled());
    QCOMPARE(box("Fam")->text(), name);
    QCOMPARE(m_register->storedParts(), before);
}

void TestPartDialogs::duplicateNameWarning()
{
    open(New);
    QLineEdit* quantity = box("txtVozrast");
    const auto typeExpectingWarning = [&](auto typeKey, int warnings) {
        for (int i = 0; i < warnings; ++i)
            MessageBox::setNextAnswer(QMessageBox::Ok);
        typeKey();
        const QList<MessageBox::Shown> shown = MessageBox::takeShown();
        QCOMPARE(shown.size(), warnings);
        for (const MessageBox::Shown& box : shown) {
            QCOMPARE(box.text, QStringLiteral("Такой элемент уже есть в базе!!!"));
            QCOMPARE(box.title, QStringLiteral("Tarvik"));
            QCOMPARE(box.icon, QMessageBox::NoIcon);
            QCOMPARE(box.buttons, QMessageBox::Ok);
        }
    };

    typeText(box("Fam"), QStringLiteral("Резистор МЛТ"));
    // Every typed character warns, passed or swallowed; the warning blocks nothing.
    typeExpectingWarning([&] { typeText(quantity, QStringLiteral("5")); }, 1);
    QCOMPARE(quantity->text(), QStringLiteral("5"));
    typeExpectingWarning([&] { typeText(quantity, QStringLiteral("x")); }, 1);
    typeExpectingWarning([&] { QTest::keyClick(quantity, Qt::Key_Backspace); }, 1);
    QCOMPARE(quantity->text(), QString());
    // Moving about in the box types nothing.
    typeExpectingWarning([&] { QTest::keyClick(quantity, Qt::Key_Left); }, 0);
    // The price box never warns.
    typeExpectingWarning([&] { typeText(box("Cena"), QStringLiteral("9")); }, 0);

    // Letter case counts; so does every other character.
    for (const QString& other : {QStringLiteral("резистор млт"), QStringLiteral("РЕЗИСТОР МЛТ"),
                                 QStringLiteral("Резистор"), QStringLiteral("Резистор МЛТ ")}) {
        box("Fam")->setText(other);
        typeExpectingWarning([&] { typeText(quantity, QStringLiteral("1")); }, 0);
    }
    box("Fam")->setText(QStringLiteral("Panasonic's EEU"));
    typeExpectingWarning([&] { typeText(quantity, QStringLiteral("1")); }, 1);

    // The same name is still saved when the user wants it.
    box("Fam")->setText(QStringLiteral("Резистор МЛТ"));
    clickOk();
    QCOMPARE(m_register->storedNames().count(QStringLiteral("Резистор МЛТ")), 2);

    // The edit dialog has no warning, not even when renaming to a stored name.
    open(Edit, "NE555P");
    box("Fam")->setText(QStringLiteral("Panasonic's EEU"));
    typeExpectingWarning([&] { typeText(box("txtVozrast"), QStringLiteral("1x")); }, 0);
    clickOk();
    QCOMPARE(m_register->storedNames().count(QStringLiteral("Panasonic's EEU")), 2);
}

QTEST_MAIN(TestPartDialogs)
#include "moc_TestPartDialogs.cpp"

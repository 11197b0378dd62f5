// The new-part and edit-part dialogs, driven through the real windows: layout, typing rules,
// the duplicate-name warning, the package choice, saving, and their commands in the main window.
#include "TestRegister.h"

#include "app/Form1.h"
#include "app/Startup.h"
#include "editor/Form2.h"
#include "gui/MessageBox.h"
#include "store/records/RecordSource.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QToolButton>

using namespace tarvik;
using namespace tarvik::test;

namespace {

enum Kind { New, Edit };

// Stored in this order; named types by name: DIP-8, O'RING, SOT-23, TO-92, БРАК.
QList<Package> packages()
{
    return {{"DIP-8", picture(Qt::red, "BMP", 30, 20)},
            {"TO-92", QByteArray()},
            {"", picture(Qt::green)},
            {"SOT-23", picture(Qt::blue, "JPG", 50, 40)},
            {"O'RING", picture(Qt::yellow, "BMP")},
            {"БРАК", QByteArray("GIF89a, but no picture after all")}};
}
const QStringList kStoredTypes = {"DIP-8", "TO-92", "", "SOT-23", "O'RING", "БРАК"};
const QStringList kNamedTypesByName = {"DIP-8", "O'RING", "SOT-23", "TO-92", "БРАК"};

QList<PartRow> parts()
{
    return {part("Резистор МЛТ", "0,35", "3", "DIP-8", "пленочный"),
            part("NE555P", "", "7", "TO-92"),
            part("Panasonic's EEU", "1", "0", "O'RING"),
            // Its package text names no type; its PhotoN does.
            {QStringLiteral("0118"),
             QStringLiteral("Дроссель"),
             QStringLiteral("5"),
             QStringLiteral("СТАРЫЙ"),
             QStringLiteral("1"),
             {},
             QStringLiteral("SOT-23")},
            // Its package text names a type in other letter case; its PhotoN is empty.
            {QStringLiteral("0118"),
             QStringLiteral("диод"),
             QStringLiteral("2"),
             QStringLiteral("dip-8"),
             QStringLiteral("4"),
             {},
             {}},
            part("Брак", "1", "1", "БРАК")};
}

// The colour of the shown picture, near enough for JPEG: each channel to the nearest 32.
QColor colourOf(const QLabel* image)
{
    const QColor c = image->pixmap().toImage().pixelColor(2, 2);
    const auto round = [](int v) { return std::min(255, (v + 16) / 32 * 32); };
    return QColor(round(c.red()), round(c.green()), round(c.blue()));
}

} // namespace

class TestPartDialogs : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void layout_data();
    void layout();
    void windowTabOrderAndFirstFocus_data();
    void windowTabOrderAndFirstFocus();
    void quantityAndPriceTakeDigitsOnly_data();
    void quantityAndPriceTakeDigitsOnly();
    void validationMessagesInOrder_data();
    void validationMessagesInOrder();
    void duplicateNameWarning();
    void packageChoice();
    void saveStoresEveryField();
    void editWithoutChangesKeepsPackage_data();
    void editWithoutChangesKeepsPackage();
    void cancelWritesNothing_data();
    void cancelWritesNothing();
    void doubleClickOnOkStoresOneRow();
    void refusedSaveKeepsDialogAndInput_data();
    void refusedSaveKeepsDialogAndInput();
    void editNeverOverwritesAnotherProgramsChange();
    void newPartFromMainWindow();
    void editPartFromMainWindow();
    void apostrophesEndToEnd();
    void editWithNoCurrentPartDoesNothing();
    void mainWindowShowsNoPictureItCannotDecode();

private:
    void open(Kind kind, const QString& name = {}, bool show = true);
    template <typename T> T* control(const char* name) const
    {
        return test::control<T>(m_dialog.get(), name);
    }
    QLineEdit* box(const char* name) const { return control<QLineEdit>(name); }
    QComboBox* combo() const { return control<QComboBox>("DBCombo8"); }
    QLabel* image() const { return control<QLabel>("Image2"); }
    QStringList listed() const;
    // Saves into m_data1 as the main window saves into its list.
    PartSaver saver()
    {
        return [this](const PartRow& part, const std::optional<PartRow>& expected) {
            return savePartListedByName(*m_data1, part, expected);
        };
    }
    void clickOk() const { QTest::mouseClick(control<QPushButton>("cmdAdd1"), Qt::LeftButton); }
    QVariantMap stored(const QString& name) const;
    // Runs `drive` on the modal dialog a main-window command opens.
    void whenModal(std::function<void(QDialog*)> drive);
    void runSql(const QString& sql) const;

    std::unique_ptr<TestRegister> m_register;
    std::unique_ptr<RecordSource> m_data1;
    std::unique_ptr<Form2> m_dialog;
    std::unique_ptr<Form1> m_window;
    QTimer m_boxWatch;
    QStringList m_unexpectedBoxes;
};

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
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "plain");
        db.setDatabaseName(m_register->databasePath());
        QVERIFY(db.open());
        QSqlQuery query(db);
        QVERIFY2(query.exec(sql), qPrintable(sql));
    }
    QSqlDatabase::removeDatabase("plain");
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
    QTest::newRow("new quantity") << int(New) << "txtVozrast";
    QTest::newRow("new price") << int(New) << "Cena";
    QTest::newRow("edit quantity") << int(Edit) << "txtVozrast";
    QTest::newRow("edit price") << int(Edit) << "Cena";
}

void TestPartDialogs::quantityAndPriceTakeDigitsOnly()
{
    QFETCH(int, kind);
    QFETCH(QString, name);
    open(Kind(kind), "NE555P");
    QLineEdit* field = box(qPrintable(name));
    field->clear();
    typeText(field, QStringLiteral("1a2-3,4 .5б٣"));
    QCOMPARE(field->text(), QStringLiteral("12345"));
    QTest::keyClick(field, Qt::Key_Backspace);
    QTest::keyClick(field, Qt::Key_Return);
    QTest::keyClick(field, Qt::Key_Escape); // swallowed: the dialog stays
    QVERIFY(m_dialog->isVisible());
    QCOMPARE(field->text(), QStringLiteral("1234"));
    // Keys that type nothing keep their use.
    QTest::keyClick(field, Qt::Key_Home);
    QTest::keyClick(field, Qt::Key_Delete);
    QCOMPARE(field->text(), QStringLiteral("234"));

    // The paste key is swallowed; text that arrives without typing is not filtered.
    QApplication::clipboard()->setText(QStringLiteral("7,5 шт"));
    QTest::keyClick(field, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(field->text(), QStringLiteral("234"));
    field->paste(); // the context menu's "Paste"
    QCOMPARE(field->text(), QStringLiteral("7,5 шт234"));
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

// ---- package choice -----------------------------------------------------------------------

void TestPartDialogs::packageChoice()
{
    const QString temporary = m_register->paths().temporaryPicturePath();
    open(New);
    // The first list is every type as stored, the one without a name too; nothing chosen.
    QCOMPARE(listed(), kStoredTypes);
    QCOMPARE(combo()->currentText(), QString());
    QVERIFY(image()->pixmap().isNull());
    QCOMPARE(m_dialog->chosenPackage(), QString());

    // Typed in other letter case: found, shown, and the text stays as typed.
    QLineEdit* text = combo()->lineEdit();
    typeText(text, QStringLiteral("dip-8"));
    QCOMPARE(combo()->currentText(), QStringLiteral("dip-8"));
    QCOMPARE(text->cursorPosition(), 5);
    QCOMPARE(m_dialog->chosenPackage(), QStringLiteral("DIP-8"));
    QCOMPARE(colourOf(image()), QColor(Qt::red));
    QVERIFY(!QFile::exists(temporary));
    QCOMPARE(listed(), kNamedTypesByName);

    // A text that names no type keeps the type and the picture found before.
    typeText(text, QStringLiteral(" корп"));
    QCOMPARE(combo()->currentText(), QStringLiteral("dip-8 корп"));
    QCOMPARE(m_dialog->chosenPackage(), QStringLiteral("DIP-8"));
    QCOMPARE(colourOf(image()), QColor(Qt::red));

    // Chosen from the list: a type without a picture shows none.
    combo()->setCurrentIndex(kNamedTypesByName.indexOf("TO-92"));
    QCOMPARE(combo()->currentText(), QStringLiteral("TO-92"));
    QCOMPARE(m_dialog->chosenPackage(), QStringLiteral("TO-92"));
    QVERIFY(image()->pixmap().isNull());
    QVERIFY(!QFile::exists(temporary));

    // A stored picture that cannot be decoded shows no picture, not the one before it.
    combo()->setEditText(QStringLiteral("SOT-23"));
    QCOMPARE(colourOf(image()), QColor(Qt::blue));
    combo()->setEditText(QStringLiteral("брак"));
    QCOMPARE(m_dialog->chosenPackage(), QStringLiteral("БРАК"));
    QVERIFY(image()->pixmap().isNull());

    // An apostrophe is a character like any other.
    combo()->setEditText(QStringLiteral("o'ring"));
    QCOMPARE(m_dialog->chosenPackage(), QStringLiteral("O'RING"));
    QCOMPARE(colourOf(image()), QColor(Qt::yellow));
    QCOMPARE(listed(), kNamedTypesByName);
    QVERIFY(!QFile::exists(temporary));
}

// ---- saving -------------------------------------------------------------------------------

void TestPartDialogs::saveStoresEveryField()
{
    // The main list is filtered when the dialog opens; after the save it lists every part.
    open(New);
    m_data1->setStatement(Statements::partsWithNameLike(QStringLiteral("NE")));
    QVERIFY(m_data1->refresh());
    QCOMPARE(m_data1->recordCount(), 1);

    typeText(box("Fam"), QStringLiteral("Конденсатор К50-35"));
    typeText(combo()->lineEdit(), QStringLiteral("dip-8 ёлка"));
    typeText(box("txtVozrast"), QStringLiteral("12"));
    typeText(box("Cena"), QStringLiteral("350"));
    control<QPlainTextEdit>("txtDisc")->setPlainText(QStringLiteral(" две\nстроки "));
    clickOk();

    QVERIFY(!m_dialog->isVisible());
    QCOMPARE(m_dialog->result(), int(QDialog::Accepted));
    const QVariantMap row = stored(QStringLiteral("Конденсатор К50-35"));
    QCOMPARE(row.value("PhotoN").toString(), QStringLiteral("DIP-8"));
    QCOMPARE(row.value("datebir").toString(), QStringLiteral("DIP-8 ЁЛКА"));
    QCOMPARE(row.value("phone").toString(), QStringLiteral("12"));
    QCOMPARE(row.value("pol").toString(), QStringLiteral("350"));
    QCOMPARE(row.value("sorp").toString(), QStringLiteral(" две\nстроки "));
    // Two capitals К (12 12), 18 characters, then the random part.
    const QString kont = row.value("kont").toString();
    QVERIFY2(QRegularExpression("^01121218\\d{8,15}$").match(kont).hasMatch(), qPrintable(kont));
    QCOMPARE(control<QLineEdit>("Text1")->text(), kont);
    QCOMPARE(row.value("idFamKey").toString(), QStringLiteral("конденсатор к50-35"));

    QCOMPARE(m_data1->statement(), Statements::partsByName());
    QCOMPARE(m_data1->recordCount(), parts().size() + 1);
    QCOMPARE(m_data1->currentRow(), 0);
    QCOMPARE(m_data1->field("idFam").toString(), QStringLiteral("NE555P"));
    QVERIFY(!QFile::exists(m_register->paths().temporaryPicturePath()));
}

void TestPartDialogs::editWithoutChangesKeepsPackage_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<QColor>("colour"); // invalid: no picture
    QTest::addColumn<QString>("datebir");
    QTest::newRow("type as stored") << "Резистор МЛТ"
                                    << "DIP-8" << QColor(Qt::red) << "DIP-8";
    QTest::newRow("text names no type") << "Дроссель"
                                        << "SOT-23" << QColor(Qt::blue) << "СТАРЫЙ";
    QTest::newRow("text in other case") << "диод"
                                        << "DIP-8" << QColor(Qt::red) << "DIP-8";
    QTest::newRow("apostrophe") << "Panasonic's EEU"
                                << "O'RING" << QColor(Qt::yellow) << "O'RING";
    QTest::newRow("type without picture") << "NE555P"
                                          << "TO-92" << QColor() << "TO-92";
}

void TestPartDialogs::editWithoutChangesKeepsPackage()
{
    QFETCH(QString, name);
    QFETCH(QString, chosen);
    QFETCH(QColor, colour);
    const QVariantMap before = stored(name);
    open(Edit, name);
    QCOMPARE(box("Fam")->text(), name);
    QCOMPARE(box("txtVozrast")->text(), before.value("phone").toString());
    QCOMPARE(box("Cena")->text(), before.value("pol").toString());
    QCOMPARE(control<QPlainTextEdit>("txtDisc")->toPlainText(), before.value("sorp").toString());
    QCOMPARE(combo()->currentText(), before.value("datebir").toString());
    QCOMPARE(m_dialog->chosenPackage(), chosen);
    if (colour.isValid())
        QCOMPARE(colourOf(image()), colour);
    else
        QVERIFY(image()->pixmap().isNull());
    QCOMPARE(listed(), kStoredTypes);

    QTest::mouseClick(control<QPushButton>("cmdAdd1"), Qt::LeftButton);
    QVERIFY(!m_dialog->isVisible());
    QCOMPARE(m_register->storedParts().size(), parts().size());
    const QVariantMap after = stored(name);
    QCOMPARE(after.value("idnom"), before.value("idnom"));
    QCOMPARE(after.value("PhotoN").toString(), chosen);
    QTEST(after.value("datebir").toString(), "datebir");
    for (const char* same : {"pol", "phone", "sorp"})
        QCOMPARE(after.value(same), before.value(same));
    // Computed anew: four capitals give the constant key, fewer a random one.
    const QString kont = after.value("kont").toString();
    QVERIFY2(kont == "0200000001" || QRegularExpression("^01\\d{9,}$").match(kont).hasMatch(),
             qPrintable(kont));
    QVERIFY(kont != before.value("kont").toString());
}

void TestPartDialogs::cancelWritesNothing_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("how");
    for (const char* how : {"Отмена", "close box", "Escape"}) {
        QTest::addRow("new, %s", how) << int(New) << how;
        QTest::addRow("edit, %s", how) << int(Edit) << how;
    }
}

void TestPartDialogs::cancelWritesNothing()
{
    QFETCH(int, kind);
    QFETCH(QString, how);
    open(Kind(kind), "Резистор МЛТ");
    const QList<QVariantMap> before = m_register->storedParts();
    const Statement listBefore = m_data1->statement();
    box("Fam")->setText(QStringLiteral("Другое имя"));
    box("txtVozrast")->setText(QStringLiteral("99"));
    combo()->setEditText(QStringLiteral("SOT-23"));
    if (how == "Отмена")
        QTest::mouseClick(control<QPushButton>("Exit"), Qt::LeftButton);
    else if (how == "close box")
        m_dialog->close();
    else
        QTest::keyClick(box("Fam"), Qt::Key_Escape);
    QVERIFY(!m_dialog->isVisible());
    QCOMPARE(m_dialog->result(), int(QDialog::Rejected));
    QCOMPARE(m_register->storedParts(), before);
    QCOMPARE(m_data1->statement(), listBefore);
}

void TestPartDialogs::doubleClickOnOkStoresOneRow()
{
    open(New);
    box("Fam")->setText(QStringLiteral("Транзистор кт315"));
    box("txtVozrast")->setText(QStringLiteral("10"));
    // The second click, and a key for the name, wait in the queue; the key routine lets them
    // through during the save.
    auto* ok = control<QPushButton>("cmdAdd1");
    QMetaObject::invokeMethod(ok, &QPushButton::click, Qt::QueuedConnection);
    QCoreApplication::postEvent(box("Fam"), new QKeyEvent(QEvent::KeyPress, Qt::Key_X,
                                                          Qt::NoModifier, QStringLiteral("x")));
    QTest::mouseClick(ok, Qt::LeftButton);
    QTest::qWait(20);
    QCOMPARE(m_register->storedParts().size(), parts().size() + 1);
    const QVariantMap row = stored(QStringLiteral("Транзистор кт315"));
    QVERIFY(row.value("kont").toString().startsWith(QLatin1String("012016"))); // Т, 16
    QVERIFY(!m_dialog->isVisible());
}

void TestPartDialogs::refusedSaveKeepsDialogAndInput_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("trigger");
    QTest::newRow("new") << int(New) << "BEFORE INSERT";
    QTest::newRow("edit") << int(Edit) << "BEFORE UPDATE";
}

void TestPartDialogs::refusedSaveKeepsDialogAndInput()
{
    QFETCH(int, kind);
    QFETCH(QString, trigger);
    open(Kind(kind), "NE555P");
    runSql(QStringLiteral("CREATE TRIGGER refuse %1 ON client BEGIN "
                          "SELECT RAISE(ABORT, 'склад закрыт'); END")
               .arg(trigger));
    const QList<QVariantMap> before = m_register->storedParts();
    box("Fam")->setText(QStringLiteral("Стабилитрон Д814"));
    box("txtVozrast")->setText(QStringLiteral("3"));
    combo()->setEditText(QStringLiteral("sot-23"));
    control<QPlainTextEdit>("txtDisc")->setPlainText(QStringLiteral("заметка"));

    MessageBox::setNextAnswer(QMessageBox::Ok);
    clickOk();
    QList<MessageBox::Shown> shown = MessageBox::takeShown();
    QCOMPARE(shown.size(), 1);
    QCOMPARE(shown[0].title, QStringLiteral("Тарвик"));
    QVERIFY2(shown[0].text.contains(QStringLiteral("склад закрыт")), qPrintable(shown[0].text));
    QVERIFY(m_dialog->isVisible());
    QVERIFY(control<QPushButton>("cmdAdd1")->isEnabled());
    QCOMPARE(box("Fam")->text(), QStringLiteral("Стабилитрон Д814"));
    QCOMPARE(box("txtVozrast")->text(), QStringLiteral("3"));
    QCOMPARE(combo()->currentText(), QStringLiteral("sot-23"));
    QCOMPARE(control<QPlainTextEdit>("txtDisc")->toPlainText(), QStringLiteral("заметка"));
    QCOMPARE(m_register->storedParts(), before);

    // Once the database takes it again, the same input is saved.
    runSql(QStringLiteral("DROP TRIGGER refuse"));
    clickOk();
    QVERIFY(!m_dialog->isVisible());
    const QVariantMap row = stored(QStringLiteral("Стабилитрон Д814"));
    QCOMPARE(row.value("PhotoN").toString(), QStringLiteral("SOT-23"));
    QCOMPARE(row.value("sorp").toString(), QStringLiteral("заметка"));
    QCOMPARE(m_register->storedParts().size(), before.size() + (kind == New ? 1 : 0));
}

void TestPartDialogs::editNeverOverwritesAnotherProgramsChange()
{
    open(Edit, "NE555P");
    box("Fam")->setText(QStringLiteral("NE555 новый"));
    box("txtVozrast")->setText(QStringLiteral("9"));
    // Meanwhile another program renames the part and sets its quantity.
    runSql(QStringLiteral("UPDATE client SET idFam = 'NE555 чужой', phone = '40' "
                          "WHERE idFam = 'NE555P'"));

    // Said, nothing written, the dialog and its input kept; on request the stored row shown.
    MessageBox::setNextAnswer(QMessageBox::Yes);
    MessageBox::setNextAnswer(QMessageBox::Ok);
    clickOk();
    QList<MessageBox::Shown> shown = MessageBox::takeShown();
    QCOMPARE(shown.size(), 2);
    QVERIFY2(shown[0].text.startsWith(QStringLiteral("Запись изменена другой программой.")),
             qPrintable(shown[0].text));
    QVERIFY2(shown[1].text.contains(QStringLiteral("Наименование: NE555 чужой")) &&
                 shown[1].text.contains(QStringLiteral("Количество: 40")),
             qPrintable(shown[1].text));
    QVERIFY(m_dialog->isVisible());
    QVERIFY(control<QPushButton>("cmdAdd1")->isEnabled());
    QCOMPARE(box("Fam")->text(), QStringLiteral("NE555 новый"));
    QCOMPARE(box("txtVozrast")->text(), QStringLiteral("9"));
    QCOMPARE(stored(QStringLiteral("NE555 чужой")).value("phone").toString(), QStringLiteral("40"));

    // OK again, knowing what is stored, writes the input over it.
    clickOk();
    QVERIFY(!m_dialog->isVisible());
    QVERIFY(stored(QStringLiteral("NE555 чужой")).isEmpty());
    QCOMPARE(stored(QStringLiteral("NE555 новый")).value("phone").toString(), QStringLiteral("9"));
}

// ---- the main window's commands ----------------------------------------------------------

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
    typeText(test::control<QLineEdit>(m_window.get(), "Text5"), QStringLiteral("рез"));
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
    typeText(test::control<QLineEdit>(m_window.get(), "Text5"), QStringLiteral("'quoted'"));
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
    typeText(test::control<QLineEdit>(m_window.get(), "Text5"), QStringLiteral("нет такого"));
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
    typeText(search, QStringLiteral("МЛТ"));
    QCOMPARE(colourOf(picture), QColor(Qt::red));
    search->clear();
    typeText(search, QStringLiteral("Брак"));
    QCOMPARE(test::control<QLineEdit>(m_window.get(), "Text1")->text(), QStringLiteral("Брак"));
    QVERIFY(picture->pixmap().isNull());
}

QTEST_MAIN(TestPartDialogs)
#include "tst_partdialogs.moc"

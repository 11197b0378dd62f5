// Every window without a mouse, and what a screen reader or a voice-control user hears of it:
// the keys of the list, Enter on buttons, Tab out of the notes, the picture reached from the
// keyboard, names that contain what the eye reads, and message boxes and the file dialog as
// they appear on a Russian desktop.
#include "TestRegister.h"
#include "WhenOpen.h"

#include "app/Form1.h"
#include "app/Startup.h"
#include "editor/Form2.h"
#include "gui/FileDialog.h"
#include "gui/MessageBox.h"
#include "packages/Form5.h"
#include "packages/PictureWindows.h"
#include "store/records/RecordSource.h"

#include <QAbstractButton>
#include <QAbstractFileIconProvider>
#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <functional>

using namespace tarvik;
using namespace tarvik::test;

namespace {

QString accessibleName(QWidget* widget)
{
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(widget);
    return face ? face->text(QAccessible::Name) : QString();
}

// Every caption the eye reads on `window` is found in what a reader says for its control.
void captionsAreInNames(QWidget* window)
{
    for (QAbstractButton* button : window->findChildren<QAbstractButton*>()) {
        if (button->text().isEmpty() || button->objectName().startsWith(QLatin1String("qt_")))
            continue;
        const QString caption = QString(button->text()).remove(QLatin1Char('&'));
        QVERIFY2(accessibleName(button).contains(caption, Qt::CaseInsensitive),
                 qPrintable(button->objectName() + ": " + accessibleName(button)));
    }
    for (QLabel* label : window->findChildren<QLabel*>()) {
        QWidget* box = label->buddy();
        if (!box || label->text().isEmpty())
            continue;
        const QString caption = QString(label->text()).remove(QLatin1Char('&'));
        QVERIFY2(accessibleName(box).contains(caption, Qt::CaseInsensitive),
                 qPrintable(box->objectName() + ": " + accessibleName(box)));
    }
}

} // namespace

class TestKeyboard : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { prepareApplication(*qApp); }
    void init();
    void cleanup();
    void tabLeavesTheNotesBox();
    void enterPressesTheFocusedButton();
    void listKeysOpenTheCommands();
    void pictureOpensAndClosesFromTheKeyboard();
    void namesContainTheCaptions();
    void boxesAndFileDialogAsOnARussianDesktop();
    void okKeepsTheFocusWhenASaveIsRefused();

private:
    template <typename T> T* control(const char* name) const
    {
        return test::control<T>(m_window.get(), name);
    }
    QTableView* grid() const { return control<QTableView>("TDBGrid2"); }
    void press(QWidget* widget, Qt::Key key, Qt::KeyboardModifiers modifiers = {})
    {
        if (!widget->window()->isActiveWindow()) {
            widget->window()->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(widget->window()));
        }
        widget->setFocus();
        QVERIFY(widget->hasFocus());
        QTest::keyClick(widget, key, modifiers);
    }

    std::unique_ptr<TestRegister> m_register;
    std::unique_ptr<Form1> m_window;
};

void TestKeyboard::init()
{
    m_register = std::make_unique<TestRegister>();
    QVERIFY(m_register->write({part("diode 1N4007", "0,3", "100", "TO-92", "стеклянный"),
                               part("Транзистор КТ315Б", "2,5", "10")},
                              {{QStringLiteral("TO-92"), picture(Qt::green)}}));
    m_window = std::make_unique<Form1>(m_register->paths(), m_register->owner());
    m_window->show();
    m_window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
    QVERIFY(MessageBox::takeShown().isEmpty());
}

void TestKeyboard::cleanup()
{
    if (m_window) {
        MessageBox::setNextAnswer(QMessageBox::Yes);
        m_window->close();
        MessageBox::takeShown();
    }
    m_window.reset();
    m_register.reset();
}

void TestKeyboard::tabLeavesTheNotesBox()
{
    auto* notes = control<QPlainTextEdit>("txtDisc");
    press(notes, Qt::Key_Tab);
    QCOMPARE(notes->toPlainText(), QStringLiteral("стеклянный")); // no tab typed
    QWidget* next = QApplication::focusWidget();
    QVERIFY(next && next != notes);
    press(next, Qt::Key_Backtab, Qt::ShiftModifier);
    QCOMPARE(QApplication::focusWidget(), notes);

    // Nothing typed reaches the part on the next row change either.
    QTest::keyClick(grid(), Qt::Key_Down);
    QCOMPARE(m_register->storedParts().first().value("sorp").toString(),
             QStringLiteral("стеклянный"));
}

void TestKeyboard::enterPressesTheFocusedButton()
{
    // The main window: a button that is no dialog's default.
    press(control<QPushButton>("plus"), Qt::Key_Return);
    QCOMPARE(control<QLineEdit>("Text4")->text(), QStringLiteral("101"));
    press(control<QPushButton>("minus"), Qt::Key_Enter, Qt::KeypadModifier);
    QCOMPARE(control<QLineEdit>("Text4")->text(), QStringLiteral("100"));
    MessageBox::setNextAnswer(QMessageBox::No);
    press(control<QToolButton>("dPaz"), Qt::Key_Return);
    QCOMPARE(MessageBox::takeShown().size(), 1); // the delete question

    // A dialog whose buttons press no default: "Отмена" of the new-part dialog.
    bool closed = false;
    whenOpen<Form2>([&](Form2* dialog) {
        // Once the dialog has put the focus on the name, nothing moves it any more.
        QTRY_VERIFY(test::control<QLineEdit>(dialog, "Fam")->hasFocus());
        press(test::control<QPushButton>(dialog, "Exit"), Qt::Key_Return);
        closed = !dialog->isVisible() && dialog->result() == QDialog::Rejected;
    });
    control<QToolButton>("nPaz")->click();
    QVERIFY(closed);

    // A real message box: Enter presses the focused button, not the default one.
    QMessageBox::StandardButton answer = QMessageBox::NoButton;
    QTimer::singleShot(0, this, [this] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        QVERIFY(box);
        press(box->button(QMessageBox::No), Qt::Key_Return);
    });
    answer = MessageBox::show(m_window.get(), QMessageBox::Question, QStringLiteral("Тарвик"),
                              QStringLiteral("Вопрос"), QMessageBox::Yes | QMessageBox::No,
                              QMessageBox::Yes);
    QCOMPARE(answer, QMessageBox::No);
}

void TestKeyboard::listKeysOpenTheCommands()
{
    int opened = 0;
    whenOpen<Form2>(
        [&](Form2* dialog) { opened += dialog->objectName() == QLatin1String("Form2"); });
    press(grid(), Qt::Key_Insert);
    QTest::keyClick(grid(), Qt::Key_Down); // "Транзистор КТ315Б"
    const QString current = control<QLineEdit>("Text1")->text();
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_F2}) {
        whenOpen<Form2>([&](Form2* dialog) {
            const bool editing = dialog->objectName() == QLatin1String("Form12") &&
                                 test::control<QLineEdit>(dialog, "Fam")->text() == current;
            opened += editing;
        });
        press(grid(), key, key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier);
    }
    QCOMPARE(opened, 4);

    MessageBox::setNextAnswer(QMessageBox::No);
    press(grid(), Qt::Key_Delete);
    QList<MessageBox::Shown> shown = MessageBox::takeShown();
    QCOMPARE(shown.size(), 1);
    QCOMPARE(shown[0].text, QStringLiteral("Вы действительно хотите удалить данные?"));

    // Delete in the notes deletes a character, never the part.
    auto* notes = control<QPlainTextEdit>("txtDisc");
    notes->setPlainText(QStringLiteral("ab"));
    notes->moveCursor(QTextCursor::Start);
    press(notes, Qt::Key_Delete);
    QCOMPARE(notes->toPlainText(), QStringLiteral("b"));
    QVERIFY(MessageBox::takeShown().isEmpty());

    auto* search = control<QLineEdit>("Text5");
    search->setText(QStringLiteral("тр"));
    press(grid(), Qt::Key_F, Qt::ControlModifier);
    QVERIFY(search->hasFocus());
    QCOMPARE(search->selectedText(), QStringLiteral("тр")); // typing replaces it

    // The tooltips say which key does it.
    QVERIFY(control<QToolButton>("nPaz")->toolTip().contains(QLatin1String("Insert")));
    QVERIFY(control<QToolButton>("iPaz")->toolTip().contains(QLatin1String("F2")));
    QVERIFY(control<QToolButton>("dPaz")->toolTip().contains(QLatin1String("Delete")));
    QVERIFY(search->toolTip().contains(QLatin1String("Ctrl+F")));
}

void TestKeyboard::pictureOpensAndClosesFromTheKeyboard()
{
    auto* image = control<QLabel>("Image2");
    QVERIFY(image->isVisible());
    QVERIFY(image->focusPolicy() & Qt::TabFocus);
    QVERIFY(!image->toolTip().isEmpty());

    const struct {
        Qt::Key opens, closes;
    } ways[] = {{Qt::Key_Return, Qt::Key_Escape}, {Qt::Key_Space, Qt::Key_Return}};
    for (const auto& way : ways) {
        bool closed = false;
        whenOpen<Form25>([&](Form25* window) {
            QCOMPARE(accessibleName(window), QStringLiteral("TO-92"));
            window->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(window));
            QTest::keyClick(window, way.closes);
            closed = !window->isVisible();
        });
        press(image, way.opens);
        QVERIFY(closed);
    }

    // The package-type window's enlargement is named after its type too.
    Form5 types(m_register->paths(), m_register->owner(), m_window.get());
    types.show();
    bool named = false;
    whenOpen<picView1>([&](picView1* window) {
        named = accessibleName(window) == QLatin1String("TO-92");
        QTest::keyClick(window, Qt::Key_Escape);
    });
    QTest::mouseClick(test::control<QLabel>(&types, "Image1"), Qt::LeftButton);
    QVERIFY(named);
}

void TestKeyboard::namesContainTheCaptions()
{
    captionsAreInNames(m_window.get());
    for (const char* name : {"plus", "minus"}) {
        auto* button = control<QPushButton>(name);
        QVERIFY(!button->accessibleDescription().isEmpty()); // what it is for
    }

    Form2 adding(m_register->owner(), m_register->paths(), {}, m_window.get());
    captionsAreInNames(&adding);
    PartRow shown = part("diode 1N4007");
    Form12 editing(m_register->owner(), m_register->paths(), shown, shown, {}, m_window.get());
    captionsAreInNames(&editing);
    QCOMPARE(accessibleName(test::control<QPushButton>(&editing, "cmdAdd1")), QStringLiteral("ОК"));
    QVERIFY(!test::control<QPushButton>(&editing, "cmdAdd1")->accessibleDescription().isEmpty());
    Form5 types(m_register->paths(), m_register->owner(), m_window.get());
    captionsAreInNames(&types);
}

void TestKeyboard::boxesAndFileDialogAsOnARussianDesktop()
{
    // The window manager writes the title in bold beside an icon and three buttons: a box
    // with a short text leaves room for it.
    const QString title = QStringLiteral("Тарвик радиодеталей");
    int width = 0;
    int needed = 0;
    QTimer::singleShot(0, this, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        QVERIFY(box);
        QFont bold = box->font();
        bold.setBold(true);
        needed = QFontMetrics(bold).horizontalAdvance(title) +
                 3 * box->style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, box);
        width = box->width();
        box->button(QMessageBox::Ok)->click();
    });
    MessageBox::show(m_window.get(), QMessageBox::NoIcon, title,
                     QStringLiteral("Заполните тип корпуса"), QMessageBox::Ok);
    QVERIFY2(width >= needed, qPrintable(QStringLiteral("%1 < %2").arg(width).arg(needed)));

    // The real file dialog shows a filter's description once, as written.
    QString shownFilter;
    QTimer::singleShot(0, this, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        QVERIFY(dialog);
        if (auto* types = dialog->findChild<QComboBox*>(QStringLiteral("fileTypeCombo")))
            shownFilter = types->itemText(0);
        dialog->reject();
    });
    FileDialog::getOpenFileName(m_window.get(), QString(), m_register->folder(),
                                QStringLiteral("*(*.bmp;*.jpg) (*.bmp *.jpg)"));
    QCOMPARE(shownFilter, QStringLiteral("*(*.bmp;*.jpg)"));

    // The file dialog's list names a folder in Russian.
    QCOMPARE(QAbstractFileIconProvider().type(QFileInfo(m_register->folder())),
             QStringLiteral("Папка"));
}

void TestKeyboard::okKeepsTheFocusWhenASaveIsRefused()
{
    int tries = 0;
    Form2 dialog(
        m_register->owner(), m_register->paths(),
        [&tries](const PartRow&, const std::optional<PartRow>&) {
            ++tries;
            PartSaved refused;
            refused.reason = QStringLiteral("файл базы данных занят другой программой");
            return refused;
        },
        m_window.get());
    dialog.show();
    QVERIFY(QTest::qWaitForWindowActive(&dialog));
    auto* name = dialog.findChild<QLineEdit*>(QStringLiteral("Fam"));
    QTRY_VERIFY(name->hasFocus()); // the dialog's own first focus has come
    name->setText(QStringLiteral("diode 1N4148"));
    dialog.findChild<QLineEdit*>(QStringLiteral("txtVozrast"))->setText(QStringLiteral("5"));

    auto* ok = dialog.findChild<QPushButton*>(QStringLiteral("cmdAdd1"));
    MessageBox::setNextAnswer(QMessageBox::Ok);
    press(ok, Qt::Key_Return);
    QCOMPARE(tries, 1);
    QCOMPARE(MessageBox::takeShown().size(), 1);
    QCOMPARE(QApplication::focusWidget(), ok);
    // Enter again tries again; it never cancels the dialog.
    MessageBox::setNextAnswer(QMessageBox::Ok);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QCOMPARE(tries, 2);
    MessageBox::takeShown();
    QVERIFY(dialog.isVisible());
}

QTEST_MAIN(TestKeyboard)
#include "tst_keyboard.moc"

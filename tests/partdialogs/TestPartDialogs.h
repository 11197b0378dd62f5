#pragma once

// The new-part and edit-part dialogs, driven through the real windows: the test class and
// what its files share. Only this program's files include it.
#include "MainWindowProbe.h"
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

enum Kind { New, Edit };

// Stored in this order; named types by name: DIP-8, O'RING, SOT-23, TO-92, БРАК.
inline QList<Package> packages()
{
    return {{"DIP-8", picture(Qt::red, "BMP", 30, 20)},
            {"TO-92", QByteArray()},
            {"", picture(Qt::green)},
            {"SOT-23", picture(Qt::blue, "JPG", 50, 40)},
            {"O'RING", picture(Qt::yellow, "BMP")},
            {"БРАК", QByteArray("GIF89a, but no picture after all")}};
}
inline const QStringList kStoredTypes = {"DIP-8", "TO-92", "", "SOT-23", "O'RING", "БРАК"};
inline const QStringList kNamedTypesByName = {"DIP-8", "O'RING", "SOT-23", "TO-92", "БРАК"};

inline QList<PartRow> parts()
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
inline QColor colourOf(const QLabel* image)
{
    const QColor c = image->pixmap().toImage().pixelColor(2, 2);
    const auto round = [](int v) { return std::min(255, (v + 16) / 32 * 32); };
    return QColor(round(c.red()), round(c.green()), round(c.blue()));
}

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
    void priceWithDecimalCommaEndToEnd();
    void apostrophesEndToEnd();
    void editWithNoCurrentPartDoesNothing();
    void mainWindowShowsNoPictureItCannotDecode();
    void readersHearPackageNamesUnderTheirLabel();

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

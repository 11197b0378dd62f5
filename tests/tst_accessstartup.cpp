// Start-up with an Access register in the register's place: the question, the progress
// window, and what is left on every answer.
#include "AccessFixtures.h"
#include "MainWindowProbe.h"
#include "TestRegister.h"

#include "app/AccessImportStartup.h"
#include "app/Form1.h"
#include "app/Startup.h"
#include "gui/MessageBox.h"
#include "store/access/AccessImport.h"
#include "store/records/RecordSource.h"
#include "store/text/TextFold.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QProgressDialog>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace tarvik;
using namespace tarvik::test;

namespace {

// A program folder whose register is a copy of an Access fixture.
struct AccessFolder {
    TestRegister folder;
    QString path = folder.databasePath();
    QByteArray original;

    explicit AccessFolder(const QByteArray& access) : original(access)
    {
        writeFile(path, access, true);
    }
    explicit AccessFolder(const char* fixture) : AccessFolder(readAll(fixturePath(fixture))) {}

    QStringList files() const { return QDir(QFileInfo(path).path()).entryList(QDir::Files); }
    bool untouched() const
    {
        return readAll(path) == original && files() == QStringList({"vorlend.mdb"});
    }
};

QString question(const QString& path)
{
    return QStringLiteral("Файл базы «%1» в формате Access. Перенести данные в новый формат?")
        .arg(QDir::toNativeSeparators(path));
}

QString unchanged(const QString& path)
{
    return QStringLiteral("Файл «%1» не изменён. Программа работает только с базой нового "
                          "формата и будет закрыта.")
        .arg(QDir::toNativeSeparators(path));
}

} // namespace

class TestAccessStartup : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { prepareApplication(*qApp); }
    void init() { MessageBox::takeShown(); }
    void yesBringsEverythingOverAndOpens();
    void noLeavesTheAccessFile();
    void cancelLeavesTheAccessFile();
    void failureLeavesTheAccessFile();
    void badAccessFilesGiveTheirMessage_data();
    void badAccessFilesGiveTheirMessage();
    void ourRegisterIsNotAsked();
    void importFromAPipeOrFolderIsRefusedAtOnce_data();
    void importFromAPipeOrFolderIsRefusedAtOnce();
};

void TestAccessStartup::yesBringsEverythingOverAndOpens()
{
    AccessFolder access("register-typical.mdb");
    MessageBox::setNextAnswer(QMessageBox::Yes);
    MessageBox::setNextAnswer(QMessageBox::Ok);
    QCOMPARE(bringOverAccessRegister(access.folder.paths()), std::nullopt);
    const QList<MessageBox::Shown> shown = MessageBox::takeShown();
    QCOMPARE(shown.size(), 2);
    QCOMPARE(shown[0].text, question(access.path));
    QCOMPARE(shown[0].title, QStringLiteral("Тарвик радиодеталей"));
    QCOMPARE(shown[0].icon, QMessageBox::Question);
    QCOMPARE(shown[0].buttons, QMessageBox::Yes | QMessageBox::No);
    QCOMPARE(shown[1].text, QStringLiteral("Данные перенесены: деталей 45, корпусов 12. Прежний "
                                           "файл Access сохранён как «%1.access».")
                                .arg(access.path));
    QCOMPARE(readAll(access.path + QStringLiteral(".access")), access.original);
    QCOMPARE(access.files(), QStringList({"vorlend.mdb", "vorlend.mdb.access"}));

    // The main window opens it as any register: sorted, searchable, pictures shown.
    Form1 window(access.folder.paths(), access.folder.owner());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(MessageBox::takeShown().isEmpty());
    auto* grid = control<QTableView>(&window, "TDBGrid2");
    const int nameColumn = window.Data1()->columnOf(QStringLiteral("idFam"));
    QCOMPARE(grid->model()->rowCount(), 45);
    QStringList keys;
    for (int row = 0; row < 45; ++row)
        keys << nameKeyOf(grid->model()->index(row, nameColumn).data().toString());
    QStringList sorted = keys;
    std::sort(sorted.begin(), sorted.end());
    QCOMPARE(keys, sorted);
    QCOMPARE(control<QLabel>(&window, "lblRecordCount1")->text(), QStringLiteral("44"));

    auto* search = control<QLineEdit>(&window, "Text5");
    auto* image = control<QLabel>(&window, "Image2");
    struct Found {
        const char* typed;
        const char* name;
        bool picture;
    };
    const Found finds[] = {{"кт315", "КТ315Б", true},                           // JPEG
                           {"lm317", "LM317T регулируемый стабилизатор", true}, // 78 KB BMP
                           {"кнопка км1-1 'п", "Кнопка КМ1-1 'Пуск'", false},   // no type
                           {"ёмкостный", "Ёмкостный датчик уровня", false}};
    for (const Found& find : finds) {
        search->clear();
        searchFor(window, QString::fromUtf8(find.typed));
        QCOMPARE(grid->model()->rowCount(), 1);
        QCOMPARE(control<QLineEdit>(&window, "Text1")->text(), QString::fromUtf8(find.name));
        QCOMPARE(image->isVisible(), find.picture);
        if (find.picture)
            QVERIFY(!image->pixmap().isNull());
    }
    MessageBox::setNextAnswer(QMessageBox::Yes); // "Действительно хотите выйти ?"
    window.close();
}

void TestAccessStartup::noLeavesTheAccessFile()
{
    AccessFolder access("register-typical.mdb");
    MessageBox::setNextAnswer(QMessageBox::No);
    MessageBox::setNextAnswer(QMessageBox::Ok);
    // Through the program's own start: it ends without a main window.
    QCOMPARE(runProgram(*qApp, access.folder.paths()), 0);
    const QList<MessageBox::Shown> shown = MessageBox::takeShown();
    QCOMPARE(shown.size(), 2);
    QCOMPARE(shown[0].text, question(access.path));
    QCOMPARE(shown[1].text, QStringLiteral("Данные не перенесены. ") + unchanged(access.path));
    for (QWidget* widget : QApplication::topLevelWidgets())
        QVERIFY(!qobject_cast<Form1*>(widget));
    QVERIFY(access.untouched());
}

void TestAccessStartup::cancelLeavesTheAccessFile()
{
    TARVIK_SKIP_WITHOUT_LARGE_FIXTURE(); // enough rows to cancel half-way
    AccessFolder access("register-large.mdb");
    // The user presses "Отмена" once the window shows some progress.
    int seen = 0;
    QTimer canceller;
    connect(&canceller, &QTimer::timeout, [&] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* progress = qobject_cast<QProgressDialog*>(widget);
            if (progress && progress->objectName() == QLatin1String("importProgress") &&
                progress->value() > 1000) {
                seen = progress->value();
                QCOMPARE(progress->windowTitle(), QStringLiteral("Тарвик радиодеталей"));
                QVERIFY(progress->labelText().contains(QDir::toNativeSeparators(access.path)));
                QVERIFY(!progress->accessibleName().isEmpty());
                QVERIFY(!control<QProgressBar>(progress, "importProgressBar")
                             ->accessibleName()
                             .isEmpty());
                progress->cancel();
            }
        }
    });
    canceller.start(1);
    MessageBox::setNextAnswer(QMessageBox::Yes);
    MessageBox::setNextAnswer(QMessageBox::Ok);
    QCOMPARE(bringOverAccessRegister(access.folder.paths()), std::optional<int>(0));
    canceller.stop();
    QVERIFY(seen > 1000 && seen < 20050);
    const QList<MessageBox::Shown> shown = MessageBox::takeShown();
    QCOMPARE(shown.size(), 2);
    QCOMPARE(shown[1].text,
             QStringLiteral("Перенос данных из файла «%1» отменён.\n").arg(access.path) +
                 unchanged(access.path));
    QVERIFY(access.untouched());
}

void TestAccessStartup::failureLeavesTheAccessFile()
{
    AccessFolder access("register-typical.mdb");
    // The new file cannot be written: its name is taken by a folder.
    const QString temporary = importTemporaryPath(access.path);
    QVERIFY(QDir().mkpath(temporary));
    MessageBox::setNextAnswer(QMessageBox::Yes);
    MessageBox::setNextAnswer(QMessageBox::Ok);
    QCOMPARE(bringOverAccessRegister(access.folder.paths()), std::optional<int>(1));
    const QList<MessageBox::Shown> shown = MessageBox::takeShown();
    QCOMPARE(shown.size(), 2);
    QCOMPARE(shown[1].icon, QMessageBox::Warning);
    QVERIFY2(shown[1].text.startsWith(
                 QStringLiteral("Не удаётся записать новый файл «%1» (").arg(temporary)),
             qPrintable(shown[1].text));
    QVERIFY(shown[1].text.endsWith(unchanged(access.path)));
    QVERIFY(access.untouched());
}

void TestAccessStartup::badAccessFilesGiveTheirMessage_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("message");
    const QByteArray typical = readAll(fixturePath("register-typical.mdb"));
    QTest::newRow("foreign") << readAll(fixturePath("foreign.mdb"))
                             << "В файле Access «%1» нет таблиц «client» и «vrYZD»: это не база "
                                "радиодеталей.";
    QTest::newRow("missing table") << readAll(fixturePath("register-missing-table.mdb"))
                                   << "В файле Access «%1» нет таблицы «vrYZD»: это не база "
                                      "радиодеталей.";
    QTest::newRow("truncated") << typical.left(typical.size() / 2 + 1000)
                               << "Файл Access «%1» повреждён или обрезан (файл обрезан: "
                                  "238568 байт).";
    QTest::newRow("password") << withPassword(typical)
                              << "Файл Access «%1» защищён паролем. Снимите пароль в Access и "
                                 "повторите.";
}

void TestAccessStartup::badAccessFilesGiveTheirMessage()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, message);
    AccessFolder access(file);
    MessageBox::setNextAnswer(QMessageBox::Yes);
    MessageBox::setNextAnswer(QMessageBox::Ok);
    QCOMPARE(bringOverAccessRegister(access.folder.paths()), std::optional<int>(1));
    const QList<MessageBox::Shown> shown = MessageBox::takeShown();
    QCOMPARE(shown.size(), 2);
    QCOMPARE(shown[1].text, message.arg(access.path) + QLatin1Char('\n') + unchanged(access.path));
    QVERIFY(access.untouched());

    // An Access 2007 file cannot be brought over: said at once, without a question.
    QByteArray newer = readAll(fixturePath("register-empty.mdb"));
    newer.replace(4, 16, QByteArray("Standard ACE DB\0", 16));
    AccessFolder ace(newer);
    MessageBox::setNextAnswer(QMessageBox::Ok);
    QCOMPARE(bringOverAccessRegister(ace.folder.paths()), std::optional<int>(1));
    const QList<MessageBox::Shown> told = MessageBox::takeShown();
    QCOMPARE(told.size(), 1);
    QVERIFY(told[0].text.startsWith(
        QStringLiteral("Файл «%1» сохранён в формате Access 2007 или новее").arg(ace.path)));
    QVERIFY(ace.untouched());
}

void TestAccessStartup::ourRegisterIsNotAsked()
{
    TestRegister reg;
    QVERIFY(reg.write({part("a")}));
    QCOMPARE(bringOverAccessRegister(reg.paths()), std::nullopt);
    QVERIFY(MessageBox::takeShown().isEmpty());
    TestRegister missing; // a missing register is the main window's to report
    QCOMPARE(bringOverAccessRegister(missing.paths()), std::nullopt);
    QVERIFY(MessageBox::takeShown().isEmpty());
}

void TestAccessStartup::importFromAPipeOrFolderIsRefusedAtOnce_data()
{
    nonFileRows(QStringLiteral("это папка, а не файл"),
                QStringLiteral("это канал или устройство, а не файл"));
}

void TestAccessStartup::importFromAPipeOrFolderIsRefusedAtOnce()
{
    // tarvik --import OLD NEW: reading a pipe would wait for a writer for ever.
    QFETCH(QString, kind);
    QFETCH(QString, named);
    QTemporaryDir dir;
    const QString old = dir.filePath(QStringLiteral("old.mdb"));
    QVERIFY(makeNonFile(old, kind));
    const QString target = dir.filePath(QStringLiteral("new.mdb"));
    const ImportResult result = importAccessRegister(old, target);
    QCOMPARE(int(result.problem), int(ImportProblem::Unreadable));
    QCOMPARE(describeImportProblem(old, result),
             QStringLiteral("Не удаётся прочитать файл «%1» (%2).").arg(old, named));
    QVERIFY(!QFileInfo::exists(target));
}

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    TestAccessStartup test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_accessstartup.moc"

#include "TestCsv.h"

#include "MainWindowProbe.h"
#include "TestServer.h"

#include "gui/FileDialog.h"
#include "service/CsvImportWindow.h"
#include "store/register/ServerAddress.h"

#include <QAction>
#include <QApplication>
#include <QGroupBox>
#include <QLocale>
#include <QProcess>
#include <QProgressDialog>
#include <QRadioButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>

namespace {

// Russian letters and ASCII as Windows-1251 writes them.
QByteArray cp1251(const QString& text)
{
    QByteArray bytes;
    for (const QChar c : text) {
        if (c.unicode() >= 0x0410 && c.unicode() <= 0x044F)
            bytes += char(0xC0 + (c.unicode() - 0x0410));
        else
            bytes += char(c.unicode());
    }
    return bytes;
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

struct Window {
    MainWindowProbe probe;
    // `held`: the window's background reads wait until the test lets them go.
    bool open(const QList<PartRow>& parts, bool held = false)
    {
        probe.m_register = std::make_unique<TestRegister>();
        if (!probe.m_register->write(parts))
            return false;
        probe.m_register->owner().holdBackgroundReads(held);
        probe.m_window =
            std::make_unique<Form1>(probe.m_register->paths(), probe.m_register->owner());
        probe.m_window->show();
        if (!QTest::qWaitForWindowExposed(probe.m_window.get()))
            return false;
        waitForList(*probe.m_window);
        return true;
    }
    ~Window()
    {
        if (probe.m_register)
            probe.m_register->owner().holdBackgroundReads(false);
        probe.closeWindow();
    }
    void trigger(const char* action)
    {
        probe.m_window->findChild<QAction*>(QLatin1String(action))->trigger();
    }
};

} // namespace

void TestCsv::initTestCase()
{
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
}

void TestCsv::exportWritesTheListedParts()
{
    Window window;
    QVERIFY(window.open({part("КТ315Б", "1,2", "150", {}, "=HYPERLINK(\"http://x\")"),
                         part("Резистор", "x", "5"), part("КТ361Г", "1,5", "80")}));
    QTemporaryDir dir;
    const QByteArray header =
        "\xEF\xBB\xBFНаименование;Корпус;Цена;Количество;Стоимость;Доп. информация\r\n";
    const QByteArray kt315 = "КТ315Б;;1,2;150;180;\"'=HYPERLINK(\"\"http://x\"\")\"\r\n";
    const QByteArray kt361 = "КТ361Г;;1,5;80;120;\r\n";

    searchFor(*window.probe.m_window, QStringLiteral("кт"));
    QCOMPARE(window.probe.listed(), QStringList({"КТ315Б", "КТ361Г"}));
    FileDialog::setNextFileName(dir.filePath(QStringLiteral("found")));
    window.trigger("exportCsv");
    QCOMPARE(FileDialog::takeAsked().size(), 1);
    QCOMPARE(readFile(dir.filePath(QStringLiteral("found.csv"))), header + kt315 + kt361);

    window.probe.click("Reset");
    QCOMPARE(window.probe.listed().size(), 3);
    FileDialog::setNextFileName(dir.filePath(QStringLiteral("all.csv")));
    window.trigger("exportCsv");
    QCOMPARE(readFile(dir.filePath(QStringLiteral("all.csv"))),
             header + kt315 + kt361 + "Резистор;;x;5;;\r\n");
    QVERIFY(MessageBox::takeShown().isEmpty());
}

void TestCsv::exportOfASearchStillArrivingWritesAllItFinds()
{
    Window window;
    // Held: the names are not in memory, and the engine's answer waits.
    QVERIFY(window.open(
        {part("КТ315Б", "1,2", "150"), part("Резистор", "x", "5"), part("КТ361Г", "1,5", "80")},
        true));
    typeText(window.probe.control<QLineEdit>("Text5"), QStringLiteral("кт"));
    QVERIFY(window.probe.m_window->Data1()->isLoadingRest());
    QTemporaryDir dir;
    FileDialog::setNextFileName(dir.filePath(QStringLiteral("found.csv")));
    window.trigger("exportCsv");
    QCOMPARE(readFile(dir.filePath(QStringLiteral("found.csv"))),
             "\xEF\xBB\xBFНаименование;Корпус;Цена;Количество;Стоимость;Доп. информация\r\n"
             "КТ315Б;;1,2;150;180;\r\nКТ361Г;;1,5;80;120;\r\n");
    QVERIFY(MessageBox::takeShown().isEmpty());
}

void TestCsv::importShowsWhatItWouldDoFirst_data()
{
    QTest::addColumn<QString>("button");
    QTest::newRow("update") << "update";
    QTest::newRow("cancel") << "cancel";
}

void TestCsv::importShowsWhatItWouldDoFirst()
{
    QFETCH(QString, button);
    Window window;
    QVERIFY(window.open({part("КТ315Б", "1,2", "150"), part("Диод", "1", "1")}));
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("cp1251.csv"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(cp1251(QStringLiteral("Количество\tНаименование\tЦвет\tЦена\r\n"
                                     "5\tКТ315Б\tкрасный\t2\r\n"
                                     "7\tНовая\tx\t3\r\n"
                                     "1\tA\r\n"
                                     "2\t\tx\t1\r\n")));
    file.close();
    const QList<QVariantMap> before = window.probe.m_register->storedParts();

    QStringList said;
    QList<int> badLines;
    bool choiceOffered = false;
    // Looked for until it shows: the file is read before it opens.
    QTimer look;
    look.setInterval(10);
    connect(&look, &QTimer::timeout, this, [&] {
        auto* preview = qobject_cast<CsvImportWindow*>(QApplication::activeModalWidget());
        if (!preview)
            return;
        look.stop();
        for (const char* name : {"file", "counts", "unknownColumns", "badCount"})
            said << control<QLabel>(preview, name)->text();
        auto* bad = control<QTableWidget>(preview, "badRows");
        for (int row = 0; row < bad->rowCount(); ++row)
            badLines << bad->item(row, 0)->text().toInt();
        choiceOffered = control<QGroupBox>(preview, "existing")->isEnabled();
        const bool update = button == QLatin1String("update");
        if (update)
            control<QRadioButton>(preview, "update")->click();
        QTest::mouseClick(control<QAbstractButton>(preview, update ? "import" : "cancel"),
                          Qt::LeftButton);
    });
    if (button == QLatin1String("update"))
        MessageBox::setNextAnswer(QMessageBox::Ok);
    FileDialog::setNextFileName(path);
    look.start();
    window.trigger("importCsv");

    QCOMPARE(said.size(), 4);
    QVERIFY(said.at(0).contains(QStringLiteral("Windows-1251")));
    QVERIFY(said.at(0).contains(QStringLiteral("табуляция")));
    QCOMPARE(said.at(1),
             QStringLiteral("Новых деталей: 1. Наименований, которые уже есть в базе: 1."));
    QVERIFY(said.at(2).contains(QStringLiteral("Цвет")));
    QVERIFY(said.at(3).contains(QStringLiteral("Неверных строк: 2")));
    QCOMPARE(badLines, QList<int>({4, 5}));
    QVERIFY(choiceOffered);
    if (button == QLatin1String("cancel")) {
        QCOMPARE(window.probe.m_register->storedParts(), before);
        QVERIFY(MessageBox::takeShown().isEmpty());
        return;
    }
    const QList<MessageBox::Shown> shown = MessageBox::takeShown();
    QCOMPARE(shown.size(), 1);
    QCOMPARE(shown.front().text,
             QStringLiteral("Добавлено деталей: 1, обновлено: 1, пропущено: 0."));
    const QList<QVariantMap> after = window.probe.m_register->storedParts();
    QCOMPARE(after.size(), 3);
    QCOMPARE(after.at(0).value("pol").toString() + '/' + after.at(0).value("phone").toString(),
             QStringLiteral("2/5"));
    QCOMPARE(after.at(2).value("idFam").toString(), QStringLiteral("Новая"));
    QVERIFY(window.probe.listed().contains(QStringLiteral("Новая")));
}

void TestCsv::longImportKeepsTheWindowAnswering_data()
{
    QTest::addColumn<bool>("cancel");
    QTest::newRow("written") << false;
    QTest::newRow("cancelled") << true;
}

void TestCsv::longImportKeepsTheWindowAnswering()
{
    QFETCH(bool, cancel);
    Window window;
    QVERIFY(window.open({part("Диод", "1", "1")}));
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("many.csv"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("\xEF\xBB\xBF\xD0\x9D\xD0\xB0\xD0\xB8\xD0\xBC\xD0\xB5\xD0\xBD\xD0\xBE\xD0\xB2"
               "\xD0\xB0\xD0\xBD\xD0\xB8\xD0\xB5;\xD0\xA6\xD0\xB5\xD0\xBD\xD0\xB0\r\n");
    for (int i = 0; i < 2000; ++i)
        file.write(QByteArray("P") + QByteArray::number(i) + ";1\r\n");
    file.close();
    const QList<QVariantMap> before = window.probe.m_register->storedParts();

    // Turns of the event loop seen while the rows are written, by what the progress says.
    QStringList progressSaid;
    QTimer look;
    look.setInterval(0);
    connect(&look, &QTimer::timeout, this, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* preview = qobject_cast<CsvImportWindow*>(modal)) {
            QTest::mouseClick(control<QAbstractButton>(preview, "import"), Qt::LeftButton);
        } else if (auto* progress = qobject_cast<QProgressDialog*>(modal)) {
            progressSaid << progress->labelText();
            if (cancel && progressSaid.size() == 2)
                progress->cancel();
        }
    });
    if (!cancel)
        MessageBox::setNextAnswer(QMessageBox::Ok);
    FileDialog::setNextFileName(path);
    look.start();
    window.trigger("importCsv");
    look.stop();

    // Two turns at least, each telling a count of rows written so far.
    QVERIFY2(progressSaid.size() >= 2, qPrintable(progressSaid.join('/')));
    QVERIFY(progressSaid.last().startsWith(QStringLiteral("Импорт… ")));
    QVERIFY(progressSaid.last().endsWith(QStringLiteral(" из 2000")));
    QVERIFY(progressSaid.first() != progressSaid.last());
    if (cancel) {
        QCOMPARE(window.probe.m_register->storedParts(), before);
        QVERIFY(MessageBox::takeShown().isEmpty());
        return;
    }
    QCOMPARE(MessageBox::takeShown().size(), 1);
    QCOMPARE(window.probe.m_register->storedParts().size(), 2001);
    QCOMPARE(window.probe.listed().size(), 2001);
}

void TestCsv::commandLineExportsAndImports_data()
{
    QTest::addColumn<bool>("server");
    QTest::newRow("file") << false;
    QTest::newRow("server") << true;
}

void TestCsv::commandLineExportsAndImports()
{
    QFETCH(bool, server);
    // The program finds the register beside itself, or the server its settings name there.
    TARVIK_FILE_ONLY("the command line's own register is set up here");
    if (server)
        TARVIK_SKIP_WITHOUT_SERVER();
    const QList<PartRow> parts{part("КТ315Б", "1,2", "150"), part("Диод", "1", "1")};
    ServerRegister onServer;
    TestRegister onFile;
    TestRegister& folder = server ? onServer.file() : onFile;
    if (server) {
        QVERIFY2(onServer.write(parts), qPrintable(onServer.error()));
        QString error;
        QVERIFY2(writeServerChoice(folder.databasePath(), onServer.server().address(), &error),
                 qPrintable(error));
    } else {
        QVERIFY(onFile.write(parts));
    }
    Register& owner = server ? onServer.owner() : onFile.owner();
    Connection db;
    QVERIFY(owner.connect(db).ok());

    const QString program = QDir(folder.folder()).filePath(QStringLiteral("tarvik"));
    QVERIFY(QFile::copy(qEnvironmentVariable("TARVIK_BIN"), program));
    QString output;
    const auto run = [&](const QStringList& arguments) {
        QProcess process;
        // The value column follows the system's numbers, as the window's label does.
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("ru_RU.UTF-8"));
        environment.insert(QStringLiteral("LANG"), QStringLiteral("ru_RU.UTF-8"));
        process.setProcessEnvironment(environment);
        process.start(program, arguments);
        process.waitForFinished(60000);
        output = QString::fromLocal8Bit(process.readAllStandardOutput() +
                                        process.readAllStandardError());
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    };

    const QString out = QDir(folder.folder()).filePath(QStringLiteral("out.csv"));
    QCOMPARE(run({"--export-csv", out}), 0);
    const QByteArray exported = readFile(out);
    QCOMPARE(exported, exportAll(db));
    QVERIFY(exported.contains("КТ315Б;;1,2;150;"));
    QCOMPARE(run({"--export-csv", out}), 1);
    QVERIFY(output.contains(QStringLiteral("уже есть")));
    QCOMPARE(readFile(out), exported);

    const QString in = QDir(folder.folder()).filePath(QStringLiteral("in.csv"));
    const auto writeIn = [&](const QByteArray& csv) {
        QFile file(in);
        return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(csv) > 0;
    };
    QVERIFY(writeIn("Наименование;Цена;Количество\r\nКТ315Б;2;5\r\n;1;1\r\nНовая;3;7\r\n"));
    QCOMPARE(run({"--import-csv", in, "--existing", "update"}), 1);
    QVERIFY(output.contains(QStringLiteral("Строка 3: пустое наименование")));
    QVERIFY(writeIn("Наименование;Цена;Количество\r\nКТ315Б;2;5\r\nНовая;3;7\r\n"));
    QCOMPARE(run({"--import-csv", in}), 1);
    QVERIFY(output.contains(QStringLiteral("--existing")));
    QCOMPARE(exportAll(db), exported);
    QCOMPARE(run({"--import-csv", in, "--existing", "update"}), 0);
    QVERIFY(output.contains(QStringLiteral("Добавлено: 1, обновлено: 1")));
    const QByteArray now = exportAll(db);
    QVERIFY(now.contains("КТ315Б;;2;5;10;"));
    QVERIFY(now.contains("Новая;;3;7;21;"));
}

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    TestCsv test;
    return QTest::qExec(&test, argc, argv);
}

#include "moc_TestCsv.cpp"

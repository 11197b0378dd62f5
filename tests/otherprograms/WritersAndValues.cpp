// What every user sees, other tools writing the register, odd values, and the files beside it.
#include "TestOtherPrograms.h"

#include "store/register/NameKeys.h"
#include "store/search/StockFigures.h"

void TestOtherPrograms::initTestCase()
{
    prepareApplication(*qApp);
}

void TestOtherPrograms::init()
{
    QLocale::setDefault(kRussian);
}

void TestOtherPrograms::cleanup()
{
    closeWindow();
    MessageBox::takeShown();
    m_register.reset();
}

void TestOtherPrograms::open(const QList<PartRow>& rows, const QList<Package>& packages)
{
    m_window.reset();
    m_register = std::make_unique<TestRegister>();
    QVERIFY(m_register->write(rows, packages));
    m_window = std::make_unique<Form1>(m_register->paths(), m_register->owner());
    showWindow();
    grid()->setFocus();
}

void TestOtherPrograms::showWindow()
{
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    // The window reads the names in the background once shown; the other programs here
    // write without waiting for a lock, so that read is let finish first.
    auto* names = m_window->findChild<NameCopy*>(QStringLiteral("partNames"));
    QVERIFY(names && QTest::qWaitFor([names] { return !names->isLoading(); }, 5000));
    // So are the stock figures, read after the names.
    StockFigures* figures = m_window->stockFigures();
    QVERIFY(
        QTest::qWaitFor([figures] { return figures->isReady() && !figures->isLoading(); }, 10000));
}

QString TestOtherPrograms::stored(const QString& name, const char* field) const
{
    // Straight from the table, past the name index (which a test may have damaged).
    PlainConnection shell(m_register->databasePath());
    QSqlQuery query(QSqlDatabase::database(shell.name()));
    query.prepare(QStringLiteral("SELECT %1 FROM client NOT INDEXED WHERE idFam = ?")
                      .arg(QLatin1String(field)));
    query.addBindValue(name);
    return query.exec() && query.next() ? query.value(0).toString() : QStringLiteral("<none>");
}

bool TestOtherPrograms::ranAsOtherUser(const char* function)
{
    if (!runningAsRoot())
        return false;
    const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
    const QStringList asNobody = {"--reuid=65534", "--regid=65534", "--clear-groups"};
    QProcess probe;
    probe.start(setpriv,
                asNobody + QStringList{QCoreApplication::applicationFilePath(), "--probe"});
    if (setpriv.isEmpty() || !probe.waitForFinished(20000) || probe.exitCode() != 0)
        QTest::qSkip("running as root, and no other user can run this test (setpriv, user "
                     "nobody, a build folder others may read)",
                     __FILE__, __LINE__);
    if (setpriv.isEmpty() || probe.exitCode() != 0)
        return true;
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), QDir::tempPath());
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(setpriv, asNobody + QStringList{QCoreApplication::applicationFilePath(), function});
    const bool finished = child.waitForFinished(60000);
    const QByteArray output = child.readAll();
    if (!finished || child.exitCode() != 0)
        qWarning("%s", output.constData());
    [&] {
        QVERIFY2(finished, "the test as another user did not finish");
        QCOMPARE(child.exitCode(), 0);
    }();
    return true;
}

// ---- what every user sees -------------------------------------------------------------------

void TestOtherPrograms::valueLabelsReadTheirValue()
{
    open({part("A", "2,5", "4")});
    for (const auto& [name, purpose] :
         {std::pair{"lblRecordCount1", "Число записей"}, std::pair{"Label9", "Стоимость"}}) {
        QLabel* shown = control<QLabel>(name);
        QAccessibleInterface* reader = QAccessible::queryAccessibleInterface(shown);
        QVERIFY(reader);
        QVERIFY(!shown->text().isEmpty());
        QCOMPARE(reader->text(QAccessible::Name), shown->text());
        QCOMPARE(reader->text(QAccessible::Description), QString::fromUtf8(purpose));
    }
    click("Reset");
    QCOMPARE(QAccessible::queryAccessibleInterface(control<QLabel>("lblRecordCount1"))
                 ->text(QAccessible::Name),
             QStringLiteral("Таблица содержит - 1   записей"));
}

// ---- other tools writing the register -------------------------------------------------------

void TestOtherPrograms::keysStayTrueUnderOtherTools()
{
    open({part("diode 1N4007"), part("Конденсатор"), part("Транзистор")});
    {
        PlainConnection shell(m_register->databasePath());
        QVERIFY(shell.exec("INSERT INTO client (kont, idFam, pol, phone) "
                           "VALUES ('1', 'Мост КЦ405', '1', '1')"));
        QVERIFY(shell.exec("UPDATE client SET idFam = 'ВАРИСТОР' WHERE idFam = 'Транзистор'"));
        QVERIFY(shell.exec("UPDATE client SET pol = '3' WHERE idFam = 'Конденсатор'"));
        // The file stays whole for a tool that knows none of the program's functions.
        QCOMPARE(shell.value("PRAGMA integrity_check").toString(), QStringLiteral("ok"));
    }
    click("Reset");
    QCOMPARE(listed(), QStringList({"diode 1N4007", "ВАРИСТОР", "Конденсатор", "Мост КЦ405"}));
    auto* search = control<QLineEdit>("Text5");
    typeText(search, QStringLiteral("кц4"));
    QCOMPARE(listed(), QStringList({"Мост КЦ405"}));
    search->clear();
    typeText(search, QStringLiteral("транз"));
    QCOMPARE(listed(), QStringList());
    search->clear();
    typeText(search, QStringLiteral("варис"));
    QCOMPARE(listed(), QStringList({"ВАРИСТОР"}));
}

void TestOtherPrograms::keysOfAnEarlierBuildAreHealedAtOpen()
{
    m_register = std::make_unique<TestRegister>();
    QVERIFY(m_register->write({part("Альфа"), part("Бета"), part("Гамма")}));
    {
        PlainConnection shell(m_register->databasePath());
        QVERIFY(shell.exec("DROP TRIGGER client_idFamKey_renamed")); // as earlier builds wrote
        QVERIFY(shell.exec("UPDATE client SET idFam = 'Ящик' WHERE idFam = 'Альфа'"));
        QVERIFY(shell.exec("INSERT INTO client (kont, idFam) VALUES ('1', 'Вал')"));
    }
    m_window = std::make_unique<Form1>(m_register->paths(), m_register->owner());
    m_window->show();
    QCOMPARE(listed(), QStringList({"Бета", "Вал", "Гамма", "Ящик"}));
    typeText(control<QLineEdit>("Text5"), QStringLiteral("ящ"));
    QCOMPARE(listed(), QStringList({"Ящик"}));
    PlainConnection shell(m_register->databasePath());
    QCOMPARE(shell
                 .value("SELECT COUNT(*) FROM sqlite_master WHERE type = 'trigger' "
                        "AND name = 'client_idFamKey_renamed'")
                 .toInt(),
             1);
}

void TestOtherPrograms::keysOfTheEarlierFormTakeTheAlphabetsOrder()
{
    m_register = std::make_unique<TestRegister>();
    QVERIFY(m_register->write({part("Ёж"), part("Жук"), part("ёлка"), part("Еж")}));
    const QString earlierForm = QStringLiteral("SELECT COUNT(*) FROM client WHERE "
                                               "instr(idFamKey, char(1105)) > 0");
    {
        // As an earlier build left the file: a bare ё in the keys, and no index of them.
        PlainConnection shell(m_register->databasePath());
        QVERIFY(shell.exec("DROP INDEX client_idFamKey_earlier_form"));
        QVERIFY(shell.exec("UPDATE client SET idFamKey = 'ёж' WHERE idFam = 'Ёж'"));
        QVERIFY(shell.exec("UPDATE client SET idFamKey = 'ёлка' WHERE idFam = 'ёлка'"));
        QCOMPARE(shell.value(earlierForm).toInt(), 2);
    }
    m_window = std::make_unique<Form1>(m_register->paths(), m_register->owner());
    showWindow();
    QCOMPARE(listed(), QStringList({"Еж", "Ёж", "ёлка", "Жук"}));
    {
        // An earlier build writes while this one runs: put right before the next list.
        PlainConnection shell(m_register->databasePath());
        QCOMPARE(shell.value(earlierForm).toInt(), 0);
        QVERIFY(
            shell.exec("UPDATE client SET idFam = 'Ёрш', idFamKey = 'ёрш' WHERE idFam = 'Жук'"));
    }
    click("Reset");
    QCOMPARE(listed(), QStringList({"Еж", "Ёж", "ёлка", "Ёрш"}));
    typeText(control<QLineEdit>("Text5"), QStringLiteral("ёр"));
    QCOMPARE(listed(), QStringList({"Ёрш"}));
    closeWindow();

    // Brought to the present form once: the next open finds nothing to write.
    PlainConnection shell(m_register->databasePath());
    const NameKeyHealing again = prepareNameKeys(QSqlDatabase::database(shell.name()));
    QVERIFY(again.ok);
    QVERIFY(!again.triggersAdded);
    QCOMPARE(again.keysWritten, 0);
}

void TestOtherPrograms::stepAfterAnotherProgramChangedTheQuantity()
{
    open({part("A", "2", "5")});
    {
        PlainConnection shell(m_register->databasePath());
        QVERIFY(shell.exec("UPDATE client SET phone = '20'"));
    }
    MessageBox::setNextAnswer(QMessageBox::Ok);
    click("plus");
    const QList<MessageBox::Shown> shown = MessageBox::takeShown();
    QCOMPARE(shown.size(), 1);
    QVERIFY(shown[0].text.contains(QStringLiteral("«20»")));
    QCOMPARE(text("Text4"), QStringLiteral("20"));
    QCOMPARE(stored("A", "phone"), QStringLiteral("20"));
    QCOMPARE(label("Label9"), QStringLiteral("40"));
    click("plus"); // now from what the file holds
    QCOMPARE(stored("A", "phone"), QStringLiteral("21"));
    QVERIFY(MessageBox::takeShown().isEmpty());

    // Fractions and long whole numbers still step as before.
    open({part("B", "1", "2,675"), part("C", "1", "999999999999998")});
    click("plus");
    QCOMPARE(stored("B", "phone"), QStringLiteral("3,675"));
    down();
    click("plus");
    QCOMPARE(stored("C", "phone"), QStringLiteral("999999999999999"));
    QVERIFY(MessageBox::takeShown().isEmpty());
}

// ---- odd values ------------------------------------------------------------------------------

void TestOtherPrograms::oddQuantitiesAreNoNumbers_data()
{
    QTest::addColumn<QString>("quantity");
    QTest::newRow("NaN") << "NaN";
    QTest::newRow("inf") << "inf";
    QTest::newRow("-inf") << "-inf";
    QTest::newRow("2^60") << "1152921504606846976";
    QTest::newRow("too long to write back") << "9007199254740990";
}

void TestOtherPrograms::oddQuantitiesAreNoNumbers()
{
    QFETCH(QString, quantity);
    open({part("A", "1", quantity)});
    QCOMPARE(label("Label9"), QString::number(quantity.toDouble()) == "nan" ? "" : label("Label9"));
    for (const char* button : {"plus", "minus"}) {
        MessageBox::setNextAnswer(QMessageBox::Ok);
        click(button);
        const QList<MessageBox::Shown> shown = MessageBox::takeShown();
        QCOMPARE(shown.size(), 1);
        QVERIFY(shown[0].text.contains(QStringLiteral("не является числом")));
        QCOMPARE(stored("A", "phone"), quantity);
        QCOMPARE(text("Text4"), quantity);
    }
    if (quantity.contains(QLatin1String("n")))
        QCOMPARE(label("Label9"), QString()); // nan and inf make no value either
}

void TestOtherPrograms::commaIsNoGroupSeparator()
{
    QLocale::setDefault(QLocale::c());
    open({part("A", "2", "1,250"), part("B", "1,5", "2")});
    QCOMPARE(label("Label9"), QString());
    MessageBox::setNextAnswer(QMessageBox::Ok);
    click("plus");
    QCOMPARE(MessageBox::takeShown().size(), 1);
    QCOMPARE(stored("A", "phone"), QStringLiteral("1,250"));
    down();
    QCOMPARE(label("Label9"), QString()); // a price of "1,5" is no number here either
}

void TestOtherPrograms::noStaleValueOrPicture()
{
    const QByteArray tooBig = picture(Qt::blue, "BMP", 40000, 1); // a side beyond the cap
    open({part("A", "2", "3", "GOOD"), part("B", "", "3", "GARBAGE"), part("C", "2", "3", "HUGE"),
          part("D", "x", "1", "GOOD")},
         {{"GOOD", picture(Qt::red)},
          {"GARBAGE", QByteArray("no picture at all")},
          {"HUGE", tooBig}});
    auto* image = control<QLabel>("Image2");
    QCOMPARE(label("Label9"), QStringLiteral("6"));
    QVERIFY(image->isVisible());
    down(); // no price, bytes that are no picture
    QCOMPARE(label("Label9"), QString());
    QVERIFY(!image->isVisible() || image->pixmap().isNull());
    QVERIFY(!QFile::exists(m_register->paths().temporaryPicturePath()));
    down(); // a picture beyond the size cap
    QCOMPARE(label("Label9"), QStringLiteral("6"));
    QVERIFY(!image->isVisible() || image->pixmap().isNull());
    down();
    QCOMPARE(label("Label9"), QString());
    QVERIFY(image->isVisible());
    QTest::keyClick(grid(), Qt::Key_Home, Qt::ControlModifier);
    QCOMPARE(text("Text1"), QStringLiteral("A"));
    click("plus");
    QCOMPARE(text("Text4"), QStringLiteral("4"));
    QCOMPARE(label("Label9"), QStringLiteral("8")); // recomputed after the step
    click("minus");
    click("minus");
    QCOMPARE(label("Label9"), QStringLiteral("4"));
}

// ---- files ----------------------------------------------------------------------------------

void TestOtherPrograms::linkNamedRezervIsNotWrittenThrough()
{
#ifndef Q_OS_UNIX
    QSKIP("symbolic links need privileges here");
#endif
    m_register = std::make_unique<TestRegister>();
    QVERIFY(m_register->write({part("A", "1", "1", "GOOD"), part("B", "1", "1", "NONE")},
                              {{"GOOD", picture(Qt::red)}}));
    const QString temporary = m_register->paths().temporaryPicturePath();
    const QString victim = m_register->folder() + QStringLiteral("/victim");
    {
        QFile file(victim);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("precious");
    }
    QVERIFY(QFile::link(victim, temporary));
    QVERIFY(QFile::link(m_register->databasePath(), temporary + QStringLiteral("2")));
    const QByteArray registerBefore = [&] {
        QFile file(m_register->databasePath());
        file.open(QIODevice::ReadOnly);
        return file.readAll();
    }();

    m_window = std::make_unique<Form1>(m_register->paths(), m_register->owner());
    m_window->show();
    QVERIFY(!control<QLabel>("Image2")->pixmap().isNull());
    QFile check(victim);
    QVERIFY(check.open(QIODevice::ReadOnly));
    QCOMPARE(check.readAll(), QByteArray("precious"));
    check.close();
    QVERIFY(!QFileInfo(temporary).isSymLink());

    // A link planted again before a part without a picture: the empty file replaces it.
    QFile::remove(temporary);
    QVERIFY(QFile::link(m_register->databasePath(), temporary));
    down();
    QVERIFY(QFileInfo(temporary).isFile() && !QFileInfo(temporary).isSymLink());
    QCOMPARE(QFileInfo(temporary).size(), 0);
    QCOMPARE(QFileInfo(m_register->databasePath()).size(), qint64(registerBefore.size()));
    PlainConnection shell(m_register->databasePath());
    QCOMPARE(shell.value("PRAGMA integrity_check").toString(), QStringLiteral("ok"));
}

void TestOtherPrograms::pictureShownFromMemoryWhenTheFileCannotBeWritten()
{
    const QImage shown =
        ShowPictureText(picture(Qt::green), QStringLiteral("/nonexistent-folder/Rezerv"));
    QVERIFY(!shown.isNull());
    QCOMPARE(shown.pixelColor(1, 1), QColor(Qt::green));
}

void TestOtherPrograms::readOnlyProgramFolderStillShowsThePicture()
{
    if (ranAsOtherUser("readOnlyProgramFolderStillShowsThePicture"))
        return;
    m_register = std::make_unique<TestRegister>();
    QVERIFY(m_register->write({part("A", "1", "1", "GOOD")}, {{"GOOD", picture(Qt::red)}}));
    QFile::setPermissions(m_register->folder(), QFile::ReadOwner | QFile::ExeOwner);
    m_window = std::make_unique<Form1>(m_register->paths(), m_register->owner());
    m_window->show();
    auto* image = control<QLabel>("Image2");
    const bool shown = image->isVisible() && !image->pixmap().isNull();
    QFile::setPermissions(m_register->folder(),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QVERIFY(shown);
    QCOMPARE(image->pixmap().toImage().pixelColor(2, 2), QColor(Qt::red));
}

int main(int argc, char* argv[])
{
    if (argc == 2 && qstrcmp(argv[1], "--probe") == 0)
        return 0;
    QApplication app(argc, argv);
    TestOtherPrograms test;
    return QTest::qExec(&test, argc, argv);
}

#include "moc_TestOtherPrograms.cpp"

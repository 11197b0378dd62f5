// Damage found at work and in the background, locks held by other programs, and the notes
// that are never dropped silently.
#include "TestOtherPrograms.h"

// ---- damage ----------------------------------------------------------------------------------

namespace {
QList<PartRow> manyParts(int count)
{
    QList<PartRow> rows;
    for (int i = 0; i < count; ++i)
        rows << part(QStringLiteral("Деталь %1").arg(i, 5, 10, QLatin1Char('0')), "1", "5", {},
                     QString(300, QLatin1Char('x')));
    return rows;
}
} // namespace

void TestOtherPrograms::damagedNameIndexIsReportedOnceAndWritesStop()
{
    open(manyParts(3000));
    const int rows = listed().size();
    int root = 0;
    {
        PlainConnection shell(m_register->databasePath());
        root = shell.value("SELECT rootpage FROM sqlite_master WHERE name = 'client_idFamKey'")
                   .toInt();
    }
    overwritePage(m_register->databasePath(), root);

    MessageBox::setNextAnswer(QMessageBox::Ok);
    click("Reset");
    QList<MessageBox::Shown> shown = MessageBox::takeShown();
    QCOMPARE(shown.size(), 1);
    QVERIFY(shown[0].text.contains(m_register->databasePath()));
    QVERIFY(shown[0].text.contains(QStringLiteral("повреждён")));
    QCOMPARE(grid()->model()->rowCount(), rows); // not an empty list with a full count
    QCOMPARE(text("Text1"), QStringLiteral("Деталь 00000"));

    MessageBox::setNextAnswer(QMessageBox::Ok);
    click("plus");
    shown = MessageBox::takeShown();
    QCOMPARE(shown.size(), 1); // the refusal, not the damage again
    QVERIFY(shown[0].text.contains(QStringLiteral("повреждён")));
    QCOMPARE(stored("Деталь 00000", "phone"), QStringLiteral("5"));
    QCOMPARE(text("Text4"), QStringLiteral("5"));

    MessageBox::setNextAnswer(QMessageBox::Yes);
    MessageBox::setNextAnswer(QMessageBox::Ok);
    click("dPaz");
    QCOMPARE(MessageBox::takeShown().size(), 2); // the question, then the refusal
    QCOMPARE(stored("Деталь 00000", "phone"), QStringLiteral("5"));
}

void TestOtherPrograms::damagedPartsPageIsReported()
{
    open(manyParts(3000));
    int root = 0;
    {
        PlainConnection shell(m_register->databasePath());
        root = shell.value("SELECT rootpage FROM sqlite_master WHERE name = 'client'").toInt();
    }
    overwritePage(m_register->databasePath(), root);
    MessageBox::setNextAnswer(QMessageBox::Ok);
    down();
    const QList<MessageBox::Shown> shown = MessageBox::takeShown();
    QCOMPARE(shown.size(), 1);
    QVERIFY(shown[0].text.contains(m_register->databasePath()));
    QVERIFY(m_register->owner().isDamaged());
    QVERIFY(!m_window->Data1()->addNew({{QStringLiteral("idFam"), QStringLiteral("new")}}));
    MessageBox::takeShown();
}

void TestOtherPrograms::backgroundCheckFindsDamage()
{
    m_register = std::make_unique<TestRegister>();
    QVERIFY(m_register->write(manyParts(3000)));
    int page = 0;
    {
        PlainConnection shell(m_register->databasePath());
        page = shell
                   .value("SELECT pageno FROM dbstat WHERE name = 'client' AND pagetype = 'leaf' "
                          "ORDER BY pageno DESC LIMIT 1")
                   .toInt();
    }
    QVERIFY(page > 0);
    overwritePage(m_register->databasePath(), page); // rows the window does not read at once
    MessageBox::setNextAnswer(QMessageBox::Ok);
    m_window = std::make_unique<Form1>(m_register->paths(), m_register->owner());
    m_window->show();
    QCOMPARE(text("Text1"), QStringLiteral("Деталь 00000"));
    QVERIFY(MessageBox::takeShown().isEmpty());
    QElapsedTimer clock;
    clock.start();
    int messages = 0;
    QTRY_VERIFY_WITH_TIMEOUT((messages += int(MessageBox::takeShown().size())) > 0, 20000);
    qInfo("damage reported %lld ms after the window opened", clock.elapsed());
    QCOMPARE(messages, 1);
    QVERIFY(m_register->owner().isDamaged());
    MessageBox::setNextAnswer(QMessageBox::Ok);
    click("plus");
    QCOMPARE(MessageBox::takeShown().size(), 1);
    QCOMPARE(text("Text4"), QStringLiteral("5"));
}

void TestOtherPrograms::backgroundCheckStopsWhenTheRegisterCloses()
{
    m_register = std::make_unique<TestRegister>();
    QVERIFY(m_register->write(manyParts(3000)));
    Register& reg = m_register->owner();
    QVERIFY(reg.check().ok());
    DamageCheck check(reg);
    bool finished = false;
    connect(&check, &DamageCheck::finished, this, [&] { finished = true; });
    check.start();
    QVERIFY(check.isRunning());
    QElapsedTimer clock;
    clock.start();
    reg.closeAll(); // as compaction does
    QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(!check.isRunning());
    QCOMPARE(reg.openConnections(), 0);
    check.start(); // a closed register is not checked
    QVERIFY(!check.isRunning());
    QCoreApplication::processEvents();
    QVERIFY(!reg.isDamaged());
    Q_UNUSED(finished);
}

void TestOtherPrograms::missingColumnKeepsTheListEmpty()
{
    m_register = std::make_unique<TestRegister>();
    QVERIFY(m_register->write({part("A"), part("B")}));
    // The journal's triggers name every column: without them, as in a register of another
    // program.
    QVERIFY(m_register->withoutJournal(
        [&] {
            PlainConnection shell(m_register->databasePath());
            QVERIFY(shell.exec("ALTER TABLE client DROP COLUMN sorp"));
        },
        false));
    MessageBox::setNextAnswer(QMessageBox::Ok);
    m_window = std::make_unique<Form1>(m_register->paths(), m_register->owner());
    m_window->show();
    const QList<MessageBox::Shown> shown = MessageBox::takeShown();
    QCOMPARE(shown.size(), 1);
    QVERIFY(shown[0].text.contains(QStringLiteral("Список деталей будет пуст")));
    QCOMPARE(grid()->model()->rowCount(), 0);
    click("Reset");
    QCOMPARE(grid()->model()->rowCount(), 0);
    QCOMPARE(label("lblRecordCount1"), QString());
    QVERIFY(!m_window->Data1()->addNew({{QStringLiteral("idFam"), QStringLiteral("C")}}));
    PlainConnection shell(m_register->databasePath());
    QCOMPARE(shell.value("SELECT COUNT(*) FROM client").toInt(), 2);
}

// ---- locks ----------------------------------------------------------------------------------

void TestOtherPrograms::lockedRegisterIsReportedAndRetried()
{
    open({part("A", "1", "1"), part("B", "1", "2"), part("C", "1", "3")});
    auto shell = std::make_unique<PlainConnection>(m_register->databasePath());
    QVERIFY(shell->exec("BEGIN EXCLUSIVE"));

    const auto timed = [&](const std::function<void()>& action) {
        MessageBox::setNextAnswer(QMessageBox::Ok);
        QElapsedTimer clock;
        clock.start();
        action();
        const qint64 took = clock.elapsed();
        const QList<MessageBox::Shown> shown = MessageBox::takeShown();
        QCOMPARE(shown.size(), 1);
        QVERIFY2(shown[0].text.contains(QStringLiteral("занят другой программой")),
                 qPrintable(shown[0].text));
        QVERIFY2(took < 3000, qPrintable(QString::number(took)));
    };
    timed([&] { click("Reset"); });
    QCOMPARE(listed(), QStringList({"A", "B", "C"})); // what was shown stays
    QCOMPARE(text("Text1"), QStringLiteral("A"));
    timed([&] { down(); });
    QCOMPARE(text("Text1"), QStringLiteral("A"));
    QCOMPARE(grid()->currentIndex().row(), 0);
    timed([&] { click("plus"); });
    QCOMPARE(text("Text4"), QStringLiteral("1"));
    timed([&] { typeText(control<QLineEdit>("Text5"), QStringLiteral("B")); });
    QCOMPARE(listed(), QStringList({"A", "B", "C"}));

    QVERIFY(shell->exec("ROLLBACK"));
    shell.reset();
    click("Reset"); // the next action simply works
    QVERIFY(MessageBox::takeShown().isEmpty());
    down();
    QCOMPARE(text("Text1"), QStringLiteral("B"));
    click("plus");
    QCOMPARE(stored("B", "phone"), QStringLiteral("3"));
}

void TestOtherPrograms::lockedAtStartUp()
{
    m_register = std::make_unique<TestRegister>();
    QVERIFY(m_register->write({part("A"), part("B")}));
    auto shell = std::make_unique<PlainConnection>(m_register->databasePath());
    QVERIFY(shell->exec("BEGIN EXCLUSIVE"));
    MessageBox::setNextAnswer(QMessageBox::Ok);
    QElapsedTimer clock;
    clock.start();
    m_window = std::make_unique<Form1>(m_register->paths(), m_register->owner());
    QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
    m_window->show();
    const QList<MessageBox::Shown> shown = MessageBox::takeShown();
    QCOMPARE(shown.size(), 1);
    QVERIFY(shown[0].text.contains(QStringLiteral("занят другой программой")));
    QVERIFY(shown[0].text.contains(m_register->databasePath()));
    shell.reset();
    click("Reset");
    QVERIFY(MessageBox::takeShown().isEmpty());
    QCOMPARE(listed(), QStringList({"A", "B"}));
}

// ---- notes ----------------------------------------------------------------------------------

void TestOtherPrograms::notesNeedAPart()
{
    open({part("A"), part("B")});
    auto* notes = control<QPlainTextEdit>("txtDisc");
    QVERIFY(!notes->isReadOnly());
    typeText(control<QLineEdit>("Text5"), QStringLiteral("ЯЯЯ"));
    QCOMPARE(listed(), QStringList());
    QVERIFY(notes->isReadOnly());
    typeText(notes, QStringLiteral("потеряется"));
    QCOMPARE(notes->toPlainText(), QString());
    click("Reset");
    QVERIFY(!notes->isReadOnly());
}

void TestOtherPrograms::notesSavedOnLeavingARowAndOnRefresh()
{
    open({part("A"), part("B")});
    auto* notes = control<QPlainTextEdit>("txtDisc");
    notes->setPlainText(QStringLiteral("первая"));
    down();
    QCOMPARE(stored("A", "sorp"), QStringLiteral("первая"));
    notes->setPlainText(QStringLiteral("вторая"));
    click("Reset");
    QCOMPARE(stored("B", "sorp"), QStringLiteral("вторая"));
    QVERIFY(MessageBox::takeShown().isEmpty());
}

void TestOtherPrograms::notesUnsavedAtExitAreNeverDroppedSilently()
{
    open({part("A"), part("B")});
    control<QPlainTextEdit>("txtDisc")->setPlainText(QStringLiteral("к выходу"));
    auto shell = std::make_unique<PlainConnection>(m_register->databasePath());
    QVERIFY(shell->exec("BEGIN EXCLUSIVE"));

    // Locked: the user is asked, and "No" keeps the window and the typed notes.
    MessageBox::setNextAnswer(QMessageBox::Yes); // do you want to leave?
    MessageBox::setNextAnswer(QMessageBox::No);  // leave without the notes?
    QVERIFY(!m_window->close());
    QList<MessageBox::Shown> shown = MessageBox::takeShown();
    QCOMPARE(shown.size(), 2);
    QVERIFY(shown[1].text.contains(QStringLiteral("занят другой программой")));
    QVERIFY(shown[1].text.contains(QStringLiteral("не сохранена")));
    QVERIFY(m_window->isVisible());

    // Once the other program lets go, leaving stores them.
    QVERIFY(shell->exec("ROLLBACK"));
    shell.reset();
    MessageBox::setNextAnswer(QMessageBox::Yes);
    QVERIFY(m_window->close());
    QCOMPARE(MessageBox::takeShown().size(), 1);
    QCOMPARE(stored("A", "sorp"), QStringLiteral("к выходу"));
    m_window.reset();
}

void TestOtherPrograms::failedNotesSaveIsReported()
{
    open({part("A"), part("B")});
    {
        PlainConnection shell(m_register->databasePath());
        QVERIFY(shell.exec("DELETE FROM client WHERE idFam = 'A'"));
    }
    control<QPlainTextEdit>("txtDisc")->setPlainText(QStringLiteral("некуда"));
    MessageBox::setNextAnswer(QMessageBox::Ok);
    down();
    const QList<MessageBox::Shown> shown = MessageBox::takeShown();
    QCOMPARE(shown.size(), 1);
    QVERIFY(shown[0].text.contains(QStringLiteral("доп. информацию")));
}

void TestOtherPrograms::quantityBoxShowsTheStoredValueAfterAFailedSave()
{
    open({part("A", "1", "7")});
    {
        PlainConnection shell(m_register->databasePath());
        QVERIFY(shell.exec("CREATE TRIGGER refuse BEFORE UPDATE ON client "
                           "BEGIN SELECT RAISE(ABORT, 'refused'); END"));
    }
    MessageBox::setNextAnswer(QMessageBox::Ok);
    click("plus");
    const QList<MessageBox::Shown> shown = MessageBox::takeShown();
    QCOMPARE(shown.size(), 1);
    QVERIFY(shown[0].text.contains(QStringLiteral("Не удалось сохранить количество")));
    QCOMPARE(text("Text4"), QStringLiteral("7"));
    QCOMPARE(stored("A", "phone"), QStringLiteral("7"));
}

void TestOtherPrograms::readOnlyRegisterIsDetected()
{
    if (ranAsOtherUser("readOnlyRegisterIsDetected"))
        return;
    m_register = std::make_unique<TestRegister>();
    QVERIFY(m_register->write({part("A", "1", "7")}));
    QFile::setPermissions(m_register->databasePath(), QFile::ReadOwner | QFile::ReadGroup);
    MessageBox::setNextAnswer(QMessageBox::Ok);
    m_window = std::make_unique<Form1>(m_register->paths(), m_register->owner());
    m_window->show();
    const QList<MessageBox::Shown> shown = MessageBox::takeShown();
    QCOMPARE(shown.size(), 1);
    QVERIFY(shown[0].text.contains(QStringLiteral("только для чтения")));
    QCOMPARE(listed(), QStringList({"A"})); // still shown
    MessageBox::setNextAnswer(QMessageBox::Ok);
    click("plus");
    QCOMPARE(MessageBox::takeShown().size(), 1);
    QCOMPARE(text("Text4"), QStringLiteral("7"));
}

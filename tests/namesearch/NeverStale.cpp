// The copy is never stale: other writers, the program's own writes, searches and closing
// during the load, older files, and loads that fail or are overtaken.
#include "TestNameSearch.h"

void TestNameSearch::otherWritersAreSeenBeforeEveryKeystroke()
{
    openWindow({part("Резистор МЛТ"), part("Резистор С2-33"), part("Конденсатор К50-35"),
                part("Диод КД522")});
    QVERIFY(ready(copy()));
    type("рез");
    QCOMPARE(listed(), expected("рез"));

    Connection other; // another writer: nothing tells the window about it
    QVERIFY(m_register->openView(other).ok());
    QSqlQuery query(other.connection());
    const auto run = [&](const QString& sql) {
        QVERIFY2(query.exec(sql), qPrintable(query.lastError().text()));
    };

    run("INSERT INTO client (kont, idFam, idFamKey) VALUES ('1', 'Резистор новый', 'резистор "
        "новый')");
    type("рез");
    QCOMPARE(listed().size(), 3);
    QCOMPARE(listed(), expected("рез"));

    run("UPDATE client SET idFam = 'Транзистор', idFamKey = 'транзистор' WHERE idFam = 'Резистор "
        "МЛТ'");
    type("рез");
    QCOMPARE(listed(), expected("рез"));
    type("тран");
    QCOMPARE(listed(), QStringList{"Транзистор"});

    run("DELETE FROM client WHERE idFam = 'Резистор новый'");
    type("рез");
    QCOMPARE(listed(), QStringList{"Резистор С2-33"});

    // A change to another field is no reason to read the names again.
    QVERIFY(ready(copy()));
    const int loads = copy().loadsCompleted();
    run("UPDATE client SET phone = '9'");
    type("диод");
    QCOMPARE(listed(), QStringList{"Диод КД522"});
    QCOMPARE(copy().loadsCompleted(), loads);
    QVERIFY(copy().isReady());
}

void TestNameSearch::ownEditsAreFollowedWithoutReading()
{
    openWindow({part("Резистор МЛТ"), part("Конденсатор К50-35"), part("Диод КД522")});
    QVERIFY(ready(copy()));
    const int loads = copy().loadsCompleted();
    RecordSource* data1 = m_window->Data1();

    QVERIFY(data1->addNew({{"kont", "1"}, {"idFam", "Резистор Р1-12"}, {"phone", "1"}}));
    QVERIFY(data1->addNew({{"kont", "1"}, {"idFam", "АБВ резистор"}, {"phone", "1"}}));
    type("рез");
    QCOMPARE(listed(), (QStringList{"АБВ резистор", "Резистор МЛТ", "Резистор Р1-12"}));
    QCOMPARE(listed(), expected("рез"));

    // "+", then a rename of the current part (the first listed).
    QTest::mouseClick(control<QPushButton>("plus"), Qt::LeftButton);
    QVERIFY(data1->updateCurrent({{"idFam", "Ящик"}}, PartAction::Edit));
    type("рез");
    QCOMPARE(listed(), (QStringList{"Резистор МЛТ", "Резистор Р1-12"}));
    type("ящ");
    QCOMPARE(listed(), QStringList{"Ящик"});

    type("мл");
    QVERIFY(data1->deleteCurrent());
    type("р");
    QCOMPARE(listed(), expected("р"));
    QCOMPARE(listed(), (QStringList{"Конденсатор К50-35", "Резистор Р1-12"}));

    QVERIFY(copy().isReady());
    QCOMPARE(copy().loadsCompleted(), loads);
    QCOMPARE(copy().size(), 4);
}

void TestNameSearch::ownWriteWaitsForAnotherWriter()
{
    // Another writer holds the write lock for a moment: the program's own write, which now
    // also reads the name counter, waits its turn and then succeeds, as a plain write would.
    TARVIK_FILE_ONLY("the file's write lock, taken through its engine");
    openWindow({part("Резистор МЛТ")});
    QVERIFY(ready(copy()));
    const QString path = m_register->databasePath();
    QSemaphore locked;
    QThread* other = QThread::create([&] {
        Connection db;
        db.open(path);
        QSqlQuery query(db.connection());
        query.exec("BEGIN IMMEDIATE");
        query.exec("INSERT INTO client (kont, idFam, idFamKey) VALUES ('1', 'Резистор чужой', "
                   "'резистор чужой')");
        locked.release();
        QThread::msleep(300);
        query.exec("COMMIT");
    });
    other->start();
    locked.acquire();
    QVERIFY2(m_window->Data1()->addNew({{"kont", "1"}, {"idFam", "Резистор свой"}}),
             qPrintable(m_window->Data1()->lastError()));
    other->wait();
    delete other;
    type("рез");
    QCOMPARE(listed(), (QStringList{"Резистор МЛТ", "Резистор свой", "Резистор чужой"}));
}

void TestNameSearch::keystrokeDuringTheLoad()
{
    openWindow({part("Резистор МЛТ"), part("Конденсатор К50-35"), part("Резистор С2-33")}, true);
    QVERIFY(!copy().isReady());
    type("рез"); // answered by the engine
    QCOMPARE(listed(), (QStringList{"Резистор МЛТ", "Резистор С2-33"}));
    // An own write while the load runs is taken over when it ends.
    QVERIFY(m_window->Data1()->addNew({{"kont", "1"}, {"idFam", "Резистор новый"}}));
    QVERIFY(!copy().isReady());

    copy().holdLoading(false);
    QVERIFY(ready(copy()));
    type("рез");
    QCOMPARE(listed(), expected("рез"));
    QCOMPARE(listed().size(), 3);
}

void TestNameSearch::closingDuringTheLoad()
{
    QList<PartRow> rows;
    for (int i = 0; i < 3000; ++i)
        rows << part(QStringLiteral("Деталь %1").arg(i));
    openWindow(rows, true);
    QTest::qWait(20); // the load is under way, holding on its open connection
    QVERIFY(!copy().isReady());
    MessageBox::setNextAnswer(QMessageBox::Yes);
    m_window->close(); // closes every connection: the load stops first
    MessageBox::takeShown();
    QCOMPARE(m_register->owner().openConnections(), 0);
    m_window.reset();

    // And a window destroyed while its load runs, without closing.
    openWindow(rows, true);
    QTest::qWait(20);
    m_window.reset();
    QCOMPARE(m_register->owner().openConnections(), 0);

    // Closed while the load reads its slices, not held anywhere.
    m_register = std::make_unique<TestRegister>();
    QVERIFY(m_register->write(rows));
    m_window = std::make_unique<Form1>(m_register->paths(), m_register->owner());
    copy().setSliceRows(10);
    m_window->show();
    MessageBox::setNextAnswer(QMessageBox::Yes);
    m_window->close();
    MessageBox::takeShown();
    QCOMPARE(m_register->owner().openConnections(), 0);
    m_window.reset();
}

void TestNameSearch::counterIsAddedToOlderFilesAndWorksInTheShell()
{
    TARVIK_FILE_ONLY("older files and the file's own shell");
    TestRegister reg;
    QVERIFY(reg.write({part("Резистор")}));
    QStringList fresh;
    {
        Connection db;
        QVERIFY(reg.openView(db).ok());
        QSqlQuery query(db.connection());
        QVERIFY(query.exec("SELECT sql FROM sqlite_master WHERE name LIKE 'client_name_changes%' "
                           "ORDER BY name"));
        while (query.next())
            fresh << query.value(0).toString().simplified().replace("IF NOT EXISTS ", "");
        QCOMPARE(fresh.size(), 3);
        // As a file of an earlier build.
        for (const char* sql :
             {"DROP TRIGGER client_name_changes_insert", "DROP TRIGGER client_name_changes_delete",
              "DROP TRIGGER client_name_changes_update", "DROP TABLE clientNameChanges"})
            QVERIFY(query.exec(sql));
    }
    QVERIFY(reg.owner().check().ok());
    Connection db;
    QVERIFY(reg.openView(db).ok());
    QSqlQuery query(db.connection());
    QVERIFY(query.exec("SELECT sql FROM sqlite_master WHERE name LIKE 'client_name_changes%' "
                       "ORDER BY name"));
    QStringList upgraded;
    while (query.next())
        upgraded << query.value(0).toString().simplified().replace("IF NOT EXISTS ", "");
    QCOMPARE(upgraded, fresh);
    QVERIFY(ensureNameChangeCounter(db.connection())); // again: nothing to do
    const auto counter = [&] {
        QSqlQuery q(db.connection());
        return q.exec("SELECT n FROM clientNameChanges") && q.next() ? q.value(0).toLongLong() : -1;
    };
    QCOMPARE(counter(), 0);

    // The file stays usable by the plain shell: its triggers need nothing of ours.
    if (QStandardPaths::findExecutable("sqlite3").isEmpty())
        QSKIP("no sqlite3 shell");
    const auto shell = [&](const QByteArray& statements) {
        QProcess process;
        process.start("sqlite3", {reg.databasePath()});
        process.waitForStarted();
        process.write(statements + "PRAGMA integrity_check;\n");
        process.closeWriteChannel();
        process.waitForFinished();
        return process.exitCode() == 0 ? process.readAllStandardOutput().trimmed() : QByteArray();
    };
    QCOMPARE(shell("UPDATE client SET phone = '5';\n"), QByteArray("ok"));
    QCOMPARE(counter(), 0); // the quantity is no name
    QCOMPARE(shell("INSERT INTO client (idFam, idFamKey) VALUES ('X', 'x');\n"), QByteArray("ok"));
    QCOMPARE(counter(), 1);
    // A rename without its key: the key trigger then clears the key, which counts too.
    QCOMPARE(shell("UPDATE client SET idFam = 'Y' WHERE idFam = 'X';\n"), QByteArray("ok"));
    const qint64 renamed = counter();
    QVERIFY(renamed >= 2);
    QCOMPARE(shell("DELETE FROM client WHERE idFam = 'Y';\n"), QByteArray("ok"));
    QCOMPARE(counter(), renamed + 1);
}

void TestNameSearch::partAddedThroughTheDialogIsFoundByTheNextKeystroke()
{
    // Enough names that a keystroke narrows the previous one's hits, and hits spread among
    // other names, so that a name added between them moves them all.
    QList<PartRow> rows;
    for (int i = 0; i < 240; ++i)
        rows << part(i % 6 ? QStringLiteral("Деталь %1 Р").arg(i)
                           : QStringLiteral("Деталь %1 КТ3%2").arg(i).arg(i % 10));
    openWindow(rows);
    QVERIFY(ready(copy()));
    auto* box = control<QLineEdit>("Text5");
    type("кт3");
    QCOMPARE(listed(), expected("кт3"));

    Form2 dialog(
        m_register->owner(), m_register->paths(),
        [this](const PartRow& part, const std::optional<PartRow>& expected) {
            return savePartListedByName(*m_window->Data1(), part, expected);
        },
        m_window.get());
    test::control<QLineEdit>(&dialog, "Fam")->setText(QStringLiteral("Деталь 115 КТ315"));
    test::control<QLineEdit>(&dialog, "txtVozrast")->setText(QStringLiteral("1"));
    QTest::mouseClick(test::control<QPushButton>(&dialog, "cmdAdd1"), Qt::LeftButton);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));

    typeText(box, "1");
    QCOMPARE(box->text(), QStringLiteral("кт31"));
    QVERIFY(listed().contains(QStringLiteral("Деталь 115 КТ315")));
    QCOMPARE(listed(), expected("кт31"));

    // And a deletion between two keystrokes.
    type("кт3");
    m_window->Data1()->setCurrentRow(0);
    QVERIFY(m_window->Data1()->deleteCurrent());
    typeText(box, "1");
    QCOMPARE(listed(), expected("кт31"));
    QVERIFY(copy().isReady());
}

void TestNameSearch::loadStartsAgainWhenNamesChangeBetweenSlices()
{
    QList<PartRow> rows;
    TARVIK_FILE_ONLY("a load in slices; on the server it reads one snapshot");
    for (int i = 0; i < 30; ++i)
        rows << part(QStringLiteral("Деталь %1").arg(i, 2, 10, QLatin1Char('0')));
    m_register = std::make_unique<TestRegister>();
    QVERIFY(m_register->write(rows));
    NameCopy names(m_register->owner());
    names.setSliceRows(10);
    names.holdLoading(true, 1); // the first slice is read, then the load waits
    names.startLoading();
    QTest::qWait(50);
    {
        // Another program adds a name that sorts into the slice already read.
        Connection shell;
        QVERIFY(m_register->openView(shell).ok());
        QSqlQuery query(shell.connection());
        QVERIFY(query.exec("INSERT INTO client (kont, idFam, idFamKey) VALUES "
                           "('1', 'Анод', 'анод')"));
    }
    names.holdLoading(false);
    QVERIFY(ready(names));
    // Read again from the start, so it knows the new name and can answer for it itself.
    const auto found = names.find(QStringLiteral("анод"));
    QVERIFY(found.has_value());
    QCOMPARE(found->size(), 1);
    QCOMPARE(names.size(), 31);
}

void TestNameSearch::failedLoadsAreTriedAgainLater()
{
    TARVIK_FILE_ONLY("the file locked by another program");
    m_register = std::make_unique<TestRegister>();
    QVERIFY(m_register->write({part("Резистор МЛТ"), part("Диод КД522")}));
    NameCopy names(m_register->owner());
    names.setRetryDelay(0);
    {
        // Another program keeps the file locked through several loads.
        Connection shell;
        QVERIFY(m_register->openView(shell).ok());
        QSqlQuery query(shell.connection());
        QVERIFY(query.exec("BEGIN EXCLUSIVE"));
        for (int attempt = 0; attempt < 3; ++attempt) {
            QVERIFY(!names.find(QStringLiteral("рез")).has_value());
            QVERIFY(QTest::qWaitFor([&] { return !names.isLoading(); }, 10000));
        }
        QVERIFY(!names.isReady());
        QVERIFY(query.exec("ROLLBACK"));
    }
    // The lock is gone: the next keystroke tries again instead of leaving the engine alone.
    QVERIFY(!names.find(QStringLiteral("рез")).has_value());
    QVERIFY(ready(names));
    QCOMPARE(names.find(QStringLiteral("рез"))->size(), 1);
}

// Patterns answered from memory off the window's thread: the newest keystroke's answer is
// the one shown, and a pattern that keeps the matcher busy neither holds up the window
// nor outlives the next keystroke.
#include "TestNameSearch.h"

#include <QSignalSpy>
#include <QTimer>

void TestNameSearch::newerPatternKeystrokeWinsOverAnOlderOne()
{
    openWindow({part("резистор"), part("реле"), part("диод"), part("кт315")});
    QVERIFY(ready(copy()));
    const QStringList all = listed();
    QCOMPARE(all.size(), 4);
    QSignalSpy found(&copy(), &NameCopy::patternFound);
    auto* box = control<QLineEdit>("Text5");

    box->setText(QStringLiteral("[рд]"));
    copy().waitForSearch(); // found, its rows not delivered yet
    copy().holdSearches(true);
    box->setText(QStringLiteral("[к]")); // the next keystroke, its search held
    QCoreApplication::processEvents();   // the older rows arrive now
    QVERIFY(found.isEmpty());
    QCOMPARE(listed(), all);

    copy().holdSearches(false);
    QTRY_COMPARE(found.size(), 1);
    QCOMPARE(found.front().front().toString(), QStringLiteral("[к]"));
    QCOMPARE(listed(), QStringList({"кт315"}));
    QCOMPARE(listed(), expected(QStringLiteral("[к]")));
}

void TestNameSearch::slowPatternKeepsTheWindowAnsweringAndIsCancelled()
{
    // Names made to almost match: every name is tried at every bracket.
    QList<PartRow> rows;
    for (int i = 0; i < 8000; ++i)
        rows << part(QString(250, QLatin1Char('a')));
    rows << part(QStringLiteral("диод"));
    openWindow(rows);
    QVERIFY(ready(copy()));
    QSignalSpy found(&copy(), &NameCopy::patternFound);
    auto* box = control<QLineEdit>("Text5");

    QString slow;
    for (int i = 0; i < 124; ++i)
        slow += QStringLiteral("[a]");
    box->setText(slow + QStringLiteral("[b]"));
    bool delivered = false, searching = false;
    QTimer::singleShot(0, this, [&] {
        delivered = true;
        searching = copy().isSearching();
    });
    QVERIFY(QTest::qWaitFor([&] { return delivered; }));
    QVERIFY(searching); // the window turned while the pattern was being matched

    box->setText(QStringLiteral("д[и]"));
    QCOMPARE(copy().searchesCancelled(), 1);
    QTRY_COMPARE(found.size(), 1);
    QCOMPARE(found.front().front().toString(), QStringLiteral("д[и]"));
    QCOMPARE(listed(), QStringList({"диод"}));
}

void TestNameSearch::patternKeystrokesNarrowExactlyAsTheEngine()
{
    TARVIK_FILE_ONLY("the engine's answers are read through the file's own functions");
    // Names like the register's, and pieces that make the matcher step over characters of
    // more than one byte: ё (е and the mark in a key), a mark after another letter, letters
    // beyond the BMP. Enough of them for blocks in both halves the two cores match.
    TestRegister reg;
    QRandomGenerator random(1717);
    const QStringList stems = {"кт315", "к50-35", "резистор", "конденсатор 10мкф",
                               "lm317", "ne555p", "ёлка",     "береёза",
                               "е-ё е", "1n4148"};
    QList<PartRow> rows;
    QStringList written;
    for (int i = 0; i < 4500; ++i) {
        QString name = i % 2 ? randomText(random, 6) : stems.at(int(random.bounded(stems.size())));
        if (i % 3 == 0)
            name.insert(int(random.bounded(name.size() + 1)), randomText(random, 3));
        rows << part(name);
        written << name;
    }
    QVERIFY(reg.write(rows));
    {
        // Keys another tool could leave, which the engine reads through their folded names
        // when a pattern is more than plain text: they must be tried again after a keystroke
        // that found nothing in their bytes.
        Connection plain;
        QVERIFY(plain.open(reg.databasePath()).ok());
        for (const QString& key : {QStringLiteral("К35"), QStringLiteral("КТ3"),
                                   QStringLiteral("ЁЛКА"), QStringLiteral("ёлка")})
            QVERIFY(writeRawPart(plain, QStringLiteral("raw"), key, "?"));
        QVERIFY(writeRawPart(plain, QStringLiteral("mark"),
                             QStringLiteral("ж") + QString::fromUcs4(U"\U0010FFFF") + "к", "?"));
    }
    Register& owner = reg.owner();
    NameCopy copy(owner);
    copy.startLoading();
    QVERIFY(ready(copy));
    Connection engine;
    QVERIFY(owner.connect(engine).ok());

    // Words typed key by key: the bench's, random patterns, and pieces of names with wildcards
    // in place of some characters.
    QStringList words = {"к*35", "?т3",  "к#0",  "[кр]ез", "lm3?7",     "ne5*p", "*",     "ё?к",
                         "е?",   "[е]#", "*ё*е", "?ж",     "[кр]е[!з]", "ж?к",   "к[т]#", "[!е]?"};
    for (int i = 0; i < 120; ++i)
        words << randomPattern(random);
    for (int i = 0; i < 120; ++i) {
        QString name = written.at(int(random.bounded(written.size())));
        const char16_t wild[] = {u'?', u'#', u'*', u'['};
        for (int k = int(random.bounded(3)); k >= 0 && !name.isEmpty(); --k)
            name[int(random.bounded(name.size()))] = QChar(wild[random.bounded(k == 0 ? 3 : 4)]);
        words << name.mid(int(random.bounded(name.size() / 2 + 1)), 8);
    }
    QSignalSpy found(&copy, &NameCopy::patternFound);
    int patterns = 0;
    for (const QString& word : words) {
        for (qsizetype length = 1; length <= word.size(); ++length) {
            const QString text = word.left(length);
            if (!text.isValidUtf16())
                continue; // half of a pair: the engine gets it through a conversion of its own
            if (copy.startPatternSearch(text)) {
                ++patterns;
                copy.waitForSearch();
                QCoreApplication::processEvents(); // its rows are taken in
                QCOMPARE(found.size(), 1);
                QCOMPARE(found.takeFirst().front().toString(), text);
            }
            const auto answer = copy.find(text);
            QVERIFY2(answer, qPrintable(text));
            if (*answer != engineRows(engine, text))
                QFAIL(qPrintable(QStringLiteral("\"%1\" of \"%2\": %3 rows, the engine %4")
                                     .arg(text, word)
                                     .arg(answer->size())
                                     .arg(engineRows(engine, text).size())));
        }
    }
    // Most keystrokes after the first of a pattern looked only at the previous hits.
    QVERIFY(patterns > 400);
    QVERIFY(copy.searchesNarrowed() > patterns / 6);
    QCOMPARE(copy.loadsCompleted(), 1);
}

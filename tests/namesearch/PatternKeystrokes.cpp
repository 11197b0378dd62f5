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

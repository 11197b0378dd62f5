#pragma once

// The quick search's in-memory copy of the names: the byte search itself, the copy against
// the engine's own search on random names and texts, and that it is never stale (other
// writers, the program's own writes, a search during the load, closing during the load):
// the test class and what its files share. Only this program's files include it.
#include "MainWindowProbe.h"
#include "TestRegister.h"

#include "app/Form1.h"
#include "app/Startup.h"
#include "editor/Form2.h"
#include "gui/MessageBox.h"
#include "store/records/RecordSource.h"
#include "store/register/NameChangeCounter.h"
#include "store/search/ByteSearch.h"
#include "store/search/FoldedNames.h"
#include "store/search/NameCopy.h"
#include "store/text/TextFold.h"

#include <QApplication>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRandomGenerator>
#include <QSemaphore>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTableView>
#include <QTest>
#include <QThread>

#include <cstring>
#include <map>
#include <string>

using namespace tarvik;
using namespace tarvik::test;

// The rows the engine's own search gives, exactly as a record source reads them.
inline QVector<qint64> engineRows(const Connection& db, const QString& text)
{
    const Statement statement = Statements::partsWithNameLike(text);
    QSqlQuery query(db.connection());
    query.setForwardOnly(true);
    query.prepare(statement.keysSql());
    for (const QVariant& value : statement.binds)
        query.addBindValue(value);
    if (!query.exec() || !query.next()) {
        qWarning("engine search failed: %s", qPrintable(query.lastError().text()));
        return {};
    }
    const QByteArray keys = query.value(0).toByteArray();
    QVector<qint64> rows(keys.size() / qsizetype(sizeof(qint64)));
    if (!rows.isEmpty())
        std::memcpy(rows.data(), keys.constData(), rows.size() * sizeof(qint64));
    return rows;
}

// Pieces of names: Russian and Latin, letters of other scripts with case (Greek final
// sigma, German sharp s, Turkish dotted and dotless i, Armenian, Deseret beyond the BMP,
// the Kelvin sign that folds to k), combining marks, digits and punctuation.
inline const QStringList kPieces = {
    "а",
    "Б",
    "в",
    "е",
    "Е",
    "Ё",
    "ё",
    "Ж",
    "щ",
    "Ъ",
    "я",
    "Я",
    "A",
    "b",
    "C",
    "k",
    "K",
    "z",
    "Σ",
    "σ",
    "ς",
    "ß",
    "ẞ",
    "İ",
    "ı",
    "i",
    "Ա",
    "ա",
    QString::fromUcs4(U"\U00010400"),
    QString::fromUcs4(U"\U00010428"),
    "\u212A",
    "\u0301",
    "\u0308",
    "e\u0301",
    "é",
    "0",
    "5",
    "9",
    " ",
    "-",
    "/",
    ".",
    ",",
    "'",
    "]",
    "!",
    "😀",
    "Ａ",
    "ａ",
    "ﬀ",
};

inline QString randomText(QRandomGenerator& random, int maxPieces)
{
    QString text;
    const int n = int(random.bounded(maxPieces + 1));
    for (int i = 0; i < n; ++i)
        text += kPieces.at(int(random.bounded(kPieces.size())));
    return text;
}

// A pattern of the search's forms: pieces, * ? #, classes with ranges and negation, and
// malformed ones (an unclosed class, a reversed range).
inline QString randomPattern(QRandomGenerator& random)
{
    const auto piece = [&] { return kPieces.at(int(random.bounded(kPieces.size()))); };
    QString pattern;
    for (int n = 1 + int(random.bounded(4)); n > 0; --n) {
        switch (random.bounded(9)) {
        case 0:
            pattern += QLatin1Char('*');
            break;
        case 1:
            pattern += QLatin1Char('?');
            break;
        case 2:
            pattern += QLatin1Char('#');
            break;
        case 3:
            pattern += QStringLiteral("[") + piece() + piece() + QStringLiteral("]");
            break;
        case 4:
            pattern += QStringLiteral("[!") + piece() + QStringLiteral("]");
            break;
        case 5:
            pattern +=
                QStringLiteral("[") + piece() + QStringLiteral("-") + piece() + QStringLiteral("]");
            break;
        case 6:
            pattern += random.bounded(4) == 0 ? QStringLiteral("[") + piece() : piece();
            break;
        default:
            pattern += piece();
            break;
        }
    }
    return pattern;
}

// Writes a key exactly as given, bytes and type, the way another tool could.
inline bool writeRawPart(const Connection& db, const QString& name, const QVariant& key,
                         const char* cast)
{
    QSqlQuery query(db.connection());
    query.prepare(QStringLiteral("INSERT INTO client (kont, idFam, idFamKey) VALUES ('1', ?, %1)")
                      .arg(QLatin1String(cast)));
    query.addBindValue(name);
    query.addBindValue(key);
    return query.exec() || (qWarning("%s", qPrintable(query.lastError().text())), false);
}

// Waits until the copy has been read.
inline bool ready(NameCopy& copy)
{
    return QTest::qWaitFor([&] { return copy.isReady(); }, 10000);
}

class TestNameSearch : public QObject, private MainWindowProbe {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void byteSearchKernelsAgree();
    void foldedNamesFollowInsertsAndRemovals();
    void copyAnswersExactlyAsTheEngine();
    void patternsAndBrokenTextAreLeftToTheEngine();
    void otherWritersAreSeenBeforeEveryKeystroke();
    void ownEditsAreFollowedWithoutReading();
    void ownWriteWaitsForAnotherWriter();
    void keystrokeDuringTheLoad();
    void closingDuringTheLoad();
    void counterIsAddedToOlderFilesAndWorksInTheShell();
    void partAddedThroughTheDialogIsFoundByTheNextKeystroke();
    void loadStartsAgainWhenNamesChangeBetweenSlices();
    void failedLoadsAreTriedAgainLater();
    void newerPatternKeystrokeWinsOverAnOlderOne();
    void slowPatternKeepsTheWindowAnsweringAndIsCancelled();
    void patternKeystrokesNarrowExactlyAsTheEngine();

private:
    void openWindow(const QList<PartRow>& rows, bool hold = false);
    QStringList expected(const QString& text) const;
    void type(const QString& text);
    NameCopy& copy() const { return *control<NameCopy>("partNames"); }
};

// The quick search's in-memory copy of the names: the byte search itself, the copy against
// the engine's own search on random names and texts, and that it is never stale (other
// writers, the program's own writes, a search during the load, closing during the load).
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

namespace {

// The rows the engine's own search gives, exactly as a record source reads them.
QVector<qint64> engineRows(const Connection& db, const QString& text)
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
const QStringList kPieces = {
    "а",
    "Б",
    "в",
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

QString randomText(QRandomGenerator& random, int maxPieces)
{
    QString text;
    const int n = int(random.bounded(maxPieces + 1));
    for (int i = 0; i < n; ++i)
        text += kPieces.at(int(random.bounded(kPieces.size())));
    return text;
}

// Writes a key exactly as given, bytes and type, the way another tool could.
bool writeRawPart(const Connection& db, const QString& name, const QVariant& key, const char* cast)
{
    QSqlQuery query(db.connection());
    query.prepare(QStringLiteral("INSERT INTO client (kont, idFam, idFamKey) VALUES ('1', ?, %1)")
                      .arg(QLatin1String(cast)));
    query.addBindValue(name);
    query.addBindValue(key);
    return query.exec() || (qWarning("%s", qPrintable(query.lastError().text())), false);
}

// Waits until the copy has been read.
bool ready(NameCopy& copy)
{
    return QTest::qWaitFor([&] { return copy.isReady(); }, 10000);
}

} // namespace

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

private:
    void openWindow(const QList<PartRow>& rows, bool hold = false);
    QStringList expected(const QString& text) const;
    void type(const QString& text);
    NameCopy& copy() const { return *control<NameCopy>("partNames"); }
};

void TestNameSearch::initTestCase()
{
    prepareApplication(*qApp);
}

void TestNameSearch::cleanup()
{
    closeWindow();
    m_register.reset();
}

void TestNameSearch::openWindow(const QList<PartRow>& rows, bool hold)
{
    m_register = std::make_unique<TestRegister>();
    QVERIFY(m_register->write(rows));
    m_window = std::make_unique<Form1>(m_register->paths(), m_register->owner());
    copy().holdLoading(hold);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
}

// What the engine lists for `text` right now, through a connection of its own.
QStringList TestNameSearch::expected(const QString& text) const
{
    RecordSource truth;
    truth.open(m_register->databasePath());
    truth.setStatement(Statements::partsWithNameLike(text));
    truth.refresh();
    QStringList names;
    const int column = truth.columnOf(QStringLiteral("idFam"));
    for (int row = 0; row < truth.rowCount(); ++row)
        names << truth.index(row, column).data().toString();
    return names;
}

void TestNameSearch::type(const QString& text)
{
    auto* box = control<QLineEdit>("Text5");
    box->clear();
    typeText(box, text);
}

void TestNameSearch::byteSearchKernelsAgree()
{
    // Names of every length around the vector widths, needles longer than a step, empty
    // names, and bytes that occur at name boundaries.
    QRandomGenerator random(7);
    const char alphabet[] = "ab\xd0\xb0\xd1\x80\x00";
    for (int round = 0; round < 400; ++round) {
        const int count = 1 + int(random.bounded(150));
        std::string bytes;
        std::vector<std::uint32_t> ends;
        std::vector<std::string> names;
        for (int i = 0; i < count; ++i) {
            std::string name;
            const int length = int(random.bounded(round % 2 ? 80 : 12));
            for (int k = 0; k < length; ++k)
                name += alphabet[random.bounded(7)];
            names.push_back(name);
            bytes += name;
            ends.push_back(std::uint32_t(bytes.size()));
        }
        bytes.append(byteSearch::kPadding, '\xd0'); // padding that would match, were it read
        for (int t = 0; t < 10; ++t) {
            std::string needle;
            const int length = int(random.bounded(t == 0 ? 70 : 5));
            for (int k = 0; k < length; ++k)
                needle += alphabet[random.bounded(7)];
            if (t == 1 && !names.front().empty())
                needle = names.front();
            std::vector<std::uint32_t> want;
            for (int i = 0; i < count; ++i) {
                if (names[std::size_t(i)].find(needle) != std::string::npos)
                    want.push_back(std::uint32_t(i));
            }
            for (const byteSearch::Kernel kernel : byteSearch::available()) {
                std::vector<std::uint32_t> got;
                byteSearch::find(kernel, bytes.data(), ends.data(), ends.size(), needle, got);
                if (got != want)
                    QFAIL(qPrintable(QStringLiteral("%1 differs, round %2")
                                         .arg(QLatin1String(byteSearch::nameOf(kernel)))
                                         .arg(round)));
            }
        }
    }
}

void TestNameSearch::foldedNamesFollowInsertsAndRemovals()
{
    // Against a plain ordered map, through enough changes to split and empty blocks; every
    // search after a change, and the next keystroke's narrowed search, agree with it.
    using Key = std::tuple<int, std::string, qint64>;
    std::map<Key, bool> model;
    FoldedNames names;
    QRandomGenerator random(11);
    std::map<qint64, Key> byId;
    qint64 nextId = 1;
    const auto check = [&](const std::string& needle) {
        QVector<qint64> want;
        for (const auto& [key, unused] : model) {
            if (std::get<1>(key).find(needle) != std::string::npos)
                want << std::get<2>(key);
        }
        return names.find(needle) == want;
    };
    for (int step = 0; step < 12000; ++step) {
        const bool add = byId.empty() || random.bounded(3) != 0 || step < 6000;
        if (add) {
            std::string key;
            // Whole letters, and a lone lead byte now and then.
            const char* const pieces[] = {"a", "b", "c", "я", "\xd1", "ё"};
            for (int k = int(random.bounded(6)); k > 0; --k)
                key += pieces[random.bounded(6)];
            const auto kind = FoldedNames::Kind(random.bounded(10) == 0 ? 2 : 1);
            const Key entry{int(kind), key, nextId};
            model[entry] = true;
            byId[nextId] = entry;
            names.insert(nextId++, kind, key);
        } else {
            auto it = byId.begin();
            std::advance(it, random.bounded(int(byId.size())));
            model.erase(it->second);
            QVERIFY(names.remove(it->first));
            byId.erase(it);
        }
        // The next keystroke's narrowed search, with a change between the two keystrokes.
        if (step % 500 == 250)
            QVERIFY(check("ab"));
        if (step % 500 == 251)
            QVERIFY(check("abc"));
        if (step % 500 == 0) {
            QVERIFY(check("a"));
            QVERIFY(check("ab"));
            QVERIFY(check("abc"));
            QVERIFY(check("b"));
            QVERIFY(check("я"));
            QVERIFY(check("\xd1"));
            QVERIFY(check("яё"));
        }
    }
    QCOMPARE(names.size(), qsizetype(model.size()));
    QVERIFY(!names.remove(-5));
}

void TestNameSearch::copyAnswersExactlyAsTheEngine()
{
    TestRegister reg;
    QRandomGenerator random(2024);
    QList<PartRow> rows;
    QStringList written;
    for (int i = 0; i < 600; ++i) {
        // Some names more than once, so that equal keys straddle the load's slices.
        const QString name =
            i % 7 == 6 ? written.at(int(random.bounded(written.size()))) : randomText(random, 8);
        rows << part(name);
        written << name;
    }
    // Every letter a user can type alone is in some names and missing from others.
    QString letters = QStringLiteral("ё");
    for (char16_t c = u'а'; c <= u'я'; ++c)
        letters += QChar(c);
    for (char16_t c = 0x20; c < 0x7f; ++c)
        letters += QChar(c);
    for (qsizetype i = 0; i < letters.size(); i += 3)
        rows << part(QStringLiteral("ж%1%2").arg(letters.at(i), letters.mid(i + 1, 1).toUpper()));
    QVERIFY(reg.write(rows));
    {
        // Keys another tool could leave: bytes that are not UTF-8, a NUL inside, numbers,
        // a blob, no key at all, and a key that is not the folded name.
        Connection plain;
        QVERIFY(plain.open(reg.databasePath()).ok());
        const QList<QByteArray> broken = {"ab\xff"
                                          "cd",
                                          "\xc0\x80x",
                                          "\xd0",
                                          "\x80\x80\xd0\xb0",
                                          "\xed\xa0\x80z",
                                          "\xf4\x90\x80\x80",
                                          QByteArray("a\0b", 3),
                                          QByteArray("\xd0\xb0\0\xd0\xb1", 5)};
        for (const QByteArray& key : broken)
            QVERIFY(writeRawPart(plain, QStringLiteral("raw"), key, "CAST(? AS TEXT)"));
        QVERIFY(writeRawPart(plain, QStringLiteral("blob"), QByteArray("abc"), "?"));
        QVERIFY(writeRawPart(plain, QStringLiteral("number"), 42, "?"));
        QVERIFY(writeRawPart(plain, QStringLiteral("real"), 1.5, "CAST(? AS REAL)"));
        QVERIFY(writeRawPart(plain, QStringLiteral("null"), QVariant(), "?"));
        QVERIFY(writeRawPart(plain, QStringLiteral("unfolded"), QStringLiteral("ABCЖ"), "?"));
        QVERIFY(writeRawPart(plain, QStringLiteral("empty"), QString(""), "?"));
    }

    Register& owner = reg.owner();
    NameCopy copy(owner);
    copy.setSliceRows(7);
    copy.startLoading();
    QVERIFY(ready(copy));
    Connection engine;
    QVERIFY(owner.connect(engine).ok());

    QStringList texts;
    for (int i = 0; i < 300; ++i)
        texts << randomText(random, 3);
    for (int i = 0; i < 300; ++i) {
        // Pieces of real names, as typed (any case), so that most texts find something.
        const QString name = written.at(int(random.bounded(written.size())));
        const int from = name.isEmpty() ? 0 : int(random.bounded(name.size()));
        texts << name.mid(from, 1 + int(random.bounded(4)));
    }
    texts << "1"
          << "4"
          << "42"
          << "1.5"
          << "."
          << "abc"
          << "ab"
          << "b"
          << "\xd0\xb0" << QString(QChar(0)) << QStringLiteral("a") + QChar(0) + QStringLiteral("b")
          << QString::fromUtf8("\xef\xbf\xbd") << QString() << QStringLiteral("ж") << "]"
          << "!";
    for (const QChar letter : letters)
        texts << QString(letter) << QString(letter).toUpper();

    QList<QVector<qint64>> truths;
    for (const QString& text : texts)
        truths << engineRows(engine, text);
    // Kernel by kernel, so that each one answers the texts itself (a text that contains the
    // one before it is answered from the previous hits, which is checked along the way).
    int answered = 0, nonEmpty = 0;
    for (const byteSearch::Kernel kernel : byteSearch::available()) {
        copy.setKernel(kernel);
        for (qsizetype i = 0; i < texts.size(); ++i) {
            const auto rows = copy.find(texts.at(i));
            if (!rows)
                continue;
            ++answered;
            nonEmpty += !rows->isEmpty();
            if (*rows != truths.at(i))
                QFAIL(qPrintable(QStringLiteral("\"%1\" (%2): %3 rows, the engine %4")
                                     .arg(texts.at(i), QLatin1String(byteSearch::nameOf(kernel)))
                                     .arg(rows->size())
                                     .arg(truths.at(i).size())));
        }
    }
    QVERIFY(answered >= int(texts.size()) * int(byteSearch::available().size()) * 9 / 10);
    QVERIFY(nonEmpty > answered / 3);
    QCOMPARE(copy.loadsCompleted(), 1);
}

void TestNameSearch::patternsAndBrokenTextAreLeftToTheEngine()
{
    for (const QString& text : {QStringLiteral("a*"), QStringLiteral("?"), QStringLiteral("#1"),
                                QStringLiteral("[ab]"), QString(QChar(0xD800)) + "x"})
        QVERIFY2(!NameCopy::isPlainText(text), qPrintable(text));
    for (const QString& text : {QStringLiteral("a]"), QStringLiteral("!-"), QStringLiteral("кт3")})
        QVERIFY(NameCopy::isPlainText(text));
    QCOMPARE(Statements::nameLikeText(Statements::partsWithNameLike("к*т")), QStringLiteral("к*т"));
    QVERIFY(!Statements::nameLikeText(Statements::partsByName()));
    QVERIFY(!Statements::nameLikeText(Statements::partsNamed("*x*")));
}

void TestNameSearch::otherWritersAreSeenBeforeEveryKeystroke()
{
    openWindow({part("Резистор МЛТ"), part("Резистор С2-33"), part("Конденсатор К50-35"),
                part("Диод КД522")});
    QVERIFY(ready(copy()));
    type("рез");
    QCOMPARE(listed(), expected("рез"));

    Connection other; // another writer: nothing tells the window about it
    QVERIFY(other.open(m_register->databasePath()).ok());
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
    QVERIFY(data1->updateCurrent({{"idFam", "Ящик"}}));
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
    TestRegister reg;
    QVERIFY(reg.write({part("Резистор")}));
    QStringList fresh;
    {
        Connection db;
        QVERIFY(db.open(reg.databasePath()).ok());
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
    QVERIFY(db.open(reg.databasePath()).ok());
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
        QVERIFY(shell.open(m_register->databasePath()).ok());
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
    m_register = std::make_unique<TestRegister>();
    QVERIFY(m_register->write({part("Резистор МЛТ"), part("Диод КД522")}));
    NameCopy names(m_register->owner());
    names.setRetryDelay(0);
    {
        // Another program keeps the file locked through several loads.
        Connection shell;
        QVERIFY(shell.open(m_register->databasePath()).ok());
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

QTEST_MAIN(TestNameSearch)
#include "tst_namesearch.moc"

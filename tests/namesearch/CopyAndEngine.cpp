// The byte search, the folded names, and the copy answering exactly as the engine does.
#include "TestNameSearch.h"

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
    m_register->openView(truth);
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
    TARVIK_FILE_ONLY("the engine's answers are read through the file's own functions");
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
        QVERIFY(reg.openView(plain).ok());
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
        // A bare ё, as earlier builds keyed it, and a mark after no е.
        QVERIFY(writeRawPart(plain, QStringLiteral("earlier"), QStringLiteral("ёлка"), "?"));
        QVERIFY(writeRawPart(plain, QStringLiteral("mark"),
                             QStringLiteral("ж") + QString::fromUcs4(U"\U0010FFFF") + "к", "?"));
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
    // Patterns of every form, some malformed, from the same pieces and from pieces of real
    // names with wildcards in place of some characters.
    for (int i = 0; i < 300; ++i)
        texts << randomPattern(random);
    for (int i = 0; i < 200; ++i) {
        QString name = written.at(int(random.bounded(written.size())));
        const char16_t wild[] = {u'?', u'#', u'*', u'['};
        for (int k = int(random.bounded(3)); k >= 0 && !name.isEmpty(); --k)
            name[int(random.bounded(name.size()))] = QChar(wild[random.bounded(k == 0 ? 3 : 4)]);
        texts << name.mid(int(random.bounded(name.size() / 2 + 1)));
    }
    texts << "*"
          << "?"
          << "#"
          << "[]"
          << "[!]"
          << "[*]"
          << "[[]"
          << "[a-"
          << "[z-a]"
          << "[A-z]"
          << "[!а-я]"
          << "е?"
          << "[е]"
          << "[ё]"
          << "ё*"
          << "ё?к?"
          << "?лк#"
          << "*е"
          << "[a]" + QString(124, QChar(u'a')) + "[b]";
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

QTEST_MAIN(TestNameSearch)
#include "moc_TestNameSearch.cpp"

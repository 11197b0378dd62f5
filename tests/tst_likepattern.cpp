#include "store/text/LikePattern.h"
#include "store/text/NumberText.h"
#include "store/text/TextFold.h"

#include <QElapsedTimer>
#include <QLocale>
#include <QRandomGenerator>
#include <QStringList>
#include <QTest>

#include <algorithm>
#include <cmath>

using tarvik::foldCase;
using tarvik::foldChar;
using tarvik::foldUtf8;
using tarvik::LikePattern;

namespace {

std::u32string toFolded(const QString& text)
{
    std::u32string out;
    const QByteArray utf8 = text.toUtf8();
    foldUtf8(utf8.constData(), std::size_t(utf8.size()), out);
    return out;
}

QString fromUcs4(const std::u32string& s)
{
    return QString::fromUcs4(s.data(), qsizetype(s.size()));
}

// Raw UTF-16, lone surrogates and NULs included.
QString utf16(std::u16string_view s)
{
    return QStringView(s.data(), qsizetype(s.size())).toString();
}

} // namespace

class TestLikePattern : public QObject {
    Q_OBJECT

private slots:
    void matching_data();
    void matching();
    void pathological_data();
    void pathological();
    void foldCharAgreesWithQt();
    void foldCase_data();
    void foldCase();
    void foldUtf8_data();
    void foldUtf8();
    void nameKeysSortAsTheAlphabetAndFindWhatTheySay();
    void numbersReadAsTheLocaleReadsThem();
};

// One table row a line.
// clang-format off
void TestLikePattern::matching_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<bool>("match");

    // Whole-text literals and case folding
    QTest::newRow("literal equal") << "КТ315" << "КТ315" << true << true;
    QTest::newRow("literal is whole text") << "КТ3" << "КТ315" << true << false;
    QTest::newRow("latin case") << "zener" << "ZENER" << true << true;
    QTest::newRow("latin case in pattern") << "Z" << "z" << true << true;
    QTest::newRow("cyrillic case") << "конденсатор" << "КОНДЕНСАТОР" << true << true;
    QTest::newRow("А/а") << "А" << "а" << true << true;
    QTest::newRow("Ё/ё") << "ёмкость" << "ЁМКОСТЬ" << true << true;
    QTest::newRow("ё is not е") << "емкость" << "ёмкость" << true << false;
    QTest::newRow("empty both") << "" << "" << true << true;
    QTest::newRow("empty pattern") << "" << "a" << true << false;
    QTest::newRow("apostrophe") << "*'*" << "5'" << true << true;
    QTest::newRow("apostrophe literal") << "d'arc" << "D'ARC" << true << true;
    QTest::newRow("apostrophe absent") << "*'*" << "5" << true << false;

    // Stars
    QTest::newRow("star alone, empty text") << "*" << "" << true << true;
    QTest::newRow("star alone") << "*" << "что угодно" << true << true;
    QTest::newRow("contains") << "*50-35*" << "Конденсатор К50-35 100мкФ" << true << true;
    QTest::newRow("contains, case") << "*к50*" << "Конденсатор К50-35" << true << true;
    QTest::newRow("contains missing") << "*к51*" << "Конденсатор К50-35" << true << false;
    QTest::newRow("prefix") << "КТ*" << "кт315б" << true << true;
    QTest::newRow("suffix") << "*б" << "кт315Б" << true << true;
    QTest::newRow("suffix fails") << "*б" << "кт315Бa" << true << false;
    QTest::newRow("star empty run") << "a*b" << "ab" << true << true;
    QTest::newRow("backtrack") << "*ab*ab" << "abxabxab" << true << true;
    QTest::newRow("backtrack fails") << "*ab*abc" << "abxabxab" << true << false;
    QTest::newRow("stars collapse") << "a***b" << "axyzb" << true << true;

    // One character and digits
    QTest::newRow("? one") << "?" << "ж" << true << true;
    QTest::newRow("? not zero") << "?" << "" << true << false;
    QTest::newRow("? not two") << "?" << "ab" << true << false;
    QTest::newRow("? surrogate pair is one") << "?" << QString::fromUcs4(U"\U0001F600") << true << true;
    QTest::newRow("? with stars") << "*К?0*" << "К50-35" << true << true;
    QTest::newRow("# digit") << "КТ###" << "КТ315" << true << true;
    QTest::newRow("# 0 and 9") << "#-#" << "0-9" << true << true;
    QTest::newRow("# rejects letter") << "КТ###" << "КТ3l5" << true << false;
    QTest::newRow("# rejects /") << "#" << "/" << true << false;
    QTest::newRow("# rejects :") << "#" << ":" << true << false;
    QTest::newRow("# rejects fullwidth digit") << "#" << "３" << true << false;
    QTest::newRow("# rejects empty") << "#" << "" << true << false;

    // Classes
    QTest::newRow("class member") << "[абв]" << "б" << true << true;
    QTest::newRow("class member folded") << "[абв]" << "Б" << true << true;
    QTest::newRow("class non-member") << "[абв]" << "г" << true << false;
    QTest::newRow("class range") << "R[0-9]" << "r7" << true << true;
    QTest::newRow("class range outside") << "[b-d]" << "e" << true << false;
    QTest::newRow("class range upper pattern") << "[A-C]" << "b" << true << true;
    QTest::newRow("class range cyrillic") << "[А-Я]" << "ж" << true << true;
    QTest::newRow("class range ends folded") << "[a-Z]" << "M" << true << true;
    QTest::newRow("class two ranges") << "[a-cx-z]" << "Y" << true << true;
    QTest::newRow("negated") << "[!0-9]" << "x" << true << true;
    QTest::newRow("negated member") << "[!0-9]" << "5" << true << false;
    QTest::newRow("negated folded") << "[!а]" << "А" << true << false;
    QTest::newRow("negated needs one char") << "[!a]" << "" << true << false;
    QTest::newRow("empty class") << "[]" << "a" << true << false;
    QTest::newRow("empty class, empty text") << "[]" << "" << true << false;
    QTest::newRow("empty negated class") << "[!]" << "a" << true << true;
    QTest::newRow("class with stars") << "*[КТ]3*" << "КТ315" << true << true;

    // Literal specials
    QTest::newRow("[*] literal star") << "a[*]b" << "a*b" << true << true;
    QTest::newRow("[*] not any run") << "a[*]b" << "axb" << true << false;
    QTest::newRow("[?] literal") << "[?]" << "?" << true << true;
    QTest::newRow("[?] not any") << "[?]" << "x" << true << false;
    QTest::newRow("[#] literal") << "[#]1" << "#1" << true << true;
    QTest::newRow("[#] not digit") << "[#]" << "1" << true << false;
    QTest::newRow("[[] literal bracket") << "[[]x" << "[x" << true << true;
    QTest::newRow("] outside class") << "a]" << "a]" << true << true;
    QTest::newRow("[]] empty then ]") << "[]]" << "]" << true << false;
    QTest::newRow("! outside class") << "!a" << "!A" << true << true;
    QTest::newRow("- first") << "[-a]" << "-" << true << true;
    QTest::newRow("- last") << "[a-]" << "-" << true << true;
    QTest::newRow("- last, not a range") << "[a-]" << "b" << true << false;
    QTest::newRow("- after !") << "[!-]" << "-" << true << false;
    QTest::newRow("- after !, other") << "[!-]" << "x" << true << true;

    // Malformed patterns match nothing, not even what they spell
    QTest::newRow("unclosed [") << "[abc" << "a" << false << false;
    QTest::newRow("unclosed [ literal text") << "[abc" << "[abc" << false << false;
    QTest::newRow("unclosed [ at end") << "*[" << "x[" << false << false;
    QTest::newRow("unclosed [!") << "[!" << "x" << false << false;
    QTest::newRow("unclosed after range") << "[a-" << "a" << false << false;
    QTest::newRow("reversed range") << "[z-a]" << "m" << false << false;
    QTest::newRow("reversed after folding") << "[Z-a]" << "m" << false << false;
    QTest::newRow("reversed with star") << "*[9-0]*" << "5" << false << false;
    QTest::newRow("single-point range") << "[k-k]" << "K" << true << true;

    // Surrogate pairs in the pattern
    QTest::newRow("supplementary folded") << QString::fromUcs4(U"\U00010400") << QString::fromUcs4(U"\U00010428")
                                          << true << true;
    QTest::newRow("supplementary in class") << QString::fromUcs4(U"[\U0001F600-\U0001F64F]")
                                            << QString::fromUcs4(U"\U0001F610") << true << true;
    QTest::newRow("star never splits a pair") << utf16(u"*[\xDC00-\xDFFF]*") << QString::fromUcs4(U"\U0001F600")
                                              << true << false;
}
// clang-format on

void TestLikePattern::matching()
{
    QFETCH(QString, pattern);
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(bool, match);

    const LikePattern compiled = LikePattern::compile(pattern);
    QCOMPARE(compiled.isValid(), valid);
    QCOMPARE(compiled.matches(text), match);
    // The SQL function hands over UTF-8 and matches the folded text; it must
    // agree with the QString path.
    QCOMPARE(compiled.matchesFolded(toFolded(text)), match);
}

// One table row a line.
// clang-format off
void TestLikePattern::pathological_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("match");

    const QString as = QString(5000, QLatin1Char('a'));
    QString stars;
    for (int i = 0; i < 30; ++i)
        stars += QStringLiteral("*a");
    QTest::newRow("30 stars, fails at end") << stars + QStringLiteral("*b") << as << false;
    QTest::newRow("30 stars, matches") << stars + QStringLiteral("*") << as << true;
    QTest::newRow("stars with ?") << QStringLiteral("*?*?*?*?*?*?*?*?*?*?*?*?*?*?*?*?*?*?*?*?*b") << as << false;
    QTest::newRow("stars with classes") << QString(stars).replace(QLatin1Char('a'), QStringLiteral("[a-c]")) + "#"
                                        << as << false;
}
// clang-format on

void TestLikePattern::pathological()
{
    QFETCH(QString, pattern);
    QFETCH(QString, text);
    QFETCH(bool, match);

    const LikePattern compiled = LikePattern::compile(pattern);
    const std::u32string folded = toFolded(text);
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(compiled.matches(text), match);
    QCOMPARE(compiled.matchesFolded(folded), match);
    // Polynomial work is a few milliseconds; a backtracking blow-up would
    // not finish at all.
    QVERIFY2(timer.elapsed() < 1000, qPrintable(QString::number(timer.elapsed())));
}

void TestLikePattern::foldCharAgreesWithQt()
{
    // The fast paths must never disagree with the Unicode tables, or
    // equality, LIKE and sorting would differ on the same names.
    for (char32_t c = 0; c <= 0x10FFFF + 16; ++c) {
        if (foldChar(c) != QChar::toCaseFolded(c))
            QFAIL(qPrintable(QStringLiteral("U+%1").arg(uint(c), 4, 16, QLatin1Char('0'))));
    }
}

// One table row a line.
// clang-format off
void TestLikePattern::foldCase_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("expected");

    QTest::newRow("empty") << "" << "";
    QTest::newRow("latin") << "LM317T" << "lm317t";
    QTest::newRow("cyrillic") << "ЁЖИК Ђ Я" << "ёжик ђ я";
    QTest::newRow("simple folding keeps ß") << "Straße ẞ" << "straße ß";
    QTest::newRow("surrogate pair") << QString::fromUcs4(U"x\U00010400y") << QString::fromUcs4(U"x\U00010428y");
    QTest::newRow("lone high surrogate") << utf16(u"A\xD801") << utf16(u"a\xD801");
    QTest::newRow("lone low surrogate") << utf16(u"\xDC00" u"B") << utf16(u"\xDC00" u"b");
    QTest::newRow("reversed pair") << utf16(u"\xDC00\xD801") << utf16(u"\xDC00\xD801");
}
// clang-format on

void TestLikePattern::foldCase()
{
    QFETCH(QString, input);
    QFETCH(QString, expected);
    QCOMPARE(tarvik::foldCase(input), expected);
}

// One table row a line.
// clang-format off
void TestLikePattern::foldUtf8_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("length"); // bytes handed over; the rest must stay unread
    QTest::addColumn<QString>("expected");
    QTest::addColumn<bool>("valid");

    const QString r(QChar(0xFFFD));

    QTest::newRow("empty") << QByteArray() << 0 << "" << true;
    QTest::newRow("ascii") << QByteArray("LM317") << 5 << "lm317" << true;
    QTest::newRow("cyrillic") << QByteArray("\xD0\x81\xD0\x96") << 4 << "ёж" << true;
    QTest::newRow("three bytes") << QByteArray("\xE2\x84\xAA") << 3 << "k" << true; // Kelvin sign
    QTest::newRow("four bytes") << QByteArray("\xF0\x90\x90\x80") << 4 << QString::fromUcs4(U"\U00010428") << true;
    QTest::newRow("highest code point") << QByteArray("\xF4\x8F\xBF\xBF") << 4 << QString::fromUcs4(U"\U0010FFFF")
                                        << true;
    QTest::newRow("embedded NUL") << QByteArray("A\0B", 3) << 3 << utf16(std::u16string_view(u"a\0b", 3)) << true;
    QTest::newRow("truncated at end") << QByteArray("a\xD0") << 2 << "a" + r << false;
    QTest::newRow("length cuts a sequence") << QByteArray("\xD0\x81") << 1 << r << false;
    QTest::newRow("length cuts 4-byte") << QByteArray("\xF0\x90\x90\x80") << 3 << r << false;
    QTest::newRow("truncated then ascii") << QByteArray("\xE2\x82" "A") << 3 << r + "a" << false;
    QTest::newRow("stray continuation") << QByteArray("\x80x") << 2 << r + "x" << false;
    QTest::newRow("overlong slash") << QByteArray("\xC0\xAF") << 2 << r + r << false;
    QTest::newRow("overlong 3-byte") << QByteArray("\xE0\x80\xAF") << 3 << r + r + r << false;
    QTest::newRow("overlong 4-byte") << QByteArray("\xF0\x8F\xBF\xBF") << 4 << r + r + r + r << false;
    QTest::newRow("encoded surrogate") << QByteArray("\xED\xA0\x80") << 3 << r + r + r << false;
    QTest::newRow("above U+10FFFF") << QByteArray("\xF4\x90\x80\x80") << 4 << r + r + r + r << false;
    QTest::newRow("invalid lead FF") << QByteArray("\xFF\xFE") << 2 << r + r << false;
    QTest::newRow("cp1251 bytes") << QByteArray("\xCA\xD2") << 2 << r + r << false;
}
// clang-format on

void TestLikePattern::foldUtf8()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, length);
    QFETCH(QString, expected);
    QFETCH(bool, valid);

    std::u32string out = U"left over from an earlier row";
    QCOMPARE(tarvik::foldUtf8(bytes.constData(), std::size_t(length), out), valid);
    QCOMPARE(fromUcs4(out), expected);
}

void TestLikePattern::nameKeysSortAsTheAlphabetAndFindWhatTheySay()
{
    using tarvik::keyContains;
    using tarvik::keyToFolded;
    using tarvik::nameKeyOf;
    // The alphabet's order, compared as the engine compares text: byte by byte.
    const QStringList ordered = {"е", "ЕЁЖ", "ель", "ея", "Ё", "ёж", "ёЖ😀", "Ёлка", "ж", "я"};
    QStringList shuffled = ordered;
    std::reverse(shuffled.begin(), shuffled.end());
    std::sort(shuffled.begin(), shuffled.end(), [&](const QString& a, const QString& b) {
        return nameKeyOf(a).toUtf8() < nameKeyOf(b).toUtf8();
    });
    QCOMPARE(shuffled, ordered);
    QCOMPARE(nameKeyOf(u"Ёж"), nameKeyOf(u"ёЖ"));
    QVERIFY(nameKeyOf(u"ёж") != nameKeyOf(u"еж"));

    // Only an ё finds an ё, and an е never stands for one.
    const auto contains = [](const QString& name, const QString& text) {
        return keyContains(nameKeyOf(name).toUtf8().toStdString(),
                           nameKeyOf(text).toUtf8().toStdString());
    };
    QVERIFY(contains("Ёмкость", "ё"));
    QVERIFY(contains("Ёмкость", "ём"));
    QVERIFY(!contains("Ёмкость", "е"));
    QVERIFY(!contains("Ёмкость", "ем"));
    QVERIFY(contains("её", "е"));
    QVERIFY(contains("её", "её"));
    QVERIFY(!contains("ёе", "её"));
    QVERIFY(contains("ель", ""));

    // A key reads back as the folded name; a mark inside a name is no ё.
    const QString odd = QStringLiteral("ЁЕ") + QString::fromUcs4(&tarvik::kYoMark, 1) + u'x';
    QCOMPARE(nameKeyOf(odd), QStringLiteral("е") + QString::fromUcs4(&tarvik::kYoMark, 1) +
                                 QStringLiteral("е\uFFFDx"));
    std::u32string codes = toFolded(nameKeyOf(odd));
    keyToFolded(codes);
    QCOMPARE(fromUcs4(codes), QStringLiteral("ёе\uFFFDx"));
}

// The reader's own reading of plain digits must give what the locale gives, bit for bit, in
// locales with either decimal point, apostrophe or space groups, and other digits.
void TestLikePattern::numbersReadAsTheLocaleReadsThem()
{
    const QLocale before;
    const auto localeReads = [](const QString& text) -> std::optional<double> {
        QLocale locale;
        locale.setNumberOptions(locale.numberOptions() | QLocale::RejectGroupSeparator);
        bool ok = false;
        const double value = locale.toDouble(text.trimmed(), &ok);
        return ok && std::isfinite(value) ? std::optional<double>(value) : std::nullopt;
    };
    const QString alphabet = QStringLiteral("0123456789012345.,-+ e'\u00a0\u0660");
    QRandomGenerator random(20261208);
    QStringList texts = {QStringLiteral("0"),
                         QStringLiteral("-0"),
                         QStringLiteral("007"),
                         QStringLiteral(" 12,5 "),
                         QStringLiteral("12.5"),
                         QStringLiteral("1.250"),
                         QStringLiteral("1,250"),
                         QStringLiteral("-.5"),
                         QStringLiteral("5."),
                         QStringLiteral("--1"),
                         QStringLiteral("1-"),
                         QString(),
                         QStringLiteral("0.1"),
                         QStringLiteral("0,1"),
                         QStringLiteral("99999999999999999999999999999999999999"),
                         QStringLiteral("0.30000000000000004441"),
                         QStringLiteral("123456789012345678901234567890123456789012")};
    for (int i = 0; i < 3000; ++i) {
        QString text;
        for (int n = random.bounded(1, 14); n > 0; --n)
            text += alphabet.at(random.bounded(alphabet.size()));
        texts << text;
    }
    for (const QLocale& locale : {QLocale::c(), QLocale(QLocale::Russian, QLocale::Russia),
                                  QLocale(QLocale::German, QLocale::Germany),
                                  QLocale(QLocale::English, QLocale::UnitedStates),
                                  QLocale(QLocale::German, QLocale::Switzerland),
                                  QLocale(QLocale::Arabic, QLocale::Egypt)}) {
        QLocale::setDefault(locale);
        const tarvik::NumberReader reader;
        for (const QString& text : texts) {
            const std::optional<double> ours = reader(text), theirs = localeReads(text);
            QVERIFY2(
                ours.has_value() == theirs.has_value() &&
                    (!ours || (*ours == *theirs && std::signbit(*ours) == std::signbit(*theirs))),
                qPrintable(locale.name() + QStringLiteral(": \"") + text + u'"'));
        }
    }
    QLocale::setDefault(before);
}

QTEST_APPLESS_MAIN(TestLikePattern)
#include "tst_likepattern.moc"

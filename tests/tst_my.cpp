#include "editor/My.h"

#include <QRegularExpression>
#include <QTest>

#include <cmath>

namespace My = tarvik::My;

class TestMy : public QObject {
    Q_OBJECT

private slots:
    void lowerCyrillic_data();
    void lowerCyrillic();
    void upperCyrillic_data();
    void upperCyrillic();
    void makeKont_data();
    void makeKont();
    void makeKontWithClock();
    void clockSeededRandomRange();
};

namespace {

const QString kAllUpper = QStringLiteral("АБВГДЕЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯ");
const QString kAllLower = QStringLiteral("абвгдежзийклмнопрстуфхцчшщъыьэюя");

} // namespace

void TestMy::lowerCyrillic_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");

    QTest::newRow("part name") << "Конденсатор К50-35"
                               << "конденсаторк";
    QTest::newRow("every capital") << kAllUpper << kAllLower;
    QTest::newRow("every small letter") << kAllLower << kAllLower;
    QTest::newRow("Ё and ё dropped") << "Ёлка ёж"
                                     << "лкаж";
    QTest::newRow("other cyrillic dropped") << "ЂѐѢ"
                                            << "";
    QTest::newRow("latin and digits dropped") << "LM317T"
                                              << "";
    QTest::newRow("whole text, past 32") << QString(40, QLatin1Char('x')) + "Я"
                                         << "я";
    QTest::newRow("empty") << ""
                           << "";
}

void TestMy::lowerCyrillic()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(My::LowerCyrillic(text), expected);
}

void TestMy::upperCyrillic_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("upper");

    const QString x31 = QString(31, QLatin1Char('x'));
    QTest::newRow("part name") << "Конденсатор К50-35"
                               << "КК";
    QTest::newRow("small letters ignored") << "конденсатор"
                                           << "";
    QTest::newRow("Ё never counted") << "ЁЁЁЁ ёлка"
                                     << "";
    QTest::newRow("32nd counts, 33rd not") << x31 + "АБ"
                                           << "А";
    QTest::newRow("every capital fits") << kAllUpper << kAllUpper;
    QTest::newRow("capitals past 32 ignored") << kAllUpper + "ЖЖЖ" << kAllUpper;
    // A character outside the BMP takes two of the 32 places.
    QTest::newRow("surrogate pair takes two")
        << QString::fromUcs4(U"\U0001F600") + QString(29, QLatin1Char('x')) + "АБ"
        << "А";
    QTest::newRow("empty") << ""
                           << "";
}

void TestMy::upperCyrillic()
{
    QFETCH(QString, text);
    QFETCH(QString, upper);
    QCOMPARE(My::UpperCyrillic(text), upper);
    QCOMPARE(My::CountUpperCyrillic(text), QString::number(upper.size()));
}

void TestMy::makeKont_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<float>("x");
    QTest::addColumn<QString>("expected");

    const float tiny = std::ldexp(1.0f, -24);
    const float half = 0.5f;
    const float top = 1.0f - tiny;

    // floor(x * 999999999999999 - 1) at the pinned points
    const QString rHalf = QStringLiteral("499999999999998");
    const QString rTiny = QStringLiteral("59604643");
    const QString rTop = QStringLiteral("999999940395353");

    QTest::newRow("two К, length 18") << "Конденсатор К50-35" << half
                                      << "01"
                                         "1212"
                                         "18" +
                                             rHalf;
    QTest::newRow("Д Д Б, length 8") << "Д-Д-Б 12" << half
                                     << "01"
                                        "050502"
                                        "8" +
                                            rHalf;
    QTest::newRow("latin, length 5") << "LM317" << tiny
                                     << "01"
                                        "5" +
                                            rTiny;
    QTest::newRow("largest x") << "LM317" << top
                               << "01"
                                  "5" +
                                      rTop;
    QTest::newRow("ж..я shifted by ё") << "АЕЖ" << half
                                       << "01"
                                          "010608"
                                          "3" +
                                              rHalf;
    QTest::newRow("Я is 33") << "Я" << half
                             << "01"
                                "33"
                                "1" +
                                    rHalf;
    QTest::newRow("three capitals still coded") << "КТ315Б" << half
                                                << "01"
                                                   "122002"
                                                   "6" +
                                                       rHalf;
    QTest::newRow("four capitals") << "АБВГ" << half << "0200000001";
    QTest::newRow("many capitals") << "КТ315Б КТ361Г" << tiny << "0200000001";
    QTest::newRow("capitals past 32, length counts all")
        << QString(32, QLatin1Char('x')) + "АБВГД" << half
        << "01"
           "37" +
               rHalf;
    QTest::newRow("Ё and ё not coded") << "ЁЁЁЁ ёлка" << half
                                       << "01"
                                          "9" +
                                              rHalf;
    QTest::newRow("length in UTF-16 units") << QString::fromUcs4(U"\U0001F600") + "LM" << half
                                            << "01"
                                               "4" +
                                                   rHalf;
    QTest::newRow("empty name") << "" << half
                                << "01"
                                   "0" +
                                       rHalf;
    // r = floor(-1) = -1 is at most 9, so it gets the leading zero too.
    QTest::newRow("x = 0") << "LM317" << 0.0f
                           << "01"
                              "5"
                              "0-1";
}

void TestMy::makeKont()
{
    QFETCH(QString, name);
    QFETCH(float, x);
    QFETCH(QString, expected);
    QCOMPARE(My::MakeKont(name, [x] { return x; }), expected);
}

void TestMy::makeKontWithClock()
{
    const QRegularExpression shape(QStringLiteral("^01121218[0-9]{8,15}$"));
    for (int i = 0; i < 100; ++i) {
        const QString key = My::MakeKont(QStringLiteral("Конденсатор К50-35"));
        QVERIFY2(shape.match(key).hasMatch(), qPrintable(key));
    }
}

void TestMy::clockSeededRandomRange()
{
    // Every value must be a multiple of 2^-24 in [0, 1): anything else
    // breaks the 8-to-15-digit length of the key's random part.
    const My::RandomSource next = My::clockSeededRandom();
    for (int i = 0; i < 100000; ++i) {
        const float x = next();
        QVERIFY(x >= 0.0f && x < 1.0f);
        const float scaled = x * 16777216.0f;
        QCOMPARE(scaled, std::floor(scaled));
    }
}

QTEST_GUILESS_MAIN(TestMy)
#include "tst_my.moc"

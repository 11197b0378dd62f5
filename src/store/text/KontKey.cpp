#include "store/text/KontKey.h"

#include <chrono>
#include <cmath>
#include <cstdint>
#include <random>

namespace tarvik::My {

namespace {

constexpr char16_t kUpperFirst = u'А'; // U+0410
constexpr char16_t kUpperLast = u'Я';  // U+042F
constexpr char16_t kLowerFirst = u'а'; // U+0430
constexpr char16_t kLowerLast = u'я';  // U+044F
constexpr int kWindow = 32;

// Positions in this alphabet are the key's letter code; ё sits at 7 even
// though it never reaches the code, shifting ж..я one place up.
constexpr QStringView kKeyAlphabet = u"абвгдеёжзийклмнопрстуфхцчшщъыьэюя";

bool isUpper(QChar c) noexcept
{
    return c.unicode() >= kUpperFirst && c.unicode() <= kUpperLast;
}
bool isLower(QChar c) noexcept
{
    return c.unicode() >= kLowerFirst && c.unicode() <= kLowerLast;
}

QStringView window(const QString& text)
{
    return QStringView(text).left(kWindow);
}

} // namespace

QString LowerCyrillic(const QString& text)
{
    QString out;
    for (QChar c : text) {
        if (isLower(c))
            out.append(c);
        else if (isUpper(c))
            out.append(QChar(char16_t(c.unicode() + (kLowerFirst - kUpperFirst))));
    }
    return out;
}

QString UpperCyrillic(const QString& text)
{
    QString out;
    for (QChar c : window(text)) {
        if (isUpper(c))
            out.append(c);
    }
    return out;
}

QString CountUpperCyrillic(const QString& text)
{
    qint32 count = 0;
    for (QChar c : window(text)) {
        if (isUpper(c))
            ++count;
    }
    return QString::number(count);
}

QString kontKey(const QString& name, const RandomSource& next)
{
    const QString length = QString::number(name.size());

    QString letterCode;
    for (QChar c : LowerCyrillic(UpperCyrillic(name))) {
        const qsizetype position = kKeyAlphabet.indexOf(c) + 1;
        letterCode += QStringLiteral("%1").arg(position, 2, 10, QLatin1Char('0'));
    }

    if (CountUpperCyrillic(name).toInt() >= 4)
        return QStringLiteral("0200000001");

    const double x = next();
    const double r = std::floor(x * 999999999999999.0 - 1.0);
    // 'f' with no decimals is plain digits for any double, so a source
    // outside [0, 1) cannot make this overflow an integer conversion.
    // x = 0 gives r = -1, which the "9 or less" rule below turns into "0-1";
    // stored keys follow exactly this arithmetic, so it is kept as it is.
    QString random = QString::number(r, 'f', 0);
    if (r <= 9)
        random.prepend(QLatin1Char('0'));

    return QStringLiteral("01") + letterCode + length + random;
}

RandomSource clockSeededRandom()
{
    const auto seed = std::chrono::high_resolution_clock::now().time_since_epoch().count();
    std::seed_seq seq{std::uint32_t(seed), std::uint32_t(std::uint64_t(seed) >> 32)};
    return [engine = std::mt19937(seq)]() mutable {
        // 24 random bits scaled by 2^-24: exactly representable in a float,
        // so the value can never round up to 1.
        return float(engine() >> 8) * 0x1.0p-24f;
    };
}

} // namespace tarvik::My

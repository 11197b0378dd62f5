#include "store/text/NumberText.h"

#include <charconv>
#include <cmath>

namespace tarvik {
namespace {

// Beyond this a double no longer holds every whole number: a step of one would be lost.
constexpr double kLargestExactWhole = 9007199254740992.0; // 2^53

} // namespace

NumberReader::NumberReader()
{
    // "1,250" is one and a quarter or an error, never a thousand two hundred and fifty.
    m_locale.setNumberOptions(m_locale.numberOptions() | QLocale::RejectGroupSeparator);
    const QString point = m_locale.decimalPoint();
    if (point.size() == 1 && point.front().isPunct() && point.front().unicode() < 0x80 &&
        m_locale.zeroDigit() == QLatin1String("0") && m_locale.negativeSign() == QLatin1String("-"))
        m_point = char(point.front().unicode());
}

std::optional<double> NumberReader::plain(const QString& text, bool& taken) const
{
    taken = false;
    qsizetype from = 0, to = text.size();
    while (from < to && text.at(from).isSpace())
        ++from;
    while (to > from && text.at(to - 1).isSpace())
        --to;
    // Longer texts go the locale's way; a double has no more digits to give anyway.
    constexpr qsizetype kLongest = 40;
    if (m_point == 0 || from == to || to - from > kLongest)
        return std::nullopt;
    char ascii[kLongest];
    std::size_t length = 0;
    bool point = false, digitBefore = false, digitAfter = false;
    for (qsizetype i = from; i < to; ++i) {
        const char16_t c = text.at(i).unicode();
        if (c >= u'0' && c <= u'9') {
            (point ? digitAfter : digitBefore) = true;
            ascii[length++] = char(c);
        } else if (c == u'-' && i == from) {
            ascii[length++] = '-';
        } else if (c == char16_t(m_point) && !point) {
            point = true;
            ascii[length++] = '.';
        } else {
            return std::nullopt;
        }
    }
    if (!digitBefore || (point && !digitAfter))
        return std::nullopt;
    double value = 0;
    const auto [end, error] = std::from_chars(ascii, ascii + length, value);
    if (error != std::errc() || end != ascii + length)
        return std::nullopt;
    taken = true;
    return std::isfinite(value) ? std::optional<double>(value) : std::nullopt;
}

std::optional<double> NumberReader::operator()(const QString& text) const
{
    bool taken = false;
    if (const std::optional<double> value = plain(text, taken); taken)
        return value;
    bool ok = false;
    const double value = m_locale.toDouble(text.trimmed(), &ok);
    // "nan" and "inf" read as numbers, but no price or quantity is one.
    return ok && std::isfinite(value) ? std::optional<double>(value) : std::nullopt;
}

std::optional<double> parseNumber(const QString& text)
{
    return NumberReader()(text);
}

std::optional<double> parseQuantity(const QString& text)
{
    const auto value = parseNumber(text);
    return value && std::fabs(*value) <= kLargestExactWhole ? value : std::nullopt;
}

bool writtenExactly(double value)
{
    return std::fabs(value) < 1e15; // 15 significant digits
}

QString formatNumber(double value)
{
    QLocale locale;
    locale.setNumberOptions(locale.numberOptions() | QLocale::OmitGroupSeparator);
    return locale.toString(value, 'g', 15);
}

} // namespace tarvik

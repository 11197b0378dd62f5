#include "store/text/NumberText.h"

#include <QLocale>

#include <cmath>

namespace tarvik {
namespace {

// Beyond this a double no longer holds every whole number: a step of one would be lost.
constexpr double kLargestExactWhole = 9007199254740992.0; // 2^53

} // namespace

std::optional<double> parseNumber(const QString& text)
{
    QLocale locale;
    // "1,250" is one and a quarter or an error, never a thousand two hundred and fifty.
    locale.setNumberOptions(locale.numberOptions() | QLocale::RejectGroupSeparator);
    bool ok = false;
    const double value = locale.toDouble(text.trimmed(), &ok);
    // "nan" and "inf" read as numbers, but no price or quantity is one.
    return ok && std::isfinite(value) ? std::optional<double>(value) : std::nullopt;
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

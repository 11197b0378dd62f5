#pragma once

#include <QLocale>
#include <QString>

#include <optional>

namespace tarvik {

// Numbers typed by the user are kept as typed and read with the user's regional settings
// (QLocale's default, which follows the system unless a test pins it).

// The number in `text`, or nothing when it holds none. Group separators, "nan" and "inf"
// make no number.
std::optional<double> parseNumber(const QString& text);

// parseNumber() for many numbers in a row: the regional settings are looked up once, when
// the reader is made, instead of for every number (a million of them at a start).
class NumberReader {
public:
    NumberReader();
    std::optional<double> operator()(const QString& text) const;

private:
    // Plain digits around at most one decimal point are read without the locale, whose
    // every call asks the system for its separators again; the answer is the same.
    std::optional<double> plain(const QString& text, bool& taken) const;

    QLocale m_locale;
    char m_point = 0; // the decimal point, when the plain reading applies
};

// A quantity that can be stepped by one exactly: a number no larger than 2^53.
std::optional<double> parseQuantity(const QString& text);

// formatNumber() writes every whole digit of `value` (below 10^15), not an exponent.
bool writtenExactly(double value);

// The general number format: no grouping, no trailing zeros, at most 15 significant
// digits, whole numbers without a decimal separator.
QString formatNumber(double value);

} // namespace tarvik

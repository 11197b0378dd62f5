#pragma once

#include <QString>

#include <optional>

namespace tarvik {

// Numbers typed by the user are kept as typed and read with the user's regional settings
// (QLocale's default, which follows the system unless a test pins it).

// The number in `text`, or nothing when it holds none. Group separators, "nan" and "inf"
// make no number.
std::optional<double> parseNumber(const QString& text);

// A quantity that can be stepped by one exactly: a number no larger than 2^53.
std::optional<double> parseQuantity(const QString& text);

// formatNumber() writes every whole digit of `value` (below 10^15), not an exponent.
bool writtenExactly(double value);

// The general number format: no grouping, no trailing zeros, at most 15 significant
// digits, whole numbers without a decimal separator.
QString formatNumber(double value);

} // namespace tarvik

#pragma once

#include <QString>

#include <optional>

namespace tarvik {

// Numbers typed by the user are kept as typed and read with the user's regional settings
// (QLocale's default, which follows the system unless a test pins it).

// The number in `text`, or nothing when it holds none.
std::optional<double> parseNumber(const QString& text);

// The general number format: no grouping, no trailing zeros, at most 15 significant
// digits, whole numbers without a decimal separator.
QString formatNumber(double value);

} // namespace tarvik

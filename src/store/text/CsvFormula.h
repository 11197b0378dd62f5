#pragma once

#include <QString>

namespace tarvik {

// The one rule for text a spreadsheet could run as a formula, used by the writer of every CSV
// the program makes and by the reader of the parts' CSV, so that what is written comes back
// byte for byte. A value that begins with = + - @ (or a tab or CR, which some spreadsheets drop
// before running the rest) and is not a plain number is written with an apostrophe before it,
// which the spreadsheet shows as text. A value that already begins with apostrophes before one
// of those characters gets one more, so that reading can always take exactly one away.

// The value as it is written into a CSV field.
QString guardFormula(const QString& value);
// The stored value of a field written by guardFormula (a field the program did not guard, such
// as a spreadsheet's own "'=…", loses the apostrophe the spreadsheet kept it as text with).
QString unguardFormula(const QString& field);

} // namespace tarvik

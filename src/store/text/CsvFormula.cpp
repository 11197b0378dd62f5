#include "store/text/CsvFormula.h"

namespace tarvik {
namespace {

const QChar kApostrophe = QLatin1Char('\'');

bool startsFormula(QChar c)
{
    static const QString starts = QStringLiteral("=+-@\t\r");
    return starts.contains(c);
}

// "-5", "+3,25", "-.5": a spreadsheet reads it as the number it is, and the sign runs nothing.
bool plainNumber(const QString& value)
{
    qsizetype i =
        (value.startsWith(QLatin1Char('-')) || value.startsWith(QLatin1Char('+'))) ? 1 : 0;
    bool digit = false;
    bool separator = false;
    for (; i < value.size(); ++i) {
        const QChar c = value.at(i);
        if (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
            digit = true;
        else if ((c == QLatin1Char(',') || c == QLatin1Char('.')) && !separator)
            separator = true;
        else
            return false;
    }
    return digit;
}

// How many apostrophes stand before a formula's first character; -1 when none follows them.
qsizetype apostrophesBeforeFormula(const QString& value)
{
    qsizetype i = 0;
    while (i < value.size() && value.at(i) == kApostrophe)
        ++i;
    return i < value.size() && startsFormula(value.at(i)) ? i : -1;
}

} // namespace

QString guardFormula(const QString& value)
{
    const qsizetype apostrophes = apostrophesBeforeFormula(value);
    if (apostrophes < 0 || (apostrophes == 0 && plainNumber(value)))
        return value;
    return kApostrophe + value;
}

QString unguardFormula(const QString& field)
{
    return apostrophesBeforeFormula(field) > 0 ? field.mid(1) : field;
}

} // namespace tarvik

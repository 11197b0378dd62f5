#include "store/text/CsvWriter.h"

#include "store/text/CsvFormula.h"

#include <utility>

namespace tarvik {

CsvWriter::CsvWriter() : m_bytes("\xEF\xBB\xBF") {}

CsvWriter& CsvWriter::text(const QString& value)
{
    field(guardFormula(value));
    return *this;
}

CsvWriter& CsvWriter::number(const QString& written)
{
    field(written);
    return *this;
}

void CsvWriter::field(const QString& value)
{
    if (m_lineStarted)
        m_bytes += ';';
    m_lineStarted = true;
    const bool quoted = value.contains(QLatin1Char(';')) || value.contains(QLatin1Char('"')) ||
                        value.contains(QLatin1Char('\r')) || value.contains(QLatin1Char('\n'));
    if (!quoted) {
        m_bytes += value.toUtf8();
        return;
    }
    QString doubled = value;
    doubled.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    m_bytes += '"' + doubled.toUtf8() + '"';
}

QByteArray CsvWriter::takeBytes()
{
    return std::exchange(m_bytes, QByteArray());
}

void CsvWriter::endLine()
{
    m_bytes += "\r\n";
    m_lineStarted = false;
}

} // namespace tarvik

#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace tarvik {

// A table as a spreadsheet in a Russian locale opens it: UTF-8 with a byte order mark, fields
// separated by ';', lines ended by CR LF, and quoted after RFC 4180 (a field holding ';', '"',
// CR or LF in quotes, its quotes doubled). Text a spreadsheet could run as a formula gets a
// leading apostrophe (guardFormula, CsvFormula.h); numbers are written apart (number()), as the
// caller formats them, and never get one.
class CsvWriter {
public:
    CsvWriter();

    // Text as it is, guarded against being run as a formula.
    CsvWriter& text(const QString& value);
    // A number already written as the user reads it ("12,5"): only quoted where it must be.
    CsvWriter& number(const QString& written);
    // Ends the line.
    void endLine();

    // Everything written so far, the byte order mark first.
    QByteArray bytes() const { return m_bytes; }
    // The same, handed over and forgotten, for a long table written to a file as it goes.
    QByteArray takeBytes();

private:
    void field(const QString& value);

    QByteArray m_bytes;
    bool m_lineStarted = false;
};

} // namespace tarvik

#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

class QIODevice;

namespace tarvik {

// Reads a table written by a spreadsheet or by the program (CsvWriter) record by record, so
// that a file of any size costs the memory of one record. The encoding is told by a byte order
// mark, else by the first bytes (UTF-8 when they are valid UTF-8, Windows-1251 otherwise); the
// separator (';', ',' or a tab) by the header line. Fields are unquoted after RFC 4180; a quote
// inside an unquoted field is taken as it stands, as spreadsheets do. A record holds at most
// kMaxRecordBytes: a longer one is passed over without being kept and comes back as a record
// with a problem, so a gigabyte on one line is read through but never held.
class CsvReader {
public:
    enum class Encoding { Utf8WithBom, Utf8, Windows1251 };
    static constexpr qsizetype kMaxRecordBytes = 64 * 1024;

    struct Record {
        qint64 line = 0;    // the line of the file the record starts on, from 1
        QStringList fields; // empty when there is a problem
        QString problem;    // why the record cannot be used, in the user's words
    };

    // `device` is open for reading and outlives the reader.
    explicit CsvReader(QIODevice& device);

    // Reads the header line, telling the encoding and the separator first. False when the
    // device cannot be read (error()) or holds nothing.
    bool readHeader();
    Encoding encoding() const { return m_encoding; }
    char separator() const { return m_separator; }
    const Record& header() const { return m_header; }

    // The next record; false at the end of the input or when the device failed (error()).
    // A line that holds nothing is passed over.
    bool next(Record& record);
    QString error() const { return m_error; }

    // How the user is told them: "UTF-8 с меткой BOM", "точка с запятой".
    static QString encodingName(Encoding encoding);
    static QString separatorName(char separator);

private:
    bool fill();
    bool readRecord(Record& record);
    QString decode(const QByteArray& bytes, bool* valid) const;
    void detect();

    QIODevice& m_device;
    QByteArray m_buffer;
    qsizetype m_pos = 0;
    bool m_atEnd = false;
    qint64 m_line = 1;
    Encoding m_encoding = Encoding::Utf8;
    char m_separator = ';';
    Record m_header;
    QString m_error;
};

} // namespace tarvik

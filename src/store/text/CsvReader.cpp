#include "store/text/CsvReader.h"

#include <QIODevice>

namespace tarvik {
namespace {

constexpr qint64 kChunk = 256 * 1024;

// Windows-1251 above ASCII: 0x80..0xBF here, 0xC0..0xFF are А..я in order. 0x98 is unassigned
// and read as the C1 control of the same number, as the system's own tables do.
constexpr char16_t kWindows1251[64] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409,
    0x2039, 0x040A, 0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0,
    0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB,
    0x00AC, 0x00AD, 0x00AE, 0x0407, 0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6,
    0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,
};

// Strict UTF-8: no overlong forms, surrogates or code points above U+10FFFF. With `cut`, a
// sequence the end of the bytes cuts short counts as valid (more may follow).
bool validUtf8(const char* bytes, qsizetype size, bool cut)
{
    const auto* p = reinterpret_cast<const unsigned char*>(bytes);
    qsizetype i = 0;
    while (i < size) {
        const unsigned char lead = p[i];
        if (lead < 0x80) {
            ++i;
            continue;
        }
        int more = 0;
        char32_t least = 0;
        if ((lead & 0xE0) == 0xC0) {
            more = 1;
            least = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            more = 2;
            least = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            more = 3;
            least = 0x10000;
        } else {
            return false;
        }
        char32_t code = lead & (0x3F >> more);
        for (int k = 1; k <= more; ++k) {
            if (i + k >= size)
                return cut;
            if ((p[i + k] & 0xC0) != 0x80)
                return false;
            code = (code << 6) | (p[i + k] & 0x3F);
        }
        if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return false;
        i += more + 1;
    }
    return true;
}

} // namespace

CsvReader::CsvReader(QIODevice& device) : m_device(device) {}

QString CsvReader::encodingName(Encoding encoding)
{
    switch (encoding) {
    case Encoding::Utf8WithBom:
        return QStringLiteral("UTF-8 с меткой BOM");
    case Encoding::Utf8:
        return QStringLiteral("UTF-8");
    case Encoding::Windows1251:
        return QStringLiteral("Windows-1251");
    }
    return {};
}

QString CsvReader::separatorName(char separator)
{
    switch (separator) {
    case ',':
        return QStringLiteral("запятая");
    case '\t':
        return QStringLiteral("табуляция");
    default:
        return QStringLiteral("точка с запятой");
    }
}

bool CsvReader::fill()
{
    if (m_pos < m_buffer.size())
        return true;
    if (m_atEnd)
        return false;
    m_buffer.resize(kChunk);
    const qint64 got = m_device.read(m_buffer.data(), kChunk);
    m_pos = 0;
    if (got <= 0) {
        if (got < 0)
            m_error = m_device.errorString();
        m_buffer.clear();
        m_atEnd = true;
        return false;
    }
    m_buffer.resize(got);
    return true;
}

void CsvReader::detect()
{
    if (m_buffer.startsWith("\xEF\xBB\xBF")) {
        m_encoding = Encoding::Utf8WithBom;
        m_pos = 3;
    } else {
        m_encoding = validUtf8(m_buffer.constData(), m_buffer.size(), !m_atEnd)
                         ? Encoding::Utf8
                         : Encoding::Windows1251;
    }
    // The separator the header line holds most of, outside quotes; ';' when it holds none.
    int semicolons = 0;
    int tabs = 0;
    int commas = 0;
    bool quoted = false;
    for (qsizetype i = m_pos; i < m_buffer.size(); ++i) {
        const char c = m_buffer.at(i);
        if (c == '"')
            quoted = !quoted;
        else if (quoted)
            continue;
        else if (c == '\n' || c == '\r')
            break;
        else if (c == ';')
            ++semicolons;
        else if (c == '\t')
            ++tabs;
        else if (c == ',')
            ++commas;
    }
    if (commas > semicolons && commas > tabs)
        m_separator = ',';
    else if (tabs > semicolons)
        m_separator = '\t';
    else
        m_separator = ';';
}

bool CsvReader::readHeader()
{
    if (!fill())
        return false;
    detect();
    return readRecord(m_header);
}

QString CsvReader::decode(const QByteArray& bytes, bool* valid) const
{
    if (m_encoding != Encoding::Windows1251) {
        *valid = validUtf8(bytes.constData(), bytes.size(), false);
        return *valid ? QString::fromUtf8(bytes) : QString();
    }
    *valid = true;
    QString text(bytes.size(), Qt::Uninitialized);
    QChar* out = text.data();
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80)
            *out++ = QChar(char16_t(byte));
        else if (byte >= 0xC0)
            *out++ = QChar(char16_t(0x0410 + (byte - 0xC0)));
        else
            *out++ = QChar(kWindows1251[byte - 0x80]);
    }
    return text;
}

bool CsvReader::next(Record& record)
{
    while (readRecord(record)) {
        const bool blank = record.problem.isEmpty() && record.fields.size() == 1 &&
                           record.fields.front().isEmpty();
        if (!blank)
            return true;
    }
    return false;
}

bool CsvReader::readRecord(Record& record)
{
    enum class State { FieldStart, Plain, Quoted, QuoteSeen };
    record = Record();
    record.line = m_line;
    QList<QByteArray> fields;
    QByteArray field;
    qsizetype size = 0;
    bool tooLong = false;
    bool unclosed = false;
    bool any = false;
    State state = State::FieldStart;
    // Bytes of the record are kept only while it stays within bounds.
    const auto keep = [&](const char* bytes, qsizetype count) {
        if (tooLong || count == 0)
            return;
        size += count;
        if (size > kMaxRecordBytes) {
            tooLong = true;
            fields.clear();
            field = QByteArray();
            return;
        }
        field.append(bytes, count);
    };
    const auto endField = [&] {
        if (!tooLong)
            fields << field;
        field.clear();
    };
    const char separator = m_separator;
    for (;;) {
        if (!fill()) {
            if (!any)
                return false;
            unclosed = state == State::Quoted;
            endField();
            break;
        }
        any = true;
        const char* data = m_buffer.constData();
        const qsizetype end = m_buffer.size();
        const qsizetype at = m_pos;
        if (state == State::Quoted) {
            qsizetype i = at;
            while (i < end && data[i] != '"' && data[i] != '\n')
                ++i;
            keep(data + at, i - at);
            if (i == end) {
                m_pos = end;
            } else if (data[i] == '\n') {
                ++m_line;
                keep(data + i, 1);
                m_pos = i + 1;
            } else {
                m_pos = i + 1;
                state = State::QuoteSeen;
            }
            continue;
        }
        if (state == State::QuoteSeen) {
            if (data[at] == '"') { // a doubled quote stands for one
                keep(data + at, 1);
                m_pos = at + 1;
                state = State::Quoted;
                continue;
            }
            state = State::Plain; // what follows the closing quote is taken as it stands
        }
        if (state == State::FieldStart && data[at] == '"') {
            m_pos = at + 1;
            state = State::Quoted;
            continue;
        }
        qsizetype i = at;
        while (i < end && data[i] != separator && data[i] != '\n' && data[i] != '\r')
            ++i;
        keep(data + at, i - at);
        if (i == end) {
            m_pos = end;
            state = State::Plain;
            continue;
        }
        m_pos = i + 1;
        if (data[i] == separator) {
            endField();
            state = State::FieldStart;
            continue;
        }
        ++m_line;
        if (data[i] == '\r' && fill() && m_buffer.at(m_pos) == '\n')
            ++m_pos;
        endField();
        break;
    }
    if (tooLong) {
        record.problem = QStringLiteral("запись длиннее %1 КиБ").arg(kMaxRecordBytes / 1024);
        return true;
    }
    if (unclosed) {
        record.problem = QStringLiteral("кавычка не закрыта до конца файла");
        return true;
    }
    record.fields.reserve(fields.size());
    for (const QByteArray& bytes : fields) {
        bool valid = false;
        record.fields << decode(bytes, &valid);
        if (!valid) {
            record.fields.clear();
            record.problem = QStringLiteral("неверная кодировка: не UTF-8");
            break;
        }
    }
    return true;
}

} // namespace tarvik

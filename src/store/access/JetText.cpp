#include "store/access/JetText.h"

#include <array>

namespace tarvik {
namespace {

// Code page 1251 from 0x80 up; 0x98 stands for itself.
// clang-format off
constexpr char16_t kHighHalf[128] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,
    0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417,
    0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F,
    0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427,
    0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,
    0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437,
    0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F,
    0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447,
    0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F,
};
// clang-format on

// Every character the code page uses lies below U+2200: a flat table answers in one step.
constexpr char16_t kReverseLimit = 0x2200;

struct ReverseTable {
    std::array<qint16, kReverseLimit> byteOf{};
    ReverseTable()
    {
        byteOf.fill(-1);
        for (int b = 0; b < 0x80; ++b)
            byteOf[b] = qint16(b);
        for (int i = 0; i < 128; ++i)
            byteOf[kHighHalf[i]] = qint16(0x80 + i);
    }
};

const ReverseTable& reverseTable()
{
    static const ReverseTable table;
    return table;
}

} // namespace

QString decodeJet4Text(QByteArrayView stored)
{
    const auto* p = reinterpret_cast<const uchar*>(stored.data());
    const qsizetype n = stored.size();
    QString text(QLatin1String("")); // empty, never null: NULL is decided by the caller
    if (n >= 2 && p[0] == 0xFF && p[1] == 0xFE) {
        text.reserve(n - 2);
        bool oneByte = true;
        qsizetype i = 2;
        while (i < n) {
            if (p[i] == 0x00) { // switches between one and two bytes per character
                oneByte = !oneByte;
                ++i;
            } else if (oneByte) {
                text.append(QChar(char16_t(p[i])));
                ++i;
            } else if (i + 1 < n) {
                text.append(QChar(char16_t(p[i] | (p[i + 1] << 8))));
                i += 2;
            } else {
                break; // half a character at the end: nothing to make of it
            }
        }
        return text;
    }
    text.resize(n / 2);
    char16_t* out = reinterpret_cast<char16_t*>(text.data());
    for (qsizetype i = 0; i + 1 < n; i += 2)
        *out++ = char16_t(p[i] | (p[i + 1] << 8));
    return text;
}

QString decodeJet3Text(QByteArrayView stored)
{
    return pictureText(stored);
}

QString pictureText(QByteArrayView bytes)
{
    QString text(QLatin1String(""));
    text.resize(bytes.size());
    char16_t* out = reinterpret_cast<char16_t*>(text.data());
    for (const char c : bytes) {
        const uchar b = uchar(c);
        *out++ = b < 0x80 ? char16_t(b) : kHighHalf[b - 0x80];
    }
    return text;
}

bool pictureBytes(QStringView text, QByteArray& bytes, qsizetype* badIndex)
{
    const ReverseTable& table = reverseTable();
    bytes.resize(text.size());
    char* out = bytes.data();
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        const qint16 b = c < kReverseLimit ? table.byteOf[c] : qint16(-1);
        if (b < 0) {
            if (badIndex)
                *badIndex = i;
            bytes.clear();
            return false;
        }
        out[i] = char(b);
    }
    return true;
}

} // namespace tarvik

// libFuzzer target for the LIKE matcher and the UTF-8 folding under it.
//
// Input layout: one flag byte, then the pattern, a NUL, then the text.
// Flag bit 0 reads the pattern as raw UTF-16 and bit 1 the text, so lone
// surrogates reach both sides; otherwise the bytes are UTF-8.

#include "store/text/LikePattern.h"
#include "store/text/TextFold.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

using tarvik::LikePattern;

namespace {

QString decode(const std::uint8_t* data, std::size_t size, bool utf16)
{
    if (!utf16)
        return QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    QString s;
    s.reserve(qsizetype(size / 2));
    for (std::size_t i = 0; i + 1 < size; i += 2)
        s.append(QChar(char16_t(data[i] | (data[i + 1] << 8))));
    return s;
}

// A pattern that spells the text with every special character bracketed,
// so it must match exactly that text.
QString escaped(const QString& text)
{
    QString out;
    for (QChar c : text) {
        switch (c.unicode()) {
        case u'*':
        case u'?':
        case u'#':
        case u'[':
            out += QLatin1Char('[');
            out += c;
            out += QLatin1Char(']');
            break;
        default:
            out += c;
        }
    }
    return out;
}

void check(bool condition)
{
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::uint8_t flags = data[0];
    ++data;
    --size;

    const auto* split = static_cast<const std::uint8_t*>(std::memchr(data, 0, size));
    const std::size_t patternSize = split ? std::size_t(split - data) : size;
    const std::uint8_t* textBytes = split ? split + 1 : data + size;
    const std::size_t textSize = size - patternSize - (split ? 1 : 0);

    const bool textIsUtf16 = flags & 2;
    const QString pattern = decode(data, patternSize, flags & 1);
    const QString text = decode(textBytes, textSize, textIsUtf16);

    const LikePattern compiled = LikePattern::compile(pattern);
    const bool matched = compiled.matches(text);
    if (!compiled.isValid())
        check(!matched);

    // Whatever the bytes, decoding stays within them; valid UTF-8 must give
    // the same answer as the QString path.
    std::u32string folded;
    const bool validUtf8 =
        tarvik::foldUtf8(reinterpret_cast<const char*>(textBytes), textSize, folded);
    const bool matchedFolded = compiled.matchesFolded(folded);
    if (!textIsUtf16 && validUtf8)
        check(matched == matchedFolded);

    // The text written as a pattern matches itself, in any case.
    const QString self = escaped(text);
    check(LikePattern::compile(self).matches(text));
    check(LikePattern::compile(tarvik::foldCase(self)).matches(text));
    check(LikePattern::compile(QLatin1Char('*') + self + QLatin1Char('*')).matches(text));
    return 0;
}

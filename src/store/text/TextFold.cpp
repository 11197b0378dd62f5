#include "store/text/TextFold.h"

#include <QChar>

namespace tarvik {

char32_t foldChar(char32_t c) noexcept
{
    // Names are almost all ASCII and Russian; answer those without the
    // Unicode tables. The other ranges give exactly what Qt gives.
    if (c < 0x80)
        return (c >= U'A' && c <= U'Z') ? c + 0x20 : c;
    if (c >= 0x410 && c <= 0x42F) // А..Я
        return c + 0x20;
    if (c >= 0x430 && c <= 0x45F) // а..я, ѐ..џ: already folded
        return c;
    if (c >= 0x400 && c <= 0x40F) // Ѐ..Џ, including Ё
        return c + 0x50;
    return QChar::toCaseFolded(c);
}

QString foldCase(QStringView s)
{
    QString out;
    out.reserve(s.size());
    const qsizetype n = s.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t u = s[i].unicode();
        if (QChar::isHighSurrogate(u) && i + 1 < n && QChar::isLowSurrogate(s[i + 1].unicode())) {
            const char32_t folded = foldChar(QChar::surrogateToUcs4(u, s[i + 1].unicode()));
            out.append(QStringView(QChar::fromUcs4(folded)));
            ++i;
        } else {
            out.append(QChar(char16_t(foldChar(u))));
        }
    }
    return out;
}

namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool isContinuation(unsigned char b) noexcept
{
    return (b & 0xC0) == 0x80;
}

} // namespace

bool foldUtf8(const char* s, std::size_t n, std::u32string& out)
{
    out.clear();
    if (n == 0)
        return true;
    out.reserve(n);

    const auto* p = reinterpret_cast<const unsigned char*>(s);
    bool valid = true;
    std::size_t i = 0;
    while (i < n) {
        const unsigned char b = p[i];
        if (b < 0x80) {
            out.push_back(foldChar(b));
            ++i;
            continue;
        }

        // Table 3-7 of the Unicode standard: the lead byte fixes the length
        // and the allowed range of the second byte; the rest are 80..BF.
        std::size_t length = 0;
        unsigned char low = 0x80, high = 0xBF;
        char32_t cp = 0;
        if (b >= 0xC2 && b <= 0xDF) {
            length = 2;
            cp = b & 0x1F;
        } else if (b >= 0xE0 && b <= 0xEF) {
            length = 3;
            cp = b & 0x0F;
            if (b == 0xE0)
                low = 0xA0; // overlong
            else if (b == 0xED)
                high = 0x9F; // surrogates
        } else if (b >= 0xF0 && b <= 0xF4) {
            length = 4;
            cp = b & 0x07;
            if (b == 0xF0)
                low = 0x90; // overlong
            else if (b == 0xF4)
                high = 0x8F; // above U+10FFFF
        }

        std::size_t taken = 1;
        if (length != 0) {
            while (taken < length && i + taken < n) {
                const unsigned char c = p[i + taken];
                const bool ok = taken == 1 ? (c >= low && c <= high) : isContinuation(c);
                if (!ok)
                    break;
                cp = (cp << 6) | (c & 0x3F);
                ++taken;
            }
        }

        if (length != 0 && taken == length) {
            out.push_back(foldChar(cp));
        } else {
            out.push_back(kReplacement);
            valid = false;
        }
        i += taken;
    }
    return valid;
}

namespace {

constexpr char16_t kSmallIe = 0x0435;
constexpr char16_t kSmallIo = 0x0451;
constexpr std::string_view kSmallIeUtf8 = "\xD0\xB5";
constexpr std::string_view kYoMarkUtf8 = "\xF4\x8F\xBF\xBF";

} // namespace

QString nameKeyOf(QStringView name)
{
    const QString folded = foldCase(name);
    if (!folded.contains(QChar(kSmallIo)) && !folded.contains(QChar(QChar::highSurrogate(kYoMark))))
        return folded;
    const QString mark = QString::fromUcs4(&kYoMark, 1);
    QString key;
    key.reserve(folded.size() + 8);
    const qsizetype n = folded.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = folded[i];
        if (c.unicode() == kSmallIo) {
            key += QChar(kSmallIe);
            key += mark;
        } else if (c.isHighSurrogate() && i + 1 < n &&
                   QChar::surrogateToUcs4(c, folded[i + 1]) == kYoMark) {
            key += QChar(QChar::ReplacementCharacter);
            ++i;
        } else {
            key += c;
        }
    }
    return key;
}

bool keyContains(std::string_view key, std::string_view needle)
{
    const bool endsInIe = needle.size() >= kSmallIeUtf8.size() &&
                          needle.substr(needle.size() - kSmallIeUtf8.size()) == kSmallIeUtf8;
    for (std::size_t at = key.find(needle); at != key.npos; at = key.find(needle, at + 1)) {
        if (!endsInIe || key.substr(at + needle.size(), kYoMarkUtf8.size()) != kYoMarkUtf8)
            return true;
    }
    return false;
}

void keyToFolded(std::u32string& codePoints)
{
    std::size_t kept = 0;
    for (std::size_t i = 0; i < codePoints.size(); ++i) {
        if (codePoints[i] == kYoMark && kept > 0 && codePoints[kept - 1] == kSmallIe)
            codePoints[kept - 1] = kSmallIo;
        else
            codePoints[kept++] = codePoints[i];
    }
    codePoints.resize(kept);
}

QString upperCaseLetters(QStringView s)
{
    QString out;
    out.reserve(s.size());
    for (const QChar ch : s) {
        const QChar::Script script = ch.script();
        out.append(script == QChar::Script_Latin || script == QChar::Script_Cyrillic ? ch.toUpper()
                                                                                     : ch);
    }
    return out;
}

} // namespace tarvik

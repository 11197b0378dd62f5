#include "store/text/LikePattern.h"

#include "store/text/KeyedChars.h"
#include "store/text/TextFold.h"

#include <QChar>

#include <algorithm>
#include <limits>

namespace tarvik {

namespace {

// Walks a UTF-16 view code point by code point; a lone surrogate counts as
// one character, the same as a pair does.
struct Utf16Cursor {
    QStringView s;

    bool atEnd(qsizetype i) const noexcept { return i >= s.size(); }

    char32_t read(qsizetype& i) const noexcept
    {
        const char16_t u = s[i].unicode();
        ++i;
        if (QChar::isHighSurrogate(u) && i < s.size() && QChar::isLowSurrogate(s[i].unicode()))
            return QChar::surrogateToUcs4(u, s[i++].unicode());
        return u;
    }
};

struct FoldingUtf16Text {
    Utf16Cursor cursor;
    bool atEnd(qsizetype i) const noexcept { return cursor.atEnd(i); }
    char32_t read(qsizetype& i) const noexcept { return foldChar(cursor.read(i)); }
};

struct FoldedText {
    std::u32string_view s;
    bool atEnd(qsizetype i) const noexcept { return std::size_t(i) >= s.size(); }
    char32_t read(qsizetype& i) const noexcept { return s[std::size_t(i++)]; }
};

// A key in the form nameKeyOf() writes, read as the folded name it stands for.
struct KeyedText {
    std::string_view s;
    bool atEnd(qsizetype i) const noexcept { return std::size_t(i) >= s.size(); }
    char32_t read(qsizetype& i) const noexcept
    {
        std::size_t at = std::size_t(i);
        const char32_t c =
            keyed::read(reinterpret_cast<const unsigned char*>(s.data()), s.size(), at);
        i = qsizetype(at);
        return c;
    }
};

} // namespace

LikePattern LikePattern::compile(QStringView pattern)
{
    LikePattern result;
    const Utf16Cursor in{pattern};
    qsizetype i = 0;

    while (!in.atEnd(i)) {
        const char32_t c = in.read(i);
        switch (c) {
        case U'*':
            // A run of stars means the same as one and would only slow
            // the backtracking down.
            if (result.m_tokens.empty() || result.m_tokens.back().kind != Kind::Star)
                result.m_tokens.push_back({Kind::Star, 0, 0, 0});
            break;
        case U'?':
            result.m_tokens.push_back({Kind::AnyOne, 0, 0, 0});
            break;
        case U'#':
            result.m_tokens.push_back({Kind::Digit, 0, 0, 0});
            break;
        case U'[': {
            Kind kind = Kind::Class;
            const auto first = std::uint32_t(result.m_ranges.size());
            qsizetype j = i;
            if (!in.atEnd(j)) {
                qsizetype k = j;
                if (in.read(k) == U'!') {
                    kind = Kind::NotClass;
                    j = k;
                }
            }
            bool closed = false;
            while (!in.atEnd(j)) {
                const char32_t low = in.read(j);
                if (low == U']') {
                    closed = true;
                    break;
                }
                char32_t high = low;
                // "x-y" is a range only when y is a character, not the
                // closing bracket; a trailing '-' stays literal.
                qsizetype k = j;
                if (!in.atEnd(k) && in.read(k) == U'-' && !in.atEnd(k)) {
                    qsizetype m = k;
                    const char32_t end = in.read(m);
                    if (end != U']') {
                        high = end;
                        j = m;
                    }
                }
                const char32_t foldedLow = foldChar(low);
                const char32_t foldedHigh = foldChar(high);
                if (foldedLow > foldedHigh)
                    return LikePattern{};
                result.m_ranges.push_back({foldedLow, foldedHigh});
            }
            if (!closed)
                return LikePattern{};
            i = j;
            const auto count = std::uint32_t(result.m_ranges.size()) - first;
            result.m_tokens.push_back({kind, 0, first, count});
            break;
        }
        default:
            result.m_tokens.push_back({Kind::Literal, foldChar(c), 0, 0});
            break;
        }
    }
    result.m_valid = true;
    return result;
}

bool LikePattern::matchesOne(const Token& token, char32_t c) const noexcept
{
    switch (token.kind) {
    case Kind::Literal:
        return c == token.ch;
    case Kind::AnyOne:
        return true;
    case Kind::Digit:
        return c >= U'0' && c <= U'9';
    case Kind::Class:
    case Kind::NotClass: {
        bool inClass = false;
        for (std::uint32_t r = token.first; r < token.first + token.count; ++r) {
            if (c >= m_ranges[r].low && c <= m_ranges[r].high) {
                inClass = true;
                break;
            }
        }
        return inClass == (token.kind == Kind::Class);
    }
    case Kind::Star:
        break;
    }
    return false;
}

// Every token but a star consumes exactly one character, so on a mismatch
// it is enough to let the most recent star swallow one more character and
// retry from just after it: an earlier star could not do better, because
// anything it would have absorbed the latest star can absorb as well.
template <typename Text> bool LikePattern::run(const Text& text) const
{
    if (!m_valid)
        return false;

    constexpr std::size_t none = std::numeric_limits<std::size_t>::max();
    const std::size_t count = m_tokens.size();
    std::size_t p = 0;
    std::size_t afterStar = none;
    qsizetype t = 0;
    qsizetype starText = 0; // where the latest star's run ends

    while (!text.atEnd(t)) {
        if (p < count && m_tokens[p].kind == Kind::Star) {
            afterStar = ++p;
            starText = t;
            continue;
        }
        qsizetype next = t;
        const char32_t c = text.read(next);
        if (p < count && matchesOne(m_tokens[p], c)) {
            ++p;
            t = next;
            continue;
        }
        if (afterStar == none)
            return false;
        p = afterStar;
        text.read(starText); // the star takes one more character
        t = starText;
    }
    while (p < count && m_tokens[p].kind == Kind::Star)
        ++p;
    return p == count;
}

bool LikePattern::matches(QStringView text) const
{
    return run(FoldingUtf16Text{Utf16Cursor{text}});
}

bool LikePattern::matchesFolded(std::u32string_view foldedText) const
{
    return run(FoldedText{foldedText});
}

bool LikePattern::matchesKeyed(std::string_view key) const
{
    return run(KeyedText{key});
}

std::u32string LikePattern::containedText() const
{
    const std::size_t count = m_tokens.size();
    if (!m_valid || count < 3 || m_tokens.front().kind != Kind::Star ||
        m_tokens.back().kind != Kind::Star)
        return {};
    std::u32string text;
    for (std::size_t i = 1; i + 1 < count; ++i) {
        if (m_tokens[i].kind != Kind::Literal)
            return {};
        text += m_tokens[i].ch;
    }
    return text;
}

std::vector<std::u32string> LikePattern::literalRuns() const
{
    std::vector<std::u32string> runs;
    if (!m_valid)
        return runs;
    std::u32string run;
    for (const Token& token : m_tokens) {
        if (token.kind == Kind::Literal) {
            run += token.ch;
        } else if (!run.empty()) {
            runs.push_back(std::move(run));
            run.clear();
        }
    }
    if (!run.empty())
        runs.push_back(std::move(run));
    return runs;
}

bool LikePattern::matchesEverything() const
{
    return m_valid && std::all_of(m_tokens.begin(), m_tokens.end(),
                                  [](const Token& token) { return token.kind == Kind::Star; });
}

KeyPattern::KeyPattern(QStringView pattern)
    : m_pattern(LikePattern::compile(pattern)),
      m_segments(m_pattern),
      m_contained(nameKeyOf(QString::fromStdU32String(m_pattern.containedText())).toStdString())
{
    for (const std::u32string& run : m_pattern.literalRuns()) {
        // The mark and U+FFFD have no keyed bytes of their own: a key writes a mark inside a
        // name as U+FFFD, and so does a broken byte.
        if (run.find_first_of(U"\U0010FFFF\uFFFD") != run.npos)
            continue;
        m_required.push_back(nameKeyOf(QString::fromStdU32String(run)).toStdString());
    }
    std::stable_sort(
        m_required.begin(), m_required.end(),
        [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
}

bool KeyPattern::matchesKeyedForm(std::string_view key) const
{
    if (!m_contained.empty())
        return keyContains(key, m_contained);
    return m_segments.isUsable() ? m_segments.matches(key) : m_pattern.matchesKeyed(key);
}

bool KeyPattern::matches(std::string_view key, std::u32string& buffer) const
{
    if (!m_contained.empty())
        return keyContains(key, m_contained);
    buffer.clear();
    foldUtf8(key.data(), key.size(), buffer);
    keyToFolded(buffer);
    return m_pattern.matchesFolded(buffer);
}

bool isKeyedForm(std::string_view key, std::u32string& buffer)
{
    buffer.clear();
    if (!foldUtf8(key.data(), key.size(), buffer))
        return false;
    // Folding changed nothing exactly when the folded code points encode to the same bytes.
    std::size_t at = 0;
    for (const char32_t c : buffer) {
        if (c == 0x451) // a bare ё; keys write it as е and the mark
            return false;
        char bytes[4];
        std::size_t n = 0;
        if (c < 0x80) {
            bytes[n++] = char(c);
        } else if (c < 0x800) {
            bytes[n++] = char(0xC0 | (c >> 6));
            bytes[n++] = char(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            bytes[n++] = char(0xE0 | (c >> 12));
            bytes[n++] = char(0x80 | ((c >> 6) & 0x3F));
            bytes[n++] = char(0x80 | (c & 0x3F));
        } else {
            bytes[n++] = char(0xF0 | (c >> 18));
            bytes[n++] = char(0x80 | ((c >> 12) & 0x3F));
            bytes[n++] = char(0x80 | ((c >> 6) & 0x3F));
            bytes[n++] = char(0x80 | (c & 0x3F));
        }
        if (key.size() - at < n || key.compare(at, n, std::string_view(bytes, n)) != 0)
            return false;
        at += n;
    }
    return at == key.size();
}

} // namespace tarvik

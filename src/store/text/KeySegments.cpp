// Every token between two stars takes exactly one character, so a segment has a fixed length
// in characters, and the segment that starts first also ends first. Matching *s1*...*sn*
// is therefore finding s1 where it starts first, s2 where it starts first after that, and so
// on: any other way of matching leaves the later segments less text, never more.
#include "store/text/LikePattern.h"

#include "store/text/KeyedChars.h"
#include "store/text/TextFold.h"

namespace tarvik {

namespace {

// The bytes the key holds for a folded character: its UTF-8, and for ё that of е and the
// mark.
void appendKeyed(std::string& out, char32_t c)
{
    if (c == 0x451) {
        out += "\xD0\xB5\xF4\x8F\xBF\xBF";
    } else if (c < 0x80) {
        out += char(c);
    } else if (c < 0x800) {
        out += char(0xC0 | (c >> 6));
        out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += char(0xE0 | (c >> 12));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    } else {
        out += char(0xF0 | (c >> 18));
        out += char(0x80 | ((c >> 12) & 0x3F));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    }
}

} // namespace

KeySegments::KeySegments(const LikePattern& pattern) : m_pattern(pattern)
{
    using Kind = LikePattern::Kind;
    const auto& tokens = m_pattern.m_tokens;
    if (!m_pattern.isValid() || tokens.size() < 3 || tokens.front().kind != Kind::Star ||
        tokens.back().kind != Kind::Star)
        return;
    Segment segment;
    for (std::uint32_t i = 1; i < tokens.size(); ++i) {
        if (tokens[i].kind != Kind::Star) {
            if (segment.count++ == 0)
                segment.first = i;
            continue;
        }
        // The anchor is the longest run of plain characters. The mark is left out: its bytes
        // may be the second half of an ё, where no character begins.
        std::uint32_t runAt = 0, runLength = 0;
        std::string run;
        for (std::uint32_t k = 0; k <= segment.count; ++k) {
            const auto& token = tokens[segment.first + k];
            if (k < segment.count && token.kind == Kind::Literal && token.ch != kYoMark) {
                if (runLength++ == 0) {
                    runAt = k;
                    run.clear();
                }
                appendKeyed(run, token.ch);
                continue;
            }
            if (run.size() > segment.anchor.size()) {
                segment.anchor = run;
                segment.anchorAt = runAt;
            }
            runLength = 0;
            run.clear();
        }
        m_segments.push_back(std::move(segment));
        segment = Segment();
    }
}

bool KeySegments::fits(const Segment& segment, std::string_view key, std::size_t& at) const
{
    const auto* b = reinterpret_cast<const unsigned char*>(key.data());
    for (std::uint32_t k = segment.first; k < segment.first + segment.count; ++k) {
        if (at >= key.size() ||
            !m_pattern.matchesOne(m_pattern.m_tokens[k], keyed::read(b, key.size(), at)))
            return false;
    }
    return true;
}

bool KeySegments::find(const Segment& segment, std::string_view key, std::size_t from,
                       std::size_t& end) const
{
    const auto* b = reinterpret_cast<const unsigned char*>(key.data());
    if (segment.anchor.empty()) {
        for (std::size_t start = from;; keyed::read(b, key.size(), start)) {
            end = start;
            if (fits(segment, key, end))
                return true;
            if (start >= key.size())
                return false;
        }
    }
    // The anchor's bytes begin where a character does (no keyed character starts with the
    // bytes of another one's tail), so stepping back from there finds the segment's start.
    for (std::size_t hit = keyed::find(key, segment.anchor, from); hit != key.npos;
         hit = keyed::find(key, segment.anchor, hit + 1)) {
        std::size_t start = hit;
        bool room = true;
        for (std::uint32_t k = 0; room && k < segment.anchorAt; ++k) {
            room = start > from;
            if (room)
                start = keyed::startBefore(b, start);
        }
        end = start;
        if (room && fits(segment, key, end))
            return true;
    }
    return false;
}

std::optional<KeySegments::OneOf> KeySegments::oneCharacter() const
{
    using Kind = LikePattern::Kind;
    constexpr std::size_t kMostListed = 256;
    if (m_segments.size() != 1 || m_segments.front().count != 1)
        return std::nullopt;
    const auto& token = m_pattern.m_tokens[m_segments.front().first];
    OneOf one;
    switch (token.kind) {
    case Kind::AnyOne:
        one.any = true;
        return one;
    case Kind::Digit:
        for (char32_t c = U'0'; c <= U'9'; ++c)
            one.chars.push_back(c);
        return one;
    case Kind::Class:
        for (std::uint32_t r = token.first; r < token.first + token.count; ++r) {
            const auto& range = m_pattern.m_ranges[r];
            if (range.high - range.low >= kMostListed || one.chars.size() > kMostListed)
                return std::nullopt;
            for (char32_t c = range.low; c <= range.high; ++c)
                one.chars.push_back(c);
        }
        return one;
    default:
        return std::nullopt;
    }
}

bool KeySegments::matches(std::string_view key) const
{
    std::size_t from = 0;
    for (const Segment& segment : m_segments) {
        if (!find(segment, key, from, from))
            return false;
    }
    return true;
}

} // namespace tarvik

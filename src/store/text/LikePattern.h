#pragma once

#include <QStringView>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvik {

// A LIKE pattern as the parts search understands it, matched against the
// whole text and ignoring case (both sides go through foldChar):
//
//   *        any run of characters, also an empty one
//   ?        exactly one character
//   #        one decimal digit 0-9
//   [abc]    one character of the class; a-z is a range
//   [!abc]   one character not in the class
//
// Inside brackets *, ? and # stand for themselves, so [*] is a literal star
// and [[] a literal bracket. A '-' is a range only between two characters;
// first or last in the class it is literal. A ']' always closes a class, and
// outside a class it is an ordinary character. [] matches nothing and [!]
// matches any one character.
//
// An unclosed '[' or a range whose ends are reversed (compared after
// folding, so [a-Z] is a-z and [Z-a] is reversed) makes the pattern
// malformed: it is then not valid and matches nothing.
//
// Matching is iterative and takes at most pattern length x text length
// steps, whatever the pattern.
class LikePattern {
public:
    // An invalid pattern; useful as a placeholder before compile().
    LikePattern() = default;

    static LikePattern compile(QStringView pattern);

    bool isValid() const noexcept { return m_valid; }

    // Folds the text on the fly; a surrogate pair is one character.
    bool matches(QStringView text) const;

    // The text already passed through foldChar (e.g. by foldUtf8).
    bool matchesFolded(std::u32string_view foldedText) const;
    // A key in the form nameKeyOf() writes (see isKeyedForm), as the folded name it stands
    // for, without decoding it first.
    bool matchesKeyed(std::string_view key) const;

    // For a pattern of the form *text* with no other wildcard: that text, folded, so a
    // search in folded names can be a plain substring search. Empty otherwise.
    std::u32string containedText() const;

    // The runs of plain characters, folded, that every matching text contains in that order:
    // a search can first look for their bytes and match only where they all are.
    std::vector<std::u32string> literalRuns() const;
    // Valid and nothing but stars: every text matches.
    bool matchesEverything() const;

private:
    enum class Kind : std::uint8_t { Literal, AnyOne, Digit, Class, NotClass, Star };

    struct Token {
        Kind kind;
        char32_t ch;         // Literal
        std::uint32_t first; // Class, NotClass: index into m_ranges
        std::uint32_t count;
    };

    struct Range {
        char32_t low;
        char32_t high;
    };

    bool matchesOne(const Token& token, char32_t c) const noexcept;

    template <typename Text> bool run(const Text& text) const;

    std::vector<Token> m_tokens;
    std::vector<Range> m_ranges;
    bool m_valid = false;

    friend class KeySegments;
};

// The shape every search pattern has, *s1*s2*...*sn*, matched against a key in the form
// nameKeyOf() writes (see isKeyedForm) without walking it character by character: a segment
// is found by the bytes of its longest run of plain characters and checked around them.
// The same answer as LikePattern::matchesKeyed.
class KeySegments {
public:
    KeySegments() = default;
    // Usable when the pattern is valid, begins and ends with a star and holds more.
    explicit KeySegments(const LikePattern& pattern);

    bool isUsable() const { return !m_segments.empty(); }
    bool matches(std::string_view key) const;

    // For a pattern *c* whose c is ?, # or a class that is not negated: whether any
    // character will do, else which characters. Nothing for any other pattern, or for a
    // class of too many characters to list.
    struct OneOf {
        bool any = false;
        std::vector<char32_t> chars;
    };
    std::optional<OneOf> oneCharacter() const;

private:
    struct Segment {
        std::uint32_t first = 0; // tokens of m_pattern, none of them a star
        std::uint32_t count = 0;
        std::uint32_t anchorAt = 0; // the anchor's first token, counted from `first`
        std::string anchor;         // the anchor's keyed bytes; empty: no plain character
    };

    bool find(const Segment& segment, std::string_view key, std::size_t from,
              std::size_t& end) const;
    bool fits(const Segment& segment, std::string_view key, std::size_t& at) const;

    LikePattern m_pattern;
    std::vector<Segment> m_segments;
};

// A pattern matched against name keys (nameKeyOf), the one matcher of the parts search
// wherever it runs: the engine's function and the names held in memory. A pattern of the
// form *text* is a byte search in the key; any other goes through the key's folded name.
class KeyPattern {
public:
    KeyPattern() = default;
    explicit KeyPattern(QStringView pattern);

    // `buffer` is scratch space, kept by the caller so that many keys reuse one.
    bool matches(std::string_view key, std::u32string& buffer) const;
    // The same answer for a key that isKeyedForm(), quicker.
    bool matchesKeyedForm(std::string_view key) const;

    // The keyed bytes of the pattern's plain runs, longest first: a key in the form
    // nameKeyOf() gives (see isKeyedForm) can only match if it contains every one of them.
    const std::vector<std::string>& requiredBytes() const { return m_required; }
    bool matchesEveryKey() const { return m_pattern.matchesEverything(); }
    // For plain text between stars: its keyed bytes, which a key matching the pattern holds
    // (keyContains), whatever form the key is in. Empty for any other pattern.
    const std::string& containedBytes() const { return m_contained; }
    std::optional<KeySegments::OneOf> oneCharacter() const { return m_segments.oneCharacter(); }
    // A malformed pattern matches no key.
    bool isValid() const { return m_pattern.isValid(); }

private:
    LikePattern m_pattern;
    KeySegments m_segments;
    std::string m_contained; // non-empty for *text*: the text keyed, as UTF-8
    std::vector<std::string> m_required;
};

// Whether `key` is valid UTF-8 in the very form nameKeyOf() writes: folded, ё only as е and
// the mark. Only such a key holds a plain run of a pattern as the run's keyed bytes. `buffer`
// is scratch space.
bool isKeyedForm(std::string_view key, std::u32string& buffer);

} // namespace tarvik

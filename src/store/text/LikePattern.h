#pragma once

#include <QStringView>

#include <cstdint>
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

private:
    LikePattern m_pattern;
    std::string m_contained; // non-empty for *text*: the text keyed, as UTF-8
    std::vector<std::string> m_required;
};

// Whether `key` is valid UTF-8 in the very form nameKeyOf() writes: folded, ё only as е and
// the mark. Only such a key holds a plain run of a pattern as the run's keyed bytes. `buffer`
// is scratch space.
bool isKeyedForm(std::string_view key, std::u32string& buffer);

} // namespace tarvik

#pragma once

// Reading a key in the form nameKeyOf() writes (valid UTF-8, checked when the key was taken
// in) as the folded name it stands for: е followed by the mark is one character, ё. Both
// directions agree on where the characters begin, so a matcher may find a character by its
// bytes and step back from it.
#include <cstddef>
#include <cstring>
#include <string_view>

namespace tarvik::keyed {

inline bool isMarkAt(const unsigned char* b, std::size_t at) noexcept
{
    return b[at] == 0xF4 && b[at + 1] == 0x8F && b[at + 2] == 0xBF && b[at + 3] == 0xBF;
}

// The character at `at`, which then moves past it.
inline char32_t read(const unsigned char* b, std::size_t size, std::size_t& at) noexcept
{
    const unsigned char lead = b[at];
    if (lead < 0x80) {
        ++at;
        return lead;
    }
    if (lead < 0xE0) {
        const char32_t c = char32_t(lead & 0x1F) << 6 | (b[at + 1] & 0x3F);
        if (c == 0x435 && at + 6 <= size && isMarkAt(b, at + 2)) {
            at += 6;
            return 0x451;
        }
        at += 2;
        return c;
    }
    if (lead < 0xF0) {
        const char32_t c =
            char32_t(lead & 0x0F) << 12 | char32_t(b[at + 1] & 0x3F) << 6 | (b[at + 2] & 0x3F);
        at += 3;
        return c;
    }
    const char32_t c = char32_t(lead & 0x07) << 18 | char32_t(b[at + 1] & 0x3F) << 12 |
                       char32_t(b[at + 2] & 0x3F) << 6 | (b[at + 3] & 0x3F);
    at += 4;
    return c;
}

// Where the character before the one at `at` (> 0) begins.
inline std::size_t startBefore(const unsigned char* b, std::size_t at) noexcept
{
    std::size_t p = at - 1;
    while (p > 0 && (b[p] & 0xC0) == 0x80)
        --p;
    // A mark right after е is the second half of an ё.
    if (at - p == 4 && p >= 2 && isMarkAt(b, p) && b[p - 2] == 0xD0 && b[p - 1] == 0xB5)
        p -= 2;
    return p;
}

// Where `needle` (not empty) first occurs in `key` at or after `from`, or npos. Looks for its
// last byte first: in Cyrillic the first byte of a letter is shared by half the alphabet.
inline std::size_t find(std::string_view key, std::string_view needle, std::size_t from) noexcept
{
    const std::size_t n = needle.size();
    if (key.size() < n || from > key.size() - n)
        return std::string_view::npos;
    const char* const base = key.data();
    const char* const end = base + key.size();
    for (const char* p = base + from + n - 1;
         (p = static_cast<const char*>(std::memchr(p, needle[n - 1], std::size_t(end - p)))); ++p) {
        const char* start = p - (n - 1);
        std::size_t k = 0;
        while (k + 1 < n && start[k] == needle[k])
            ++k;
        if (k + 1 >= n)
            return std::size_t(start - base);
    }
    return std::string_view::npos;
}

} // namespace tarvik::keyed

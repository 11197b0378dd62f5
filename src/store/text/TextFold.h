#pragma once

#include <QString>
#include <QStringView>

#include <cstddef>
#include <string>
#include <string_view>

namespace tarvik {

// Case folding shared by every text comparison the store makes (equality,
// LIKE, sort key), so that all of them agree on what "same letter" means.
// Simple (1:1) Unicode case folding: ß stays ß, Ё becomes ё.

// Folds one code point. Values that are not characters (lone surrogates,
// anything above U+10FFFF) come back unchanged.
char32_t foldChar(char32_t c) noexcept;

// Folds every code point of s. A surrogate pair is folded as the one code
// point it encodes; a lone surrogate is kept as it is.
QString foldCase(QStringView s);

// Decodes n bytes of UTF-8 at s into folded code points, replacing the
// contents of out (its capacity is kept, so a caller can reuse one buffer
// for many rows). Never reads beyond s[n - 1]; s may be null when n is 0.
//
// Returns false when the bytes are not valid UTF-8 (overlong forms, encoded
// surrogates, values above U+10FFFF, truncated sequences, stray continuation
// bytes). Decoding still completes: each maximal ill-formed subpart becomes
// one U+FFFD, the substitution Unicode recommends, so a damaged value still
// takes part in comparisons.
bool foldUtf8(const char* s, std::size_t n, std::u32string& out);

// The key a name sorts and is searched by: the name folded, each ё written as е followed by
// kYoMark. Compared code point by code point (the engine's BINARY order) Ё then follows Е
// and comes before Ж, as in the alphabet, where a bare ё would follow Я. The mark is a
// noncharacter above every character, so "её" still sorts after "ея"; a mark inside a name
// is written U+FFFD, so in a key it always means ё. A search text takes the same form.
constexpr char32_t kYoMark = 0x10FFFF;
QString nameKeyOf(QStringView name);

// Whether the key holds the keyed text `needle` (both UTF-8). A plain byte search, except
// that the е of an ё is no е: a needle that ends in е does not match there.
bool keyContains(std::string_view key, std::string_view needle);

// Code points of a key (from foldUtf8) back to the folded name: е and the mark become ё.
void keyToFolded(std::u32string& codePoints);

// Latin and Cyrillic letters in upper case (simple 1:1 mapping, so the length is kept);
// every other character as it is. Package-type names are stored this way.
QString upperCaseLetters(QStringView s);

} // namespace tarvik

#pragma once

#include <QString>

#include <functional>

// Text routines of a part's record key: picking Russian letters out of a name and building the
// key stored in client.kont. "Character" means a UTF-16 code unit throughout: a character
// outside the BMP counts twice, in the name's length and in the 32-character window, the same
// way the keys already stored in existing files were counted. Here, below the windows, so that
// the store derives the key of a part it adds itself (an import) exactly as the part dialog does.
namespace tarvik::My {

// The Russian letters а..я / А..Я of the whole text, lower-cased, in order.
// Ё and ё are not among them.
QString LowerCyrillic(const QString& text);

// The capitals А..Я among the first 32 characters, in order.
QString UpperCyrillic(const QString& text);

// How many of the first 32 characters are capitals А..Я, as decimal text.
QString CountUpperCyrillic(const QString& text);

// Uniform in [0, 1) with a resolution of 2^-24.
using RandomSource = std::function<float()>;

// The key for a part's name with the random draw supplied by the caller; lets no events
// through (MakeKont does, for the dialog).
QString kontKey(const QString& name, const RandomSource& next);

// A new source seeded from the clock.
RandomSource clockSeededRandom();

} // namespace tarvik::My

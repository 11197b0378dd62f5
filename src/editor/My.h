#pragma once

#include <QString>

#include <functional>

// Text routines of the part editor: picking Russian letters out of a name
// and building the record key stored in client.kont. "Character" means a
// UTF-16 code unit throughout: a character outside the BMP counts twice,
// in the name's length and in the 32-character window, the same way the
// keys already stored in existing files were counted.
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

// The key for a part's name, drawing from a freshly clock-seeded source.
QString MakeKont(const QString& name);
// The same with the random draw supplied by the caller.
QString MakeKont(const QString& name, const RandomSource& next);

// A new source seeded from the clock; MakeKont(name) takes one per call.
RandomSource clockSeededRandom();

} // namespace tarvik::My

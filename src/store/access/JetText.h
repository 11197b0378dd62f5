#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace tarvik {

// Text as an Access (Jet) file stores it, and the picture text of package pictures.

// A Jet 4 text or memo value: UTF-16LE, or after the marker FF FE Jet's compressed form,
// which starts with one byte per character (U+0001-U+00FF) and switches between that and
// two bytes per character at every 0x00 byte. An empty value gives the empty (not null) text.
QString decodeJet4Text(QByteArrayView stored);

// A Jet 3 value: one byte per character in code page 1251 (see pictureText below).
QString decodeJet3Text(QByteArrayView stored);

// Picture text: one character per byte in code page 1251, where the byte 0x98, which the
// code page leaves undefined, is the character U+0098. Every byte has exactly one character
// and back, so any file survives the round trip.
QString pictureText(QByteArrayView bytes);

// The bytes behind picture text. False when a character has no byte in code page 1251
// (a damaged value); `badIndex` then tells which.
bool pictureBytes(QStringView text, QByteArray& bytes, qsizetype* badIndex = nullptr);

} // namespace tarvik

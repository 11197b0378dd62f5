#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <cstdint>

namespace tarvik {

// How the engine stores a name key: numbers sort before text, blobs after.
enum class KeyKind : std::uint8_t { Number = 0, Text = 1, Blob = 2 };

// One committed write of a part, as the write path announces it: what it did to the names,
// read inside the write's own transaction so that a listener can follow it exactly.
struct NameChange {
    enum class Op { Added, Changed, Removed, Unknown };
    Op op = Op::Unknown;
    qint64 id = -1;
    // The file's name-change counter (NameChangeCounter.h) before and after the write;
    // -1 when it could not be read.
    qint64 before = -1;
    qint64 after = -1;
    bool keyKnown = false; // the stored key was read back
    bool hasKey = false;   // false: the key is missing (NULL)
    KeyKind kind = KeyKind::Text;
    QByteArray key;
};

} // namespace tarvik

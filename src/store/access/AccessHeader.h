#pragma once

#include <QByteArray>
#include <QString>

namespace tarvik {

// What the first page of a file says about it, read without any database library, so that
// start-up can tell an Access register from ours cheaply.
struct AccessHeader {
    enum class Format {
        NotAccess,  // anything else (our SQLite register, garbage, an empty file)
        Jet3,       // Access 97
        Jet4,       // Access 2000-2003
        Newer,      // Access 2007 and later (.accdb engine)
        Unreadable, // the file could not be read
    };
    Format format = Format::NotAccess;
    int pageSize = 0;
    bool hasPassword = false; // a database password is set
    bool isEncoded = false;   // the pages are encrypted
    bool isTruncated = false; // the signature is there, the rest of the first page is not
    QString error;            // why it could not be read

    bool isJet() const { return format == Format::Jet3 || format == Format::Jet4; }
};

AccessHeader readAccessHeader(const QString& path);

// The same from the first page's bytes (at least 0x100 of them).
AccessHeader parseAccessHeader(const QByteArray& firstPage);

// Test support: the first page with the protected area (the header's second part, which
// Jet keeps scrambled) scrambled or unscrambled; the operation is its own inverse.
QByteArray toggleAccessHeaderScramble(QByteArray firstPage);

} // namespace tarvik

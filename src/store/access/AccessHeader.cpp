#include "store/access/AccessHeader.h"

#include "store/register/FileKind.h"

#include <QFile>
#include <QtEndian>

namespace tarvik {
namespace {

constexpr qsizetype kVersionOffset = 0x14;
constexpr qsizetype kScrambledOffset = 0x18; // Jet scrambles the header from here with RC4
constexpr qsizetype kScrambledJet3 = 126;
constexpr qsizetype kScrambledJet4 = 128;
constexpr qsizetype kEncodingKeyOffset = 0x3e; // non-zero: every page is RC4-encrypted
constexpr qsizetype kPasswordOffset = 0x42;
constexpr qsizetype kPasswordJet3 = 20;
constexpr qsizetype kPasswordJet4 = 40;
constexpr qsizetype kCreationDateOffset = 0x72; // Jet 4 masks the password with it
constexpr qsizetype kNeeded = 0x100;

// The fixed key Jet uses for the header's scrambled area.
constexpr uchar kHeaderKey[4] = {0xC7, 0xDA, 0x39, 0x6B};

void rc4(const uchar* key, int keyLength, uchar* data, qsizetype length)
{
    uchar s[256];
    for (int i = 0; i < 256; ++i)
        s[i] = uchar(i);
    for (int i = 0, j = 0; i < 256; ++i) {
        j = (j + s[i] + key[i % keyLength]) & 0xff;
        std::swap(s[i], s[j]);
    }
    for (qsizetype n = 0, i = 0, j = 0; n < length; ++n) {
        i = (i + 1) & 0xff;
        j = (j + s[i]) & 0xff;
        std::swap(s[i], s[j]);
        data[n] ^= s[(s[i] + s[j]) & 0xff];
    }
}

bool startsWith(const QByteArray& page, const char* signature)
{
    return page.mid(4, 16) == QByteArray(signature, 16);
}

} // namespace

QByteArray toggleAccessHeaderScramble(QByteArray page)
{
    if (page.size() < kNeeded)
        return page;
    const bool jet3 = qFromLittleEndian<quint32>(page.constData() + kVersionOffset) == 0;
    rc4(kHeaderKey, 4, reinterpret_cast<uchar*>(page.data()) + kScrambledOffset,
        jet3 ? kScrambledJet3 : kScrambledJet4);
    return page;
}

AccessHeader parseAccessHeader(const QByteArray& firstPage)
{
    AccessHeader header;
    if (firstPage.size() < kScrambledOffset || firstPage[0] != 0 || firstPage[1] != 1 ||
        firstPage[2] != 0 || firstPage[3] != 0)
        return header;
    const bool jet = startsWith(firstPage, "Standard Jet DB\0");
    const bool ace = startsWith(firstPage, "Standard ACE DB\0");
    if (!jet && !ace)
        return header;
    const quint32 version = qFromLittleEndian<quint32>(firstPage.constData() + kVersionOffset);
    if (ace || version > 1) {
        header.format = AccessHeader::Format::Newer;
        return header;
    }
    const bool jet3 = version == 0;
    header.format = jet3 ? AccessHeader::Format::Jet3 : AccessHeader::Format::Jet4;
    header.pageSize = jet3 ? 2048 : 4096;
    if (firstPage.size() < kNeeded) {
        header.isTruncated = true;
        return header;
    }

    const QByteArray plain = toggleAccessHeaderScramble(firstPage);
    const char* p = plain.constData();
    header.isEncoded = qFromLittleEndian<quint32>(p + kEncodingKeyOffset) != 0;

    // Jet 4 masks the password once more with the whole days of the creation date.
    uchar mask[4] = {0, 0, 0, 0};
    if (!jet3) {
        const double created =
            qFromLittleEndian<double>(reinterpret_cast<const uchar*>(p + kCreationDateOffset));
        if (created > -2e9 && created < 2e9) // anything else is no date; leave it unmasked
            qToLittleEndian<qint32>(qint32(created), mask);
    }
    const qsizetype length = jet3 ? kPasswordJet3 : kPasswordJet4;
    for (qsizetype i = 0; i < length; ++i) {
        if ((uchar(p[kPasswordOffset + i]) ^ mask[i % 4]) != 0) {
            header.hasPassword = true;
            break;
        }
    }
    return header;
}

AccessHeader readAccessHeader(const QString& path)
{
    QFile file;
    FileKind kind = FileKind::Missing;
    QString error;
    if (!openRegularFile(file, path, &kind, &error)) {
        AccessHeader header;
        header.format = AccessHeader::Format::Unreadable;
        header.error = kind == FileKind::Regular ? error : notAFile(kind);
        return header;
    }
    return parseAccessHeader(file.read(kNeeded));
}

} // namespace tarvik

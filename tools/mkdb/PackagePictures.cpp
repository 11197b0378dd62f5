#include "mkdb/PackagePictures.h"

#include "mkdb/GifWriter.h"
#include "mkdb/PackageOutlines.h"

#include <QBuffer>
#include <QImageWriter>

#include <iterator>

namespace tarvik {
namespace {

constexpr int kCommonCount = 10;

struct CatalogueEntry {
    const char* name;
    const char* fileStem;
    const char* format;
    Outline outline;
};

// The first kCommonCount are the common ones. Formats are mixed on purpose: the program
// must show each format the user may give it.
const CatalogueEntry kCatalogue[] = {
    {"DIP-8", "dip8", "bmp", {PackageKind::DualInline, 8, 0, 40}},
    {"DIP-14", "dip14", "gif", {PackageKind::DualInline, 14, 0, 34}},
    {"SOT-23", "sot23", "jpeg", {PackageKind::Sot, 3, 52, 30}},
    {"TO-92", "to92", "gif", {PackageKind::To92, 3}},
    {"TO-220", "to220", "gif", {PackageKind::Tab, 3, 52, 40, true}},
    {"SOIC-8", "soic8", "jpeg", {PackageKind::SmallOutline, 8, 0, 30}},
    {"0805", "0805", "bmp", {PackageKind::Chip, 2, 38, 24}},
    {"1206", "1206", "jpeg", {PackageKind::Chip, 2, 58, 30}},
    {"TO-247", "to247", "bmp", {PackageKind::Tab, 3, 70, 66}},
    {"DO-41", "do41", "gif", {PackageKind::Axial, 2, 44, 22}},

    {"DIP-16", "dip16", "jpeg", {PackageKind::DualInline, 16, 0, 34}},
    {"DIP-18", "dip18", "bmp", {PackageKind::DualInline, 18, 0, 34}},
    {"DIP-20", "dip20", "gif", {PackageKind::DualInline, 20, 0, 34}},
    {"DIP-24", "dip24", "jpeg", {PackageKind::DualInline, 24, 0, 40}},
    {"DIP-28", "dip28", "bmp", {PackageKind::DualInline, 28, 0, 40}},
    {"DIP-40", "dip40", "gif", {PackageKind::DualInline, 40, 0, 46}},
    {"SOIC-14", "soic14", "jpeg", {PackageKind::SmallOutline, 14, 0, 30}},
    {"SOIC-16", "soic16", "bmp", {PackageKind::SmallOutline, 16, 0, 30}},
    {"TSSOP-8", "tssop8", "gif", {PackageKind::SmallOutline, 8, 0, 24}},
    {"TSSOP-14", "tssop14", "jpeg", {PackageKind::SmallOutline, 14, 0, 24}},
    {"TSSOP-16", "tssop16", "bmp", {PackageKind::SmallOutline, 16, 0, 24}},
    {"SSOP-28", "ssop28", "gif", {PackageKind::SmallOutline, 28, 0, 28}},
    {"SOT-23-5", "sot23-5", "jpeg", {PackageKind::Sot, 5, 48, 26}},
    {"SOT-23-6", "sot23-6", "bmp", {PackageKind::Sot, 6, 48, 26}},
    {"SOT-89", "sot89", "gif", {PackageKind::SmdTab, 3, 46, 30}},
    {"SOT-223", "sot223", "jpeg", {PackageKind::SmdTab, 3, 66, 34}},
    {"TO-252", "to252", "bmp", {PackageKind::SmdTab, 2, 60, 40}},
    {"TO-263", "to263", "gif", {PackageKind::SmdTab, 2, 84, 46}},
    {"TO-126", "to126", "jpeg", {PackageKind::Tab, 3, 40, 52}},
    {"TO-220-5", "to220-5", "bmp", {PackageKind::Tab, 5, 52, 40, true}},
    {"КТ-27", "kt27", "gif", {PackageKind::Tab, 3, 40, 52}},
    {"КТ-28", "kt28", "jpeg", {PackageKind::Tab, 3, 52, 40, true}},
    {"QFP-44", "qfp44", "bmp", {PackageKind::Quad, 44}},
    {"TQFP-32", "tqfp32", "gif", {PackageKind::Quad, 32}},
    {"TQFP-44", "tqfp44", "jpeg", {PackageKind::Quad, 44}},
    {"LQFP-48", "lqfp48", "bmp", {PackageKind::Quad, 48}},
    {"LQFP-64", "lqfp64", "gif", {PackageKind::Quad, 64}},
    {"LQFP-100", "lqfp100", "jpeg", {PackageKind::Quad, 100}},
    {"QFN-16", "qfn16", "bmp", {PackageKind::QuadNoLead, 16}},
    {"QFN-32", "qfn32", "gif", {PackageKind::QuadNoLead, 32}},
    {"0402", "0402", "jpeg", {PackageKind::Chip, 2, 20, 10}},
    {"0603", "0603", "bmp", {PackageKind::Chip, 2, 30, 15}},
    {"1210", "1210", "gif", {PackageKind::Chip, 2, 58, 48}},
    {"2512", "2512", "jpeg", {PackageKind::Chip, 2, 120, 58}},
    {"DO-35", "do35", "bmp", {PackageKind::Axial, 2, 36, 16, false, true}},
    {"DO-201AD", "do201ad", "gif", {PackageKind::Axial, 2, 64, 34}},
    {"SMA", "sma", "jpeg", {PackageKind::MoldedDiode, 2, 54, 32}},
    {"SMB", "smb", "bmp", {PackageKind::MoldedDiode, 2, 60, 42}},
    {"RADIAL-D5", "radial-d5", "gif", {PackageKind::Radial, 2, 34, 56}},
    {"RADIAL-D8", "radial-d8", "jpeg", {PackageKind::Radial, 2, 52, 64}},
};

const CatalogueEntry* findEntry(const QString& name)
{
    for (const CatalogueEntry& entry : kCatalogue) {
        if (QString::fromUtf8(entry.name) == name)
            return &entry;
    }
    return nullptr;
}

QByteArray encode(const QImage& image, const QByteArray& format)
{
    if (format == "gif")
        return encodeGif(image);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    if (format == "jpeg") {
        writer.setQuality(92);
        writer.write(image);
    } else {
        // A palette keeps a bitmap near the size of the other formats' files.
        writer.write(image.convertToFormat(QImage::Format_Indexed8));
    }
    return bytes;
}

PackagePicture makePicture(const CatalogueEntry& entry)
{
    const QString name = QString::fromUtf8(entry.name);
    const QByteArray format(entry.format);
    const QString extension =
        format == "jpeg" ? QStringLiteral("jpg") : QString::fromLatin1(format);
    return {name, QString::fromUtf8(entry.fileStem) + QLatin1Char('.') + extension, format,
            encode(drawOutlinePicture(name, &entry.outline), format)};
}

QList<PackagePicture> makePictures(int count)
{
    QList<PackagePicture> pictures;
    for (int i = 0; i < count; ++i)
        pictures << makePicture(kCatalogue[i]);
    return pictures;
}

} // namespace

QList<PackagePicture> commonPackagePictures()
{
    return makePictures(kCommonCount);
}

QList<PackagePicture> allPackagePictures()
{
    return makePictures(int(std::size(kCatalogue)));
}

QImage drawPackage(const QString& name)
{
    const CatalogueEntry* entry = findEntry(name);
    return drawOutlinePicture(name, entry ? &entry->outline : nullptr);
}

} // namespace tarvik

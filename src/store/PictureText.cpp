#include "store/PictureText.h"

#include <QFile>
#include <QImageReader>

namespace tarvik {
namespace {

// A few hundred pixels is what a package picture needs; a file that claims more than this
// is refused before its pixels are allocated (a tiny BMP can claim gigabytes).
constexpr int kMaxPictureSide = 8192;
constexpr qint64 kMaxPicturePixels = 16'000'000;

} // namespace

QByteArray ReadPictureText(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

bool writePictureFile(const QByteArray& text, const QString& temporaryPath)
{
    QFile file(temporaryPath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const bool written = file.write(text) == text.size();
    file.close();
    return written && file.error() == QFileDevice::NoError;
}

QImage loadPictureFile(const QString& path)
{
    QImageReader reader(path);
    reader.setDecideFormatFromContent(true);
    const QSize size = reader.size();
    if (!size.isValid() || size.width() > kMaxPictureSide || size.height() > kMaxPictureSide
        || qint64(size.width()) * size.height() > kMaxPicturePixels)
        return {};
    return reader.read();
}

QImage ShowPictureText(const QByteArray& text, const QString& temporaryPath)
{
    writePictureFile(text, temporaryPath);
    QImage picture = loadPictureFile(temporaryPath);
    QFile::remove(temporaryPath);
    return picture;
}

} // namespace tarvik

#include "store/PictureText.h"

#include "store/Platform.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QTemporaryFile>

namespace tarvik {

bool PictureLimits::sizeAllowed(const QSize& size)
{
    return size.isValid() && !size.isEmpty() && size.width() <= kMaxSide
           && size.height() <= kMaxSide && qint64(size.width()) * size.height() <= kMaxPixels;
}

namespace {

// A file's header can claim any size (a tiny BMP can claim gigabytes): the claim is checked
// before the pixels are allocated, and Qt's own allocation guard is set to our limits.
void limit(QImageReader& reader)
{
    reader.setAllocationLimit(PictureLimits::kAllocationLimitMiB);
}

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
    // Never opened by name: whatever stands there (a link to the register, say) would be
    // written through. A fresh file of our own is filled, then renamed over the name.
    QTemporaryFile fresh(QFileInfo(temporaryPath).absoluteFilePath() + QStringLiteral(".XXXXXX"));
    if (!fresh.open())
        return false;
    const bool written = fresh.write(text) == text.size() && fresh.flush();
    fresh.close();
    if (!written || fresh.error() != QFileDevice::NoError
        || !platform::replaceFile(fresh.fileName(), temporaryPath, nullptr))
        return false; // the fresh file is removed with `fresh`
    fresh.setAutoRemove(false);
    return true;
}

PictureFile readPictureFile(const QString& path)
{
    PictureFile result;
    const QFileInfo info(path);
    if (!info.exists()) {
        result.problem = PictureProblem::Missing;
        return result;
    }
    // A folder or a pipe is no picture, and reading a pipe could wait for ever.
    if (!info.isFile()) {
        result.problem = PictureProblem::Unreadable;
        return result;
    }
    result.fileSize = info.size();
    if (result.fileSize > PictureLimits::kMaxFileBytes) {
        result.problem = PictureProblem::TooLarge;
        return result;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        result.problem = PictureProblem::Unreadable;
        result.detail = file.errorString();
        return result;
    }
    // At most one byte more than allowed: a file that grew since its size was taken is
    // still refused without being read whole.
    const QByteArray bytes = file.read(PictureLimits::kMaxFileBytes + 1);
    if (file.error() != QFileDevice::NoError) {
        result.problem = PictureProblem::Unreadable;
        result.detail = file.errorString();
        return result;
    }
    if (bytes.size() > PictureLimits::kMaxFileBytes) {
        result.problem = PictureProblem::TooLarge;
        result.fileSize = bytes.size();
        return result;
    }
    result = checkPictureBytes(bytes);
    result.fileSize = bytes.size();
    return result;
}

PictureFile checkPictureBytes(const QByteArray& bytes)
{
    PictureFile result;
    result.bytes = bytes;
    result.fileSize = bytes.size();
    if (bytes.isEmpty())
        return result; // a 0-byte file: no picture, which is allowed

    QBuffer buffer(&result.bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer); // no name, so the format is told by the content
    limit(reader);
    const QByteArray format = reader.format();
    if (format != "bmp" && format != "jpeg" && format != "gif") {
        result.problem = PictureProblem::NotAPicture;
        return result;
    }
    result.size = reader.size();
    if (!result.size.isValid()) {
        result.problem = PictureProblem::NotAPicture;
        return result;
    }
    if (!PictureLimits::sizeAllowed(result.size)) {
        result.problem = PictureProblem::TooManyPixels;
        return result;
    }
    result.image = reader.read();
    if (result.image.isNull()) {
        result.problem = PictureProblem::NotAPicture;
        result.detail = reader.errorString();
    }
    return result;
}

QImage loadPictureFile(const QString& path)
{
    QImageReader reader(path);
    reader.setDecideFormatFromContent(true);
    limit(reader);
    if (!PictureLimits::sizeAllowed(reader.size()))
        return {};
    return reader.read();
}

QImage pictureFromText(const QByteArray& text)
{
    QBuffer buffer;
    buffer.setData(text);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setDecideFormatFromContent(true);
    limit(reader);
    if (!PictureLimits::sizeAllowed(reader.size()))
        return {};
    return reader.read();
}

QImage ShowPictureText(const QByteArray& text, const QString& temporaryPath)
{
    // A folder that cannot be written or a full disk must not cost the user the picture.
    if (!writePictureFile(text, temporaryPath))
        return pictureFromText(text);
    QImage picture = loadPictureFile(temporaryPath);
    QFile::remove(temporaryPath);
    return picture;
}

} // namespace tarvik

#include "store/records/PictureText.h"

#include "store/register/FileKind.h"
#include "store/register/Platform.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QTemporaryFile>
#include <QtEndian>

namespace tarvik {

bool PictureLimits::sizeAllowed(const QSize& size)
{
    return size.isValid() && !size.isEmpty() && size.width() <= kMaxSide &&
           size.height() <= kMaxSide && qint64(size.width()) * size.height() <= kMaxPixels;
}

QSize PictureLimits::fittedWithin(const QSize& natural, const QSize& bound)
{
    if (!bound.isValid() || bound.isEmpty() || !natural.isValid() ||
        (natural.width() <= bound.width() && natural.height() <= bound.height()))
        return natural;
    QSize fitted = natural.scaled(bound, Qt::KeepAspectRatio);
    // A picture a few thousand times wider than high keeps at least one line.
    return fitted.expandedTo(QSize(1, 1));
}

namespace {

// A file's header can claim any size (a 43-byte GIF can claim 10000 x 10000): the claim is
// checked before the pixels are allocated, and Qt's own allocation guard is set to our
// limits. The picture is decoded straight at the size it is shown where the format allows
// (JPEG), and scaled down at once where it does not.
// A GIF's first frame reports its own size, but the decoder allocates the whole "logical
// screen" of the file's header, which a few bytes can make 65535 x 65535: the larger of
// the two is what the picture costs.
QSize claimedSize(QImageReader& reader)
{
    QSize size = reader.size();
    QIODevice* device = reader.device();
    if (reader.format() != "gif" || !device || !device->isOpen() || device->isSequential())
        return size;
    const qint64 at = device->pos();
    QByteArray head;
    if (device->seek(0))
        head = device->read(10);
    device->seek(at);
    if (head.size() < 10)
        return size;
    const QSize screen(qFromLittleEndian<quint16>(head.constData() + 6),
                       qFromLittleEndian<quint16>(head.constData() + 8));
    return size.isValid() ? size.expandedTo(screen) : size;
}

QImage decode(QImageReader& reader, const QSize& bound, QSize* natural = nullptr)
{
    reader.setAllocationLimit(PictureLimits::kAllocationLimitMiB);
    const QSize size = claimedSize(reader);
    if (natural)
        *natural = size;
    if (!PictureLimits::sizeAllowed(size))
        return {};
    const QSize shown = PictureLimits::fittedWithin(size, bound);
    if (shown != size)
        reader.setScaledSize(shown);
    return reader.read();
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
    if (!written || fresh.error() != QFileDevice::NoError ||
        !platform::replaceFile(fresh.fileName(), temporaryPath, nullptr))
        return false; // the fresh file is removed with `fresh`
    fresh.setAutoRemove(false);
    return true;
}

PictureFile readPictureFile(const QString& path, const QSize& bound)
{
    PictureFile result;
    // A folder or a pipe is no picture, and reading a pipe could wait for ever.
    QFile file;
    FileKind kind = FileKind::Missing;
    if (!openRegularFile(file, path, &kind, &result.detail)) {
        result.problem =
            kind == FileKind::Missing ? PictureProblem::Missing : PictureProblem::Unreadable;
        return result;
    }
    result.fileSize = file.size();
    if (result.fileSize > PictureLimits::kMaxFileBytes) {
        result.problem = PictureProblem::TooLarge;
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
    result = checkPictureBytes(bytes, bound);
    result.fileSize = bytes.size();
    return result;
}

PictureFile checkPictureBytes(const QByteArray& bytes, const QSize& bound)
{
    PictureFile result;
    result.bytes = bytes;
    result.fileSize = bytes.size();
    if (bytes.isEmpty())
        return result; // a 0-byte file: no picture, which is allowed

    QBuffer buffer(&result.bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer); // no name, so the format is told by the content
    const QByteArray format = reader.format();
    if (format != "bmp" && format != "jpeg" && format != "gif") {
        result.problem = PictureProblem::NotAPicture;
        return result;
    }
    result.image = decode(reader, bound, &result.size);
    if (!result.size.isValid()) {
        result.problem = PictureProblem::NotAPicture;
        return result;
    }
    if (!PictureLimits::sizeAllowed(result.size)) {
        result.problem = PictureProblem::TooManyPixels;
        return result;
    }
    if (result.image.isNull()) {
        result.problem = PictureProblem::NotAPicture;
        result.detail = reader.errorString();
    }
    return result;
}

QImage loadPictureFile(const QString& path, const QSize& bound)
{
    QImageReader reader(path);
    reader.setDecideFormatFromContent(true);
    return decode(reader, bound);
}

QImage pictureFromText(const QByteArray& text, const QSize& bound)
{
    QBuffer buffer;
    buffer.setData(text);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setDecideFormatFromContent(true);
    return decode(reader, bound);
}

QImage ShowPictureText(const QByteArray& text, const QString& temporaryPath, const QSize& bound)
{
    // A folder that cannot be written or a full disk must not cost the user the picture.
    if (!writePictureFile(text, temporaryPath))
        return pictureFromText(text, bound);
    QImage picture = loadPictureFile(temporaryPath, bound);
    QFile::remove(temporaryPath);
    return picture;
}

} // namespace tarvik

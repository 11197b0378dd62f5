#pragma once

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>

namespace tarvik {

// A package picture is kept as the picture file's own bytes, whatever its format (BMP,
// JPEG, GIF), and shown by way of a temporary file, exactly as a file chosen by the user.

// What a package picture may be. Taking a file in and showing a stored one use the same
// limits, so that every picture the program accepts can also be shown.
namespace PictureLimits {
// Far beyond any photograph of a package, and small enough to read at once.
constexpr qint64 kMaxFileBytes = qint64(32) * 1024 * 1024;
// 100 megapixels decode to at most 400 MB (four bytes a pixel).
constexpr qint64 kMaxPixels = 100'000'000;
// The longest side a window or a pixmap can have on every window system.
constexpr int kMaxSide = 32767;
// Qt's own guard against absurd allocations, in its unit (MiB), raised to fit the above.
constexpr int kAllocationLimitMiB = int((kMaxPixels * 4) / (1024 * 1024)) + 1;

// Whether a picture of this size is within the limits.
bool sizeAllowed(const QSize& size);
} // namespace PictureLimits

// The bytes of the picture file at `path`; empty when it cannot be read. Creates nothing.
QByteArray ReadPictureText(const QString& path);

// Why a file chosen as a package picture was not taken.
enum class PictureProblem {
    None,
    Missing,       // no file at the path
    Unreadable,    // not a plain file, or reading it failed
    TooLarge,      // more than PictureLimits::kMaxFileBytes
    NotAPicture,   // not a BMP, JPEG or GIF that can be decoded
    TooManyPixels, // decodes to more than the limits allow
};

struct PictureFile {
    PictureProblem problem = PictureProblem::None;
    QByteArray bytes; // the file as it is, byte for byte; empty for a 0-byte file
    QImage image;     // the decoded picture; null for a 0-byte file
    qint64 fileSize = 0;
    QSize size;     // as the file claims, also when that is too large
    QString detail; // the system's words when reading failed

    bool ok() const { return problem == PictureProblem::None; }
};

// Reads a file offered as a package picture and checks it by its content: a BMP, JPEG or
// GIF within the limits. A 0-byte file is accepted as "no picture".
PictureFile readPictureFile(const QString& path);

// The same check for bytes already read.
PictureFile checkPictureBytes(const QByteArray& bytes);

// Writes `text` to the temporary file from its first byte, replacing what it held.
// An empty text leaves an empty file. A fresh file is renamed into place, so a link or
// other file planted under that name is replaced, never written through.
bool writePictureFile(const QByteArray& text, const QString& temporaryPath);

// Decodes the picture in the file, telling the format from the content. A null image when
// the bytes are not a picture or claim a size beyond PictureLimits.
QImage loadPictureFile(const QString& path);

// The same decoding straight from the bytes, without a file.
QImage pictureFromText(const QByteArray& text);

// Writes, loads and deletes the temporary file: the picture held in `text`. When the file
// cannot be written the picture is decoded from memory instead.
QImage ShowPictureText(const QByteArray& text, const QString& temporaryPath);

} // namespace tarvik

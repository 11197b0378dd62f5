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
// 16 megapixels decode to at most 64 MB (four bytes a pixel). A few header bytes can claim
// any size, and GIF and BMP are decoded whole before they are scaled down, so this is
// what one picture may cost at most, however it is shown.
constexpr qint64 kMaxPixels = 16'000'000;
// The longest side a window or a pixmap can have on every window system.
constexpr int kMaxSide = 32767;
// Qt's own guard against absurd allocations, in its unit (MiB), raised to fit the above.
constexpr int kAllocationLimitMiB = int((kMaxPixels * 4) / (1024 * 1024)) + 1;

// Whether a picture of this size is within the limits.
bool sizeAllowed(const QSize& size);
// `natural` made small enough to fit within `bound`, keeping its proportions; never made
// larger. An invalid or empty bound leaves it as it is.
QSize fittedWithin(const QSize& natural, const QSize& bound);
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
    QImage image;     // decoded, fitted within the bound asked for; null for a 0-byte file
    qint64 fileSize = 0;
    QSize size;     // as the file claims, also when that is too large
    QString detail; // the system's words when reading failed

    bool ok() const { return problem == PictureProblem::None; }
};

// Reads a file offered as a package picture and checks it by its content: a BMP, JPEG or
// GIF within the limits. A 0-byte file is accepted as "no picture". Only an ordinary file
// is read (a pipe would never end). The picture is decoded to fit within `bound` (at its
// natural size when the bound is invalid).
PictureFile readPictureFile(const QString& path, const QSize& bound = {});

// The same check for bytes already read.
PictureFile checkPictureBytes(const QByteArray& bytes, const QSize& bound = {});

// Writes `text` to the temporary file from its first byte, replacing what it held.
// An empty text leaves an empty file. A fresh file is renamed into place, so a link or
// other file planted under that name is replaced, never written through.
bool writePictureFile(const QByteArray& text, const QString& temporaryPath);

// Decodes the picture in the file, telling the format from the content, at a size that
// fits within `bound` (its natural size when the bound is invalid). A null image when the
// bytes are not a picture or claim a size beyond PictureLimits.
QImage loadPictureFile(const QString& path, const QSize& bound = {});

// The same decoding straight from the bytes, without a file.
QImage pictureFromText(const QByteArray& text, const QSize& bound = {});

// Writes, loads and deletes the temporary file: the picture held in `text`, fitted within
// `bound`. When the file cannot be written the picture is decoded from memory instead.
QImage ShowPictureText(const QByteArray& text, const QString& temporaryPath,
                       const QSize& bound = {});

} // namespace tarvik

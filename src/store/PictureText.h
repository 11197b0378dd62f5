#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

namespace tarvik {

// A package picture is kept as the picture file's own bytes, whatever its format (BMP,
// JPEG, GIF), and shown by way of a temporary file, exactly as a file chosen by the user.

// The bytes of the picture file at `path`; empty when it cannot be read. Creates nothing.
QByteArray ReadPictureText(const QString& path);

// Writes `text` to the temporary file from its first byte, replacing what it held.
// An empty text leaves an empty file.
bool writePictureFile(const QByteArray& text, const QString& temporaryPath);

// Decodes the picture in the file, telling the format from the content. A null image when
// the bytes are not a picture or claim a size beyond what a package picture can need.
QImage loadPictureFile(const QString& path);

// Writes, loads and deletes the temporary file: the picture held in `text`.
QImage ShowPictureText(const QByteArray& text, const QString& temporaryPath);

} // namespace tarvik

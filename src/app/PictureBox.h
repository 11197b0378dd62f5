#pragma once

#include <QByteArray>
#include <QString>

class QLabel;

namespace tarvik {

// Shows a stored package picture in `box` by way of the temporary picture file, which is gone
// afterwards. Empty text, or bytes that are no picture we can decode, leave the box without
// a picture: never the previous type's picture under the new name. Returns whether a
// picture is shown.
bool showStoredPicture(QLabel& box, const QByteArray& pictureText, const QString& temporaryPath);

} // namespace tarvik

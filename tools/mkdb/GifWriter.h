#pragma once

#include <QByteArray>
#include <QImage>

namespace tarvik {

// Qt reads GIF but cannot write it, and the register must hold pictures in every format
// the program accepts. Encodes one still image as GIF89a: an image with more than 256
// colours is first reduced to a palette of at most 256. A fully transparent palette
// entry becomes the GIF's transparent colour. Empty for a null image.
QByteArray encodeGif(const QImage& image);

} // namespace tarvik

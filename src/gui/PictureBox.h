#pragma once

#include <QByteArray>
#include <QSize>
#include <QString>

class QLabel;
class QWidget;

namespace tarvik {

// Shows a stored package picture in `box` by way of the temporary picture file, which is gone
// afterwards. Empty text, or bytes that are no picture we can decode, leave the box without
// a picture: never the previous type's picture under the new name. Returns whether a
// picture is shown. The picture is decoded no larger than pictureBoundFor(box).
bool showStoredPicture(QLabel& box, const QByteArray& pictureText, const QString& temporaryPath);

// The largest a picture shown from `widget` ever appears: the box stretches it, and its
// enlargement (Form25, picView1) takes it at natural size fitted within the screen. So
// that is the size it is decoded at, and no picture holds more pixels than the screen.
QSize pictureBoundFor(const QWidget& widget);

} // namespace tarvik

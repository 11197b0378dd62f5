#include "gui/PictureBox.h"

#include "store/records/PictureText.h"

#include <QGuiApplication>
#include <QLabel>
#include <QPixmap>
#include <QScreen>

namespace tarvik {

QSize pictureBoundFor(const QWidget& widget)
{
    const QScreen* screen = widget.screen();
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry().size() : QSize();
}

bool showStoredPicture(QLabel& box, const QByteArray& pictureText, const QString& temporaryPath)
{
    const QImage image = ShowPictureText(pictureText, temporaryPath, pictureBoundFor(box));
    if (image.isNull()) {
        box.clear();
        return false;
    }
    box.setPixmap(QPixmap::fromImage(image));
    return true;
}

} // namespace tarvik

#include "app/PictureBox.h"

#include "store/PictureText.h"

#include <QLabel>
#include <QPixmap>

namespace tarvik {

bool showStoredPicture(QLabel& box, const QByteArray& pictureText, const QString& temporaryPath)
{
    const QImage image = ShowPictureText(pictureText, temporaryPath);
    if (image.isNull()) {
        box.clear();
        return false;
    }
    box.setPixmap(QPixmap::fromImage(image));
    return true;
}

} // namespace tarvik

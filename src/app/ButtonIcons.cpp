#include "app/ButtonIcons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <functional>

namespace tarvik::ButtonIcons {
namespace {

constexpr int kSide = 32;

QIcon draw(const std::function<void(QPainter&)>& paint)
{
    QPixmap pixmap(kSide, kSide);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    // A sheet of paper, the part's card, under every mark.
    painter.setPen(QPen(QColor(90, 90, 90), 1.5));
    painter.setBrush(QColor(250, 250, 240));
    painter.drawRect(QRectF(5.5, 3.5, 18, 24));
    painter.setPen(QPen(QColor(160, 160, 160), 1));
    for (int y = 9; y <= 21; y += 4)
        painter.drawLine(QPointF(9, y), QPointF(20, y));
    paint(painter);
    return QIcon(pixmap);
}

} // namespace

QIcon newPart()
{
    return draw([](QPainter& p) {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(30, 140, 40));
        p.drawEllipse(QRectF(16, 16, 14, 14));
        p.setPen(QPen(Qt::white, 2.5));
        p.drawLine(QPointF(23, 19), QPointF(23, 27));
        p.drawLine(QPointF(19, 23), QPointF(27, 23));
    });
}

QIcon editPart()
{
    return draw([](QPainter& p) {
        QPainterPath pencil;
        pencil.moveTo(14, 29);
        pencil.lineTo(16, 23);
        pencil.lineTo(27, 12);
        pencil.lineTo(31, 16);
        pencil.lineTo(20, 27);
        pencil.closeSubpath();
        p.setPen(QPen(QColor(120, 70, 0), 1.2));
        p.setBrush(QColor(240, 180, 40));
        p.drawPath(pencil);
    });
}

QIcon deletePart()
{
    return draw([](QPainter& p) {
        p.setPen(QPen(QColor(200, 30, 30), 3.5, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(17, 17), QPointF(29, 29));
        p.drawLine(QPointF(29, 17), QPointF(17, 29));
    });
}

} // namespace tarvik::ButtonIcons

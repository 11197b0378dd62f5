#include "mkdb/PackageOutlines.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace tarvik {
namespace {

constexpr int kPictureWidth = 160;
constexpr int kPictureHeight = 120;
const QRectF kDrawingArea(6, 6, 148, 90);
const QRectF kLabelArea(0, 98, kPictureWidth, 20);

const QColor kBackgroundTop(0xfb, 0xfb, 0xf8);
const QColor kBackgroundBottom(0xdf, 0xe4, 0xea);
const QColor kPlasticLight(0x52, 0x52, 0x55);
const QColor kPlasticDark(0x1a, 0x1a, 0x1c);
const QColor kMetalLight(0xf2, 0xf2, 0xf0);
const QColor kMetalDark(0x9a, 0x9c, 0xa0);
const QColor kMark(0xb8, 0xb8, 0xbc);
const QColor kInk(0x20, 0x20, 0x24);

QFont labelFont(int pixelSize, bool bold)
{
    QFont font;
    font.setFamilies({QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")});
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    return font;
}

QBrush shaded(const QRectF& rect, const QColor& light, const QColor& dark, bool vertical = true)
{
    QLinearGradient gradient(rect.topLeft(), vertical ? rect.bottomLeft() : rect.topRight());
    gradient.setColorAt(0, light);
    gradient.setColorAt(1, dark);
    return gradient;
}

void fillPlastic(QPainter& p, const QRectF& rect, double radius = 2)
{
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(shaded(rect, kPlasticLight, kPlasticDark));
    p.drawRoundedRect(rect, radius, radius);
}

void fillMetal(QPainter& p, const QRectF& rect, bool vertical = false)
{
    p.setPen(QPen(kMetalDark.darker(140), 0.8));
    p.setBrush(shaded(rect, kMetalLight, kMetalDark, vertical));
    p.drawRect(rect);
}

void drawPinOneDot(QPainter& p, const QPointF& centre, double radius)
{
    p.setPen(Qt::NoPen);
    p.setBrush(kMark);
    p.drawEllipse(centre, radius, radius);
}

void drawPinNumber(QPainter& p, const QPointF& centre, const QString& text = QStringLiteral("1"))
{
    p.setPen(kInk);
    p.setFont(labelFont(10, false));
    p.drawText(QRectF(centre.x() - 8, centre.y() - 7, 16, 14), Qt::AlignCenter, text);
}

QRectF centred(double width, double height)
{
    QRectF rect(0, 0, width, height);
    rect.moveCenter(kDrawingArea.center());
    return rect;
}

// Leads along the top and bottom edges, pin 1 at the bottom left as a top view shows it.
void drawTwoRows(QPainter& p, const QRectF& body, int perSide, double pitch, double leadWidth,
                 double leadLength)
{
    const double first = body.center().x() - pitch * (perSide - 1) / 2.0;
    for (int i = 0; i < perSide; ++i) {
        const double x = first + pitch * i - leadWidth / 2;
        fillMetal(p, QRectF(x, body.bottom(), leadWidth, leadLength));
        fillMetal(p, QRectF(x, body.top() - leadLength, leadWidth, leadLength));
    }
}

void drawDualInline(QPainter& p, const Outline& o)
{
    const int perSide = o.pins / 2;
    const double pitch = std::min(15.0, (kDrawingArea.width() - 8) / perSide);
    const QRectF body = centred(pitch * perSide + 6, o.height);
    drawTwoRows(p, body, perSide, pitch, pitch * 0.5, 9);
    fillPlastic(p, body);
    const double notch = std::min(7.0, o.height / 4);
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(kPlasticDark.lighter(60));
    p.drawPie(QRectF(body.left() - notch, body.center().y() - notch, 2 * notch, 2 * notch),
              -90 * 16, 180 * 16);
    drawPinOneDot(p, {body.left() + pitch * 0.8, body.bottom() - 6}, 2.5);
}

void drawSmallOutline(QPainter& p, const Outline& o)
{
    const int perSide = o.pins / 2;
    const double pitch = std::min(11.0, (kDrawingArea.width() - 10) / perSide);
    const QRectF body = centred(pitch * perSide + 4, o.height);
    drawTwoRows(p, body, perSide, pitch, std::max(1.5, pitch * 0.4), 10);
    fillPlastic(p, body, 1);
    // The moulded bevel along the pin-1 side.
    p.setPen(QPen(kPlasticLight.lighter(150), 1));
    p.drawLine(QPointF(body.left() + 1, body.bottom() - o.height * 0.28),
               QPointF(body.right() - 1, body.bottom() - o.height * 0.28));
    drawPinOneDot(p, {body.left() + 5, body.bottom() - o.height * 0.55}, 2);
}

void drawQuad(QPainter& p, const Outline& o, bool leadless)
{
    const int perSide = o.pins / 4;
    const double leadLength = leadless ? 0 : 9;
    const double pitch = std::min(9.0, (kDrawingArea.height() - 2 * leadLength - 8) / perSide);
    const double side = pitch * perSide + 6;
    const QRectF body = centred(side, side);
    const double leadWidth = std::max(1.2, pitch * 0.45);
    const double first = -pitch * (perSide - 1) / 2.0;
    const QPointF c = body.center();
    if (leadless) {
        fillPlastic(p, body, 1);
        const double pad = 4;
        for (int i = 0; i < perSide; ++i) {
            const double offset = first + pitch * i - leadWidth / 2;
            fillMetal(p, QRectF(c.x() + offset, body.bottom() - pad, leadWidth, pad));
            fillMetal(p, QRectF(c.x() + offset, body.top(), leadWidth, pad));
            fillMetal(p, QRectF(body.left(), c.y() + offset, pad, leadWidth), true);
            fillMetal(p, QRectF(body.right() - pad, c.y() + offset, pad, leadWidth), true);
        }
    } else {
        for (int i = 0; i < perSide; ++i) {
            const double offset = first + pitch * i - leadWidth / 2;
            fillMetal(p, QRectF(c.x() + offset, body.bottom(), leadWidth, leadLength));
            fillMetal(p, QRectF(c.x() + offset, body.top() - leadLength, leadWidth, leadLength));
            fillMetal(p, QRectF(body.left() - leadLength, c.y() + offset, leadLength, leadWidth),
                      true);
            fillMetal(p, QRectF(body.right(), c.y() + offset, leadLength, leadWidth), true);
        }
        QPainterPath chamfered;
        const double cut = side * 0.12;
        chamfered.moveTo(body.left() + cut, body.top());
        chamfered.lineTo(body.topRight());
        chamfered.lineTo(body.bottomRight());
        chamfered.lineTo(body.bottomLeft());
        chamfered.lineTo(body.left(), body.top() + cut);
        chamfered.closeSubpath();
        p.setPen(QPen(Qt::black, 1));
        p.setBrush(shaded(body, kPlasticLight, kPlasticDark));
        p.drawPath(chamfered);
    }
    drawPinOneDot(p, body.topLeft() + QPointF(side * 0.2, side * 0.2), std::max(2.0, side / 18));
}

// Leads spread evenly along one edge of the body.
void drawLeadRow(QPainter& p, const QRectF& body, int count, double leadWidth, double leadLength,
                 bool below)
{
    for (int i = 0; i < count; ++i) {
        const double x = body.left() + body.width() * (i + 0.5) / count - leadWidth / 2;
        const double y = below ? body.bottom() : body.top() - leadLength;
        fillMetal(p, QRectF(x, y, leadWidth, leadLength));
    }
}

void drawSot(QPainter& p, const Outline& o)
{
    const QRectF body = centred(o.width, o.height);
    const int below = (o.pins + 1) / 2;
    drawLeadRow(p, body, below, 8, 14, true);
    drawLeadRow(p, body, o.pins - below, 8, 14, false);
    fillPlastic(p, body, 1);
    drawPinOneDot(p, {body.left() + 6, body.bottom() - 6}, 2.5);
    drawPinNumber(p, {body.left() + body.width() / (2.0 * below), body.bottom() + 22});
}

void drawSmdTab(QPainter& p, const Outline& o)
{
    const QRectF body = centred(o.width, o.height).translated(0, 6);
    const double leadWidth = std::max(6.0, o.width / 9);
    if (o.pins == 2) {
        // The middle lead is cut short: the tab takes its place.
        const double pitch = o.width * 0.36;
        for (double dx : {-pitch, pitch})
            fillMetal(p,
                      QRectF(body.center().x() + dx - leadWidth / 2, body.bottom(), leadWidth, 14));
        fillMetal(p, QRectF(body.center().x() - leadWidth / 2, body.bottom(), leadWidth, 3));
    } else {
        drawLeadRow(p, body, o.pins, leadWidth, 14, true);
    }
    const QRectF tab(body.left() + o.width * 0.15, body.top() - 16, o.width * 0.7, 18);
    fillMetal(p, tab, true);
    fillPlastic(p, body, 1);
    drawPinOneDot(p, {body.left() + 6, body.bottom() - 6}, 2.5);
    drawPinNumber(p, {body.left() + (o.pins == 2 ? o.width * 0.14 : o.width / (2.0 * o.pins)),
                      body.bottom() + 21});
}

void drawLegs(QPainter& p, const QRectF& body, int count, double pitch, double bottom)
{
    const double first = body.center().x() - pitch * (count - 1) / 2.0;
    for (int i = 0; i < count; ++i)
        fillMetal(p, QRectF(first + pitch * i - 2, body.bottom(), 4, bottom - body.bottom()));
    drawPinNumber(p, {first - 8, bottom - 8});
}

void drawHole(QPainter& p, const QPointF& centre, double radius, const QColor& rim)
{
    p.setPen(QPen(rim, 1.5));
    p.setBrush(kBackgroundBottom);
    p.drawEllipse(centre, radius, radius);
}

void drawTab(QPainter& p, const Outline& o)
{
    const double legBottom = kDrawingArea.bottom();
    const double legLength = 26;
    const double tabHeight = o.metalTab ? 22 : 0;
    QRectF body(0, 0, o.width, o.height);
    body.moveBottom(legBottom - legLength);
    body.moveLeft(kDrawingArea.center().x() - o.width / 2);
    const double pitch = std::min(16.0, (o.width - 10) / (o.pins - 1));
    drawLegs(p, body, o.pins, pitch, legBottom);
    if (o.metalTab) {
        const QRectF tab(body.left() + 1, body.top() - tabHeight, body.width() - 2, tabHeight + 2);
        fillMetal(p, tab);
        drawHole(p, {tab.center().x(), tab.top() + tabHeight / 2}, 5.5, kMetalDark.darker(130));
    }
    fillPlastic(p, body, 1);
    if (!o.metalTab)
        drawHole(p, {body.center().x(), body.top() + o.height * 0.3}, o.width / 10, Qt::black);
}

void drawTo92(QPainter& p, const Outline& o)
{
    const double legBottom = kDrawingArea.bottom();
    QRectF body(0, 0, 40, 36);
    body.moveBottom(legBottom - 34);
    body.moveLeft(kDrawingArea.center().x() - 20);
    drawLegs(p, body, o.pins, 12, legBottom);
    QPainterPath shape; // the flat face, its top rounded where the body is a half cylinder
    shape.moveTo(body.bottomLeft());
    shape.lineTo(body.left(), body.top() + 10);
    shape.quadTo(body.left(), body.top(), body.left() + 10, body.top());
    shape.lineTo(body.right() - 10, body.top());
    shape.quadTo(body.right(), body.top(), body.right(), body.top() + 10);
    shape.lineTo(body.bottomRight());
    shape.closeSubpath();
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(shaded(body, kPlasticLight, kPlasticDark, false));
    p.drawPath(shape);
}

void drawChip(QPainter& p, const Outline& o)
{
    const QRectF body = centred(o.width, o.height);
    const double cap = o.width * 0.2;
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(shaded(body, QColor(0x3a, 0x3a, 0x3a), QColor(0x10, 0x10, 0x10)));
    p.drawRect(body);
    fillMetal(p, QRectF(body.left(), body.top(), cap, body.height()), true);
    fillMetal(p, QRectF(body.right() - cap, body.top(), cap, body.height()), true);
    if (o.width >= 38) {
        p.setPen(Qt::white);
        p.setFont(labelFont(int(std::min(14.0, o.height * 0.5)), false));
        p.drawText(body.adjusted(cap, 0, -cap, 0), Qt::AlignCenter, QStringLiteral("103"));
    }
    drawPinNumber(p, {body.left() + cap / 2, body.bottom() + 9});
}

void drawMoldedDiode(QPainter& p, const Outline& o)
{
    const QRectF body = centred(o.width, o.height);
    const double lead = 8;
    fillMetal(p, QRectF(body.left() - lead, body.center().y() - o.height * 0.3, lead + 2,
                        o.height * 0.6));
    fillMetal(
        p, QRectF(body.right() - 2, body.center().y() - o.height * 0.3, lead + 2, o.height * 0.6));
    fillPlastic(p, body, 2);
    p.setPen(Qt::NoPen);
    p.setBrush(kMark);
    p.drawRect(QRectF(body.left() + o.width * 0.12, body.top() + 1, o.width * 0.1, o.height - 2));
}

void drawAxial(QPainter& p, const Outline& o)
{
    const QRectF body = centred(o.width, o.height);
    fillMetal(p, QRectF(kDrawingArea.left(), body.center().y() - 1.5, kDrawingArea.width(), 3),
              true);
    const QColor light = o.glass ? QColor(0xf0, 0xa8, 0x60) : kPlasticLight;
    const QColor dark = o.glass ? QColor(0xc0, 0x60, 0x20) : kPlasticDark;
    p.setPen(QPen(dark.darker(150), 1));
    p.setBrush(shaded(body, light, dark));
    p.drawRoundedRect(body, o.height / 2.5, o.height / 2.5);
    if (o.glass) {
        p.setBrush(kPlasticDark);
        p.drawRect(QRectF(body.center().x() - 4, body.center().y() - 3, 8, 6));
    }
    // The cathode band.
    p.setPen(Qt::NoPen);
    p.setBrush(o.glass ? kPlasticDark : kMark);
    p.drawRect(QRectF(body.right() - o.width * 0.24, body.top() + 1, o.width * 0.1, o.height - 2));
}

void drawRadial(QPainter& p, const Outline& o)
{
    const double legBottom = kDrawingArea.bottom();
    QRectF body(0, 0, o.width, o.height);
    body.moveBottom(legBottom - 20);
    body.moveLeft(kDrawingArea.center().x() - o.width / 2);
    const double pitch = o.width * 0.45;
    for (double dx : {-pitch / 2, pitch / 2})
        fillMetal(
            p, QRectF(body.center().x() + dx - 1.5, body.bottom(), 3, legBottom - body.bottom()));
    p.setPen(QPen(QColor(0x10, 0x20, 0x50), 1));
    p.setBrush(shaded(body, QColor(0x40, 0x60, 0xc0), QColor(0x18, 0x28, 0x70), false));
    p.drawRoundedRect(body, 4, 4);
    // The stripe printed over the negative lead.
    const QRectF stripe(body.right() - o.width * 0.3, body.top() + 1, o.width * 0.22,
                        body.height() - 2);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xc8, 0xcc, 0xd8));
    p.drawRect(stripe);
    p.setPen(QPen(QColor(0x18, 0x28, 0x70), 2));
    for (double y = stripe.top() + 8; y < stripe.bottom() - 4; y += 12)
        p.drawLine(QPointF(stripe.left() + 2, y), QPointF(stripe.right() - 2, y));
    drawPinNumber(p, {body.center().x() - pitch / 2 - 8, legBottom - 8}, QStringLiteral("+"));
}

void drawUnknown(QPainter& p)
{
    fillPlastic(p, centred(60, 40), 3);
}

void drawOutline(QPainter& p, const Outline& o)
{
    switch (o.kind) {
    case PackageKind::DualInline:
        return drawDualInline(p, o);
    case PackageKind::SmallOutline:
        return drawSmallOutline(p, o);
    case PackageKind::Quad:
        return drawQuad(p, o, false);
    case PackageKind::QuadNoLead:
        return drawQuad(p, o, true);
    case PackageKind::Sot:
        return drawSot(p, o);
    case PackageKind::SmdTab:
        return drawSmdTab(p, o);
    case PackageKind::Tab:
        return drawTab(p, o);
    case PackageKind::To92:
        return drawTo92(p, o);
    case PackageKind::Chip:
        return drawChip(p, o);
    case PackageKind::MoldedDiode:
        return drawMoldedDiode(p, o);
    case PackageKind::Axial:
        return drawAxial(p, o);
    case PackageKind::Radial:
        return drawRadial(p, o);
    }
}

} // namespace

QImage drawOutlinePicture(const QString& label, const Outline* outline)
{
    QImage image(kPictureWidth, kPictureHeight, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.fillRect(image.rect(), shaded(image.rect(), kBackgroundTop, kBackgroundBottom));
    if (outline)
        drawOutline(p, *outline);
    else
        drawUnknown(p);
    p.setPen(kInk);
    p.setFont(labelFont(14, true));
    p.drawText(kLabelArea, Qt::AlignCenter, label);
    p.end();
    return image;
}

} // namespace tarvik

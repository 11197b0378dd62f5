#include "packages/PictureWindows.h"

#include "app/ClickSignal.h"

#include <QGuiApplication>
#include <QLabel>
#include <QScreen>

namespace tarvik {
namespace {

// The middle of a rectangle as the window placed on it measures it: half its size from its
// corner (QRect::center() rounds the other way for even sizes).
QPoint middle(const QRect& r)
{
    return r.topLeft() + QPoint(r.width() / 2, r.height() / 2);
}

} // namespace

PictureWindow::PictureWindow(const QPixmap& picture, QWidget* owner)
    : QDialog(owner, Qt::Tool | Qt::FramelessWindowHint),
      m_image1(new QLabel(this))
{
    m_image1->setObjectName(QStringLiteral("Image1"));
    m_image1->setAccessibleName(QStringLiteral("Рисунок корпуса"));
    m_image1->setAccessibleDescription(QStringLiteral("Щелчок закрывает окно"));
    m_image1->setScaledContents(false);
    m_image1->setPixmap(picture);
    m_image1->move(0, 0);
    // Without a picture the window is a small empty square that still closes on a click.
    const QSize size = picture.isNull() ? QSize(32, 32) : picture.deviceIndependentSize().toSize();
    m_image1->setFixedSize(size);
    setFixedSize(size);
    setContentsMargins(0, 0, 0, 0);
    connect(ClickSignal::of(m_image1), &ClickSignal::clicked, this, &QDialog::accept);
}

void PictureWindow::centreOn(const QPoint& centre)
{
    move(centre - QPoint(width() / 2, height() / 2));
}

Form25::Form25(const QPixmap& picture, QWidget* owner)
    : PictureWindow(picture, owner)
{
    setObjectName(QStringLiteral("Form25"));
    this->picture()->setToolTip(QStringLiteral("Уменьшить..."));
    const QScreen* screen = owner ? owner->screen() : QGuiApplication::primaryScreen();
    if (screen)
        centreOn(middle(screen->geometry()));
}

picView1::picView1(const QPixmap& picture, QWidget* owner)
    : PictureWindow(picture, owner)
{
    setObjectName(QStringLiteral("picView1"));
    if (owner)
        centreOn(middle(owner->frameGeometry()));
}

} // namespace tarvik

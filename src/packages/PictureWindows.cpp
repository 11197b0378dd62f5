#include "packages/PictureWindows.h"

#include "app/ClickSignal.h"

#include <QGuiApplication>
#include <QLabel>
#include <QScreen>

namespace tarvik {

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
        centreOn(screen->geometry().center());
}

picView1::picView1(const QPixmap& picture, QWidget* owner)
    : PictureWindow(picture, owner)
{
    setObjectName(QStringLiteral("picView1"));
    if (owner)
        centreOn(owner->frameGeometry().center());
}

} // namespace tarvik

#include "packages/PictureWindows.h"

#include "gui/ClickSignal.h"
#include "store/records/PictureText.h"

#include <QGuiApplication>
#include <QKeyEvent>
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

const QScreen* screenOf(const QWidget* owner)
{
    const QScreen* screen = owner ? owner->screen() : nullptr;
    return screen ? screen : QGuiApplication::primaryScreen();
}

// Natural size, unless that is larger than the screen: a window larger than the screen
// could not be closed where its picture is out of sight.
QPixmap fittedToScreen(const QPixmap& picture, const QWidget* owner)
{
    const QScreen* screen = screenOf(owner);
    if (picture.isNull() || !screen)
        return picture;
    const QSize natural = picture.deviceIndependentSize().toSize();
    const QSize fitted = PictureLimits::fittedWithin(natural, screen->availableGeometry().size());
    if (fitted == natural)
        return picture;
    QPixmap scaled = picture.scaled(fitted * picture.devicePixelRatio(), Qt::IgnoreAspectRatio,
                                    Qt::SmoothTransformation);
    scaled.setDevicePixelRatio(picture.devicePixelRatio());
    return scaled;
}

} // namespace

PictureWindow::PictureWindow(const QPixmap& shown, const QString& typeName, QWidget* owner)
    : QDialog(owner, Qt::Tool | Qt::FramelessWindowHint),
      m_image1(new QLabel(this))
{
    const QPixmap picture = fittedToScreen(shown, owner);
    // The window has no title bar to read: its name says whose picture it is.
    const QString name = typeName.isEmpty() ? QStringLiteral("Рисунок корпуса") : typeName;
    setWindowTitle(name);
    setAccessibleName(name);
    setAccessibleDescription(QStringLiteral("Рисунок корпуса в натуральную величину"));
    m_image1->setObjectName(QStringLiteral("Image1"));
    m_image1->setAccessibleName(QStringLiteral("Рисунок корпуса"));
    m_image1->setAccessibleDescription(QStringLiteral("Щелчок, Escape или Enter закрывает окно"));
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

void PictureWindow::keyPressEvent(QKeyEvent* event)
{
    // Escape already closes a dialog; Enter closes it too, there being no button to press.
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void PictureWindow::centreOn(const QPoint& centre)
{
    QRect placed(centre - QPoint(width() / 2, height() / 2), size());
    // Over an owner near the screen's edge, the window is kept wholly on the screen.
    if (const QScreen* screen = screenOf(parentWidget())) {
        const QRect area = screen->availableGeometry();
        placed.moveRight(qMin(placed.right(), area.right()));
        placed.moveBottom(qMin(placed.bottom(), area.bottom()));
        placed.moveLeft(qMax(placed.left(), area.left()));
        placed.moveTop(qMax(placed.top(), area.top()));
    }
    move(placed.topLeft());
}

Form25::Form25(const QPixmap& picture, const QString& typeName, QWidget* owner)
    : PictureWindow(picture, typeName, owner)
{
    setObjectName(QStringLiteral("Form25"));
    this->picture()->setToolTip(QStringLiteral("Уменьшить..."));
    const QScreen* screen = owner ? owner->screen() : QGuiApplication::primaryScreen();
    if (screen)
        centreOn(middle(screen->geometry()));
}

picView1::picView1(const QPixmap& picture, const QString& typeName, QWidget* owner)
    : PictureWindow(picture, typeName, owner)
{
    setObjectName(QStringLiteral("picView1"));
    if (owner)
        centreOn(middle(owner->frameGeometry()));
}

} // namespace tarvik

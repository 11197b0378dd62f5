#include "gui/FontScale.h"

#include <QGroupBox>
#include <QWidget>

namespace tarvik {
namespace {

QRect scaled(const QRect& r, double factor)
{
    const QPoint topLeft(qRound(r.left() * factor), qRound(r.top() * factor));
    const QPoint bottomRight(qRound((r.right() + 1) * factor), qRound((r.bottom() + 1) * factor));
    return QRect(topLeft, bottomRight - QPoint(1, 1));
}

// The controls the window placed itself; the parts Qt's own widgets are built of (named
// qt_… or not at all) follow their owner.
void scaleChildren(QWidget& parent, double factor)
{
    for (QObject* object : parent.children()) {
        auto* widget = qobject_cast<QWidget*>(object);
        if (!widget || widget->isWindow() || widget->objectName().isEmpty() ||
            widget->objectName().startsWith(QLatin1String("qt_")))
            continue;
        widget->setGeometry(scaled(widget->geometry(), factor));
        if (qobject_cast<QGroupBox*>(widget) || widget->metaObject() == &QWidget::staticMetaObject)
            scaleChildren(*widget, factor);
    }
}

} // namespace

void placesFollowFontSize(QWidget& container)
{
    const double factor = container.logicalDpiY() / 96.0;
    if (factor <= 1.0)
        return; // smaller fonts fit the spots as they are
    scaleChildren(container, factor);
    container.resize(qRound(container.width() * factor), qRound(container.height() * factor));
}

} // namespace tarvik

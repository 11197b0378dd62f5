#include "gui/ClickSignal.h"

#include <QMouseEvent>
#include <QWidget>

namespace tarvik {

ClickSignal::ClickSignal(QWidget* widget) : QObject(widget)
{
    widget->installEventFilter(this);
}

ClickSignal* ClickSignal::of(QWidget* widget)
{
    if (auto* existing = widget->findChild<ClickSignal*>(QString(), Qt::FindDirectChildrenOnly))
        return existing;
    return new ClickSignal(widget);
}

bool ClickSignal::eventFilter(QObject* watched, QEvent* event)
{
    auto* widget = static_cast<QWidget*>(watched);
    switch (event->type()) {
    case QEvent::MouseButtonPress:
        if (static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton)
            m_pressed = true;
        break;
    case QEvent::MouseButtonRelease:
        if (static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton && m_pressed) {
            m_pressed = false;
            // Released outside the widget: the user changed their mind, as with a button.
            if (widget->rect().contains(static_cast<QMouseEvent*>(event)->position().toPoint()))
                emit clicked();
        }
        break;
    case QEvent::Hide:
        m_pressed = false;
        break;
    default:
        break;
    }
    return false;
}

} // namespace tarvik

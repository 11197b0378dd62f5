#include "gui/ClickSignal.h"

#include <QKeyEvent>
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
    case QEvent::KeyPress: {
        // A widget that takes the focus is pressed from the keyboard as a button is.
        const auto* key = static_cast<QKeyEvent*>(event);
        const bool press = key->key() == Qt::Key_Space || key->key() == Qt::Key_Return ||
                           key->key() == Qt::Key_Enter;
        if (!press || !widget->hasFocus() ||
            (key->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier)
            break;
        if (!key->isAutoRepeat())
            emit clicked();
        return true;
    }
    case QEvent::Hide:
        m_pressed = false;
        break;
    default:
        break;
    }
    return false;
}

} // namespace tarvik

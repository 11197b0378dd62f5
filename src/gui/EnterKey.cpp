#include "gui/EnterKey.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QPushButton>
#include <QToolButton>

namespace tarvik {

EnterPressesButtons::EnterPressesButtons(QObject* parent) : QObject(parent)
{
    setObjectName(QStringLiteral("enterPressesButtons"));
}

void EnterPressesButtons::installOn(QCoreApplication& app)
{
    if (app.findChild<EnterPressesButtons*>(QString(), Qt::FindDirectChildrenOnly))
        return;
    app.installEventFilter(new EnterPressesButtons(&app));
}

bool EnterPressesButtons::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::KeyPress)
        return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter)
        return false;
    // Ctrl+Enter and the like keep whatever meaning the window gives them.
    if ((key->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier)
        return false;
    // Only a push or tool button; a check box or a list keeps its own use of Enter.
    auto* button = qobject_cast<QAbstractButton*>(watched);
    if (!button || !(qobject_cast<QPushButton*>(button) || qobject_cast<QToolButton*>(button)))
        return false;
    if (!button->hasFocus() || !button->isEnabled() || !button->isVisible())
        return false;
    // A held key presses once, as a held Space does.
    if (!key->isAutoRepeat())
        button->click();
    return true;
}

} // namespace tarvik

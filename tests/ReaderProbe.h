#pragma once

// What a screen reader is given of a widget's items, read through the accessibility interface
// as the reader's bridge reads it.
#include <QAccessible>
#include <QStringList>
#include <QWidget>

namespace tarvik::test {

// The names of the widget's accessible children, in the order a reader walks them.
inline QStringList heardItems(QWidget* widget)
{
    QStringList names;
    QAccessibleInterface* shown = QAccessible::queryAccessibleInterface(widget);
    for (int i = 0; shown && i < shown->childCount(); ++i)
        if (QAccessibleInterface* item = shown->child(i))
            names << item->text(QAccessible::Name);
    return names;
}

} // namespace tarvik::test

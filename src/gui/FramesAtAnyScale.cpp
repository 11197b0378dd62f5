#include "gui/FramesAtAnyScale.h"

#include <QPlainTextEdit>

namespace tarvik {

void keepTextFramesWhole(QWidget& container)
{
    for (QPlainTextEdit* box : container.findChildren<QPlainTextEdit*>()) {
        box->viewport()->setAutoFillBackground(false);
        box->setBackgroundRole(QPalette::Base);
        box->setAutoFillBackground(true);
    }
}

} // namespace tarvik

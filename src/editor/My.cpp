#include "editor/My.h"

#include <QCoreApplication>

namespace tarvik::My {

QString MakeKont(const QString& name)
{
    return MakeKont(name, clockSeededRandom());
}

QString MakeKont(const QString& name, const RandomSource& next)
{
    // Called from the save button: let pending paint and input events
    // through once before the record is written.
    if (QCoreApplication::instance())
        QCoreApplication::processEvents();
    return kontKey(name, next);
}

} // namespace tarvik::My

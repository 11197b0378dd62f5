#pragma once

#include <QIcon>

namespace tarvik::ButtonIcons {

// Pictures of the three part buttons, drawn rather than shipped so they stay sharp.
QIcon newPart();
QIcon editPart();
QIcon deletePart();

} // namespace tarvik::ButtonIcons

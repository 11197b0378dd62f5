#pragma once

class QWidget;

namespace tarvik {

// The windows place their controls at fixed spots measured for fonts drawn at 96 dpi. Where
// fonts are drawn larger while the rest of the interface is not scaled (a large-font setting,
// QT_FONT_DPI without high-dpi scaling), the spots and sizes grow in the same proportion, as
// a form measured in twips does, so no caption is cut. At 96 dpi, and under Qt's own scaling
// (QT_SCALE_FACTOR, which keeps 96 logical dpi), nothing moves. Call before fixing the size.
void placesFollowFontSize(QWidget& container);

} // namespace tarvik

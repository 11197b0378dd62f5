#pragma once

class QWidget;

namespace tarvik {

// At a fractional scale (QT_SCALE_FACTOR=1.5) the white area of a text box is rounded outward
// to whole pixels and covers the bottom line of the box's frame. The box's own background is
// painted under its frame instead, which its white area then leaves alone; at whole scales
// nothing changes. Applies to every multi-line text box in `container`.
void keepTextFramesWhole(QWidget& container);

} // namespace tarvik

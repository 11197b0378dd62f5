#pragma once

#include <functional>

namespace tarvik {

// Ends the program at once: no exit question, no window's closing code. The event loop
// returns and the windows are destroyed as the stack unwinds. Tests put a stand-in in its
// place to see that the program would have ended.
class ProgramEnd {
public:
    static void now();

    // Test seam: `standIn` runs instead of ending the program; an empty one restores it.
    static void setStandIn(std::function<void()> standIn);
};

} // namespace tarvik

#pragma once

#include "store/register/ProgramPaths.h"

class QWidget;

namespace tarvik {

// The help command: the HTML Help viewer on the help file beside the program, not waited for.
// Only a missing viewer is reported; a missing help file is the viewer's to say.
void showHelp(QWidget* parent, const ProgramPaths& paths);

} // namespace tarvik

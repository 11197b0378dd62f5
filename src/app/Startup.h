#pragma once

#include "store/register/ProgramPaths.h"

class QApplication;

namespace tarvik {

// Application-wide settings every window relies on: the Arial face (or a metric-compatible
// one where Arial is not installed), Russian for Qt's own texts, Enter on buttons.
void prepareApplication(QApplication& app);

// Runs the program on the register beside `program` or, when there is none and none can be
// kept there, in the user's data folder; returns the exit code. A second copy says so and
// ends without touching the database.
int runProgram(QApplication& app, const ProgramPaths& program);

// The single-copy notice.
void showAlreadyRunning();
// Something that is no lock file (a folder, a pipe) stands where the lock goes.
void showLockBlocked(const QString& path, const QString& what);

} // namespace tarvik

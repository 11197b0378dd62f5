#pragma once

#include <QStringList>

namespace tarvik {

// tarvik --backup FILE: a copy of the register (the file beside the program, or the server
// base/tarvik.ini names) written to the new file FILE; an existing FILE is refused. Prints
// what it did or why not and returns the exit code.
int backupCommand(const QStringList& arguments);

} // namespace tarvik

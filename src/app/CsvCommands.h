#pragma once

#include <QStringList>

namespace tarvik {

// The command-line forms of the parts' CSV, on the register the program opens (the file beside
// it, or the server base/tarvik.ini names):
//   tarvik --export-csv FILE   writes every part by name into the new FILE.
//   tarvik --import-csv FILE [--existing add|skip|update]   adds the parts of FILE; without
//   --existing it refuses names the register holds already, and any bad row refuses the file.
// `arguments` are the program's, the command second. Prints what it did or why not; returns the
// exit code.
int csvCommand(const QStringList& arguments);

} // namespace tarvik

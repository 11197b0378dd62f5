#pragma once

#include <optional>

namespace tarvik {

// The program's command-line forms, handled without a window:
//   tarvik --import OLD.mdb NEW.mdb   brings an Access register over into a new file.
//   tarvik --copy-to-server URI       moves the register beside the program to a server.
//   tarvik --copy-from-server URI NEW.mdb   writes the server's register into a new file.
//   tarvik --backup NEW.mdb            writes a backup of the register into a new file.
//   tarvik --export-csv FILE, tarvik --import-csv FILE …   the parts as CSV (CsvCommands.h).
// Returns the exit code when the arguments asked for one of them, nothing otherwise.
std::optional<int> runCommandLine(int argc, char* argv[]);

} // namespace tarvik

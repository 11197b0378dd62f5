#pragma once

#include <QString>

namespace tarvik {

// The command-line moves of a register between its file and a PostgreSQL server. Each prints
// what it did or why it did not and returns the exit code.

// Copies the register file into the server's empty database, then names the server in
// base/tarvik.ini beside the file (never a password), so the program opens it there from
// then on. The file itself is left as it was.
int copyToServerCommand(const QString& registerPath, const QString& address);

// Writes the server's register into the new file `filePath`; an existing one is never touched.
int copyFromServerCommand(const QString& address, const QString& filePath);

} // namespace tarvik

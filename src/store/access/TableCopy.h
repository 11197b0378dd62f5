#pragma once

#include "store/access/ImportResult.h"

#include <QString>

#include <functional>

namespace tarvik {

class AccessRowReader;

// The copy of the Access tables' rows into a new register file, row by row with their
// checks. Apart from the import of a file (AccessImport) because it knows only rows: tests
// feed it rows of their own, and it never decides where a file ends up.

// Writes a new register at `newPath`, which must not exist, from the rows `reader` gives,
// then reads the file back to check it. On any failure nothing is left at `newPath`.
ImportResult writeImportedRegister(AccessRowReader& reader, const QString& newPath,
                                   const ImportProgress& progress = {});

// Test seam: called once the new file is committed, before it is read back to be checked.
// An empty function removes it.
void setImportWrittenHook(std::function<void(const QString& newPath)> hook);

} // namespace tarvik

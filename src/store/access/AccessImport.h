#pragma once

#include "store/access/ImportResult.h"
#include "store/access/TableCopy.h"

#include <QString>

namespace tarvik {

// Bringing a register over from an Access (Jet 3 or Jet 4) file into a new register file:
// the checks of the Access file and where the new file ends up. What the import answers is
// in ImportResult.h, the copy of the rows in TableCopy.h; both come with this header.

// Imports the Access file into a new register at `newPath`. An existing `newPath` is never
// replaced; the Access file is only read.
ImportResult importAccessRegister(const QString& accessPath, const QString& newPath,
                                  const ImportProgress& progress = {});

// Replaces the Access register at `registerPath` with an imported one. The new file is
// written and checked beside it first; then the Access file gets the name
// registerPath + ".access" (or ".access.2", ... when that is taken) and the new file takes
// its place. At every moment `registerPath` is either the untouched Access file or the
// complete new register; a failure or a cancel leaves the Access file where it was.
ImportResult replaceAccessRegister(const QString& registerPath,
                                   const ImportProgress& progress = {});

// The temporary file an import of `registerPath` writes before the switch.
QString importTemporaryPath(const QString& targetPath);

} // namespace tarvik

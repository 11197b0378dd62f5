#pragma once

#include "store/register/Restore.h"
#include "store/register/ServerAddress.h"

#include <QString>

namespace tarvik {

// Puts the rows of the register file `copyPath` in place of the register on the server at
// `address`. Steps, each with the file restore's seams (failNextRestoreAt, the step hook):
// CheckCopy, the copy read in full (nothing else happens when it fails); Prepare, a connection
// of its own and its transaction; Lock, the register's tables locked against every writer,
// refused once the lock timeout passes while another session holds them; KeepCurrent, the
// server's register as it is now written to `keepCurrentAs` as a register file (read through
// another connection while the lock stands, so it is exactly what is replaced); Copy, every row
// of the register's tables replaced by the copy's, the next numbers and the counters set (the
// name-change counter beyond any value another program can hold), one announcement of a change
// of everything on each channel; Check, the server's rows and pictures against the copy's;
// Replace, the commit. On any failure the transaction is rolled back: the server is as it was.
// The caller's own connections stay open; after a success what they read before is stale.
RestoreResult restoreServerRegister(const ServerAddress& address, const QString& password,
                                    const QString& copyPath, const QString& keepCurrentAs);

// The sentence shown to the user for a failed restore of the register on `server`.
QString describeServerRestoreFailure(const QString& server, const QString& copyPath,
                                     const RestoreResult& result);

} // namespace tarvik

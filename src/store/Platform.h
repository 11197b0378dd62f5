#pragma once

#include <QString>

namespace tarvik {

// Calls that differ between POSIX and Windows. Kept small: one function per need.

// Import: forces a file's data to the disk, so a rename that follows cannot land before it.
bool importSyncFile(const QString& path);

// Import: forces a folder's entries (a new name, a rename) to the disk. Windows keeps
// directory entries with the file system's journal, so there it only checks the folder exists.
bool importSyncFolder(const QString& path);

} // namespace tarvik

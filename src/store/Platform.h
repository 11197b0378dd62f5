#pragma once

#include <QString>

namespace tarvik::platform {

// The few file-system calls Qt has no portable form for. Each returns false and fills
// `error` with the system's own words when the call fails.

// Forces the file's contents to the disk.
bool syncFile(const QString& path, QString* error);

// Forces the folder's entries (a new or renamed file's name) to the disk. Windows has no
// such call; there replaceFile() writes through instead.
bool syncFolder(const QString& folder, QString* error);

// Puts `from` in place of `to` in one atomic step: at every moment `to` names either the
// old file or the new one, never neither. Both must be in the same folder.
bool replaceFile(const QString& from, const QString& to, QString* error);

} // namespace tarvik::platform

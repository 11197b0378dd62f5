#pragma once

#include <QString>

#include <functional>

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

// Gives `to` what `from` says of itself beyond its contents: owner and group, permission
// bits and extended attributes (ACLs among them), so a file put in another's place serves
// the same users. The owner can only be given away with the rights to (root); a file of
// another owner or group that cannot be kept is an error, as the replacement would change
// hands. An attribute `to` already holds with the same value needs no rights. `from` is only
// looked at by name, so the locks a database connection of this process holds on it stay.
bool copyFileMetadata(const QString& from, const QString& to, QString* error);

// Lets the window's thread go first whenever the calling thread competes with it for a core:
// for work the user waits on but that must never make the window stutter. The calling
// thread only; a thread it starts afterwards inherits the lower priority.
void lowerThisThreadsPriority();

// Sets the C library's allocator up for the program's start; called first thing in main().
// The window and the first screen of a large list are built from a few megabytes of fresh
// memory, and every page of it is faulted in one at a time. Where the library allows, blocks
// up to 32 MiB come from the heap instead of mappings of their own, the heap keeps what it
// has grown to, and its first 30 MiB ask the kernel for huge pages. Elsewhere it does nothing.
void prepareHeap();

// The name the user logged in with, as the system knows it; empty when it cannot tell.
QString loginName();

// Test seam: told the path of every file and folder just before it is forced to the disk.
void setSyncObserver(std::function<void(const QString& path)> observer);

} // namespace tarvik::platform

#pragma once

#include <QString>

class QFile;

namespace tarvik {

// What stands at a path. Opening a named pipe for reading waits until something writes to
// it, and reading a device may never end: whatever the program opens by a name it was given
// must be an ordinary file, and is checked before anything reads it.
enum class FileKind {
    Missing,   // nothing there
    Regular,   // an ordinary file
    Directory, // a folder
    Link,      // a symbolic link, when links are not followed
    Other,     // a pipe, device or socket
};

// The kind of what stands at `path`, without opening it. With `followLinks`, a link counts
// as what it points to (a link to an ordinary file is an ordinary file).
FileKind fileKindAt(const QString& path, bool followLinks = true);

// Opens `path` for reading only when it is an ordinary file (or a link to one). The check is
// made on the opened handle, so nothing can be put in its place between check and open, and
// the open itself never waits. Returns false with the kind found, and the system's words in
// `error` when the open itself failed.
bool openRegularFile(QFile& file, const QString& path, FileKind* kind, QString* error);

// A few plain Russian words for what stands there ("папка", "канал или устройство").
QString describeFileKind(FileKind kind);
// Why a path that should name a file cannot be read as one: "это папка, а не файл".
QString notAFile(FileKind kind);

} // namespace tarvik

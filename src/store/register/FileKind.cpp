#include "store/register/FileKind.h"

#include <QFile>
#include <QFileInfo>

#ifndef Q_OS_WIN
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace tarvik {

#ifdef Q_OS_WIN

// Windows keeps pipes and devices out of the file system's folders: an ordinary path names
// a file or a folder.
FileKind fileKindAt(const QString& path, bool followLinks)
{
    const QFileInfo info(path);
    if (!followLinks && info.isSymLink())
        return FileKind::Link;
    if (!info.exists())
        return FileKind::Missing;
    if (info.isDir())
        return FileKind::Directory;
    return info.isFile() ? FileKind::Regular : FileKind::Other;
}

bool openRegularFile(QFile& file, const QString& path, FileKind* kind, QString* error)
{
    const FileKind found = fileKindAt(path);
    if (kind)
        *kind = found;
    if (found != FileKind::Regular)
        return false;
    file.setFileName(path);
    if (file.open(QIODevice::ReadOnly))
        return true;
    if (error)
        *error = file.errorString();
    return false;
}

#else

namespace {

FileKind kindOf(mode_t mode)
{
    if (S_ISREG(mode))
        return FileKind::Regular;
    if (S_ISLNK(mode))
        return FileKind::Link;
    return S_ISDIR(mode) ? FileKind::Directory : FileKind::Other;
}

} // namespace

FileKind fileKindAt(const QString& path, bool followLinks)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat st;
    const int result = followLinks ? ::stat(name.constData(), &st) : ::lstat(name.constData(), &st);
    if (result != 0)
        return errno == ENOENT || errno == ENOTDIR ? FileKind::Missing : FileKind::Other;
    return kindOf(st.st_mode);
}

bool openRegularFile(QFile& file, const QString& path, FileKind* kind, QString* error)
{
    // Without O_NONBLOCK the open of a pipe waits for a writer that never comes.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int code = errno;
        if (kind)
            *kind = code == ENOENT ? FileKind::Missing : fileKindAt(path);
        if (error && code != ENOENT)
            *error = qt_error_string(code);
        return false;
    }
    struct stat st;
    const bool known = ::fstat(fd, &st) == 0;
    if (!known || !S_ISREG(st.st_mode)) {
        if (kind)
            *kind = known ? kindOf(st.st_mode) : FileKind::Other;
        ::close(fd);
        return false;
    }
    if (kind)
        *kind = FileKind::Regular;
    // An ordinary file reads the same either way; blocking is what QFile expects.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle))
        return true;
    if (error)
        *error = file.errorString();
    return false;
}

#endif

QString describeFileKind(FileKind kind)
{
    switch (kind) {
    case FileKind::Missing:
        return QStringLiteral("файла нет");
    case FileKind::Regular:
        return QStringLiteral("файл");
    case FileKind::Directory:
        return QStringLiteral("папка");
    case FileKind::Link:
        return QStringLiteral("ссылка");
    case FileKind::Other:
        return QStringLiteral("канал или устройство");
    }
    return {};
}

QString notAFile(FileKind kind)
{
    if (kind == FileKind::Missing)
        return QStringLiteral("файл не найден");
    return QStringLiteral("это %1, а не файл").arg(describeFileKind(kind));
}

} // namespace tarvik

#include "store/Platform.h"

#include <QDir>
#include <QFile>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#endif

namespace tarvik::platform {
namespace {

bool failed(QString* error, int code)
{
    if (error)
        *error = qt_error_string(code);
    return false;
}

} // namespace

#ifdef Q_OS_WIN

namespace {

std::wstring nativePath(const QString& path)
{
    return QDir::toNativeSeparators(path).toStdWString();
}

} // namespace

bool syncFile(const QString& path, QString* error)
{
    // FlushFileBuffers needs a handle that may write.
    const HANDLE file = CreateFileW(nativePath(path).c_str(), GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return failed(error, int(GetLastError()));
    const bool flushed = FlushFileBuffers(file);
    const DWORD code = GetLastError();
    CloseHandle(file);
    return flushed || failed(error, int(code));
}

bool syncFolder(const QString&, QString*)
{
    return true;
}

bool replaceFile(const QString& from, const QString& to, QString* error)
{
    if (MoveFileExW(nativePath(from).c_str(), nativePath(to).c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    return failed(error, int(GetLastError()));
}

#else

namespace {

bool syncPath(const QString& path, int flags, QString* error)
{
    const int fd = ::open(QFile::encodeName(path).constData(), flags | O_CLOEXEC);
    if (fd < 0)
        return failed(error, errno);
    const int synced = ::fsync(fd);
    const int code = errno;
    ::close(fd);
    return synced == 0 || failed(error, code);
}

} // namespace

bool syncFile(const QString& path, QString* error)
{
    return syncPath(path, O_RDONLY, error);
}

bool syncFolder(const QString& folder, QString* error)
{
    return syncPath(folder, O_RDONLY | O_DIRECTORY, error);
}

bool replaceFile(const QString& from, const QString& to, QString* error)
{
    if (::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0)
        return true;
    return failed(error, errno);
}

#endif

} // namespace tarvik::platform

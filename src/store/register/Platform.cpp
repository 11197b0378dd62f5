#include "store/register/Platform.h"

#include <QByteArray>
#include <QDir>
#include <QFile>

#include <iterator>
#include <utility>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#endif

#if defined(__GLIBC__)
#include <malloc.h>
#include <sys/mman.h>
#endif

namespace tarvik::platform {
namespace {

std::function<void(const QString&)>& syncObserver()
{
    static std::function<void(const QString&)> observer;
    return observer;
}

void aboutToSync(const QString& path)
{
    if (syncObserver())
        syncObserver()(path);
}

bool failed(QString* error, int code)
{
    if (error)
        *error = qt_error_string(code);
    return false;
}

} // namespace

void setSyncObserver(std::function<void(const QString& path)> observer)
{
    syncObserver() = std::move(observer);
}

#ifdef Q_OS_WIN

namespace {

std::wstring nativePath(const QString& path)
{
    return QDir::toNativeSeparators(path).toStdWString();
}

} // namespace

bool syncFile(const QString& path, QString* error)
{
    aboutToSync(path);
    // FlushFileBuffers needs a handle that may write.
    const HANDLE file =
        CreateFileW(nativePath(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return failed(error, int(GetLastError()));
    const bool flushed = FlushFileBuffers(file);
    const DWORD code = GetLastError();
    CloseHandle(file);
    return flushed || failed(error, int(code));
}

bool syncFolder(const QString& folder, QString*)
{
    aboutToSync(folder);
    return true;
}

bool replaceFile(const QString& from, const QString& to, QString* error)
{
    if (MoveFileExW(nativePath(from).c_str(), nativePath(to).c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    return failed(error, int(GetLastError()));
}

void lowerThisThreadsPriority()
{
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL);
}

bool copyFileMetadata(const QString&, const QString&, QString*)
{
    // A new file takes the folder's inherited access list, as the old one did; NTFS keeps
    // no POSIX owner or mode to carry over.
    return true;
}

#else

namespace {

bool syncPath(const QString& path, int flags, QString* error)
{
    aboutToSync(path);
    const int fd = ::open(QFile::encodeName(path).constData(), flags | O_CLOEXEC);
    if (fd < 0)
        return failed(error, errno);
    const int synced = ::fsync(fd);
    const int code = errno;
    ::close(fd);
    return synced == 0 || failed(error, code);
}

class OpenFile {
public:
    explicit OpenFile(const QString& path)
        : m_fd(::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC))
    {
    }
    ~OpenFile()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;
    int fd() const { return m_fd; }

private:
    int m_fd;
};

// The bytes a list-or-get call fills, asked for again while the value grows under us.
template <typename Call> bool readSized(Call call, QByteArray& out)
{
    for (;;) {
        const ssize_t wanted = call(nullptr, 0);
        if (wanted < 0)
            return false;
        out.resize(wanted);
        const ssize_t got = wanted == 0 ? 0 : call(out.data(), size_t(wanted));
        if (got >= 0) {
            out.resize(got);
            return true;
        }
        if (errno != ERANGE)
            return false;
    }
}

bool attributeValue(int fd, const char* name, QByteArray& value)
{
    return readSized([&](char* buffer, size_t size) { return ::fgetxattr(fd, name, buffer, size); },
                     value);
}

bool attributeValue(const QByteArray& path, const char* name, QByteArray& value)
{
    return readSized(
        [&](char* buffer, size_t size) { return ::getxattr(path.constData(), name, buffer, size); },
        value);
}

bool copyAttributes(const QByteArray& from, int to, QString* error)
{
    QByteArray names;
    if (!readSized(
            [&](char* buffer, size_t size) { return ::listxattr(from.constData(), buffer, size); },
            names))
        return errno == ENOTSUP || failed(error, errno); // a file system without them
    for (const QByteArray& name : names.split('\0')) {
        if (name.isEmpty())
            continue;
        QByteArray value;
        if (!attributeValue(from, name.constData(), value)) {
            if (errno == ENODATA) // removed meanwhile
                continue;
            return failed(error, errno);
        }
        if (::fsetxattr(to, name.constData(), value.constData(), size_t(value.size()), 0) == 0)
            continue;
        const int code = errno;
        // A label the new file was given by its folder already (SELinux, say) needs no rights.
        QByteArray present;
        if (attributeValue(to, name.constData(), present) && present == value)
            continue;
        failed(error, code);
        if (error)
            *error = QString::fromLatin1(name) + QStringLiteral(": ") + *error;
        return false;
    }
    return true;
}

} // namespace

bool copyFileMetadata(const QString& from, const QString& to, QString* error)
{
    // The source is read by its name and never opened: closing any descriptor of a file
    // lets go of every lock this process holds on it, the database engine's among them.
    const QByteArray source = QFile::encodeName(from);
    const OpenFile target(to);
    if (target.fd() < 0)
        return failed(error, errno);
    struct stat was {};
    struct stat is {};
    if (::stat(source.constData(), &was) != 0 || ::fstat(target.fd(), &is) != 0)
        return failed(error, errno);
    // Only when they differ: a user who owns the file needs no rights to keep owning it.
    if ((was.st_uid != is.st_uid || was.st_gid != is.st_gid) &&
        ::fchown(target.fd(), was.st_uid, was.st_gid) != 0)
        return failed(error, errno);
    if (!copyAttributes(source, target.fd(), error))
        return false;
    // Last: a change of owner clears the set-id bits, and the access list's mask follows the
    // group bits.
    if (::fchmod(target.fd(), was.st_mode & 07777) != 0)
        return failed(error, errno);
    return true;
}

void lowerThisThreadsPriority()
{
#ifdef Q_OS_LINUX
    // Linux gives each thread a nice value of its own; QThread's priorities do nothing under
    // the normal scheduling policy. Ten steps down still leaves the thread a tenth of a core
    // the window's thread wants.
    setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), 10);
#endif
}

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

void prepareHeap()
{
#if defined(__GLIBC__)
    // A page touched for the first time costs a fault, and in a virtual machine the host
    // maps it as well: a warm start on a million parts took 1,600-2,300 faults before its
    // first paint, 1,200 of them on fresh memory, a fifth of the start. The backing image of
    // the window, the package picture and any block of 128 KiB or more each got a mapping of
    // its own, fresh every time. Taken from a heap on huge pages, 2 MiB take one fault.
    constexpr std::size_t kMiB = std::size_t(1) << 20;
    constexpr std::uintptr_t kHugePage = 2 * kMiB;
    constexpr std::size_t kStretch = 30 * kMiB; // below the threshold, or it would be mapped apart
    mallopt(M_MMAP_THRESHOLD, int(32 * kMiB));
    mallopt(M_TRIM_THRESHOLD, int(64 * kMiB)); // kept, so the huge pages are not given back
    mallopt(M_TOP_PAD, int(8 * kMiB));
    // Grows the heap now and marks the stretch; only its first bytes are written here, so a
    // page never used costs nothing. Where huge pages are off this is only a larger heap.
    const auto before = reinterpret_cast<std::uintptr_t>(sbrk(0));
    void* const stretch = std::malloc(kStretch);
    const auto after = reinterpret_cast<std::uintptr_t>(sbrk(0));
    const std::uintptr_t from = (before + kHugePage - 1) & ~(kHugePage - 1);
    const std::uintptr_t to = after & ~(kHugePage - 1);
    if (stretch && before != std::uintptr_t(-1) && to > from)
        madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
    std::free(stretch);
#endif
}

QString loginName()
{
#ifdef Q_OS_WIN
    wchar_t name[256 + 1];
    DWORD size = DWORD(std::size(name));
    return GetUserNameW(name, &size) ? QString::fromWCharArray(name, int(size) - 1) : QString();
#else
    // The account of the process, not $USER, which anyone may set to anything.
    const long wanted = sysconf(_SC_GETPW_R_SIZE_MAX);
    QByteArray buffer(wanted > 0 ? int(wanted) : 16384, Qt::Uninitialized);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(geteuid(), &entry, buffer.data(), size_t(buffer.size()), &found) != 0 ||
        !found || !found->pw_name)
        return {};
    return QString::fromLocal8Bit(found->pw_name);
#endif
}

} // namespace tarvik::platform

#include "heldfile.h"

#include <QFile>
#include <QFileInfo>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {
constexpr qint64 CopyBlock = 4096;

void setError(QString* error, const QString& text)
{
    if (error)
        *error = text;
}

enum class Access
{
    Read, // shared lock, others may read
    ReadWrite, // exclusive lock
};

enum class Make
{
    Existing,
    OpenOrCreate,
    CreateNew, // fails when the name exists; never follows a link
};

enum class Kind
{
    Missing,
    Regular,
    Link,
    Other,
};

} // namespace

// ---- Platform primitives: everything below up to the shared part is per platform. ----

#ifdef _WIN32

// Share mode 0 is the lock: nobody else can open the file while the handle lives.

namespace {
using Handle = HANDLE;
const Handle NoHandle = INVALID_HANDLE_VALUE;

LPCWSTR wide(const QString& path)
{
    return reinterpret_cast<LPCWSTR>(path.utf16());
}

Handle openRegular(const QString& path, Access access, Make make, bool* created, QString* error)
{
    const DWORD rights = access == Access::Read ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE;
    const DWORD share = access == Access::Read ? FILE_SHARE_READ | FILE_SHARE_WRITE : 0;
    const DWORD disposition = make == Make::Existing ? OPEN_EXISTING
        : make == Make::CreateNew                    ? CREATE_NEW
                                                     : OPEN_ALWAYS;
    Handle h
        = CreateFileW(wide(path), rights, share, nullptr, disposition,
                      FILE_ATTRIBUTE_NORMAL | (make == Make::CreateNew ? FILE_FLAG_OPEN_REPARSE_POINT : 0), nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        setError(error, QStringLiteral("Windows error %1").arg(GetLastError()));
        return NoHandle;
    }
    *created = make == Make::CreateNew || (make == Make::OpenOrCreate && GetLastError() != ERROR_ALREADY_EXISTS);
    // A device or a pipe opens like a file; only a disk file is taken.
    if (GetFileType(h) != FILE_TYPE_DISK) {
        CloseHandle(h);
        setError(error, QStringLiteral("Not a regular file"));
        return NoHandle;
    }
    return h;
}

bool readOnly(Handle, const QString& path)
{
    const DWORD attributes = GetFileAttributesW(wide(path));
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
}

void makeOwnerWritable(Handle, const QString& path)
{
    const DWORD attributes = GetFileAttributesW(wide(path));
    if (attributes != INVALID_FILE_ATTRIBUTES)
        SetFileAttributesW(wide(path), attributes & ~DWORD(FILE_ATTRIBUTE_READONLY));
}

void takeModeOf(Handle, Handle)
{
    // Attributes other than read-only are not carried over.
}

qint64 sizeOf(Handle h)
{
    LARGE_INTEGER s {};
    return GetFileSizeEx(h, &s) ? s.QuadPart : -1;
}

qint64 readAtRaw(Handle h, qint64 offset, char* buffer, qint64 n)
{
    OVERLAPPED at {};
    at.Offset = DWORD(offset);
    at.OffsetHigh = DWORD(quint64(offset) >> 32);
    DWORD got = 0;
    if (!ReadFile(h, buffer, DWORD(qMin<qint64>(n, 1 << 30)), &got, &at))
        return GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
    return got;
}

bool writeAtRaw(Handle h, qint64 offset, const char* data, qint64 n)
{
    while (n > 0) {
        OVERLAPPED at {};
        at.Offset = DWORD(offset);
        at.OffsetHigh = DWORD(quint64(offset) >> 32);
        DWORD put = 0;
        if (!WriteFile(h, data, DWORD(qMin<qint64>(n, 1 << 30)), &put, &at) || put == 0)
            return false;
        data += put;
        offset += put;
        n -= put;
    }
    return true;
}

bool setLength(Handle h, qint64 size)
{
    LARGE_INTEGER at {};
    at.QuadPart = size;
    return SetFilePointerEx(h, at, nullptr, FILE_BEGIN) && SetEndOfFile(h);
}

// Setting the end of file allocates the clusters, so a full disk is refused here.
bool allocate(Handle h, qint64 size)
{
    return setLength(h, size);
}

bool flushData(Handle h)
{
    return FlushFileBuffers(h);
}

void closeHandle(Handle h)
{
    CloseHandle(h);
}

bool removeName(const QString& path)
{
    return DeleteFileW(wide(path)) || GetLastError() == ERROR_FILE_NOT_FOUND;
}

bool renameOver(const QString& from, const QString& to)
{
    return MoveFileExW(wide(from), wide(to), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
}

void flushFolderOf(const QString&)
{
    // MOVEFILE_WRITE_THROUGH and the file's own flush cover the folder entry.
}

Kind kindOf(const QString& path)
{
    const DWORD attributes = GetFileAttributesW(wide(path));
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return Kind::Missing;
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return Kind::Link;
    return attributes & FILE_ATTRIBUTE_DIRECTORY ? Kind::Other : Kind::Regular;
}

} // namespace

#else

// flock on the open file is the lock: taken right after opening, held until the descriptor is
// closed. Every copy of the tool takes it, so it keeps them off each other's file.

namespace {
using Handle = int;
constexpr Handle NoHandle = -1;

QString errnoText()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

int openName(const QByteArray& name, int flags)
{
    int fd;
    do {
        fd = ::open(name.constData(), flags | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// O_NONBLOCK keeps a FIFO or a device from blocking the open; fstat then refuses it.
Handle openRegular(const QString& path, Access access, Make make, bool* created, QString* error)
{
    const QByteArray name = QFile::encodeName(path);
    const int base = access == Access::Read ? O_RDONLY : O_RDWR;
    int fd = -1;
    *created = false;
    if (make == Make::CreateNew) {
        fd = openName(name, base | O_CREAT | O_EXCL | O_NOFOLLOW);
        *created = fd >= 0;
    } else {
        // Told apart from an existing file, so that only a file made here is removed again.
        for (int attempt = 0; fd < 0 && attempt < 4; ++attempt) {
            fd = openName(name, base);
            if (fd >= 0 || errno != ENOENT || make == Make::Existing)
                break;
            fd = openName(name, base | O_CREAT | O_EXCL);
            *created = fd >= 0;
            if (fd < 0 && errno != EEXIST)
                break;
        }
    }
    if (fd < 0) {
        setError(error, errnoText());
        return NoHandle;
    }
    struct stat st
    {
    };
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        setError(error, QStringLiteral("Not a regular file"));
        ::close(fd);
        return NoHandle;
    }
    if (::flock(fd, (access == Access::Read ? LOCK_SH : LOCK_EX) | LOCK_NB) != 0) {
        setError(error, errno == EWOULDBLOCK ? QStringLiteral("The file is in use by another program") : errnoText());
        ::close(fd);
        if (*created)
            ::unlink(name.constData());
        return NoHandle;
    }
    return fd;
}

// Without its write bits a file counts as read-only, even for a superuser who could write it.
bool readOnly(Handle fd, const QString&)
{
    struct stat st
    {
    };
    return ::fstat(fd, &st) == 0 && (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

// A restrictive umask would otherwise leave a new file that the next start refuses.
void makeOwnerWritable(Handle fd, const QString&)
{
    struct stat st
    {
    };
    if (::fstat(fd, &st) == 0)
        ::fchmod(fd, (st.st_mode & 07777) | S_IRUSR | S_IWUSR);
}

// A backup kept private stays private when a new copy replaces it.
void takeModeOf(Handle from, Handle to)
{
    struct stat st
    {
    };
    if (::fstat(from, &st) == 0)
        ::fchmod(to, (st.st_mode & 07777) | S_IRUSR | S_IWUSR);
}

qint64 sizeOf(Handle fd)
{
    struct stat st
    {
    };
    return ::fstat(fd, &st) == 0 ? qint64(st.st_size) : -1;
}

qint64 readAtRaw(Handle fd, qint64 offset, char* buffer, qint64 n)
{
    ssize_t got;
    do {
        got = ::pread(fd, buffer, size_t(qMin<qint64>(n, 1 << 30)), off_t(offset));
    } while (got < 0 && errno == EINTR);
    return got;
}

bool writeAtRaw(Handle fd, qint64 offset, const char* data, qint64 n)
{
    while (n > 0) {
        const ssize_t put = ::pwrite(fd, data, size_t(qMin<qint64>(n, 1 << 30)), off_t(offset));
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return false;
        data += put;
        offset += put;
        n -= put;
    }
    return true;
}

bool setLength(Handle fd, qint64 size)
{
    int rc;
    do {
        rc = ::ftruncate(fd, off_t(size));
    } while (rc != 0 && errno == EINTR);
    return rc == 0;
}

bool allocate(Handle fd, qint64 size)
{
    const qint64 old = sizeOf(fd);
    if (old < 0)
        return false;
    const int rc = ::posix_fallocate(fd, 0, off_t(size));
    if (rc == 0)
        return true;
    if (rc != EINVAL && rc != EOPNOTSUPP)
        return false;
    // A file system without allocation: write zeros past the end instead.
    static const char zeros[CopyBlock] = {};
    for (qint64 at = old; at < size; at += CopyBlock) {
        if (!writeAtRaw(fd, at, zeros, qMin(CopyBlock, size - at)))
            return false;
    }
    return true;
}

bool flushData(Handle fd)
{
    int rc;
    do {
        rc = ::fdatasync(fd);
    } while (rc != 0 && errno == EINTR);
    return rc == 0;
}

void closeHandle(Handle fd)
{
    ::close(fd);
}

bool removeName(const QString& path)
{
    return ::unlink(QFile::encodeName(path).constData()) == 0 || errno == ENOENT;
}

bool renameOver(const QString& from, const QString& to)
{
    return ::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
}

// A created, renamed or removed name reaches the disk only with its folder.
void flushFolderOf(const QString& path)
{
    const QByteArray folder = QFile::encodeName(QFileInfo(path).absolutePath());
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

Kind kindOf(const QString& path)
{
    struct stat st
    {
    };
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return errno == ENOENT ? Kind::Missing : Kind::Other;
    if (S_ISLNK(st.st_mode))
        return Kind::Link;
    return S_ISREG(st.st_mode) ? Kind::Regular : Kind::Other;
}

} // namespace

#endif

// ---- The shared part, written once on the primitives above. ----

namespace {
#ifdef _WIN32
Handle handleOf(void* h)
{
    return h ? static_cast<Handle>(h) : NoHandle;
}
#endif

bool copyRange(Handle in, qint64 from, Handle out, qint64 to, qint64 n)
{
    char buffer[CopyBlock];
    while (n > 0) {
        const qint64 want = qMin(n, CopyBlock);
        qint64 got = 0;
        while (got < want) {
            const qint64 r = readAtRaw(in, from + got, buffer + got, want - got);
            if (r <= 0)
                return false;
            got += r;
        }
        if (!writeAtRaw(out, to, buffer, want))
            return false;
        from += want;
        to += want;
        n -= want;
    }
    return true;
}
} // namespace

#ifdef _WIN32
#define HANDLE_OF(file) handleOf((file).m_handle)
#define HELD_SET(h) (m_handle = (h))
#define HELD_CLEAR() (m_handle = nullptr)
#else
#define HANDLE_OF(file) ((file).m_fd)
#define HELD_SET(h) (m_fd = (h))
#define HELD_CLEAR() (m_fd = -1)
#endif
#define HELD_HANDLE HANDLE_OF(*this)

HeldFile::~HeldFile()
{
    release();
}

bool HeldFile::openExisting(const QString& path, QString* error)
{
    release();
    bool created = false;
    const Handle h = openRegular(path, Access::ReadWrite, Make::Existing, &created, error);
    if (h == NoHandle)
        return false;
    if (readOnly(h, path)) {
        setError(error, QStringLiteral("The file is read-only"));
        closeHandle(h);
        return false;
    }
    HELD_SET(h);
    return true;
}

bool HeldFile::openOrCreate(const QString& path, QString* error)
{
    release();
    bool created = false;
    const Handle h = openRegular(path, Access::ReadWrite, Make::OpenOrCreate, &created, error);
    if (h == NoHandle)
        return false;
    if (created)
        makeOwnerWritable(h, path);
    else if (readOnly(h, path)) {
        setError(error, QStringLiteral("The file cannot be written"));
        closeHandle(h);
        return false;
    }
    HELD_SET(h);
    if (created)
        m_createdPath = path;
    return true;
}

bool HeldFile::createAnew(const QString& path, QString* error)
{
    if (!openOrCreate(path, error))
        return false;
    if (!truncate(0)) {
        setError(error, QStringLiteral("The file cannot be written"));
        discard();
        return false;
    }
    return true;
}

bool HeldFile::openForReading(const QString& path, QString* error)
{
    release();
    bool created = false;
    const Handle h = openRegular(path, Access::Read, Make::Existing, &created, error);
    if (h == NoHandle)
        return false;
    HELD_SET(h);
    return true;
}

bool HeldFile::isOpen() const
{
    return HELD_HANDLE != NoHandle;
}

void HeldFile::release()
{
    if (isOpen()) {
        closeHandle(HELD_HANDLE);
        HELD_CLEAR();
    }
    m_createdPath.clear();
}

void HeldFile::discard()
{
    const QString created = m_createdPath;
    release();
    if (!created.isEmpty())
        removeFile(created);
}

qint64 HeldFile::size() const
{
    return isOpen() ? sizeOf(HELD_HANDLE) : -1;
}

qint64 HeldFile::readAt(qint64 offset, char* buffer, qint64 n) const
{
    return isOpen() ? readAtRaw(HELD_HANDLE, offset, buffer, n) : -1;
}

bool HeldFile::writeAt(qint64 offset, const char* data, qint64 n)
{
    return isOpen() && writeAtRaw(HELD_HANDLE, offset, data, n);
}

bool HeldFile::reserve(qint64 size)
{
    const qint64 old = this->size();
    if (old < 0)
        return false;
    if (size <= old)
        return true;
    if (allocate(HELD_HANDLE, size))
        return true;
    // Whatever was allocated before the refusal is zeros past the old end: give it back.
    setLength(HELD_HANDLE, old);
    return false;
}

bool HeldFile::truncate(qint64 size)
{
    return isOpen() && setLength(HELD_HANDLE, size);
}

bool HeldFile::flush()
{
    return isOpen() && flushData(HELD_HANDLE);
}

bool HeldFile::writeAtStart(const QByteArray& bytes)
{
    return writeAt(0, bytes.constData(), bytes.size()) && flush();
}

bool HeldFile::writeNewFile(const QString& path, const QByteArray& bytes)
{
    if (!removeName(path))
        return false;
    bool created = false;
    const Handle h = openRegular(path, Access::ReadWrite, Make::CreateNew, &created, nullptr);
    if (h == NoHandle)
        return false;
    makeOwnerWritable(h, path);
    const bool ok = writeAtRaw(h, 0, bytes.constData(), bytes.size()) && flushData(h);
    closeHandle(h);
    if (!ok) {
        removeName(path);
        return false;
    }
    flushFolderOf(path);
    return true;
}

bool HeldFile::removeFile(const QString& path)
{
    if (!removeName(path))
        return false;
    flushFolderOf(path);
    return true;
}

bool HeldFile::copyOver(const QString& source, const QString& target)
{
    if (!QFileInfo::exists(source))
        return false;
    // The shared lock keeps a file that a running copy of the tool holds from being copied
    // half-written.
    HeldFile in;
    if (!in.openForReading(source))
        return false;
    const Kind kind = kindOf(target);
    if (kind == Kind::Other)
        return false;
    // An old target that is read-only or held stays as it is; its bytes past the new ones are
    // carried over, as an in-place copy would leave them.
    HeldFile old;
    if (kind == Kind::Regular) {
        if (!old.openForReading(target) || readOnly(HANDLE_OF(old), target))
            return false;
    }

    const QString built = target + QStringLiteral(".tmp");
    if (!removeName(built))
        return false;
    bool created = false;
    const Handle out = openRegular(built, Access::ReadWrite, Make::CreateNew, &created, nullptr);
    if (out == NoHandle)
        return false;
    if (old.isOpen())
        takeModeOf(HANDLE_OF(old), out);
    else
        makeOwnerWritable(out, built);
    const qint64 n = in.size();
    const qint64 oldSize = old.isOpen() ? old.size() : 0;
    bool ok = n >= 0 && oldSize >= 0 && copyRange(HANDLE_OF(in), 0, out, 0, n);
    if (ok && oldSize > n)
        ok = copyRange(HANDLE_OF(old), n, out, n, oldSize - n);
    ok = ok && flushData(out);
    closeHandle(out);
    in.release();
    old.release();
    if (!ok || !renameOver(built, target)) {
        removeName(built);
        return false;
    }
    flushFolderOf(target);
    return true;
}

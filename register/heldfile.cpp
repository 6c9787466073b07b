#include "heldfile.h"

#include <QFile>

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
} // namespace

HeldFile::~HeldFile()
{
    release();
}

#ifdef _WIN32

// Share mode 0 is the lock: nobody else can open the file while the handle lives.

namespace {
QString lastErrorText()
{
    return QStringLiteral("Windows error %1").arg(GetLastError());
}

bool readFull(HANDLE h, char* buffer, DWORD n)
{
    DWORD got = 0;
    return ReadFile(h, buffer, n, &got, nullptr) && got == n;
}

bool writeFull(HANDLE h, const char* buffer, DWORD n)
{
    DWORD put = 0;
    return WriteFile(h, buffer, n, &put, nullptr) && put == n;
}
} // namespace

bool HeldFile::openExisting(const QString& path, QString* error)
{
    release();
    HANDLE h = CreateFileW(reinterpret_cast<LPCWSTR>(path.utf16()), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        setError(error, lastErrorText());
        return false;
    }
    m_handle = h;
    return true;
}

bool HeldFile::createAnew(const QString& path, QString* error)
{
    release();
    // Opening with share mode 0 fails on a file someone holds, so it is cut only once it is ours.
    HANDLE h = CreateFileW(reinterpret_cast<LPCWSTR>(path.utf16()), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        setError(error, lastErrorText());
        return false;
    }
    LARGE_INTEGER zero {};
    if (!SetFilePointerEx(h, zero, nullptr, FILE_BEGIN) || !SetEndOfFile(h)) {
        setError(error, lastErrorText());
        CloseHandle(h);
        return false;
    }
    m_handle = h;
    return true;
}

bool HeldFile::isOpen() const
{
    return m_handle != nullptr;
}

void HeldFile::release()
{
    if (m_handle) {
        CloseHandle(static_cast<HANDLE>(m_handle));
        m_handle = nullptr;
    }
}

qint64 HeldFile::size() const
{
    LARGE_INTEGER s {};
    if (!m_handle || !GetFileSizeEx(static_cast<HANDLE>(m_handle), &s))
        return -1;
    return s.QuadPart;
}

bool HeldFile::readAll(QByteArray* out)
{
    const qint64 n = size();
    if (n < 0 || n > 0x7FFFFFFF)
        return false;
    HANDLE h = static_cast<HANDLE>(m_handle);
    LARGE_INTEGER zero {};
    if (!SetFilePointerEx(h, zero, nullptr, FILE_BEGIN))
        return false;
    out->resize(qsizetype(n));
    return n == 0 || readFull(h, out->data(), DWORD(n));
}

bool HeldFile::writeAtStart(const QByteArray& bytes)
{
    if (!m_handle)
        return false;
    HANDLE h = static_cast<HANDLE>(m_handle);
    // The first byte goes last, so a save cut by a crash is refused on load instead of loading
    // as a mix of two registers.
    LARGE_INTEGER zero {};
    LARGE_INTEGER one {};
    one.QuadPart = 1;
    const char nul = 0;
    if (bytes.isEmpty())
        return FlushFileBuffers(h);
    return SetFilePointerEx(h, zero, nullptr, FILE_BEGIN) && writeFull(h, &nul, 1)
        && SetFilePointerEx(h, one, nullptr, FILE_BEGIN) && writeFull(h, bytes.constData() + 1, DWORD(bytes.size() - 1))
        && SetFilePointerEx(h, zero, nullptr, FILE_BEGIN) && writeFull(h, bytes.constData(), 1) && FlushFileBuffers(h);
}

bool HeldFile::copyOver(const QString& source, const QString& target)
{
    if (!QFile::exists(source))
        return false;
    HANDLE in = CreateFileW(reinterpret_cast<LPCWSTR>(source.utf16()), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (in == INVALID_HANDLE_VALUE)
        return false;
    HANDLE out = CreateFileW(reinterpret_cast<LPCWSTR>(target.utf16()), GENERIC_READ | GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out == INVALID_HANDLE_VALUE) {
        CloseHandle(in);
        return false;
    }
    bool ok = true;
    LARGE_INTEGER size {};
    if (!GetFileSizeEx(in, &size))
        ok = false;
    char buffer[CopyBlock];
    for (qint64 left = size.QuadPart; ok && left > 0;) {
        const DWORD n = DWORD(qMin(left, CopyBlock));
        ok = readFull(in, buffer, n) && writeFull(out, buffer, n);
        left -= n;
    }
    ok = ok && FlushFileBuffers(out);
    CloseHandle(in);
    CloseHandle(out);
    const LPCWSTR name = reinterpret_cast<LPCWSTR>(target.utf16());
    const DWORD attributes = GetFileAttributesW(name);
    if (attributes != INVALID_FILE_ATTRIBUTES)
        SetFileAttributesW(name, attributes & ~DWORD(FILE_ATTRIBUTE_READONLY));
    return ok;
}

#else

// flock on the open file is the lock: taken right after opening, held until the descriptor is
// closed. Every copy of the tool takes it, so it keeps them off each other's file.

namespace {

int openLocked(const QString& path, int flags, int lockKind, QString* error)
{
    const QByteArray name = QFile::encodeName(path);
    int fd;
    do {
        fd = ::open(name.constData(), flags | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        setError(error, QString::fromLocal8Bit(std::strerror(errno)));
        return -1;
    }
    if (::flock(fd, lockKind | LOCK_NB) != 0) {
        setError(error, errno == EWOULDBLOCK ? QStringLiteral("The file is in use by another program")
                                             : QString::fromLocal8Bit(std::strerror(errno)));
        ::close(fd);
        return -1;
    }
    return fd;
}

// Without its write bits a file counts as read-only, even for a superuser who could write it.
bool isReadOnly(int fd)
{
    struct stat st {};
    return ::fstat(fd, &st) == 0 && (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

bool readFull(int fd, char* buffer, qint64 n, off_t offset)
{
    while (n > 0) {
        const ssize_t got = ::pread(fd, buffer, size_t(n), offset);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        buffer += got;
        offset += got;
        n -= got;
    }
    return true;
}

bool writeFull(int fd, const char* buffer, qint64 n, off_t offset)
{
    while (n > 0) {
        const ssize_t put = ::pwrite(fd, buffer, size_t(n), offset);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return false;
        buffer += put;
        offset += put;
        n -= put;
    }
    return true;
}

bool flushToDisk(int fd)
{
    int rc;
    do {
        rc = ::fdatasync(fd);
    } while (rc != 0 && errno == EINTR);
    return rc == 0;
}

} // namespace

bool HeldFile::openExisting(const QString& path, QString* error)
{
    release();
    const int fd = openLocked(path, O_RDWR, LOCK_EX, error);
    if (fd < 0)
        return false;
    if (isReadOnly(fd)) {
        setError(error, QStringLiteral("The file is read-only"));
        ::close(fd);
        return false;
    }
    m_fd = fd;
    return true;
}

bool HeldFile::createAnew(const QString& path, QString* error)
{
    release();
    // No O_TRUNC: the file is cut only after the lock is ours, never under another holder.
    const int fd = openLocked(path, O_RDWR | O_CREAT, LOCK_EX, error);
    if (fd < 0)
        return false;
    if (isReadOnly(fd) || ::ftruncate(fd, 0) != 0) {
        setError(error, QStringLiteral("The file cannot be written"));
        ::close(fd);
        return false;
    }
    m_fd = fd;
    return true;
}

bool HeldFile::isOpen() const
{
    return m_fd >= 0;
}

void HeldFile::release()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

qint64 HeldFile::size() const
{
    struct stat st {};
    if (m_fd < 0 || ::fstat(m_fd, &st) != 0)
        return -1;
    return qint64(st.st_size);
}

bool HeldFile::readAll(QByteArray* out)
{
    const qint64 n = size();
    if (n < 0 || n > qint64(0x7FFFFFFF))
        return false;
    out->resize(qsizetype(n));
    return readFull(m_fd, out->data(), n, 0);
}

bool HeldFile::writeAtStart(const QByteArray& bytes)
{
    if (m_fd < 0)
        return false;
    // A write within one page is copied in one piece, so a killed process leaves either the old
    // or the new content. A longer write can be cut between pages, leaving the new start on
    // the old end, which may load as a register that was never saved. So the first byte goes
    // last: a cut save starts with 0, which no load takes for a register.
    static const qint64 page = qMax<qint64>(512, ::sysconf(_SC_PAGESIZE));
    if (bytes.size() <= page)
        return writeFull(m_fd, bytes.constData(), bytes.size(), 0) && flushToDisk(m_fd);
    const char zero = 0;
    return writeFull(m_fd, &zero, 1, 0) && writeFull(m_fd, bytes.constData() + 1, bytes.size() - 1, 1)
        && writeFull(m_fd, bytes.constData(), 1, 0) && flushToDisk(m_fd);
}

bool HeldFile::copyOver(const QString& source, const QString& target)
{
    if (!QFile::exists(source))
        return false;
    // Shared lock on the source, exclusive on the target: a file that a running copy of the
    // tool holds is neither copied half-written nor overwritten.
    const int in = openLocked(source, O_RDONLY, LOCK_SH, nullptr);
    if (in < 0)
        return false;
    const int out = openLocked(target, O_RDWR | O_CREAT, LOCK_EX, nullptr);
    if (out < 0) {
        ::close(in);
        return false;
    }
    bool ok = !isReadOnly(out);
    struct stat st {};
    if (ok && ::fstat(in, &st) != 0)
        ok = false;
    char buffer[CopyBlock];
    off_t offset = 0;
    for (qint64 left = ok ? qint64(st.st_size) : 0; ok && left > 0;) {
        const qint64 n = qMin(left, CopyBlock);
        ok = readFull(in, buffer, n, offset) && writeFull(out, buffer, n, offset);
        offset += off_t(n);
        left -= n;
    }
    ok = ok && flushToDisk(out);
    ::close(in);
    ::close(out);
    struct stat tst {};
    const QByteArray name = QFile::encodeName(target);
    if (ok && ::stat(name.constData(), &tst) == 0 && (tst.st_mode & S_IWUSR) == 0)
        ::chmod(name.constData(), (tst.st_mode & 07777) | S_IWUSR);
    return ok;
}

#endif

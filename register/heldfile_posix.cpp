#include "register/heldfile_p.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

// flock on the open file is the lock: taken right after opening, held until the descriptor is
// closed. Every copy of the tool takes it, so it keeps them off each other's file.

namespace heldfile {
namespace {
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

} // namespace

// O_NONBLOCK keeps a FIFO or a device from blocking the open; fstat then refuses it.
Handle openRegular(const QString& path, Access access, Make make, bool* created, QString* error)
{
    const QByteArray name = QFile::encodeName(path);
    const int base = access == Access::Read ? O_RDONLY : O_RDWR;
    int fd = -1;
    *created = false;
    const int noLink = make == Make::OpenOrCreateNoLink ? O_NOFOLLOW : 0;
    if (make == Make::CreateNew) {
        fd = openName(name, base | O_CREAT | O_EXCL | O_NOFOLLOW);
        *created = fd >= 0;
    } else {
        // Told apart from an existing file, so that only a file made here is removed again.
        for (int attempt = 0; fd < 0 && attempt < 4; ++attempt) {
            fd = openName(name, base | noLink);
            if (fd >= 0 || errno != ENOENT || make == Make::Existing)
                break;
            fd = openName(name, base | O_CREAT | O_EXCL | noLink);
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
    if (recorder)
        tellName(HeldFile::Operation::Open, path, QString(), fd, *created);
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

bool ownedByUser(Handle fd)
{
    struct stat st
    {
    };
    return ::fstat(fd, &st) == 0 && st.st_uid == ::geteuid();
}

QByteArray identityOf(Handle fd)
{
    struct stat st
    {
    };
    if (::fstat(fd, &st) != 0)
        return QByteArray();
    return QByteArray::number(quint64(st.st_dev)) + ':' + QByteArray::number(quint64(st.st_ino));
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
        if (recorder)
            tellHandle(HeldFile::Operation::Write, fd, offset, 0, QByteArrayView(data, put));
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
    if (rc == 0 && recorder)
        tellHandle(HeldFile::Operation::SetLength, fd, 0, size);
    return rc == 0;
}

bool allocate(Handle fd, qint64 size)
{
    const qint64 old = sizeOf(fd);
    if (old < 0)
        return false;
    const int rc = ::posix_fallocate(fd, 0, off_t(size));
    if (rc == 0) {
        if (recorder)
            tellHandle(HeldFile::Operation::Allocate, fd, 0, size);
        return true;
    }
    if (rc != EINVAL && rc != EOPNOTSUPP)
        return false;
    // A file system without allocation: write zeros past the end instead.
    static const char zeros[CopyBlock] = {};
    for (qint64 at = old; at < size; at += CopyBlock) {
        if (!writeAtRaw(fd, at, zeros, qMin(CopyBlock, size - at)))
            return false;
    }
    if (recorder)
        tellHandle(HeldFile::Operation::Allocate, fd, 0, size);
    return true;
}

bool flushData(Handle fd)
{
    int rc;
    do {
        rc = ::fdatasync(fd);
    } while (rc != 0 && errno == EINTR);
    if (rc == 0 && recorder)
        tellHandle(HeldFile::Operation::FlushData, fd);
    return rc == 0;
}

void closeHandle(Handle fd)
{
    ::close(fd);
    if (recorder)
        tellHandle(HeldFile::Operation::Close, fd);
}

bool removeName(const QString& path)
{
    if (::unlink(QFile::encodeName(path).constData()) != 0)
        return errno == ENOENT;
    if (recorder)
        tellName(HeldFile::Operation::Remove, path);
    return true;
}

bool renameOver(const QString& from, const QString& to)
{
    if (::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) != 0)
        return false;
    if (recorder)
        tellName(HeldFile::Operation::Rename, from, to);
    return true;
}

// A created, renamed or removed name reaches the disk only with its folder.
void flushFolderOf(const QString& path)
{
    const QByteArray folder = QFile::encodeName(QFileInfo(path).absolutePath());
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    if (::fsync(fd) == 0 && recorder)
        tellName(HeldFile::Operation::FlushFolder, QFile::decodeName(folder));
    ::close(fd);
}

bool makeFolder(const QString& absolute)
{
    if (::mkdir(QFile::encodeName(absolute).constData(), 0700) != 0 && errno != EEXIST)
        return false;
    flushFolderOf(absolute);
    return QFileInfo(absolute).isDir();
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

} // namespace heldfile

#include "device/tracefile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace TraceFile {

namespace {
    bool fail(QString* error, const QString& reason)
    {
        *error = reason;
        return false;
    }

    bool failWithErrno(QString* error)
    {
        return fail(error, QString::fromLocal8Bit(std::strerror(errno)));
    }

    int openRetrying(int folder, const char* name, int flags, mode_t mode = 0)
    {
        int fd;
        do {
            fd = ::openat(folder, name, flags | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW, mode);
        } while (fd < 0 && errno == EINTR);
        return fd;
    }

    // The folder itself, not a link to one, and ours; a descriptor or -1.
    int openOwnFolder(const QString& folder, QString* error)
    {
        const int fd = openRetrying(AT_FDCWD, QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY);
        if (fd < 0) {
            failWithErrno(error);
            return -1;
        }
        struct stat st
        {
        };
        if (::fstat(fd, &st) != 0 || st.st_uid != ::geteuid()) {
            ::close(fd);
            fail(error, QStringLiteral("The folder belongs to another user"));
            return -1;
        }
        return fd;
    }
} // namespace

bool makeFolder(const QString& folder, QString* error)
{
    const QString parent = QFileInfo(folder).absolutePath();
    if (!QDir().mkpath(parent))
        return fail(error, QStringLiteral("Cannot create the folder ") + QDir::toNativeSeparators(parent));
    if (::mkdir(QFile::encodeName(folder).constData(), 0700) != 0 && errno != EEXIST)
        return failWithErrno(error);
    const int fd = openOwnFolder(folder, error);
    if (fd < 0)
        return false;
    // A folder left by an older version may be open to others.
    const bool ok = ::fchmod(fd, 0700) == 0 || failWithErrno(error);
    ::close(fd);
    return ok;
}

bool openLog(QFile& file, const QString& folder, const QString& name, QString* error)
{
    const int dir = openOwnFolder(folder, error);
    if (dir < 0)
        return false;
    // O_NONBLOCK: a FIFO without a reader fails here at once instead of holding the window.
    const int fd
        = openRetrying(dir, QFile::encodeName(name).constData(), O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK, 0600);
    const int openErrno = errno;
    ::close(dir);
    if (fd < 0) {
        errno = openErrno;
        return failWithErrno(error);
    }
    struct stat st
    {
    };
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (!ok)
        fail(error, QStringLiteral("Not a regular file"));
    else if ((st.st_mode & 077) != 0 && ::fchmod(fd, 0600) != 0)
        ok = failWithErrno(error);
    if (ok && !file.open(fd, QIODevice::WriteOnly | QIODevice::Append, QFileDevice::AutoCloseHandle))
        ok = fail(error, file.errorString());
    if (!ok)
        ::close(fd);
    return ok;
}

} // namespace TraceFile

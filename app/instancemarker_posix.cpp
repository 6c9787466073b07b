#include "app/instancemarker.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QStandardPaths>
#include <QStringList>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

// The marker is an flock'ed file and the channel a local socket, both in a folder that only this
// user can enter. Nobody else can reach the socket or take the marker's name first, and another
// user's copy has its own folder, so two users each run their own copy. The kernel drops the
// lock with the process, so a crashed copy never blocks the next start.

namespace {
[[noreturn]] void throwSystemError(int code)
{
    throw std::runtime_error(InstanceMarker::systemErrorText(code).toStdString());
}

// A folder fit for the marker: a real folder of this user that nobody else may enter.
bool isPrivateDirectory(const QString& path, bool followLink)
{
    struct stat info
    {
    };
    const QByteArray native = QFile::encodeName(path);
    if ((followLink ? ::stat(native.constData(), &info) : ::lstat(native.constData(), &info)) != 0)
        return false;
    return S_ISDIR(info.st_mode) && info.st_uid == ::geteuid() && (info.st_mode & 077) == 0;
}

QString makePrivateDirectory(const QString& path)
{
    if (path.isEmpty() || !QDir().mkpath(QFileInfo(path).path()))
        return {};
    const QByteArray native = QFile::encodeName(path);
    if (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST)
        return {};
    struct stat info
    {
    };
    if (::lstat(native.constData(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::geteuid())
        ::chmod(native.constData(), 0700);
    return isPrivateDirectory(path, false) ? path : QString();
}

QString privateDirectory()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (QDir::isAbsolutePath(runtime) && isPrivateDirectory(runtime, true))
        return QDir::cleanPath(runtime);
    // Without a session's runtime folder: one of our own in the temporary folder, unless someone
    // else has taken that name, then one in the user's cache.
    const QString uid = QString::number(::geteuid());
    for (const QString& candidate :
         {QDir::tempPath() + QStringLiteral("/qm407-") + uid,
          QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + QStringLiteral("/qm407-") + uid}) {
        const QString made = makePrivateDirectory(candidate);
        if (!made.isEmpty())
            return made;
    }
    return {};
}
} // namespace

InstanceMarker::InstanceMarker(const QString& marker)
{
    m_name = marker;
    m_name.replace(QLatin1Char('/'), QLatin1Char('_'));
    m_name.replace(QChar(0), QLatin1Char('_'));
    if (m_name.isEmpty() || m_name == QLatin1String(".") || m_name == QLatin1String(".."))
        m_name.prepend(QLatin1Char('_'));
}

InstanceMarker::~InstanceMarker()
{
    release();
}

bool InstanceMarker::tryAcquire()
{
    if (m_handle >= 0)
        return true;
    if (m_directory.isEmpty())
        m_directory = privateDirectory();
    if (m_directory.isEmpty())
        throwSystemError(EACCES);
    const QByteArray path = QFile::encodeName(markerLocation());
    // Never unlinked: a waiting opener would lock a file nobody else sees.
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        throwSystemError(errno);
    int result;
    do
        result = ::flock(fd, LOCK_EX | LOCK_NB);
    while (result != 0 && errno == EINTR);
    if (result != 0) {
        const int code = errno;
        ::close(fd);
        if (code == EWOULDBLOCK)
            return false;
        throwSystemError(code);
    }
    m_handle = fd;
    return true;
}

void InstanceMarker::release()
{
    if (m_handle < 0)
        return;
    ::close(static_cast<int>(m_handle));
    m_handle = -1;
}

bool InstanceMarker::held() const
{
    return m_handle >= 0;
}

QString InstanceMarker::channelName() const
{
    return m_directory + QLatin1Char('/') + m_name + QStringLiteral(".sock");
}

QString InstanceMarker::markerLocation() const
{
    QString directory = m_directory.isEmpty() ? privateDirectory() : m_directory;
    return directory + QLatin1Char('/') + m_name + QStringLiteral(".lock");
}

void InstanceMarker::prepareServer(QLocalServer& server)
{
    server.setSocketOptions(QLocalServer::UserAccessOption);
}

bool InstanceMarker::peerIsSameUser(qintptr socketDescriptor)
{
#ifdef SO_PEERCRED
    struct ucred credentials
    {
    };
    socklen_t size = sizeof credentials;
    if (::getsockopt(static_cast<int>(socketDescriptor), SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0)
        return false;
    return credentials.uid == ::geteuid();
#else
    uid_t uid = 0;
    gid_t gid = 0;
    return ::getpeereid(static_cast<int>(socketDescriptor), &uid, &gid) == 0 && uid == ::geteuid();
#endif
}

QByteArray InstanceMarker::ownCommandLine()
{
    QFile file(QStringLiteral("/proc/self/cmdline"));
    QByteArray line;
    if (file.open(QIODevice::ReadOnly))
        line = file.readAll();
    if (line.isEmpty())
        return QCoreApplication::arguments().join(QLatin1Char(' ')).toLocal8Bit();
    while (line.endsWith('\0'))
        line.chop(1);
    line.replace('\0', ' ');
    return line;
}

QString InstanceMarker::systemErrorText(int code)
{
    if (code == 0)
        return QStringLiteral("A call to an OS function failed");
    return QStringLiteral("System Error.  Code: %1.\r\n%2").arg(code).arg(QString::fromLocal8Bit(std::strerror(code)));
}

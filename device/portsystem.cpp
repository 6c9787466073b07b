#include "portsystem.h"

#include <QRegularExpression>

#include <cerrno>
#include <cstring>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <sys/file.h>
#include <unistd.h>
#endif

namespace PortSystem {

QString devicePath(const QString& name)
{
#ifdef Q_OS_WIN
    return name;
#else
    if (name.isEmpty())
        return {};
    static const QRegularExpression comName(QStringLiteral("^COM([1-9][0-9]*)$"),
                                            QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = comName.match(name);
    if (m.hasMatch()) {
        bool ok = false;
        const int n = m.captured(1).toInt(&ok);
        if (ok)
            return QStringLiteral("/dev/ttyS%1").arg(n - 1);
    }
    if (name.contains(QLatin1Char('/')))
        return name;
    return QStringLiteral("/dev/") + name;
#endif
}

QString errorText(int code)
{
#ifdef Q_OS_WIN
    wchar_t buffer[256] = {};
    const DWORD len = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, DWORD(code),
                                     0, buffer, 255, nullptr);
    return QString::fromWCharArray(buffer, int(len)).trimmed();
#else
    return QString::fromLocal8Bit(std::strerror(code));
#endif
}

QString permissionErrorText(const QString& path)
{
#ifdef Q_OS_WIN
    Q_UNUSED(path);
    return errorText(ERROR_ACCESS_DENIED);
#else
    const QByteArray local = path.toLocal8Bit();
    if (::access(local.constData(), R_OK | W_OK) == 0)
        return busyText();
    return errorText(errno);
#endif
}

QString busyText()
{
#ifdef Q_OS_WIN
    return errorText(ERROR_ACCESS_DENIED);
#else
    return errorText(EBUSY);
#endif
}

QString missingDeviceText()
{
#ifdef Q_OS_WIN
    return errorText(ERROR_FILE_NOT_FOUND);
#else
    return errorText(ENOENT);
#endif
}

bool lockExclusive(qintptr handle)
{
#ifdef Q_OS_WIN
    Q_UNUSED(handle);
    return true; // CreateFile's share mode 0 is exclusive already
#else
    return ::flock(int(handle), LOCK_EX | LOCK_NB) == 0;
#endif
}

} // namespace PortSystem

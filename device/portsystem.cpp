#include "portsystem.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSerialPort>
#include <QSerialPortInfo>

#include <cerrno>
#include <cstring>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <grp.h>
#include <sys/file.h>
#include <sys/stat.h>
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

QString openErrorText(const QString& path, int serialPortError, const QString& qtText)
{
#ifdef Q_OS_WIN
    if (serialPortError == QSerialPort::PermissionError)
        return errorText(ERROR_ACCESS_DENIED) + openFailureHelp(path, ERROR_ACCESS_DENIED);
    return qtText + openFailureHelp(path, 0);
#else
    int code = 0;
    QString text = qtText;
    if (serialPortError == QSerialPort::PermissionError) {
        const QByteArray local = path.toLocal8Bit();
        code = ::access(local.constData(), R_OK | W_OK) == 0 ? EBUSY : errno;
        text = errorText(code);
    } else if (serialPortError == QSerialPort::DeviceNotFoundError) {
        code = ENOENT;
    }
    return text + openFailureHelp(path, code);
#endif
}

QString openFailureHelp(const QString& path, int code)
{
    QString help = QStringLiteral("\n\nУстройство: %1.").arg(path);
#ifdef Q_OS_WIN
    Q_UNUSED(code);
#else
    if (code == EACCES || code == EPERM) {
        // Serial devices belong to a group (usually "dialout"); its members may use them.
        struct stat node
        {
        };
        const QByteArray local = path.toLocal8Bit();
        const group* owner = ::stat(local.constData(), &node) == 0 ? ::getgrgid(node.st_gid) : nullptr;
        const bool groupMayUse = owner && (node.st_mode & S_IRGRP) && (node.st_mode & S_IWGRP);
        if (groupMayUse) {
            const QString name = QString::fromLocal8Bit(owner->gr_name);
            help += QStringLiteral("\nРаботать с ним могут участники группы \"%1\". Добавьте себя в эту группу "
                                   "(sudo usermod -aG %1 $USER), затем выйдите из системы и войдите снова.")
                        .arg(name);
        } else {
            help += QStringLiteral("\nУ пользователя нет прав на чтение и запись этого устройства.");
        }
    } else if (code == ENOENT) {
        help += QStringLiteral("\nТакого устройства нет: возможно, адаптер не подключен. Подключите его и "
                               "снова закройте окно \"Порт связи\".");
    }
#endif
    return help;
}

QList<PortEntry> availablePorts()
{
    QList<PortEntry> ports;
    const QList<QSerialPortInfo> infos = QSerialPortInfo::availablePorts();
#ifndef Q_OS_WIN
    // Names under /dev/serial/by-id stay the same when an adapter comes back on another number.
    const QFileInfoList links = QDir(QStringLiteral("/dev/serial/by-id")).entryInfoList(QDir::System | QDir::Files);
#endif
    for (const QSerialPortInfo& info : infos) {
        QStringList about;
        for (const QString& part : {info.description(), info.manufacturer()}) {
            if (!part.isEmpty() && !about.contains(part))
                about += part;
        }
        const PortEntry entry {info.systemLocation(), about.join(QStringLiteral(", "))};
        ports += entry;
#ifndef Q_OS_WIN
        for (const QFileInfo& link : links) {
            if (link.canonicalFilePath() == entry.name)
                ports += PortEntry {link.absoluteFilePath(), entry.about};
        }
#endif
    }
    return ports;
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

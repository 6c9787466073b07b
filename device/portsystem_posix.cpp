#include "device/portsystem.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSerialPortInfo>

#include <cerrno>
#include <cstring>

#include <grp.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace PortSystem {

QString devicePath(const QString& name)
{
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
}

QString errorText(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

QString deviceHint(const QString& path, int code)
{
    QString help;
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
    return help;
}

QList<PortEntry> availablePorts()
{
    QList<PortEntry> ports;
    const QList<QSerialPortInfo> infos = QSerialPortInfo::availablePorts();
    // Names under /dev/serial/by-id stay the same when an adapter comes back on another number.
    const QFileInfoList links = QDir(QStringLiteral("/dev/serial/by-id")).entryInfoList(QDir::System | QDir::Files);
    for (const QSerialPortInfo& info : infos) {
        QStringList about;
        for (const QString& part : {info.description(), info.manufacturer()}) {
            if (!part.isEmpty() && !about.contains(part))
                about += part;
        }
        const PortEntry entry {info.systemLocation(), about.join(QStringLiteral(", "))};
        ports += entry;
        for (const QFileInfo& link : links) {
            if (link.canonicalFilePath() == entry.name)
                ports += PortEntry {link.absoluteFilePath(), entry.about};
        }
    }
    return ports;
}

const int BusyCode = EBUSY;
const int MissingDeviceCode = ENOENT;

} // namespace PortSystem

#include "device/ops/service.h"

#include "device/controller.h"
#include "device/ops/journal.h"

namespace DeviceOps {

QString versionText(int major, int minor)
{
    // Decimal numbers: a two-digit part stays readable ("1.10", not a punctuation mark).
    return QStringLiteral("QM407 версии ") + QString::number(major) + QLatin1Char('.') + QString::number(minor);
}

bool reportsRunTime(int major, int minor)
{
    return minor > 1 || major > 1;
}

QString runTimeText(quint32 minutes)
{
    return QStringLiteral("\nУстройство проработало ") + MinutesToText(minutes);
}

void clearCounter(Controller& controller)
{
    controller.writeCounter(0);
    controller.SetCrc();
}

QString dumpLine(int address, const QByteArray& cells)
{
    QString line = QStringLiteral("%1  ").arg(address, 4, 16, QLatin1Char('0')).toUpper();
    for (char c : cells)
        line += QStringLiteral("%1 ").arg(quint8(c), 2, 16, QLatin1Char('0')).toUpper();
    return line;
}

void dumpMemory(Controller& controller, QStringList& lines, QByteArray* cells)
{
    lines.clear();
    if (cells)
        cells->clear();
    for (int address = 0; address < 256; address += 8) {
        QByteArray line;
        for (int j = 0; j < 8; ++j) {
            line.append(char(controller.ReadByte(address + j)));
            if (cells)
                cells->append(line.back());
        }
        lines.append(dumpLine(address, line));
    }
}

} // namespace DeviceOps

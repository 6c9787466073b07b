#include "service.h"

#include "controller.h"
#include "deviceerror.h"
#include "devicetexts.h"
#include "frame.h"
#include "journal.h"
#include "seriallink.h"

namespace DeviceOps {

VersionReply readVersion(Controller& controller)
{
    SerialLink& link = controller.link();
    link.write(frame({0x53, 0x10}));
    const SerialLink::ReadResult r = link.read(3);
    if (!r.ok) {
        link.traceError(DeviceTexts::portReadError());
        throw DeviceError(DeviceTexts::portReadError());
    }
    VersionReply reply;
    reply.complete = r.data.size() == 3 && r.data.at(2) == Ack;
    if (!reply.complete)
        link.traceError(DeviceTexts::versionReadError());
    if (reply.complete) {
        reply.minor = quint8(r.data.at(0));
        reply.major = quint8(r.data.at(1));
    }
    return reply;
}

QString versionText(int major, int minor)
{
    // Decimal numbers: a two-digit part stays readable ("1.10", not a punctuation mark).
    return QStringLiteral("QM407 версии ") + QString::number(major) + QLatin1Char('.') + QString::number(minor);
}

bool reportsRunTime(int major, int minor)
{
    return minor > 1 || major > 1;
}

quint32 readRunTime(Controller& controller)
{
    const int base = controller.memoryMap().CounterBase;
    const quint32 high = quint32(controller.ReadByte(base + 2));
    const quint32 middle = quint32(controller.ReadByte(base + 1));
    const quint32 low = quint32(controller.ReadByte(base));
    return high << 16 | middle << 8 | low;
}

QString runTimeText(quint32 minutes)
{
    return QStringLiteral("\nУстройство проработало ") + MinutesToText(minutes);
}

void clearCounter(Controller& controller)
{
    const int base = controller.memoryMap().CounterBase;
    controller.WriteByte(base, 0);
    controller.WriteByte(base + 1, 0);
    controller.WriteByte(base + 2, 0);
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

#include "device/ops/memoryimage.h"

#include "device/controller.h"
#include "device/memorymap.h"

#include <algorithm>

namespace DeviceOps {

namespace {

    QString byteHex(quint8 value)
    {
        return QStringLiteral("%1").arg(value, 2, 16, QLatin1Char('0')).toUpper();
    }

    QString byteOrder(int k)
    {
        static const char16_t* const names[3] = {u"младший байт", u"средний байт", u"старший байт"};
        return QString::fromUtf16(names[k]);
    }

} // namespace

QList<CellDifference> compareImages(const QByteArray& expected, const QByteArray& present)
{
    QList<CellDifference> differences;
    const int size = int(std::min(expected.size(), present.size()));
    for (int a = 0; a < size; ++a) {
        if (expected.at(a) != present.at(a))
            differences.append({a, quint8(expected.at(a)), quint8(present.at(a))});
    }
    return differences;
}

QString cellMeaning(const MemoryMap& map, int address)
{
    const int zones = map == MemoryMap::qm407m() ? 7 : 3;
    const int zoneOffset = address - map.ZoneBase;
    if (zoneOffset >= 0 && zoneOffset < 2 * zones) {
        return QStringLiteral("зона %1, ").arg(zoneOffset / 2 + 1)
            + (zoneOffset % 2 == 0 ? QStringLiteral("режим") : QStringLiteral("задержка"));
    }
    if (address == map.CloseDelayCell)
        return QStringLiteral("задержка на выход");
    const int trinketOffset = address - map.TrinketBase;
    if (trinketOffset >= 0 && trinketOffset < 12) {
        const int slot = trinketOffset / 3;
        return QStringLiteral("брелок, слот %1").arg(slot) + (slot == 0 ? QStringLiteral(" (мастер)") : QString())
            + QStringLiteral(", ") + byteOrder(trinketOffset % 3);
    }
    if (address == map.FlagsCell)
        return QStringLiteral("флаги");
    const int counterOffset = address - map.CounterBase;
    if (counterOffset >= 0 && counterOffset < 3)
        return QStringLiteral("счетчик наработки, ") + byteOrder(counterOffset);
    if (address == map.ZeroCell)
        return QStringLiteral("ячейка, обнуляемая записью параметров");
    return QString();
}

QString differenceLine(const CellDifference& d, const MemoryMap& map, const QString& expectedLabel,
                       const QString& presentLabel)
{
    QString line = QStringLiteral("0x%1 (%2): %3 %4, %5 %6")
                       .arg(byteHex(quint8(d.address)))
                       .arg(d.address)
                       .arg(expectedLabel, byteHex(d.expected), presentLabel, byteHex(d.present));
    const QString meaning = cellMeaning(map, d.address);
    if (!meaning.isEmpty())
        line += QStringLiteral(" — ") + meaning;
    return line;
}

QString comparisonText(const QList<CellDifference>& differences, const MemoryMap& map, const QString& imageName)
{
    QStringList lines;
    lines << QStringLiteral("Образец: ") + imageName << QStringLiteral("Карта памяти: ") + mapName(map);
    if (differences.isEmpty()) {
        lines << QStringLiteral("Отличий нет");
    } else {
        lines << QStringLiteral("Отличаются ячеек: %1").arg(differences.size());
        for (const CellDifference& d : differences)
            lines << differenceLine(d, map, QStringLiteral("образец"), QStringLiteral("устройство"));
    }
    return lines.join(QLatin1Char('\n'));
}

QList<CellDifference> readBack(Controller& controller, const QList<CellValue>& written)
{
    QList<CellDifference> differences;
    for (const CellValue& cell : written) {
        const quint8 present = quint8(controller.ReadByte(cell.address));
        if (present != cell.value)
            differences.append({cell.address, cell.value, present});
    }
    return differences;
}

QString readBackReport(const QList<CellDifference>& differences, const MemoryMap& map)
{
    QStringList lines {QStringLiteral("Параметры записаны не полностью, ячейки:")};
    for (const CellDifference& d : differences)
        lines << differenceLine(d, map, QStringLiteral("записано"), QStringLiteral("прочитано"));
    return lines.join(QLatin1Char('\n'));
}

QString mapName(const MemoryMap& map)
{
    if (map == MemoryMap::qm407m())
        return QStringLiteral("QM407M");
    if (map == MemoryMap::qm407v11())
        return QStringLiteral("QM407 1.1");
    return QStringLiteral("QM407");
}

} // namespace DeviceOps

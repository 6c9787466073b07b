#include "device/ops/zoneparams.h"

#include "device/controller.h"

namespace DeviceOps {

QStringList zoneModeNames()
{
    return {QStringLiteral("Выключена"),   QStringLiteral("С взятием под охрану"), QStringLiteral("Круглосуточная"),
            QStringLiteral("Блокирующая"), QStringLiteral("Выключающая"),          QStringLiteral("Пожарная")};
}

int zoneModeCode(const QString& text)
{
    return int(zoneModeNames().indexOf(text));
}

quint8 flagsByte(const ZoneParams& p)
{
    return quint8((p.enBypass ? 0x01 : 0) | (p.disExtCode ? 0x02 : 0) | (p.autoClose ? 0x04 : 0)
                  | (p.indicOnlyAlarm ? 0x08 : 0) | (p.noMat ? 0x10 : 0));
}

int zonesOf(bool qm407m)
{
    return qm407m ? 7 : 3;
}

int invalidZone(const ZoneParams& params, int zones)
{
    for (int n = 0; n < zones; ++n) {
        if (params.modes[size_t(n)] < 0 || params.modes[size_t(n)] >= int(zoneModeNames().size()))
            return n + 1;
    }
    return 0;
}

QList<CellValue> zoneParamCells(const MemoryMap& map, const ZoneParams& params, int zones)
{
    QList<CellValue> cells;
    for (int n = 0; n < zones; ++n) {
        cells.append({map.ZoneBase + 2 * n, quint8(params.modes[size_t(n)])});
        cells.append({map.ZoneBase + 2 * n + 1, quint8(params.delays[size_t(n)])});
    }
    cells.append({map.CloseDelayCell, quint8(params.closeDelay)});
    cells.append({map.FlagsCell, flagsByte(params)});
    cells.append({map.ZeroCell, 0});
    return cells;
}

void writeZoneParams(Controller& controller, const ZoneParams& params, int zones)
{
    // A mode the controller does not know would go out as 255.
    Q_ASSERT(invalidZone(params, zones) == 0);
    for (const CellValue& cell : zoneParamCells(controller.memoryMap(), params, zones))
        controller.WriteByte(cell.address, cell.value);
    controller.SetCrc();
}

} // namespace DeviceOps

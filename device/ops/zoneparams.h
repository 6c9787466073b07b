#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <array>

class Controller;
struct MemoryMap;

namespace DeviceOps {

constexpr int ZoneCount = 7;

// The six zone modes; a mode's code in the controller is its position here.
QStringList zoneModeNames();
// The code of the mode a box names, or -1 when the text names none.
int zoneModeCode(const QString& text);

// The values of the parameters window at the moment of writing.
struct ZoneParams
{
    std::array<int, ZoneCount> modes {}; // codes 0..5; -1 for a box that names no mode
    std::array<int, ZoneCount> delays {}; // only the low 8 bits reach the controller
    int closeDelay = 0;
    bool enBypass = false;
    bool disExtCode = false; // the caller passes it only when the box is enabled
    bool autoClose = false;
    bool indicOnlyAlarm = false;
    bool noMat = false;
};

quint8 flagsByte(const ZoneParams& params);

// Zones the controller has: 3 on a QM407, 7 on a QM407M.
int zonesOf(bool qm407m);

// The first zone among 1..zones whose mode is not one of the six, or 0 when all are.
int invalidZone(const ZoneParams& params, int zones);

struct CellValue
{
    int address = 0;
    quint8 value = 0;
};

// The cells a parameter write sets, in the order it writes them.
QList<CellValue> zoneParamCells(const MemoryMap& map, const ZoneParams& params, int zones);

// Writes the zones' modes and delays, the exit delay, the flags and the zeroed cell at the cells
// of the controller's current memory map, then has it recompute its checksum. The model must
// have been detected just before, and every written zone must name a mode (invalidZone gives 0):
// the parameters window refuses its input before any cell is written. Throws DeviceError.
void writeZoneParams(Controller& controller, const ZoneParams& params, int zones);

} // namespace DeviceOps

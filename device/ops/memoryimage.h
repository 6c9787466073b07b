#pragma once

#include "device/ops/zoneparams.h"

#include <QByteArray>
#include <QList>
#include <QString>

class Controller;
struct MemoryMap;

namespace DeviceOps {

// Cells 0 to 255, as the memory dump reads them.
constexpr int ImageSize = 256;

struct CellDifference
{
    int address = 0;
    quint8 expected = 0; // the image's or the written value
    quint8 present = 0; // what the controller holds
};

// Cells whose values differ; both images must hold ImageSize cells.
QList<CellDifference> compareImages(const QByteArray& expected, const QByteArray& present);

// What the memory map keeps in a cell ("зона 2, режим", "флаги", ...), or "" for a cell it does
// not name. Zones 4 to 7 exist only in a QM407M map.
QString cellMeaning(const MemoryMap& map, int address);

// "0x15 (21): образец 01, устройство 00 — флаги", with the two labels given.
QString differenceLine(const CellDifference& difference, const MemoryMap& map, const QString& expectedLabel,
                       const QString& presentLabel);

// The text of a comparison with an image; names the map the meanings come from.
QString comparisonText(const QList<CellDifference>& differences, const MemoryMap& map, const QString& imageName);

// Reads every written cell back, in the order written. Throws DeviceError.
QList<CellDifference> readBack(Controller& controller, const QList<CellValue>& written);
// The error text listing the cells a read-back found different.
QString readBackReport(const QList<CellDifference>& differences, const MemoryMap& map);

// "QM407 1.1", "QM407" or "QM407M" for the maps the detection selects.
QString mapName(const MemoryMap& map);

} // namespace DeviceOps

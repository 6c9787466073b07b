#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

class Controller;

namespace DeviceOps {

// "QM407 версии 1.2".
QString versionText(int major, int minor);
// Firmware from 1.2 on keeps a run-time counter worth showing.
bool reportsRunTime(int major, int minor);
// "\nУстройство проработало 1дн 1ч 0мин".
QString runTimeText(quint32 minutes);

// Zeroes the run-time counter, lowest cell first, then has the checksum recomputed.
void clearCounter(Controller& controller);

// "0008  0A 00 FF 01 02 03 04 05 ": the first cell's address, then the cells, each followed by a space.
QString dumpLine(int address, const QByteArray& cells);

// Reads cells 0 to 255 in address order into 32 lines of 8 cells (lines cleared first). On a
// failed cell it throws DeviceError and lines keeps the complete lines read before it. The cells,
// when asked for, get every value read.
void dumpMemory(Controller& controller, QStringList& lines, QByteArray* cells = nullptr);

} // namespace DeviceOps

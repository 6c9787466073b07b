#pragma once

#include "device/controller.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace DeviceOps {

// "1дн 1ч 0мин" for 1500 minutes.
QString MinutesToText(quint32 minutes);

// The name of an event by the high four bits of its event byte.
QString eventName(int code);

using JournalEntry = Controller::JournalEntry;

// The event's name, with the low four bits in brackets when not 0: "Взятие (3)".
QString eventText(quint8 event);

// One journal line: the event's name, the low four bits in brackets when not 0, and the time
// since the controller started working.
QString journalLine(quint8 event, quint32 minutes);

// Requests entries 0 to JournalLength - 2 of the current memory map, one exchange each,
// appending a line per entry to lines (cleared first). On a failed entry it throws DeviceError
// and lines keeps what was read before it. The entries, when asked for, follow the lines.
void readJournal(Controller& controller, QStringList& lines, QList<JournalEntry>* entries = nullptr);

} // namespace DeviceOps

#include "device/memorymap.h"

MemoryMap MemoryMap::qm407v11()
{
    return {4, 10, 11, 23, 67, 70, 44};
}

MemoryMap MemoryMap::qm407()
{
    return {2, 8, 9, 21, 65, 68, 44};
}

MemoryMap MemoryMap::qm407m()
{
    return {2, 16, 17, 29, 89, 92, 38};
}

bool MemoryMap::operator==(const MemoryMap& o) const
{
    return ZoneBase == o.ZoneBase && CloseDelayCell == o.CloseDelayCell && TrinketBase == o.TrinketBase
        && FlagsCell == o.FlagsCell && CounterBase == o.CounterBase && ZeroCell == o.ZeroCell
        && JournalLength == o.JournalLength;
}

#pragma once

// The controller models the detection tells apart; the memory map follows the model and its
// firmware version. The values are also the stored positions of the model choice.
enum class Model
{
    QM407 = 0,
    QM407M = 1,
};

// Model-dependent cell addresses of the controller's memory.
struct MemoryMap
{
    int ZoneBase;
    int CloseDelayCell;
    int TrinketBase;
    int FlagsCell;
    int CounterBase;
    int ZeroCell;
    int JournalLength;

    static MemoryMap qm407v11();
    static MemoryMap qm407(); // every QM407 version but 1.1
    static MemoryMap qm407m();
    static MemoryMap initial() { return qm407(); }

    bool operator==(const MemoryMap& o) const;
    bool operator!=(const MemoryMap& o) const { return !(*this == o); }
};

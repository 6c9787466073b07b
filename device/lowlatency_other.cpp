#include "device/lowlatency.h"

// No portable request exists; the adapter's own setting applies.
bool LowLatency::request(int)
{
    return false;
}

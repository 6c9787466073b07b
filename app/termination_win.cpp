#include "app/termination.h"

void Termination::install(QObject*)
{
    // A GUI program on Windows is asked to end through its windows, which already take that way.
}

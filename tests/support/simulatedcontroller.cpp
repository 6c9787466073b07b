#include "tests/support/simulatedcontroller.h"

bool SimulatedController::start(QString* error)
{
    if (!sim.start()) {
        *error = QStringLiteral("the simulator could not open a pseudo-terminal");
        return false;
    }
    return link.Open(sim.slavePath(), error);
}

#pragma once

#include "device/controller.h"
#include "device/seriallink.h"
#include "sim/simulator.h"

#include <QString>

// A simulated controller on a pseudo-terminal, with the tool's link and frames opened on it.
// Members end in reverse order: the link closes before the simulator stops.
struct SimulatedController
{
    Qm407Simulator sim;
    SerialLink link;
    Controller controller {link};

    // Starts the simulator and opens its terminal; false with the reason in *error.
    bool start(QString* error);
};

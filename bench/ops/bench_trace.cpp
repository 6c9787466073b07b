// The 256-cell memory dump against the simulated controller pacing its line at 9600 baud, with
// the serial trace off and on in alternate rounds. Prints both times and their ratio.
#include "device/ops/service.h"
#include "device/serialtrace.h"
#include "tests/support/simulatedcontroller.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double dumpSeconds(SimulatedController& rig)
{
    QStringList lines;
    const Clock::time_point start = Clock::now();
    DeviceOps::dumpMemory(rig.controller, lines);
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double median(std::vector<double> times)
{
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 9;
    SimulatedController rig;
    QString error;
    if (!rig.start(&error)) {
        std::printf("no simulated controller: %s\n", qPrintable(error));
        return 1;
    }
    rig.sim.setPacing(true);
    QTemporaryDir folder;
    SerialTrace trace(folder.path());

    std::vector<double> off, on;
    for (int i = 0; i < rounds; ++i) {
        rig.link.setTrace(nullptr);
        off.push_back(dumpSeconds(rig));
        rig.link.setTrace(&trace);
        on.push_back(dumpSeconds(rig));
    }
    rig.link.setTrace(nullptr);
    const double a = median(off);
    const double b = median(on);
    std::printf("256-cell dump at 9600 baud, %d rounds each, alternating\n", rounds);
    std::printf("trace off  median %.4f s\ntrace on   median %.4f s\nratio on/off %.4f\n", a, b, b / a);
    return 0;
}

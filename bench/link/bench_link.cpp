// Reads all 256 cells one exchange at a time from a simulator that keeps to 9600 baud and
// compares the time with what the wire itself needs.
#include "device/controller.h"
#include "device/seriallink.h"
#include "sim/simulator.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 3;

    Qm407Simulator sim;
    if (!sim.start()) {
        std::perror("simulator");
        return 1;
    }
    sim.setPacing(true);
    for (int a = 0; a < 256; ++a)
        sim.setCell(a, quint8(a ^ 0x5A));

    SerialLink link;
    QString error;
    if (!link.Open(sim.slavePath(), &error)) {
        std::fprintf(stderr, "open: %s\n", qPrintable(error));
        return 1;
    }
    Controller controller(link);

    // 256 exchanges of 3 request and 2 reply bytes, 10 bits per byte.
    const double limit = 256.0 * 5 * 10 / 9600;
    double best = 1e9;
    for (int r = 0; r < rounds; ++r) {
        QElapsedTimer timer;
        timer.start();
        for (int a = 0; a < 256; ++a) {
            if (controller.ReadByte(a) != (a ^ 0x5A)) {
                std::fprintf(stderr, "cell %d read wrong\n", a);
                return 1;
            }
        }
        const double seconds = timer.nsecsElapsed() / 1e9;
        // Where the time went: the simulator's side (request complete -> answer sent) and the
        // tool's side (answer sent -> next request complete, less the request's own wire time).
        const auto log = sim.log();
        double simSide = 0;
        double toolSide = 0;
        int n = 0;
        for (size_t i = 0; i + 2 < log.size(); i += 2) {
            simSide += std::chrono::duration<double, std::milli>(log[i + 1].time - log[i].time).count();
            toolSide += std::chrono::duration<double, std::milli>(log[i + 2].time - log[i + 1].time).count();
            ++n;
        }
        sim.clearLog();
        if (n > 0) {
            std::printf("  per exchange: simulator %.3f ms (wire 2.083), tool %.3f ms (wire 3.125)\n", simSide / n,
                        toolSide / n);
        }
        best = std::min(best, seconds);
        std::printf("round %d: 256 cells in %.3f s, ratio %.3f to %.3f s\n", r + 1, seconds, seconds / limit, limit);
    }
    std::printf("best: %.3f s, ratio %.3f (target <= 1.02)\n", best, best / limit);
    return 0;
}

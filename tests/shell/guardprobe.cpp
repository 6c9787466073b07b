#include "app/singleappinstance.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cstdio>
#include <unistd.h>

// A program holding nothing but the guard: it prints "first" or "second", then every command
// line handed to it (as hex, one per line), and ends when its standard input closes.
int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    TSingleAppInstance guard;
    bool second = false;
    QObject::connect(&guard, &TSingleAppInstance::secondInstance, [&second] { second = true; });
    QObject::connect(&guard, &TSingleAppInstance::commandLineReceived, [](const QByteArray& line) {
        std::printf("received %s\n", line.toHex().constData());
        std::fflush(stdout);
    });
    const QString marker
        = qEnvironmentVariable("QM407_PROBE_MARKER", QStringLiteral("{DE93EB52-9B04-4347-BDA5-B46D457C1F86}"));
    try {
        guard.SetMarker(marker);
        guard.Loaded();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 3;
    }
    if (second) {
        std::printf("second\n");
        return 0;
    }
    std::printf("first\n");
    std::fflush(stdout);

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&input] {
        char buffer[256];
        if (::read(STDIN_FILENO, buffer, sizeof buffer) <= 0) {
            input.setEnabled(false);
            QCoreApplication::quit();
        }
    });
    return app.exec();
}

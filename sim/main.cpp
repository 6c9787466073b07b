// Stands in for a controller on a pseudo-terminal, so the tool can be tried without hardware.
#include "sim/simulator.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QStringList>

#include <chrono>
#include <cstdio>
#include <iostream>
#include <string>

#include <unistd.h>

namespace {
const char* const Commands = "Commands on standard input, one per line:\n"
                             "  press <hex code>             trinket button held: answers an enrolment with this\n"
                             "                               24-bit code; the tool takes it as button '1' only when\n"
                             "                               its last hex digit is 3 (e.g. press 1B2C33), any other\n"
                             "                               ending is refused as another button\n"
                             "  test <hex byte>              trinket button pressed: answers a test\n"
                             "  cell <address> <value>       set a memory cell (decimal, or 0x.. hex)\n"
                             "  counter <minutes>            set the run-time counter\n"
                             "  journal <index> <event> <minutes>   set a journal entry\n"
                             "  dump                         print the 256 memory cells\n"
                             "  quit                         end the simulator\n";

int number(const QString& text, bool* ok, int base = 0)
{
    return int(text.toUInt(ok, base));
}

QString hex(const QByteArray& bytes)
{
    return QString::fromLatin1(bytes.toHex(' ')).toUpper();
}

bool execute(Qm407Simulator& sim, const QStringList& words)
{
    bool ok1 = false;
    bool ok2 = true;
    bool ok3 = true;
    const QString command = words.value(0).toLower();
    if (command == QLatin1String("press") && words.size() == 2) {
        const quint32 code = quint32(number(words[1], &ok1, 16));
        if (ok1) {
            const bool waiting = sim.waitingCommand() >= 0x16;
            sim.pressTrinket(code);
            std::cout << (waiting ? "pressed" : "no enrolment waiting; the press is kept for the next one")
                      << std::endl;
        }
        return ok1;
    }
    if (command == QLatin1String("test") && words.size() == 2) {
        const int button = number(words[1], &ok1, 16);
        if (ok1 && button <= 0xFF) {
            const bool waiting = sim.waitingCommand() == 0x12;
            sim.pressTestButton(quint8(button));
            std::cout << (waiting ? "pressed" : "no test waiting; the press is kept for the next one") << std::endl;
        }
        return ok1 && button <= 0xFF;
    }
    if (command == QLatin1String("cell") && words.size() == 3) {
        const int address = number(words[1], &ok1);
        const int value = number(words[2], &ok2);
        if (!ok1 || !ok2 || address > 0xFF || value > 0xFF)
            return false;
        sim.setCell(address, quint8(value));
        return true;
    }
    if (command == QLatin1String("counter") && words.size() == 2) {
        const int minutes = number(words[1], &ok1);
        if (ok1)
            sim.setCounter(quint32(minutes));
        return ok1;
    }
    if (command == QLatin1String("journal") && words.size() == 4) {
        const int index = number(words[1], &ok1);
        const int event = number(words[2], &ok2);
        const int minutes = number(words[3], &ok3);
        if (!ok1 || !ok2 || !ok3 || index > 0xFF || event > 0xFF)
            return false;
        sim.setJournalEntry(index, quint8(event), quint32(minutes));
        return true;
    }
    if (command == QLatin1String("dump") && words.size() == 1) {
        const auto memory = sim.memory();
        for (int row = 0; row < 256; row += 16) {
            const QByteArray line(reinterpret_cast<const char*>(memory.data()) + row, 16);
            std::printf("%02X: %s\n", row, qPrintable(hex(line)));
        }
        std::fflush(stdout);
        return true;
    }
    return false;
}

// The model and firmware version asked for on the command line; false after a message on
// standard error when they are unknown or do not belong together.
bool chooseVersion(const QString& model, const QString& version, bool versionSet, int* major, int* minor)
{
    if (model != QLatin1String("QM407") && model != QLatin1String("QM407M")) {
        std::cerr << "unknown model: " << qPrintable(model) << std::endl;
        return false;
    }
    *major = model == QLatin1String("QM407M") ? 2 : 1;
    *minor = 0;
    if (versionSet) {
        const QStringList parts = version.split(QLatin1Char('.'));
        bool okMajor = false;
        bool okMinor = parts.size() == 1;
        *major = parts.value(0).toInt(&okMajor);
        if (parts.size() == 2)
            *minor = parts[1].toInt(&okMinor);
        if (!okMajor || !okMinor || parts.size() > 2 || *major < 0 || *major > 255 || *minor < 0 || *minor > 255) {
            std::cerr << "bad version: " << qPrintable(version) << std::endl;
            return false;
        }
    }
    // The firmware's major version is what tells the models apart: 2 and 3 are a QM407M.
    if ((model == QLatin1String("QM407M")) != (*major == 2 || *major == 3)) {
        std::cerr << "version " << qPrintable(version) << " is not one of a " << qPrintable(model)
                  << " (a QM407M has version 2.x or 3.x)" << std::endl;
        return false;
    }
    return true;
}

// Prints every frame on standard error, with the milliseconds since the start.
void logFrames(Qm407Simulator& sim)
{
    const auto started = std::chrono::steady_clock::now();
    sim.setOnFrame([started](const Qm407Simulator::LogEntry& e) {
        const double ms = std::chrono::duration<double, std::milli>(e.time - started).count();
        std::fprintf(stderr, "%10.3f %s %s\n", ms, e.fromTool ? "tool>" : " sim<", qPrintable(hex(e.bytes)));
    });
}
} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("qm407-sim"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Simulates a QM407 or QM407M controller on a pseudo-terminal and prints its path;\n"
                       "type that path as the port name in the tool.\n\n")
        + QString::fromLatin1(Commands));
    parser.addHelpOption();
    const QCommandLineOption modelOption(QStringLiteral("model"), QStringLiteral("QM407 (default) or QM407M."),
                                         QStringLiteral("model"), QStringLiteral("QM407"));
    const QCommandLineOption versionOption(
        QStringLiteral("version"),
        QStringLiteral("Firmware version major.minor, e.g. 1.1 or 2.0 (default 1.0 for QM407, 2.0 for QM407M)."),
        QStringLiteral("version"));
    const QCommandLineOption paceOption(QStringLiteral("pace"), QStringLiteral("Send at the speed of 9600 baud."));
    const QCommandLineOption logOption(QStringLiteral("log"),
                                       QStringLiteral("Print every frame received and sent on standard error."));
    parser.addOptions({modelOption, versionOption, paceOption, logOption});
    parser.process(app);

    int major = 0;
    int minor = 0;
    if (!chooseVersion(parser.value(modelOption).toUpper(), parser.value(versionOption), parser.isSet(versionOption),
                       &major, &minor))
        return 2;

    Qm407Simulator sim;
    sim.setVersion(major, minor);
    sim.setPacing(parser.isSet(paceOption));
    if (parser.isSet(logOption))
        logFrames(sim);
    if (!sim.start()) {
        std::perror("cannot open a pseudo-terminal");
        return 1;
    }
    std::cout << qPrintable(sim.slavePath()) << std::endl;

    std::string line;
    while (std::getline(std::cin, line)) {
        const QStringList words = QString::fromStdString(line).split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (words.isEmpty())
            continue;
        if (words[0].toLower() == QLatin1String("quit"))
            return 0;
        if (!execute(sim, words))
            std::cerr << "not understood: " << line << "\n" << Commands << std::flush;
    }
    // Without input (started in the background) keep serving until interrupted.
    for (;;)
        ::pause();
}

// Journal reading and memory dump through the main window's own commands, against the
// simulated controller pacing its line at 9600 baud. Prints each time and its ratio to the
// line's physical limit.
#include "app/auxwindow.h"
#include "app/messagebox.h"
#include "app/mntavro.h"
#include "tests/support/opsrig.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr double ByteSeconds = 10.0 / 9600.0;
constexpr double DrainSeconds = 0.110;
// 256 ReadCell exchanges of 3 + 2 bytes, after the drain.
constexpr double DumpLimit = 256 * 5 * ByteSeconds + DrainSeconds;
// Detection (2 + 3 bytes) and 43 ReadJournalEntry exchanges of 3 + 5 bytes, after the drain.
constexpr double JournalLimit = 43 * 8 * ByteSeconds + DrainSeconds + 5 * ByteSeconds;

// Notes the moment the result window appears, then closes it.
class ShowStamp final : public QObject
{
public:
    explicit ShowStamp(TAuxWindow* window)
        : m_window(window)
    {
        window->installEventFilter(this);
    }
    Clock::time_point at;
    bool seen = false;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == m_window && event->type() == QEvent::Show && !seen) {
            at = Clock::now();
            seen = true;
            QTimer::singleShot(0, m_window, [w = m_window] { w->reject(); });
        }
        return false;
    }

private:
    TAuxWindow* m_window;
};

double runOnce(QAction* command, TAuxWindow* result)
{
    ShowStamp stamp(result);
    const Clock::time_point start = Clock::now();
    command->trigger();
    if (!stamp.seen || !MessageBoxSeam::shown().isEmpty()) {
        std::printf("  the command failed: %s\n", qPrintable(MessageBoxSeam::texts().join(QLatin1Char('|'))));
        return -1;
    }
    return std::chrono::duration<double>(stamp.at - start).count();
}

void report(const char* name, std::vector<double> times, double limit)
{
    std::sort(times.begin(), times.end());
    const double median = times[times.size() / 2];
    std::printf(
        "%-8s limit %.3f s   best %.3f s (ratio %.3f)   median %.3f s (ratio %.3f)   worst %.3f s (ratio %.3f)\n", name,
        limit, times.front(), times.front() / limit, median, median / limit, times.back(), times.back() / limit);
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir home;
    const QString runtime = home.filePath(QStringLiteral("run"));
    QDir().mkpath(runtime);
    QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", runtime.toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", home.filePath(QStringLiteral("config")).toLocal8Bit());
    QApplication app(argc, argv);

    const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 5;
    OpsRig rig;
    if (!rig.ready()) {
        std::printf("no simulated controller\n");
        return 1;
    }
    TFmTavro& w = rig.window();
    rig.sim.setPacing(true);
    for (int a = 0; a < 256; ++a)
        rig.sim.setCell(a, quint8(a));
    for (int i = 0; i < 43; ++i)
        rig.sim.setJournalEntry(i, quint8(0x60 + i % 16), quint32(i * 1500));

    std::printf("9600 baud, 10 bits a byte, %d rounds; figures from the click to the window\n", rounds);
    std::vector<double> dump, journal;
    for (int i = 0; i < rounds; ++i) {
        MessageBoxSeam::clear();
        MessageBoxSeam::setUnattended(true);
        const double d = runOnce(w.EEPROM, w.SFROM);
        const double j = runOnce(w.NJournal, w.SFJournal);
        if (d < 0 || j < 0)
            return 1;
        dump.push_back(d);
        journal.push_back(j);
    }
    report("dump", dump, DumpLimit);
    report("journal", journal, JournalLimit);
    return 0;
}

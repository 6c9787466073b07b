// Save and load of registers of 1,000 to 100,000 records on the real disk, against a plain
// write of the same bytes with the same flush. Each size runs in a child process so that its
// peak memory is its own.
#include "register/datafile.h"
#include "register/dataformat.h"
#include "register/recordstore.h"
#include "register/text1251.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <unistd.h>
#include <vector>

namespace {

qint64 peakKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    return -1;
}

void fill(RecordStore& store, int n)
{
    static const char* const streets[] = {"ул. Ленина", "пр. Мира", "ул. Садовая", "бульвар Победы", "ул. Гагарина"};
    static const char* const latin[] = {"Lenina st.", "Mira ave.", "Sadovaya st.", "Pobedy blvd.", "Gagarina st."};
    QRandomGenerator rng(2026);
    for (int i = 0; i < n; ++i) {
        Record r;
        r.setInteger(Field::ID_RECORD, i + 1);
        r.setText(Field::PULT_NUM, QByteArray::number(1000 + i));
        const int s = int(rng.bounded(5));
        const QByteArray house
            = QByteArray::number(1 + rng.bounded(120)) + ", " + QByteArray::number(1 + rng.bounded(300));
        if (i % 3 == 0)
            r.setText(Field::ADDRESS, Text1251::fromUnicode(QString::fromUtf8(streets[s])) + ", д. " + house);
        else
            r.setText(Field::ADDRESS, QByteArray(latin[s]) + ' ' + house);
        if (i % 5 != 0) { // most installations have their trinket enrolled
            r.setInteger(Field::ID_TRINK, qint32(rng.bounded(0x1000000)));
            QByteArray code;
            for (int d = 0; d < 10; ++d)
                code.append("0X?1"[rng.bounded(4)]);
            r.setText(Field::CODE, code);
        }
        store.append(r);
    }
}

template <typename F> double medianMs(int rounds, F&& run)
{
    std::vector<double> t;
    run(); // warm-up
    for (int i = 0; i < rounds; ++i) {
        QElapsedTimer timer;
        timer.start();
        run();
        t.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    std::sort(t.begin(), t.end());
    return t[t.size() / 2];
}

// The medians of several operations run in turn, round after round, so that a disk whose
// flushes slow down for a while (other work on the machine) weighs on all of them alike.
std::vector<double> interleavedMs(int rounds, const std::vector<std::function<void()>>& runs)
{
    std::vector<std::vector<double>> t(runs.size());
    for (const auto& run : runs)
        run(); // warm-up
    for (int i = 0; i < rounds; ++i) {
        for (size_t k = 0; k < runs.size(); ++k) {
            QElapsedTimer timer;
            timer.start();
            runs[k]();
            t[k].push_back(double(timer.nsecsElapsed()) / 1e6);
        }
    }
    std::vector<double> medians;
    for (std::vector<double>& one : t) {
        std::sort(one.begin(), one.end());
        medians.push_back(one[one.size() / 2]);
    }
    return medians;
}

// An address in the middle of the register made longer or shorter: every byte after it moves.
void editMiddle(RecordStore& store, int row)
{
    const QByteArray shortAddress = Text1251::fromUnicode(QStringLiteral("ул. Садовая, 5"));
    store.setCurrentRow(row);
    const bool wasShort = store.at(row).asText(Field::ADDRESS) == shortAddress;
    store.edit();
    store.setText(Field::ADDRESS, wasShort ? shortAddress + '5' : shortAddress);
    store.post();
}

// The tool's own peak for a register file: a fresh process loads it, changes a record and saves
// it back, twice, and the high-water mark of its memory above its start is set against the file's size.
// A small register goes the same way first, so that the code paged in and the allocations that
// stay for the process's life are not counted as the register's.
int runPeak(const QString& data)
{
    {
        const QString small = data + QStringLiteral(".warm");
        RecordStore store;
        fill(store, 10);
        QFile out(small);
        if (!out.open(QIODevice::WriteOnly) || out.write(DataFormat::write(store)) < 0)
            return 2;
        out.close();
        DataFile file(store, small, small + QStringLiteral(".bkd"));
        if (file.LoadData() != 0)
            return 2;
        editMiddle(store, 5);
        file.SaveData();
    }
    const qint64 baseKb = peakKb();
    RecordStore store;
    DataFile file(store, data, data + QStringLiteral(".bkd"));
    if (file.LoadData() != 0)
        return 2;
    const qint64 loadKb = peakKb();
    const double bytes = double(QFileInfo(data).size());
    // The second save is the one that meets what the first left behind (its freed image raises
    // the allocator's threshold for the next one).
    for (const int row : {store.count() / 2, store.count() / 3}) {
        editMiddle(store, row);
        file.SaveData();
    }
    const qint64 saveKb = peakKb();
    std::printf("%lld %lld %.3f %.3f %.1f\n", static_cast<long long>(loadKb - baseKb),
                static_cast<long long>(saveKb - baseKb), double(loadKb - baseKb) * 1024.0 / bytes,
                double(saveKb - baseKb) * 1024.0 / bytes, double(saveKb - baseKb) * 1024.0 / store.count());
    return 0;
}

// The figures of runPeak for the register in `data`, from a child process.
QList<QByteArray> peakOf(const QString& data)
{
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--peak"), data});
    if (!child.waitForFinished(600000) || child.exitCode() != 0)
        return {};
    return child.readAllStandardOutput().trimmed().split(' ');
}

int runSize(int n)
{
    const qint64 baseKb = peakKb();
    QTemporaryDir dir(QDir::currentPath() + QStringLiteral("/bench-register-XXXXXX"));
    const QString data = dir.filePath(QStringLiteral("Trinket.dat"));
    const QString plain = dir.filePath(QStringLiteral("plain.dat"));
    QFile(data).open(QIODevice::WriteOnly);

    RecordStore store;
    DataFile file(store, data, dir.filePath(QStringLiteral("Trinket.bkd")));
    if (file.LoadData() != 0)
        return 2;
    fill(store, n);
    // Small saves take a fraction of a millisecond: more rounds steady their medians.
    const int rounds = n >= 100000 ? 15 : n >= 10000 ? 51 : 201;

    const QByteArray bytes = DataFormat::write(store);
    const double mb = double(bytes.size()) / 1e6;
    const double encode = medianMs(rounds, [&] { (void)DataFormat::write(store); });
    // Each save follows an edit that changes an address's length, so every byte after it moves:
    // in the middle of the register half the file changes, at its start all of it.
    const auto editedSave = [&](int row) {
        editMiddle(store, row);
        file.SaveData();
    };
    const int fd = ::open(QFile::encodeName(plain).constData(), O_RDWR | O_CREAT, 0644);
    const auto plainWrite = [&] {
        if (::pwrite(fd, bytes.constData(), size_t(bytes.size()), 0) != bytes.size() || ::fdatasync(fd) != 0)
            std::abort();
    };
    const std::vector<double> medians
        = interleavedMs(rounds, {[&] { editedSave(n / 2); }, [&] { editedSave(0); }, plainWrite});
    const double save = medians[0];
    const double whole = medians[1];
    const double plainSync = medians[2];
    const double plainNoSync = medianMs(rounds, [&] {
        if (::pwrite(fd, bytes.constData(), size_t(bytes.size()), 0) != bytes.size())
            std::abort();
    });
    ::close(fd);

    const double load = medianMs(rounds, [&] {
        if (file.LoadData() != 0)
            std::abort();
    });
    // Taken before the decode rounds, which hold a second register beside the first.
    const qint64 peak = peakKb();
    const double decode = medianMs(rounds, [&] {
        RecordStore s;
        DataFormat::read(s, bytes);
    });
    if (store.count() != n)
        return 3;
    file.release(); // the file is held while open
    const QList<QByteArray> own = peakOf(data);
    if (own.size() != 5)
        return 4;
    std::printf("%7d %8.2f | %8.2f %8.2f | %8.2f %7.1f | %7.2f %7.2f | %8.2f %7.2f | %5.2f %5.2f  (limit 2) | %7lld "
                "%7.0f | %7s %5s %5s (limit 3) %6s\n",
                n, mb, save, whole, load, mb / load * 1e3, encode, decode, plainSync, plainNoSync, save / plainSync,
                whole / plainSync, static_cast<long long>(peak - baseKb), double(peak - baseKb) * 1024.0 / n,
                own[1].constData(), own[2].constData(), own[3].constData(), own[4].constData());
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 3 && args.at(1) == QLatin1String("--size"))
        return runSize(args.at(2).toInt());
    if (args.size() == 3 && args.at(1) == QLatin1String("--peak"))
        return runPeak(args.at(2));

    std::printf("Register save and load, median per operation; files in %s\n", qPrintable(QDir::currentPath()));
    std::printf("%7s %8s | %8s %8s | %8s %7s | %7s %7s | %8s %7s | %5s %5s %9s | %7s %7s | %7s %5s %5s %9s %6s\n",
                "records", "MB", "save ms", "whole ms", "load ms", "MB/s", "enc ms", "dec ms", "plain ms", "nosync",
                "ratio", "whole", "", "peak KB", "B/rec", "own KB", "load", "+save", "", "B/rec");
    std::fflush(stdout);
    for (int n : {1000, 10000, 100000}) {
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedChannels);
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--size"), QString::number(n)});
        if (!child.waitForFinished(600000) || child.exitCode() != 0) {
            std::fprintf(stderr, "size %d failed\n", n);
            return 1;
        }
    }
    std::printf(
        "save = an address in the middle edited, then saved (half the file changes); whole = the same at the\n"
        "first record (all of it changes); plain = the whole image with pwrite + fdatasync; the three run in\n"
        "turn each round; ratio = save / plain, whole = whole / plain; nosync = the plain write without its\n"
        "flush; peak KB = VmHWM above the child's own start.\n"
        "own = a fresh process that loads the file, edits an address in the middle and saves it, twice: VmHWM above\n"
        "its start, taken after a small register went the same way; load and +save = that peak after the\n"
        "load and after the save, as times the file; B/rec per record.\n");
    return 0;
}

// The register grid with a large register: load and first paint through the real main window,
// and a header sort, each against the plain work it cannot avoid.
#include "app/application.h"
#include "app/gridtrinket.h"
#include "app/messagebox.h"
#include "app/mntavro.h"
#include "bench/app/benchfolders.h"
#include "register/datafile.h"
#include "register/dataformat.h"
#include "register/recordstore.h"
#include "register/text1251.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

template <class F> double bestOf(int runs, F&& work)
{
    double best = 1e100;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        work();
        best = std::min(best, timer.nsecsElapsed() / 1e6);
    }
    return best;
}

} // namespace

int main(int argc, char* argv[])
{
    BenchFolders folders;
    TApplication app(argc, argv);
    const int count = argc > 1 ? QByteArray(argv[1]).toInt() : 100000;
    if (!folders.writeRegister(count))
        return 1;
    MessageBoxSeam::setUnattended(true); // COM1 may be missing here

    const double plainLoad = bestOf(3, [] {
        RecordStore store;
        DataFile data(store);
        data.LoadData();
        data.release();
    });
    double windowLoad = 1e100;
    for (int i = 0; i < 3; ++i) {
        QElapsedTimer timer;
        timer.start();
        auto window = std::make_unique<TFmTavro>();
        window->show();
        window->grab(); // first paint
        windowLoad = std::min(windowLoad, timer.nsecsElapsed() / 1e6);
        // Its end writes the register back: not part of the load.
    }

    TFmTavro window;
    window.show();
    window.grab();
    TGridTrinket* grid = window.GridTrinket;
    const double gridSort = bestOf(3, [grid] {
        grid->sortByColumn(int(Field::ID_RECORD), Qt::AscendingOrder);
        grid->sortByColumn(int(Field::PULT_NUM), Qt::AscendingOrder);
        grid->grab();
    });
    const std::vector<Record> records = registerRecords();
    const double plainSort = bestOf(3, [&records] {
        std::vector<QString> keys;
        keys.reserve(records.size());
        for (const Record& r : records)
            keys.push_back(Text1251::toUnicode(r.asText(Field::PULT_NUM)));
        std::stable_sort(keys.begin(), keys.end(),
                         [](const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) < 0; });
    });

    // The limits hold for a million records.
    constexpr double LimitMs = 1000;
    std::printf("records: %d\n", count);
    std::printf("load, plain register:            %8.1f ms\n", plainLoad);
    std::printf("load and first paint, window:    %8.1f ms  (ratio %.2f; limit %.0f ms at 1,000,000)\n", windowLoad,
                windowLoad / plainLoad, LimitMs);
    std::printf("sort by number, plain strings:   %8.1f ms\n", plainSort);
    std::printf("header sort and repaint, grid:   %8.1f ms  (ratio %.2f; limit %.0f ms at 1,000,000)\n", gridSort,
                gridSort / plainSort, LimitMs);
    return 0;
}

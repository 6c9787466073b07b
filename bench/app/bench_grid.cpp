// The register grid with a large register: load and first paint through the real main window,
// and a header sort, each against the plain work it cannot avoid.
#include "application.h"
#include "datafile.h"
#include "dataformat.h"
#include "gridtrinket.h"
#include "messagebox.h"
#include "mntavro.h"
#include "recordstore.h"
#include "text1251.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

QByteArray registerOf(int count)
{
    RecordStore store;
    for (int id = count; id >= 1; --id) {
        Record r;
        r.setInteger(Field::ID_RECORD, id);
        r.setInteger(Field::ID_TRINK, id * 31 % 0xFFFFFF);
        r.setText(Field::CODE, "0X1X0X10X?");
        r.setText(Field::PULT_NUM, QByteArray::number(qint64(id) * 7919 % 1000003));
        r.setText(Field::ADDRESS, Text1251::fromUtf8("ул. Садовая, д. ") + QByteArray::number(id % 500));
        store.append(r);
    }
    return DataFormat::write(store);
}

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
    // The tool's settings and single-instance marker stay in a private folder, never the user's.
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", home.filePath(QStringLiteral("config")).toLocal8Bit());
    qputenv("XDG_RUNTIME_DIR", home.path().toLocal8Bit());
    TApplication app(argc, argv);
    const int count = argc > 1 ? QByteArray(argv[1]).toInt() : 100000;
    QTemporaryDir work;
    QDir::setCurrent(work.path());
    QFile file(QStringLiteral("Trinket.dat"));
    if (!file.open(QIODevice::WriteOnly) || file.write(registerOf(count)) <= 0)
        return 1;
    file.close();
    MessageBoxSeam::setUnattended(true); // COM1 may be missing here

    const double plainLoad = bestOf(3, [] {
        RecordStore store;
        DataFile data(store);
        data.LoadData();
        data.release();
    });
    const double windowLoad = bestOf(3, [] {
        TFmTavro window;
        window.show();
        window.grab(); // first paint
        window.DataStream.release(); // nothing to write back
    });

    TFmTavro window;
    window.show();
    window.grab();
    TGridTrinket* grid = window.GridTrinket;
    const double gridSort = bestOf(3, [grid] {
        grid->sortByColumn(int(Field::ID_RECORD), Qt::AscendingOrder);
        grid->sortByColumn(int(Field::PULT_NUM), Qt::AscendingOrder);
        grid->grab();
    });
    const double plainSort = bestOf(3, [&window] {
        std::vector<QString> keys;
        keys.reserve(size_t(window.MTTrinkets.count()));
        for (const Record& r : window.MTTrinkets.rows())
            keys.push_back(Text1251::toUnicode(r.asText(Field::PULT_NUM)));
        std::stable_sort(keys.begin(), keys.end(),
                         [](const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) < 0; });
    });
    window.DataStream.release();

    std::printf("records: %d\n", count);
    std::printf("load, plain register:            %8.1f ms\n", plainLoad);
    std::printf("load and first paint, window:    %8.1f ms  (ratio %.2f)\n", windowLoad, windowLoad / plainLoad);
    std::printf("sort by number, plain strings:   %8.1f ms\n", plainSort);
    std::printf("header sort and repaint, grid:   %8.1f ms  (ratio %.2f)\n", gridSort, gridSort / plainSort);
    return 0;
}

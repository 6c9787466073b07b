// Register search with a large register: each keystroke's filter and repaint through the real
// main window, against a plain case-insensitive substring scan of the same strings.
#include "app/application.h"
#include "app/gridtrinket.h"
#include "app/messagebox.h"
#include "app/mntavro.h"
#include "bench/app/benchfolders.h"
#include "register/dataformat.h"
#include "register/recordstore.h"
#include "register/text1251.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

int main(int argc, char* argv[])
{
    BenchFolders folders;
    TApplication app(argc, argv);
    const int count = argc > 1 ? QByteArray(argv[1]).toInt() : 100000;
    if (!folders.writeRegister(count))
        return 1;
    MessageBoxSeam::setUnattended(true);

    TFmTavro window;
    window.show();
    window.grab();
    TGridTrinket* grid = window.GridTrinket;

    // Typing a street name and taking it back, then a number that matches few records.
    QStringList steps;
    const QString typed = QStringLiteral("САДОВАЯ, Д. 12");
    for (int i = 1; i <= typed.size(); ++i)
        steps << typed.left(i);
    for (int i = typed.size() - 1; i >= 0; --i)
        steps << typed.left(i);
    for (const QString& s : {QStringLiteral("7"), QStringLiteral("79"), QStringLiteral("791"), QStringLiteral("79"),
                             QStringLiteral("7"), QString()})
        steps << s;

    double worst = 0;
    double total = 0;
    for (const QString& step : steps) {
        QElapsedTimer timer;
        timer.start();
        window.findChild<QLineEdit*>(QStringLiteral("EdSearch"))->setText(step);
        grid->grab();
        const double ms = timer.nsecsElapsed() / 1e6;
        worst = std::max(worst, ms);
        total += ms;
    }

    // The same strings as the grid searches them (case-folded, one per record), scanned plainly.
    std::vector<QString> strings;
    const QChar separator(0xFFFF);
    for (const Record& r : registerRecords()) {
        QString s;
        for (const Field f : {Field::PULT_NUM, Field::ADDRESS, Field::CODE, Field::CODE_D})
            s += Text1251::toUnicode(r.asText(f)).toCaseFolded() + separator;
        strings.push_back(s);
    }
    double plainWorst = 0;
    double plainTotal = 0;
    qint64 found = 0;
    for (const QString& step : steps) {
        QElapsedTimer timer;
        timer.start();
        const QString needle = step.toCaseFolded();
        std::vector<int> rows;
        for (size_t i = 0; i < strings.size(); ++i) {
            if (strings[i].contains(needle))
                rows.push_back(int(i));
        }
        found += qint64(rows.size());
        const double ms = timer.nsecsElapsed() / 1e6;
        plainWorst = std::max(plainWorst, ms);
        plainTotal += ms;
    }

    const double n = double(steps.size());
    std::printf("records: %d, keystrokes: %d (%lld rows found in all)\n", count, int(steps.size()), (long long)found);
    std::printf("plain substring scan, per keystroke:   mean %7.1f ms  worst %7.1f ms\n", plainTotal / n, plainWorst);
    std::printf("filter and repaint, per keystroke:     mean %7.1f ms  worst %7.1f ms  (ratio of means %.2f)\n",
                total / n, worst, (total / n) / (plainTotal / n));
    return 0;
}

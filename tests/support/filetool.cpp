// A second process for the data file tests: holds, creates or keeps saving a data file.
#include "register/datafile.h"
#include "register/heldfile.h"
#include "register/recordstore.h"
#include "tests/support/fixtures.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>

namespace {
void say(const char* word)
{
    std::printf("%s\n", word);
    std::fflush(stdout);
}

void waitForStdinToClose()
{
    char buffer[64];
    while (std::fread(buffer, 1, sizeof buffer, stdin) > 0) { }
}
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3)
        return 64;
    const QString mode = args.at(1);
    const QString path = args.at(2);

    if (mode == QLatin1String("hold")) {
        HeldFile f;
        say(f.openExisting(path) ? "held" : "refused");
        waitForStdinToClose();
        return 0;
    }
    if (mode == QLatin1String("create")) {
        HeldFile f;
        say(f.createAnew(path) ? "created" : "refused");
        return 0;
    }
    if (mode == QLatin1String("save-loop") && args.size() >= 4) {
        // Saves registers k, k+1, ... until killed.
        RecordStore store;
        DataFile file(store, path, path + QLatin1String(".bkd"));
        if (file.LoadData() != 0)
            return 3;
        say("saving");
        for (quint32 k = args.at(3).toUInt();; ++k) {
            store.deactivate();
            store.activate();
            Fixtures::fillNumberedRegister(store, k);
            file.SaveData();
        }
    }
    return 64;
}

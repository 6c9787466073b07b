// Kill soak of the data file: SIGKILL at random moments of
//  - the real tool's exit (its final save and its backup copy), started by SIGTERM, and
//  - a save after an edit, made by this program's own child (`--edit-child`), which drives the
//    same DataFile and editing code as the tool's handlers: the tool itself takes edits only
//    from a person at its window.
// After each kill the next start is played with DataFile::LoadData, as the tool's start runs
// it: the register must load without the recovery window, as the last completed save or the one
// in progress, with the file's bytes exactly as a save writes them; the backup must be the old
// one or the new one, byte for byte. Prints the counts; the exit code is 1 on any failure.
#include "register/datafile.h"
#include "register/dataformat.h"
#include "register/editing.h"
#include "register/recordstore.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>

#include <csignal>
#include <cstdio>
#include <map>

namespace {

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size() && f.flush();
}

void fill(RecordStore& store, int n)
{
    QRandomGenerator rng(407);
    for (int i = 0; i < n; ++i) {
        Record r;
        r.setInteger(Field::ID_RECORD, i + 1);
        r.setText(Field::PULT_NUM, QByteArray::number(1000 + i));
        r.setText(Field::ADDRESS, "Sadovaya st. " + QByteArray::number(1 + rng.bounded(300)));
        if (i % 5 != 0) {
            r.setInteger(Field::ID_TRINK, qint32(rng.bounded(0x1000000)));
            r.setText(Field::CODE, "0X?10X?10X");
        }
        store.append(r);
    }
}

// The same register as the tool never writes it (every integer in 4 bytes, every text with a
// 4-byte length), so that its save changes nearly every byte.
QByteArray wideBytes(const RecordStore& store)
{
    QByteArray out("TPF0\x03\xFB\x00\x01\x00\x01\x00\x01", 12);
    const auto le32 = [&](quint32 v) {
        for (int i = 0; i < 4; ++i)
            out.append(char((v >> (8 * i)) & 0xFF));
    };
    for (const Record& r : store.rows()) {
        out.append("\x01\x02\x00", 3);
        for (int i = 0; i < FieldCount; ++i) {
            const Field f = Field(i);
            if (r.isNull(f)) {
                out.append('\x09');
            } else if (isIntegerField(f)) {
                out.append("\x08\x04", 2);
                le32(quint32(r.asInteger(f)));
            } else {
                out.append("\x08\x0C", 2);
                le32(quint32(r.asText(f).size()));
                out.append(r.asText(f));
            }
        }
        out.append('\0');
    }
    out.append('\0');
    return out;
}

// What a save of `image` over `old` leaves: the image, then the old bytes past it.
QByteArray over(const QByteArray& old, const QByteArray& image)
{
    return old.size() > image.size() ? image + old.mid(image.size()) : image;
}

QString editNumber(int k)
{
    return QStringLiteral("E%1").arg(k);
}

void applyEdits(RecordStore& store, qint32& max, int from, int to)
{
    for (int k = from; k <= to; ++k)
        Editing::addRecord(store, max, editNumber(k).toLatin1(), "edit");
}

int editChild(const QString& folder)
{
    RecordStore store;
    DataFile file(store, folder + QStringLiteral("/Trinket.dat"), folder + QStringLiteral("/Trinket.bkd"));
    if (file.LoadData() != 0)
        return 3;
    std::printf("loaded\n");
    std::fflush(stdout);
    for (int k = 1;; ++k) {
        applyEdits(store, file.MaxRecordId, k, k);
        file.SaveData();
        std::printf("saved %d\n", k);
        std::fflush(stdout);
    }
}

struct Soak
{
    QString tool;
    QString root;
    QString work;
    int records = 100000;
    RecordStore base;
    QByteArray canonical;
    QByteArray wide;
    QByteArray oldBackup;
    QRandomGenerator rng {2026};
    std::map<std::string, int> counts;
    int failures = 0;

    QString at(const char* name) const { return work + QLatin1Char('/') + QLatin1String(name); }

    void fail(int round, const QString& what)
    {
        ++failures;
        std::printf("kill %d: %s\n", round, qPrintable(what));
        std::fflush(stdout);
    }

    bool prepare()
    {
        fill(base, records);
        canonical = DataFormat::write(base);
        wide = wideBytes(base);
        RecordStore older;
        fill(older, records + 1);
        oldBackup = DataFormat::write(older);
        for (const char* sub : {"work", "runtime", "config"})
            QDir(root).mkdir(QLatin1String(sub));
        QFile::setPermissions(root + QStringLiteral("/runtime"),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        work = root + QStringLiteral("/work");
        return true;
    }

    void reset(const QByteArray& data)
    {
        QFile::remove(at("Trinket.dat.journal"));
        QFile::remove(at("Trinket.bkd.tmp"));
        writeFile(at("Trinket.dat"), data);
        writeFile(at("Trinket.bkd"), oldBackup);
    }

    // Whether the process has the data file open, seen without touching its lock.
    bool opened(qint64 pid) const
    {
        const QString fds = QStringLiteral("/proc/%1/fd").arg(pid);
        const QString target = QFileInfo(at("Trinket.dat")).canonicalFilePath();
        for (const QString& fd : QDir(fds).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
            if (QFile::symLinkTarget(fds + QLatin1Char('/') + fd) == target)
                return true;
        }
        return false;
    }

    // One exit of the real tool, ended by SIGTERM and killed `delayUs` after its final save began
    // (never, when negative). Gives the time from that moment to its end.
    qint64 exitRound(qint64 delayUs)
    {
        reset(wide);
        QProcess tool;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), root + QStringLiteral("/runtime"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), root + QStringLiteral("/config"));
        tool.setProcessEnvironment(env);
        tool.setWorkingDirectory(work);
        tool.setStandardErrorFile(QProcess::nullDevice());
        tool.start(this->tool, {});
        if (!tool.waitForStarted(30000))
            return -1;
        QElapsedTimer wait;
        wait.start();
        while (!opened(tool.processId()) && tool.state() == QProcess::Running && wait.elapsed() < 120000)
            QThread::usleep(2000);
        ::kill(pid_t(tool.processId()), SIGTERM);
        // The exit's save starts with its journal: the moments counted run from there.
        wait.restart();
        while (!QFile::exists(at("Trinket.dat.journal")) && tool.state() == QProcess::Running
               && wait.elapsed() < 120000)
            QThread::usleep(100);
        QElapsedTimer timer;
        timer.start();
        if (delayUs >= 0) {
            QThread::usleep(quint64(delayUs));
            ::kill(pid_t(tool.processId()), SIGKILL);
        }
        tool.waitForFinished(120000);
        return timer.nsecsElapsed() / 1000;
    }

    void judgeExit(int round)
    {
        const bool inSave = QFile::exists(at("Trinket.dat.journal"));
        const bool inCopy = QFile::exists(at("Trinket.bkd.tmp"));
        const QByteArray savedData = over(wide, canonical);
        const QByteArray newBackup = over(oldBackup, savedData);
        const QByteArray backupBefore = readFile(at("Trinket.bkd"));
        const QByteArray dataBefore = readFile(at("Trinket.dat"));
        counts[inSave                          ? "exit: inside the save"
                   : inCopy                    ? "exit: inside the backup copy"
                   : dataBefore == wide        ? "exit: before the save"
                   : backupBefore == newBackup ? "exit: after the backup copy"
                                               : "exit: between save and copy"]++;
        RecordStore loaded;
        DataFile file(loaded, at("Trinket.dat"), at("Trinket.bkd"));
        if (file.LoadData() != 0)
            return fail(round, QStringLiteral("the data file did not load (recovery window)"));
        if (loaded.rows() != base.rows())
            return fail(round, QStringLiteral("the register loaded differs"));
        file.release();
        const QByteArray data = readFile(at("Trinket.dat"));
        if (data != wide && data != savedData)
            return fail(round, QStringLiteral("the data file's bytes are neither the old nor the saved ones"));
        if (QFile::exists(at("Trinket.dat.journal")))
            return fail(round, QStringLiteral("the journal outlived the load"));
        if (backupBefore != oldBackup && backupBefore != newBackup)
            return fail(round, QStringLiteral("the backup is neither the old nor the new one"));
    }

    // The child's saves, killed `delayUs` after it loaded (never, when negative): the number of
    // saves it reported and the time they took.
    std::pair<int, qint64> editRound(qint64 delayUs, int stopAfter = 0)
    {
        reset(canonical);
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--edit-child"), work});
        if (!child.waitForReadyRead(120000) || child.readLine().trimmed() != "loaded")
            return {-1, 0};
        QElapsedTimer timer;
        timer.start();
        int saved = 0;
        if (delayUs >= 0) {
            QThread::usleep(quint64(delayUs));
        } else {
            while (saved < stopAfter && child.waitForReadyRead(120000)) {
                while (child.canReadLine())
                    saved = qMax(saved, child.readLine().mid(6).trimmed().toInt());
            }
        }
        ::kill(pid_t(child.processId()), SIGKILL);
        const qint64 took = timer.nsecsElapsed() / 1000;
        child.waitForFinished(30000);
        for (const QByteArray& line : child.readAllStandardOutput().split('\n')) {
            if (line.startsWith("saved "))
                saved = qMax(saved, line.mid(6).toInt());
        }
        return {saved, took};
    }

    void judgeEdit(int round, int reported)
    {
        counts[QFile::exists(at("Trinket.dat.journal")) ? "edit: while its journal existed"
                                                        : "edit: with no journal on disk"]++;
        RecordStore loaded;
        DataFile file(loaded, at("Trinket.dat"), at("Trinket.bkd"));
        if (file.LoadData() != 0)
            return fail(round, QStringLiteral("the data file did not load (recovery window)"));
        file.release();
        const int edits = loaded.count() - records;
        if (edits != reported && edits != reported + 1)
            return fail(round, QStringLiteral("%1 edits loaded, %2 reported saved").arg(edits).arg(reported));
        // The same edits on the same register, as the child made them after its load.
        RecordStore expected;
        DataFormat::read(expected, canonical);
        for (expected.first(); !expected.eof(); expected.next()) { }
        qint32 max = records;
        applyEdits(expected, max, 1, edits);
        if (loaded.rows() != expected.rows())
            return fail(round, QStringLiteral("the register loaded is not the one saved"));
        if (readFile(at("Trinket.dat")) != over(canonical, DataFormat::write(expected)))
            return fail(round, QStringLiteral("the data file's bytes are not those of the save"));
    }
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 3 && args.at(1) == QLatin1String("--edit-child"))
        return editChild(args.at(2));

    Soak soak;
    int kills = 300;
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args.at(i) == QLatin1String("--kills"))
            kills = args.at(i + 1).toInt();
        else if (args.at(i) == QLatin1String("--records"))
            soak.records = args.at(i + 1).toInt();
        else if (args.at(i) == QLatin1String("--tool"))
            soak.tool = args.at(i + 1);
    }
    if (soak.tool.isEmpty())
        soak.tool = QStringLiteral(QM407_TOOL);
    QTemporaryDir dir(QDir::currentPath() + QStringLiteral("/soak-kill-XXXXXX"));
    soak.root = dir.path();
    soak.prepare();

    // Calibration: how long an exit and a save take here, uncut.
    qint64 exitUs = 0;
    for (int i = 0; i < 2; ++i)
        exitUs = qMax(exitUs, soak.exitRound(-1));
    soak.judgeExit(0);
    const auto [calibrationSaves, calibrationUs] = soak.editRound(-1, 3);
    if (exitUs <= 0 || calibrationSaves < 3 || soak.failures) {
        std::printf("calibration failed: exit %lld us, %d saves\n", static_cast<long long>(exitUs), calibrationSaves);
        return 1;
    }
    const qint64 saveUs = calibrationUs / calibrationSaves;
    soak.counts.clear();
    std::printf("%d records, %lld bytes saved; save and backup copy at exit %lld ms, one save %lld ms; %d kills\n",
                soak.records, static_cast<long long>(soak.canonical.size()), static_cast<long long>(exitUs / 1000),
                static_cast<long long>(saveUs / 1000), kills);
    std::fflush(stdout);

    for (int round = 1; round <= kills; ++round) {
        if (round % 2) {
            soak.exitRound(qint64(soak.rng.bounded(double(exitUs) * 1.1)));
            soak.judgeExit(round);
        } else {
            const auto [saved, took] = soak.editRound(qint64(soak.rng.bounded(double(saveUs) * 4)));
            Q_UNUSED(took);
            if (saved < 0)
                soak.fail(round, QStringLiteral("the edit child did not start"));
            else
                soak.judgeEdit(round, saved);
        }
    }
    for (const auto& [what, n] : soak.counts)
        std::printf("%-32s %d\n", what.c_str(), n);
    std::printf("%d kills, %d failures\n", kills, soak.failures);
    return soak.failures ? 1 : 0;
}

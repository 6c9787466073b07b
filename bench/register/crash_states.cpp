// Crash-state explorer of the data file. HeldFile's recorder logs the file operations of two saves
// (every record changed; a few, after a save of a few), one exit (final save and backup copy), one
// restore from the backup and one "Создать заново" (over a damaged file and with none); then every
// state a power cut may leave on a file system that journals its metadata in order (ext4
// data=ordered and the like) is built as real files and loaded with
// DataFile::LoadData, as the tool's start loads it:
//  - the cut falls after any operation of the run;
//  - a file's bytes and length as of its last flush are durable; its writes since then persist in any
//    subset of 4 KiB blocks, its length as after any of its size changes since then;
//  - a create, remove or rename is durable once its folder is flushed; those not yet flushed persist
//    as any prefix of them, in order.
// The data file must load, unless it is the damaged or missing one the run started from (or, for a
// missing one, the empty file the run creates first), and hold the bytes it held before the run or
// those the run left, its register loaded as in them; the backup
// must be the old one or the new one, and the new one only after the new data file. States are
// built in one folder that also holds the home and XDG folders, so files the run keeps elsewhere for
// its user are in every state too. Prints the states explored and failing per register size; the
// exit code is 1 on any failure.
#include "register/datafile.h"
#include "register/dataformat.h"
#include "register/heldfile.h"
#include "register/recordstore.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <unordered_set>
#include <vector>

namespace {

constexpr qint64 Block = 4096;
// Up to this many dirty blocks every subset is tried, and every frame (see explore) with each, up to
// this many states.
constexpr int AllSubsetsUpTo = 10;
constexpr qint64 CrossUpTo = 4096;

using Bytes = std::optional<QByteArray>;

QString clean(const QString& path)
{
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

QString folderOf(const QString& path)
{
    return QFileInfo(path).absolutePath();
}

Bytes readBytes(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return std::nullopt;
    return f.readAll();
}

bool writeBytes(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(folderOf(path));
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

// One recorded operation in the terms of the model: data steps name an inode, name steps paths.
struct Step
{
    enum Kind
    {
        Write,
        Length,
        Sync,
        Create,
        Remove,
        Rename,
        SyncFolder,
    };
    Kind kind;
    int inode = -1;
    qint64 offset = 0;
    QByteArray bytes;
    qint64 length = 0;
    QString path;
    QString target;

    bool isData() const { return kind == Write || kind == Length || kind == Sync; }
    bool isName() const { return kind == Create || kind == Remove || kind == Rename; }
    QString describe(const QString& root) const
    {
        const auto rel = [&](const QString& p) { return QDir(root).relativeFilePath(p); };
        switch (kind) {
        case Write:
            return QStringLiteral("write #%1 at %2, %3 bytes").arg(inode).arg(offset).arg(bytes.size());
        case Length:
            return QStringLiteral("length #%1 = %2").arg(inode).arg(length);
        case Sync:
            return QStringLiteral("flush #%1").arg(inode);
        case Create:
            return QStringLiteral("create %1 as #%2").arg(rel(path)).arg(inode);
        case Remove:
            return QStringLiteral("remove %1").arg(rel(path));
        case Rename:
            return QStringLiteral("rename %1 -> %2").arg(rel(path), rel(target));
        case SyncFolder:
            return QStringLiteral("flush folder %1").arg(rel(path));
        }
        return QString();
    }
};

// The folder before the run (inodes 0..n-1 are its files) and the steps of the run.
struct Recording
{
    std::vector<QByteArray> initial; // per inode; created inodes start empty
    std::map<QString, int> names; // the names before the run
    std::vector<Step> steps;
    std::vector<QString> outside; // paths named by the run but not under the explored folder

    // Live while recording.
    std::map<QString, int> live;
    std::vector<qint64> lengths;
    std::map<qintptr, int> handles;
};

Recording* recording = nullptr;

void record(const HeldFile::Operation& op)
{
    Recording& r = *recording;
    const auto inodeOf = [&](qintptr h) {
        const auto it = r.handles.find(h);
        return it == r.handles.end() ? -1 : it->second;
    };
    const auto known = [&](const QString& path) {
        if (!r.live.count(path) && !r.names.count(path))
            r.outside.push_back(path);
    };
    switch (op.kind) {
    case HeldFile::Operation::Open: {
        const QString path = clean(op.path);
        int inode;
        if (op.created) {
            inode = int(r.initial.size());
            r.initial.emplace_back();
            r.lengths.push_back(0);
            r.live[path] = inode;
            r.steps.push_back({Step::Create, inode, 0, {}, 0, path, {}});
        } else {
            known(path);
            inode = r.live.count(path) ? r.live[path] : -1;
        }
        r.handles[op.handle] = inode;
        break;
    }
    case HeldFile::Operation::Write: {
        const int inode = inodeOf(op.handle);
        r.steps.push_back({Step::Write, inode, op.offset, op.data.toByteArray(), 0, {}, {}});
        if (inode >= 0)
            r.lengths[size_t(inode)] = qMax(r.lengths[size_t(inode)], op.offset + op.data.size());
        break;
    }
    case HeldFile::Operation::SetLength:
    case HeldFile::Operation::Allocate: {
        const int inode = inodeOf(op.handle);
        qint64 length = op.size;
        if (inode >= 0) {
            if (op.kind == HeldFile::Operation::Allocate)
                length = qMax(length, r.lengths[size_t(inode)]);
            r.lengths[size_t(inode)] = length;
        }
        r.steps.push_back({Step::Length, inode, 0, {}, length, {}, {}});
        break;
    }
    case HeldFile::Operation::FlushData:
        r.steps.push_back({Step::Sync, inodeOf(op.handle), 0, {}, 0, {}, {}});
        break;
    case HeldFile::Operation::Close:
        r.handles.erase(op.handle);
        break;
    case HeldFile::Operation::Remove: {
        const QString path = clean(op.path);
        known(path);
        r.live.erase(path);
        r.steps.push_back({Step::Remove, -1, 0, {}, 0, path, {}});
        break;
    }
    case HeldFile::Operation::Rename: {
        const QString from = clean(op.path);
        const QString to = clean(op.target);
        known(from);
        if (r.live.count(from))
            r.live[to] = r.live[from];
        else
            r.live.erase(to);
        r.live.erase(from);
        r.steps.push_back({Step::Rename, -1, 0, {}, 0, from, to});
        break;
    }
    case HeldFile::Operation::FlushFolder:
        r.steps.push_back({Step::SyncFolder, -1, 0, {}, 0, clean(op.path), {}});
        break;
    }
}

void applyData(QByteArray& bytes, const Step& s)
{
    if (s.kind == Step::Write) {
        if (bytes.size() < s.offset + s.bytes.size())
            bytes.resize(qsizetype(s.offset + s.bytes.size()), '\0');
        std::memcpy(bytes.data() + s.offset, s.bytes.constData(), size_t(s.bytes.size()));
    } else if (s.kind == Step::Length) {
        bytes.resize(qsizetype(s.length), '\0');
    }
}

QByteArray blockOf(const QByteArray& bytes, qint64 b)
{
    QByteArray out = bytes.mid(qsizetype(b * Block), qsizetype(Block));
    out.resize(qsizetype(Block), '\0');
    return out;
}

// One inode at a cut: its durable bytes, its bytes with every pending step, the lengths it may have
// and the blocks whose bytes a pending write changed.
struct InodeAtCut
{
    QByteArray base;
    QByteArray full;
    std::vector<qint64> lengths;
    std::vector<qint64> dirty;

    QByteArray bytes(qint64 length, const std::vector<bool>& chosen, size_t firstUnit) const
    {
        QByteArray out = base.left(qsizetype(length));
        out.resize(qsizetype(length), '\0');
        for (size_t i = 0; i < dirty.size(); ++i) {
            if (!chosen[firstUnit + i])
                continue;
            const qint64 from = dirty[i] * Block;
            const qint64 to = qMin(from + Block, length);
            const qint64 copied = qMax<qint64>(0, qMin<qint64>(to, full.size()) - from);
            char* target = out.data();
            if (copied > 0)
                std::memcpy(target + from, full.constData() + from, size_t(copied));
            if (to - from > copied && to > from)
                std::memset(target + from + copied, 0, size_t(to - from - copied));
        }
        return out;
    }
};

// The frame of a state: how many of the pending name steps persist and which length each inode
// with a choice has; the dirty blocks that persist are chosen within it.
struct Choice
{
    int names = 0;
    std::vector<int> lengths;
};

struct Scenario
{
    QString title;
    Bytes data; // the data file and the backup the run starts from
    Bytes backup;
    // Unrecorded: brings the register to where the recorded part starts.
    std::function<bool(RecordStore&, DataFile&)> before;
    std::function<void(RecordStore&, DataFile&)> run;
};

struct Exploration
{
    int steps = 0;
    int cuts = 0;
    qint64 states = 0;
    qint64 failing = 0;
    bool bounded = false;
};

struct Explorer
{
    QString root;
    QString dataPath;
    QString backupPath;
    int familyLimit = 64;
    int samples = 64;
    int shownFailures = 0;
    bool showSteps = false;

    void wipe()
    {
        QDir(root).removeRecursively();
        for (const char* sub : {"data", "home", "config", "cache", "share", "state", "tmp"})
            QDir().mkpath(root + QLatin1Char('/') + QLatin1String(sub));
        QDir().mkpath(root + QStringLiteral("/runtime"));
        QFile::setPermissions(root + QStringLiteral("/runtime"),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }

    std::map<QString, QByteArray> snapshot() const
    {
        std::map<QString, QByteArray> files;
        QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = clean(it.next());
            files[path] = readBytes(path).value_or(QByteArray());
        }
        return files;
    }

    // The files of one state, by path.
    void materialize(const std::map<QString, QByteArray>& files)
    {
        QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = clean(it.next());
            if (!files.count(path))
                QFile::remove(path);
        }
        for (const auto& [path, bytes] : files)
            writeBytes(path, bytes);
    }

    // The block subsets tried whole; *thinned when they are not all of them.
    std::vector<std::vector<bool>> subsets(size_t n, bool* thinned) const
    {
        std::vector<std::vector<bool>> out;
        if (n <= size_t(AllSubsetsUpTo)) {
            for (quint32 mask = 0; mask < (1u << n); ++mask) {
                std::vector<bool> s(n);
                for (size_t i = 0; i < n; ++i)
                    s[i] = mask & (1u << i);
                out.push_back(s);
            }
            return out;
        }
        *thinned = true;
        // Every prefix in write order and every single omission, evenly thinned to the limit.
        const size_t step = (n + size_t(familyLimit) - 1) / size_t(familyLimit);
        for (size_t k = 0; k <= n; k += step) {
            std::vector<bool> prefix(n);
            for (size_t i = 0; i < k; ++i)
                prefix[i] = true;
            out.push_back(prefix);
        }
        out.push_back(std::vector<bool>(n, true));
        for (size_t k = 0; k < n; k += step) {
            std::vector<bool> omit(n, true);
            omit[k] = false;
            out.push_back(omit);
        }
        return out;
    }

    Exploration explore(int records, const Scenario& scenario)
    {
        Exploration outcome;
        // The run, recorded.
        wipe();
        if (scenario.data)
            writeBytes(dataPath, *scenario.data);
        if (scenario.backup)
            writeBytes(backupPath, *scenario.backup);
        Recording rec;
        std::vector<Record> expectedRows;
        {
            RecordStore store;
            DataFile file(store, dataPath, backupPath);
            if (!scenario.before(store, file)) {
                std::printf("  %s: the start did not come out as planned\n", qPrintable(scenario.title));
                outcome.failing = 1;
                return outcome;
            }
            const std::vector<Record> rowsBefore = store.rows();
            const auto files = snapshot();
            for (const auto& [path, bytes] : files) {
                rec.names[path] = int(rec.initial.size());
                rec.initial.push_back(bytes);
                rec.lengths.push_back(bytes.size());
            }
            rec.live = rec.names;
            // Files held since before the recording, the data file among them.
            const QString fds = QStringLiteral("/proc/self/fd");
            for (const QString& fd : QDir(fds).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
                const QString target = QFile::symLinkTarget(fds + QLatin1Char('/') + fd);
                if (!target.isEmpty() && rec.names.count(clean(target)))
                    rec.handles[fd.toLongLong()] = rec.names[clean(target)];
            }
            recording = &rec;
            HeldFile::setRecorder(record);
            scenario.run(store, file);
            HeldFile::setRecorder(nullptr);
            recording = nullptr;
            expectedRows = store.isActive() ? store.rows() : rowsBefore;
            file.release();
        }
        const auto byName = [&](const std::map<QString, int>& names, const QString& path) -> Bytes {
            const auto it = names.find(path);
            if (it == names.end())
                return std::nullopt;
            return rec.initial[size_t(it->second)];
        };
        const Bytes oldData = byName(rec.names, dataPath);
        const Bytes oldBackup = byName(rec.names, backupPath);
        const Bytes newData = readBytes(dataPath);
        const Bytes newBackup = readBytes(backupPath);
        outcome.steps = int(rec.steps.size());
        if (showSteps) {
            std::printf("  %s, %d records:", qPrintable(scenario.title), records);
            for (const auto& [path, inode] : rec.names)
                std::printf(" #%d %s;", inode, qPrintable(QDir(root).relativeFilePath(path)));
            std::printf("\n");
            for (const Step& s : rec.steps)
                std::printf("    %s\n", qPrintable(s.describe(root)));
        }

        const auto rowsOf = [](const Bytes& bytes, bool* loads) {
            RecordStore store;
            *loads = false;
            if (bytes) {
                try {
                    DataFormat::read(store, *bytes);
                    *loads = true;
                } catch (const std::exception&) {
                }
            }
            return store.rows();
        };
        bool oldLoads = false;
        bool newLoads = false;
        const std::vector<Record> oldRows = rowsOf(oldData, &oldLoads);
        const std::vector<Record> newRows = rowsOf(newData, &newLoads);
        const auto fail = [&](const QString& what) {
            ++outcome.failing;
            if (shownFailures++ < 20)
                std::printf("  FAIL %d records, %s: %s\n", records, qPrintable(scenario.title), qPrintable(what));
        };
        for (const QString& path : rec.outside)
            fail(QStringLiteral("the run named %1, outside the explored folder").arg(path));
        for (const Step& s : rec.steps) {
            if (s.isData() && s.inode < 0)
                fail(QStringLiteral("a file written through a handle of unknown origin: %1").arg(s.describe(root)));
        }
        if (!newLoads || newRows != expectedRows) {
            fail(QStringLiteral("the uninterrupted run left a data file that is not its register"));
            return outcome;
        }

        QRandomGenerator rng(407);
        std::unordered_set<size_t> seen;
        const size_t n = rec.steps.size();
        for (size_t cut = 0; cut <= n; ++cut) {
            // A cut inside a run of writes to one file gives states that the run's end covers.
            if (cut > 0 && cut < n && rec.steps[cut - 1].kind == Step::Write && rec.steps[cut].kind == Step::Write
                && rec.steps[cut - 1].inode == rec.steps[cut].inode)
                continue;
            ++outcome.cuts;
            // Names: durable once a later flush of their folder (both, for a rename) came before the cut.
            std::vector<size_t> pendingNames;
            for (size_t j = 0; j < cut; ++j) {
                const Step& s = rec.steps[j];
                if (!s.isName())
                    continue;
                std::set<QString> folders {folderOf(s.path)};
                if (s.kind == Step::Rename)
                    folders.insert(folderOf(s.target));
                for (size_t f = j + 1; f < cut; ++f) {
                    if (rec.steps[f].kind == Step::SyncFolder)
                        folders.erase(rec.steps[f].path);
                }
                if (!folders.empty())
                    pendingNames.push_back(j);
            }
            // Inodes: durable as of their last flush before the cut.
            std::map<int, InodeAtCut> inodes;
            for (size_t inode = 0; inode < rec.initial.size(); ++inode) {
                size_t lastSync = 0;
                bool synced = false;
                for (size_t j = 0; j < cut; ++j) {
                    if (rec.steps[j].kind == Step::Sync && rec.steps[j].inode == int(inode)) {
                        lastSync = j;
                        synced = true;
                    }
                }
                InodeAtCut at;
                at.base = rec.initial[inode];
                std::set<qint64> touched;
                std::vector<qint64> order;
                for (size_t j = 0; j < cut; ++j) {
                    const Step& s = rec.steps[j];
                    if (s.inode != int(inode) || !s.isData())
                        continue;
                    if (synced && j < lastSync) {
                        applyData(at.base, s);
                        continue;
                    }
                    if (at.lengths.empty()) {
                        at.full = at.base;
                        at.lengths.push_back(at.base.size());
                    }
                    applyData(at.full, s);
                    if (std::find(at.lengths.begin(), at.lengths.end(), at.full.size()) == at.lengths.end())
                        at.lengths.push_back(at.full.size());
                    if (s.kind == Step::Write) {
                        for (qint64 b = s.offset / Block; b * Block < s.offset + s.bytes.size(); ++b) {
                            if (touched.insert(b).second)
                                order.push_back(b);
                        }
                    }
                }
                if (at.lengths.empty()) {
                    at.full = at.base;
                    at.lengths.push_back(at.base.size());
                }
                for (qint64 b : order) {
                    if (blockOf(at.base, b) != blockOf(at.full, b))
                        at.dirty.push_back(b);
                }
                inodes[int(inode)] = at;
            }
            // The units of the block subsets, every dirty block of every inode, and the length choices.
            std::vector<std::pair<int, size_t>> firstUnit; // inode, index of its first unit
            size_t units = 0;
            std::vector<int> lengthInodes;
            for (const auto& [inode, at] : inodes) {
                firstUnit.push_back({inode, units});
                units += at.dirty.size();
                if (at.lengths.size() > 1)
                    lengthInodes.push_back(inode);
            }
            const auto unitOf = [&](int inode) {
                for (const auto& [i, u] : firstUnit)
                    if (i == inode)
                        return u;
                return size_t(0);
            };
            // Frames: the name prefix and the length of each inode that has a choice, numbered in
            // mixed radix; frame 0 has nothing pending persist, the last one everything.
            std::vector<qint64> radix {qint64(pendingNames.size()) + 1};
            for (int inode : lengthInodes)
                radix.push_back(qint64(inodes[inode].lengths.size()));
            qint64 frameCount = 1;
            for (qint64 r : radix)
                frameCount = qMin<qint64>(frameCount * r, qint64(1) << 40);
            const auto frameAt = [&](qint64 index) {
                Choice c;
                for (size_t i = 0; i < radix.size(); ++i) {
                    const int digit = int(index % radix[i]);
                    index /= radix[i];
                    if (i == 0)
                        c.names = digit;
                    else
                        c.lengths.push_back(digit);
                }
                return c;
            };
            const auto lastFrame = [&] {
                Choice c {int(pendingNames.size()), {}};
                for (int inode : lengthInodes)
                    c.lengths.push_back(int(inodes[inode].lengths.size()) - 1);
                return c;
            };
            bool thinned = false;
            const auto blockSets = subsets(units, &thinned);
            std::vector<std::pair<Choice, std::vector<bool>>> picks;
            if (!thinned && frameCount * qint64(blockSets.size()) <= CrossUpTo) {
                for (qint64 f = 0; f < frameCount; ++f) {
                    for (const auto& blocks : blockSets)
                        picks.push_back({frameAt(f), blocks});
                }
            } else {
                // The block sets with nothing else pending and with everything else pending, then
                // random frames with random blocks.
                outcome.bounded = true;
                for (const Choice& frame : {frameAt(0), lastFrame()}) {
                    for (const auto& blocks : blockSets)
                        picks.push_back({frame, blocks});
                }
                for (int i = 0; i < samples; ++i) {
                    std::vector<bool> blocks(units);
                    for (size_t j = 0; j < units; ++j)
                        blocks[j] = rng.generate() & 1;
                    picks.push_back({frameAt(qint64(rng.generate64() % quint64(frameCount))), blocks});
                }
            }
            for (const auto& [frame, blocks] : picks) {
                // Names after the durable steps and the first frame.names pending ones.
                std::map<QString, int> names = rec.names;
                for (size_t j = 0; j < cut; ++j) {
                    const Step& s = rec.steps[j];
                    if (!s.isName())
                        continue;
                    const auto pending = std::find(pendingNames.begin(), pendingNames.end(), j);
                    if (pending != pendingNames.end() && pending - pendingNames.begin() >= frame.names)
                        continue;
                    if (s.kind == Step::Create) {
                        names[s.path] = s.inode;
                    } else if (s.kind == Step::Remove) {
                        names.erase(s.path);
                    } else {
                        const auto it = names.find(s.path);
                        if (it != names.end()) {
                            names[s.target] = it->second;
                            names.erase(s.path);
                        }
                    }
                }
                std::map<QString, QByteArray> files;
                size_t hash = 0;
                for (const auto& [path, inode] : names) {
                    const InodeAtCut& at = inodes[inode];
                    qint64 length = at.lengths.back();
                    for (size_t l = 0; l < lengthInodes.size(); ++l) {
                        if (lengthInodes[l] == inode)
                            length = at.lengths[size_t(frame.lengths[l])];
                    }
                    files[path] = at.bytes(length, blocks, unitOf(inode));
                    hash = hash * 1000003u ^ qHash(path) ^ (qHash(files[path], 17) * 31u);
                }
                if (!seen.insert(hash).second)
                    continue;
                ++outcome.states;
                const QString where = QStringLiteral("cut after %1 of %2 steps (%3), %4 of %5 pending names")
                                          .arg(cut)
                                          .arg(n)
                                          .arg(cut ? rec.steps[cut - 1].describe(root) : QStringLiteral("start"))
                                          .arg(frame.names)
                                          .arg(pendingNames.size());
                materialize(files);
                judge(oldData, newData, oldBackup, newBackup, oldRows, newRows, oldLoads, where, fail);
            }
        }
        return outcome;
    }

    void judge(const Bytes& oldData, const Bytes& newData, const Bytes& oldBackup, const Bytes& newBackup,
               const std::vector<Record>& oldRows, const std::vector<Record>& newRows, bool oldLoads,
               const QString& where, const std::function<void(const QString&)>& fail)
    {
        RecordStore loaded;
        DataFile file(loaded, dataPath, backupPath);
        const int rc = file.LoadData();
        file.release();
        const Bytes data = readBytes(dataPath);
        const Bytes backup = readBytes(backupPath);
        // Where the run found no data file, the empty file it creates first counts as none: it is
        // refused as none is, and nothing was saved in it.
        const bool isOld = data == oldData || (!oldData && data && data->isEmpty());
        const bool isNew = data == newData;
        if (!isOld && !isNew)
            return fail(where + QStringLiteral(": the data file is neither the old one nor the new one"));
        if (rc != 0) {
            if (!(isOld && !oldLoads))
                fail(where + QStringLiteral(": a saved register was refused"));
        } else if (loaded.rows() != (isNew ? newRows : oldRows)) {
            return fail(where + QStringLiteral(": the register loaded is not the one in the file"));
        }
        if (backup != oldBackup && backup != newBackup)
            return fail(where + QStringLiteral(": the backup is neither the old one nor the new one"));
        if (backup != oldBackup && !isNew)
            return fail(where + QStringLiteral(": the new backup came before the new data file"));
    }
};

void fill(RecordStore& store, int n, const QByteArray& street = "Sadovaya st. ")
{
    QRandomGenerator rng(407);
    for (int i = 0; i < n; ++i) {
        Record r;
        r.setInteger(Field::ID_RECORD, i + 1);
        r.setText(Field::PULT_NUM, QByteArray::number(1000 + i));
        r.setText(Field::ADDRESS, street + QByteArray::number(1 + rng.bounded(300)));
        if (i % 5 != 0) {
            r.setInteger(Field::ID_TRINK, qint32(rng.bounded(0x1000000)));
            r.setText(Field::CODE, "0X?10X?10X");
        }
        store.append(r);
    }
}

QByteArray bytesOf(int n, const QByteArray& street = "Sadovaya st. ")
{
    RecordStore store;
    fill(store, n, street);
    return DataFormat::write(store);
}

void editRow(RecordStore& store, int row, const QByteArray& address)
{
    store.setCurrentRow(row);
    store.edit();
    store.setText(Field::ADDRESS, address);
    store.post();
}

// Every address changed, so that a save rewrites every block; `keep` records stay.
void editAll(RecordStore& store, const QByteArray& street, int keep)
{
    for (int row = 0; row < store.count(); ++row) {
        store.setCurrentRow(row);
        store.edit();
        store.setText(Field::ADDRESS, street + QByteArray::number(row));
        store.post();
    }
    while (store.count() > keep) {
        store.setCurrentRow(store.count() - 1);
        store.remove();
    }
}

std::vector<Scenario> scenarios(int n)
{
    const QByteArray a = bytesOf(n);
    // The backup of an earlier, longer register, with other addresses.
    const QByteArray olderBackup = bytesOf(n + n / 10 + 1, "Prospekt Mira ");
    const QByteArray damaged = a.left(a.size() * 2 / 3);
    const auto loadAndSave = [](DataFile& file) {
        if (file.LoadData() != 0)
            return false;
        file.SaveData();
        return true;
    };
    const auto refused = [](RecordStore&, DataFile& file) { return file.LoadData() != 0; };
    std::vector<Scenario> out;
    out.push_back({QStringLiteral("save"), a, olderBackup,
                   [=](RecordStore& store, DataFile& file) {
                       if (!loadAndSave(file))
                           return false;
                       // Longer addresses: the file grows.
                       editAll(store, "Bulvar Pobedy, korpus ", store.count());
                       return true;
                   },
                   [](RecordStore&, DataFile& file) { file.SaveData(); }});
    out.push_back({QStringLiteral("save, a few records"), a, olderBackup,
                   [=](RecordStore& store, DataFile& file) {
                       if (!loadAndSave(file))
                           return false;
                       // A save of a few changes, then one that moves the rest of the file and
                       // leaves its last bytes: what the kept image gives, on what it gave.
                       editRow(store, store.count() / 2, "Bulvar Pobedy, korpus 1");
                       file.SaveData();
                       store.setCurrentRow(store.count() / 3);
                       store.insert();
                       store.setText(Field::ADDRESS, "Prospekt Mira 1");
                       store.post();
                       editRow(store, store.count() * 2 / 3, "Pr. 2");
                       store.setCurrentRow(store.count() - 2);
                       store.remove();
                       return true;
                   },
                   [](RecordStore&, DataFile& file) { file.SaveData(); }});
    out.push_back({QStringLiteral("exit"), a, olderBackup,
                   [=](RecordStore& store, DataFile& file) {
                       if (!loadAndSave(file))
                           return false;
                       // Shorter addresses and fewer records: the file keeps its tail.
                       editAll(store, "Pr. ", store.count() - store.count() / 10);
                       return true;
                   },
                   [](RecordStore&, DataFile& file) { file.shutDown(); }});
    // The backup as an exit leaves it: the register, then what the older, longer backup held past it.
    QByteArray backup = bytesOf(n, "Ul. Gagarina ");
    backup += olderBackup.mid(backup.size());
    out.push_back({QStringLiteral("restore"), damaged, backup, refused,
                   [](RecordStore&, DataFile& file) { (void)file.restoreFromBackup(); }});
    out.push_back({QStringLiteral("create anew"), damaged, a, refused,
                   [](RecordStore&, DataFile& file) { (void)file.createAnew(); }});
    out.push_back({QStringLiteral("create anew, no file"), std::nullopt, a, refused,
                   [](RecordStore&, DataFile& file) { (void)file.createAnew(); }});
    return out;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    Explorer explorer;
    std::vector<int> sizes {10, 1000, 100000};
    QString folder = QDir::currentPath();
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args.at(i) == QLatin1String("--records")) {
            sizes.clear();
            for (const QString& n : args.at(i + 1).split(QLatin1Char(',')))
                sizes.push_back(n.toInt());
        } else if (args.at(i) == QLatin1String("--samples")) {
            explorer.samples = args.at(i + 1).toInt();
        } else if (args.at(i) == QLatin1String("--family")) {
            explorer.familyLimit = qMax(1, args.at(i + 1).toInt());
        } else if (args.at(i) == QLatin1String("--steps")) {
            explorer.showSteps = args.at(i + 1) != QLatin1String("0");
        } else if (args.at(i) == QLatin1String("--folder")) {
            folder = args.at(i + 1);
        }
    }
    // Every folder a run may keep files in for its user lies inside the explored one.
    QTemporaryDir dir(folder + QStringLiteral("/crash-states-XXXXXX"));
    if (!dir.isValid()) {
        std::printf("no folder to explore in under %s\n", qPrintable(folder));
        return 1;
    }
    const QString root = QDir(dir.path()).canonicalPath();
    qputenv("HOME", QFile::encodeName(root + QStringLiteral("/home")));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(root + QStringLiteral("/config")));
    qputenv("XDG_CACHE_HOME", QFile::encodeName(root + QStringLiteral("/cache")));
    qputenv("XDG_DATA_HOME", QFile::encodeName(root + QStringLiteral("/share")));
    qputenv("XDG_STATE_HOME", QFile::encodeName(root + QStringLiteral("/state")));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(root + QStringLiteral("/runtime")));
    qputenv("TMPDIR", QFile::encodeName(root + QStringLiteral("/tmp")));
    explorer.root = root;
    explorer.dataPath = root + QStringLiteral("/data/Trinket.dat");
    explorer.backupPath = root + QStringLiteral("/data/Trinket.bkd");
    std::printf("Power-cut states of a save, an exit, a restore and a create-anew. Per cut: every subset of up to %d "
                "dirty 4 KiB blocks with every choice of pending names and lengths, up to %lld states; beyond that "
                "(\"sampled\"), every prefix and every single omission of the dirty blocks (thinned evenly to %d of "
                "each) with nothing or all else pending, and %d random states.\n",
                AllSubsetsUpTo, static_cast<long long>(CrossUpTo), explorer.familyLimit, explorer.samples);
    std::printf("%9s  %-22s %6s %6s %8s %8s\n", "records", "run", "steps", "cuts", "states", "failing");
    qint64 failing = 0;
    for (int n : sizes) {
        qint64 states = 0;
        qint64 failed = 0;
        QElapsedTimer timer;
        timer.start();
        for (const Scenario& scenario : scenarios(n)) {
            const Exploration o = explorer.explore(n, scenario);
            std::printf("%9d  %-22s %6d %6d %8lld %8lld%s\n", n, qPrintable(scenario.title), o.steps, o.cuts,
                        static_cast<long long>(o.states), static_cast<long long>(o.failing),
                        o.bounded ? "  (sampled)" : "");
            std::fflush(stdout);
            states += o.states;
            failed += o.failing;
        }
        std::printf("%9d records: %lld states explored, %lld failing (%.1f s)\n", n, static_cast<long long>(states),
                    static_cast<long long>(failed), timer.elapsed() / 1000.0);
        failing += failed;
    }
    return failing ? 1 : 0;
}

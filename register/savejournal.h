#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <limits>
#include <utility>
#include <vector>

class HeldFile;

// The side file of one save of one data file. It holds the digest of every block of the file
// that the save covers, as the block was before, and the new bytes of the blocks that change.
// It is replayed only over a file whose every covered block is still its old or already its
// new self, so it never lands on a register that some other hand has put in the file's place.
namespace SaveJournal {

constexpr qint64 Block = 4096;
// Larger than any save of the largest register several times over: anything bigger is no
// journal of ours.
constexpr qint64 MaxSize = qint64(256) << 20;

// A fast 64-bit digest against torn and stray writes (not against forgery: the file's owner
// and the folder guard that).
quint64 digest(const char* data, qint64 n, quint64 seed = 0);

struct Plan
{
    qint64 length = 0; // of the new image
    bool cut = false; // the file ends after the new image
    // One per block of [0, length), the last one cut at length: the digest before the save.
    std::vector<quint64> before;
    // Runs of changed blocks, as first block and count.
    std::vector<std::pair<qint64, qint64>> runs;
};

// The journal of `plan`, the changed bytes taken from `image`, written at the start of the
// journal and flushed.
bool write(HeldFile& journal, const Plan& plan, const char* image);
// Voids the journal where it lies: its head stops being one. Not flushed: a journal left
// whole after its save is replayed as a no-op.
bool invalidate(HeldFile& journal);

struct Entry
{
    Plan plan;
    QByteArray body; // the changed runs' new bytes, one after another
};
// A whole journal; false for one cut short, damaged or voided.
bool read(const HeldFile& journal, Entry* entry);
// Whether every block the entry covers holds in `file` its old bytes or its new ones.
bool belongsTo(const Entry& entry, const HeldFile& file);
// Writes the entry's new bytes over the file, cuts it when the save did, and flushes it.
bool replay(const Entry& entry, HeldFile& file);

// Digests of the held file's blocks as the disk has them (zeros past its end), read as saves
// first need them and kept current by the saves; empty whenever anything else wrote the file.
class BlockDigests final
{
public:
    void clear() { m_full.clear(); }
    // What writing `image` over `file` changes; false when the file cannot be read. Only the
    // bytes [from, to) may differ from what the last save wrote; the other blocks are taken as
    // they were.
    bool plan(const HeldFile& file, const QByteArray& image, bool cut, Plan* plan, qint64 from = 0,
              qint64 to = std::numeric_limits<qint64>::max());
    // After the plan's save reached the file.
    void saved(const Plan& plan);

private:
    bool full(const HeldFile& file, qint64 block, quint64* d);

    std::vector<quint64> m_full;
    std::vector<quint64> m_after; // the planned save's blocks, as saved() will find them
};

} // namespace SaveJournal

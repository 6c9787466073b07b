#include "register/savejournal.h"

#include "register/heldfile.h"

#include <QtEndian>

#include <cstring>

namespace SaveJournal {
namespace {

    // The journal: a head (tag, the plan, the body's digest, the head's own digest) padded to whole
    // blocks, then the changed runs' new bytes. The tag's last byte is '0' once the save is done.
    constexpr char Tag[8] = {'T', 'R', 'K', 'J', 'R', 'N', 'L', '1'};
    constexpr char VoidTag[8] = {'T', 'R', 'K', 'J', 'R', 'N', 'L', '0'};
    constexpr qint64 FixedHead = 7 * 8;

    constexpr quint64 K1 = 0x9E3779B185EBCA87ULL;
    constexpr quint64 K2 = 0xC2B2AE3D27D4EB4FULL;
    constexpr quint64 K3 = 0x165667B19E3779F9ULL;
    constexpr quint64 K4 = 0x85EBCA77C2B2AE63ULL;
    constexpr quint64 K5 = 0x27D4EB2F165667C5ULL;

    quint64 rotl(quint64 x, int r)
    {
        return (x << r) | (x >> (64 - r));
    }

    quint64 lane(quint64 acc, quint64 v)
    {
        return rotl(acc + v * K2, 31) * K1;
    }

    quint64 load64(const char* p)
    {
        return qFromLittleEndian<quint64>(p);
    }

    qint64 blocksOf(qint64 length)
    {
        return (length + Block - 1) / Block;
    }

    qint64 headSize(qint64 blocks, qint64 runs)
    {
        return FixedHead + 8 * blocks + 16 * runs + 8;
    }

    qint64 bodyStart(qint64 head)
    {
        return blocksOf(head) * Block;
    }

    qint64 runBytes(const Plan& plan, const std::pair<qint64, qint64>& run)
    {
        return qMin((run.first + run.second) * Block, plan.length) - run.first * Block;
    }

    // Reads up to n bytes, fewer only at the file's end; -1 on an error.
    qint64 readFully(const HeldFile& file, qint64 offset, char* buffer, qint64 n)
    {
        qint64 at = 0;
        while (at < n) {
            const qint64 got = file.readAt(offset + at, buffer + at, n - at);
            if (got < 0)
                return -1;
            if (got == 0)
                break;
            at += got;
        }
        return at;
    }

    // One block of the file, zeros past its end.
    bool readBlock(const HeldFile& file, qint64 block, char* buffer)
    {
        const qint64 got = readFully(file, block * Block, buffer, Block);
        if (got < 0)
            return false;
        std::memset(buffer + got, 0, size_t(Block - got));
        return true;
    }

    void put64(QByteArray& out, quint64 v)
    {
        char b[8];
        qToLittleEndian<quint64>(v, b);
        out.append(b, 8);
    }

} // namespace

quint64 digest(const char* p, qint64 n, quint64 seed)
{
    const char* const end = p + n;
    quint64 h;
    if (n >= 32) {
        quint64 a = seed + K1 + K2, b = seed + K2, c = seed, d = seed - K1;
        for (; end - p >= 32; p += 32) {
            a = lane(a, load64(p));
            b = lane(b, load64(p + 8));
            c = lane(c, load64(p + 16));
            d = lane(d, load64(p + 24));
        }
        h = rotl(a, 1) + rotl(b, 7) + rotl(c, 12) + rotl(d, 18);
        for (const quint64 x : {a, b, c, d})
            h = (h ^ lane(0, x)) * K1 + K4;
    } else {
        h = seed + K5;
    }
    h += quint64(n);
    for (; end - p >= 8; p += 8)
        h = rotl(h ^ lane(0, load64(p)), 27) * K1 + K4;
    for (; p < end; ++p)
        h = rotl(h ^ (quint64(quint8(*p)) * K5), 11) * K1;
    h ^= h >> 33;
    h *= K2;
    h ^= h >> 29;
    h *= K3;
    h ^= h >> 32;
    return h;
}

bool write(HeldFile& journal, const Plan& plan, const char* image)
{
    quint64 body = 0;
    qint64 bodyLength = 0;
    for (const auto& run : plan.runs) {
        const qint64 n = runBytes(plan, run);
        body = digest(image + run.first * Block, n, body);
        bodyLength += n;
    }
    const qint64 blocks = qint64(plan.before.size());
    QByteArray head;
    head.reserve(bodyStart(headSize(blocks, qint64(plan.runs.size()))));
    head.append(Tag, 8);
    for (const quint64 v : {quint64(plan.length), quint64(plan.cut), quint64(blocks), quint64(plan.runs.size()),
                            quint64(bodyLength), body})
        put64(head, v);
    for (const quint64 d : plan.before)
        put64(head, d);
    for (const auto& run : plan.runs) {
        put64(head, quint64(run.first));
        put64(head, quint64(run.second));
    }
    put64(head, digest(head.constData(), head.size()));
    head.resize(bodyStart(head.size()), '\0');
    if (!journal.writeAt(0, head.constData(), head.size()))
        return false;
    qint64 at = head.size();
    for (const auto& run : plan.runs) {
        const qint64 n = runBytes(plan, run);
        if (!journal.writeAt(at, image + run.first * Block, n))
            return false;
        at += n;
    }
    return journal.flush();
}

bool invalidate(HeldFile& journal)
{
    return journal.writeAt(0, VoidTag, 8);
}

bool read(const HeldFile& journal, Entry* entry)
{
    const qint64 size = journal.size();
    char fixed[FixedHead];
    if (size < FixedHead || size > MaxSize || readFully(journal, 0, fixed, FixedHead) != FixedHead
        || std::memcmp(fixed, Tag, 8) != 0)
        return false;
    Plan& plan = entry->plan;
    plan.length = qint64(load64(fixed + 8));
    plan.cut = load64(fixed + 16) != 0;
    const quint64 blocks = load64(fixed + 24);
    const quint64 runs = load64(fixed + 32);
    const quint64 bodyLength = load64(fixed + 40);
    if (plan.length < 0 || plan.length > MaxSize || blocks != quint64(blocksOf(plan.length)) || runs > blocks
        || bodyLength > quint64(size))
        return false;
    const qint64 headLength = headSize(qint64(blocks), qint64(runs));
    if (bodyStart(headLength) + qint64(bodyLength) > size)
        return false;
    QByteArray head(headLength, Qt::Uninitialized);
    if (readFully(journal, 0, head.data(), headLength) != headLength
        || digest(head.constData(), headLength - 8) != load64(head.constData() + headLength - 8))
        return false;
    const char* p = head.constData() + FixedHead;
    plan.before.resize(blocks);
    for (quint64& d : plan.before) {
        d = load64(p);
        p += 8;
    }
    plan.runs.clear();
    qint64 next = 0;
    qint64 total = 0;
    for (quint64 r = 0; r < runs; ++r, p += 16) {
        const qint64 first = qint64(load64(p));
        const qint64 count = qint64(load64(p + 8));
        if (first < next || count <= 0 || count > qint64(blocks) - first)
            return false;
        plan.runs.emplace_back(first, count);
        total += runBytes(plan, plan.runs.back());
        next = first + count;
    }
    if (total != qint64(bodyLength))
        return false;
    entry->body.resize(qsizetype(bodyLength));
    if (readFully(journal, bodyStart(headLength), entry->body.data(), total) != total)
        return false;
    quint64 body = 0;
    qint64 at = 0;
    for (const auto& run : plan.runs) {
        const qint64 n = runBytes(plan, run);
        body = digest(entry->body.constData() + at, n, body);
        at += n;
    }
    return body == load64(fixed + 48);
}

bool belongsTo(const Entry& entry, const HeldFile& file)
{
    const Plan& plan = entry.plan;
    std::vector<qint64> newAt(plan.before.size(), -1);
    qint64 at = 0;
    for (const auto& run : plan.runs) {
        for (qint64 b = run.first; b < run.first + run.second; ++b)
            newAt[size_t(b)] = at + (b - run.first) * Block;
        at += runBytes(plan, run);
    }
    // A cut may keep new bytes whose growth of the file's length was lost: the block then
    // reads as the new one up to the file's end and zeros after it.
    const qint64 length = file.size();
    char buffer[Block];
    char fresh[Block];
    for (size_t b = 0; b < plan.before.size(); ++b) {
        if (!readBlock(file, qint64(b), buffer))
            return false;
        const qint64 start = qint64(b) * Block;
        const qint64 n = qMin(Block, plan.length - start);
        const quint64 now = digest(buffer, n);
        if (now == plan.before[b])
            continue;
        if (newAt[b] < 0)
            return false;
        std::memcpy(fresh, entry.body.constData() + newAt[b], size_t(n));
        if (now == digest(fresh, n))
            continue;
        const qint64 kept = qBound<qint64>(0, length - start, n);
        std::memset(fresh + kept, 0, size_t(n - kept));
        if (kept == n || now != digest(fresh, n))
            return false;
    }
    return true;
}

bool replay(const Entry& entry, HeldFile& file)
{
    const Plan& plan = entry.plan;
    if (!file.reserve(plan.length))
        return false;
    qint64 at = 0;
    for (const auto& run : plan.runs) {
        const qint64 n = runBytes(plan, run);
        if (!file.writeAt(run.first * Block, entry.body.constData() + at, n))
            return false;
        at += n;
    }
    return (!plan.cut || file.truncate(plan.length)) && file.flush();
}

bool BlockDigests::full(const HeldFile& file, qint64 block, quint64* d)
{
    char buffer[Block];
    while (qint64(m_full.size()) <= block) {
        if (!readBlock(file, qint64(m_full.size()), buffer))
            return false;
        m_full.push_back(digest(buffer, Block));
    }
    *d = m_full[size_t(block)];
    return true;
}

bool BlockDigests::plan(const HeldFile& file, const QByteArray& image, bool cut, Plan* plan, qint64 from, qint64 to)
{
    const qint64 length = image.size();
    const qint64 blocks = blocksOf(length);
    plan->length = length;
    plan->cut = cut;
    plan->before.assign(size_t(blocks), 0);
    plan->runs.clear();
    m_after.assign(size_t(blocks), 0);
    char buffer[Block];
    for (qint64 b = 0; b < blocks; ++b) {
        const char* now = image.constData() + b * Block;
        const qint64 n = qMin(Block, length - b * Block);
        quint64 old;
        quint64 fresh;
        if (n == Block) {
            if (!full(file, b, &old))
                return false;
            const bool same = (b + 1) * Block <= from || b * Block >= to;
            fresh = same ? old : digest(now, n);
            m_after[size_t(b)] = fresh;
        } else {
            fresh = digest(now, n);
            // The last block keeps the file's bytes past the image, unless the file ends there.
            if (!readBlock(file, b, buffer))
                return false;
            old = digest(buffer, n);
            std::memcpy(buffer, now, size_t(n));
            if (cut)
                std::memset(buffer + n, 0, size_t(Block - n));
            m_after[size_t(b)] = digest(buffer, Block);
        }
        plan->before[size_t(b)] = old;
        if (old == fresh)
            continue;
        if (!plan->runs.empty() && plan->runs.back().first + plan->runs.back().second == b)
            ++plan->runs.back().second;
        else
            plan->runs.emplace_back(b, 1);
    }
    return true;
}

void BlockDigests::saved(const Plan& plan)
{
    const size_t blocks = plan.before.size();
    if (m_full.size() < blocks || plan.cut)
        m_full.resize(blocks);
    std::copy(m_after.begin(), m_after.end(), m_full.begin());
}

} // namespace SaveJournal

#include "register/saveimage.h"

#include "register/dataformat.h"

#include <cstring>
#include <limits>

void SaveImage::clear()
{
    m_bytes = QByteArray();
    std::vector<quint32>().swap(m_ends);
    m_mark = 0;
}

void SaveImage::update(RecordStore& store, qint64* from, qint64* to)
{
    const RecordStore::Changes changes = store.changesSince(m_mark);
    const int oldCount = int(m_ends.size()) - 1;
    const int count = store.count();
    if (!changes.known || oldCount < 0 || changes.head + changes.tail > qMin(oldCount, count)) {
        clear(); // not held twice while the new one is built
        m_bytes = DataFormat::write(store, &m_ends, true);
        // Offsets are kept in 32 bits: a larger image is encoded whole at every save.
        m_mark = m_bytes.size() < std::numeric_limits<quint32>::max() ? store.mark() : 0;
        *from = 0;
        *to = m_bytes.size();
        return;
    }
    const int head = changes.head;
    const int oldLast = oldCount - changes.tail; // the old rows [head, oldLast) are replaced
    const int last = count - changes.tail; // by the rows [head, last)
    const qint64 start = m_ends[size_t(head)];
    const qint64 oldEnd = m_ends[size_t(oldLast)];
    std::vector<quint32> ends;
    const QByteArray middle = DataFormat::writeRows(store, head, last, start, &ends);
    const qint64 shift = middle.size() - (oldEnd - start);
    const qint64 oldSize = m_bytes.size();
    // Past its reserved room the image is encoded anew rather than moved: a move holds it twice.
    if (oldSize + shift >= qint64(std::numeric_limits<quint32>::max()) || oldSize + shift > m_bytes.capacity()) {
        m_mark = 0;
        update(store, from, to);
        return;
    }
    // The unchanged tail moves as bytes, and its ends with it.
    if (shift > 0)
        m_bytes.resize(oldSize + shift);
    char* bytes = m_bytes.data();
    std::memmove(bytes + oldEnd + shift, bytes + oldEnd, size_t(oldSize - oldEnd));
    std::memcpy(bytes + start, middle.constData(), size_t(middle.size()));
    if (shift < 0)
        m_bytes.truncate(oldSize + shift);
    m_ends.erase(m_ends.begin() + head + 1, m_ends.begin() + oldLast + 1);
    m_ends.insert(m_ends.begin() + head + 1, ends.begin(), ends.end());
    for (size_t i = size_t(last) + 1; i < m_ends.size(); ++i)
        m_ends[i] = quint32(qint64(m_ends[i]) + shift);
    m_mark = store.mark();
    *from = start;
    *to = shift == 0 ? start + middle.size() : m_bytes.size();
}

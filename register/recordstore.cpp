#include "register/recordstore.h"

#include "register/registererror.h"

#include <cstring>

RecordStore::RecordStore(QObject* parent)
    : QObject(parent)
{
}

void RecordStore::requireActive() const
{
    if (!m_active)
        throw RegisterError(QStringLiteral("MTTrinkets: Cannot perform this operation on a closed dataset"));
}

void RecordStore::requireEditing() const
{
    requireActive();
    if (m_state == State::Browse)
        throw RegisterError(QStringLiteral("MTTrinkets: Dataset not in edit or insert mode"));
}

// Moving away from a pending record stores it, so no navigation drops an edit unnoticed.
void RecordStore::browseMode()
{
    if (m_state != State::Browse)
        post();
}

void RecordStore::moveTo(int row, bool bof, bool eof, bool notify)
{
    const bool moved = notify || row != m_current;
    m_current = row;
    m_bof = bof;
    m_eof = eof;
    if (moved)
        tell(&RecordStore::currentChanged, m_current);
}

void RecordStore::activate()
{
    if (m_active)
        return;
    tell(&RecordStore::aboutToReset);
    m_active = true;
    clearRows();
    m_current = -1;
    m_bof = m_eof = true;
    m_state = State::Browse;
    tell(&RecordStore::resetDone);
}

void RecordStore::deactivate()
{
    if (!m_active)
        return;
    tell(&RecordStore::aboutToReset);
    m_active = false;
    clearRows();
    const bool hadCurrent = m_current >= 0;
    m_current = -1;
    m_bof = m_eof = true;
    m_state = State::Browse;
    tell(&RecordStore::resetDone);
    if (hadCurrent)
        tell(&RecordStore::currentChanged, -1);
}

void RecordStore::first()
{
    moveToEnd(true);
}

void RecordStore::next()
{
    requireActive();
    browseMode();
    if (m_eof)
        return;
    if (m_current + 1 < count())
        moveTo(m_current + 1, false, false);
    else
        moveTo(m_current, false, true);
}

void RecordStore::last()
{
    moveToEnd(false);
}

void RecordStore::moveToEnd(bool first)
{
    requireActive();
    browseMode();
    if (m_rows.empty())
        moveTo(-1, true, true);
    else if (first)
        moveTo(0, true, false);
    else
        moveTo(count() - 1, false, true);
}

template <class Matches> bool RecordStore::locateWhere(Field f, Matches matches)
{
    requireActive();
    browseMode();
    for (int row = 0; row < count(); ++row) {
        if (!isNullAt(row, f) && matches(row)) {
            moveTo(row, false, false);
            return true;
        }
    }
    return false;
}

bool RecordStore::locate(Field f, qint32 value)
{
    return locateWhere(f, [&](int row) { return integerAt(row, f) == value; });
}

bool RecordStore::locate(Field f, const QByteArray& value)
{
    return locateWhere(f, [&](int row) { return textAt(row, f) == value; });
}

void RecordStore::setCurrentRow(int row)
{
    requireActive();
    if (row < 0 || row >= count())
        return;
    browseMode();
    moveTo(row, false, false);
}

void RecordStore::insert()
{
    requireActive();
    browseMode();
    m_insertRow = m_current < 0 ? 0 : m_current;
    m_pending = Record();
    m_state = State::Insert;
}

void RecordStore::edit()
{
    requireActive();
    if (m_state != State::Browse)
        return;
    if (m_current < 0) {
        // An empty register has nothing to change: editing it begins a new record.
        insert();
        return;
    }
    m_pending = at(m_current);
    m_state = State::Edit;
}

void RecordStore::post()
{
    requireActive();
    const State state = m_state;
    m_state = State::Browse;
    if (state == State::Insert) {
        const int row = m_insertRow;
        tell(&RecordStore::rowAboutToBeInserted, row);
        m_rows.insert(m_rows.begin() + row, store(m_pending));
        changed(row, row + 1);
        m_pending = Record();
        tell(&RecordStore::rowInserted, row);
        // The row that was current has moved down by one, so the view must hear of it.
        moveTo(row, false, false, true);
    } else if (state == State::Edit) {
        const Slot old = m_rows[size_t(m_current)];
        m_rows[size_t(m_current)] = store(m_pending);
        release(old);
        changed(m_current, m_current + 1);
        m_pending = Record();
        tell(&RecordStore::rowChanged, m_current);
        m_bof = m_eof = false;
    }
}

void RecordStore::cancel()
{
    m_state = State::Browse;
    m_pending = Record();
}

void RecordStore::remove()
{
    requireActive();
    if (m_state == State::Insert) {
        cancel();
        return;
    }
    cancel();
    if (m_current < 0)
        return;
    const int row = m_current;
    tell(&RecordStore::rowAboutToBeRemoved, row);
    const Slot old = m_rows[size_t(row)];
    m_rows.erase(m_rows.begin() + row);
    release(old);
    changed(row, row);
    // The current record is valid again before anyone hears of the removal.
    m_current = m_rows.empty() ? -1 : qMin(row, count() - 1);
    m_bof = m_eof = m_rows.empty();
    tell(&RecordStore::rowRemoved, row);
    tell(&RecordStore::currentChanged, m_current);
}

bool RecordStore::isNull(Field f) const
{
    if (m_state != State::Browse)
        return m_pending.isNull(f);
    return m_current < 0 || isNullAt(m_current, f);
}

qint32 RecordStore::asInteger(Field f) const
{
    if (m_state != State::Browse)
        return m_pending.asInteger(f);
    const qint32 none = Record().asInteger(f); // throws for a text field
    return m_current < 0 ? none : integerAt(m_current, f);
}

QByteArray RecordStore::asText(Field f) const
{
    if (m_state != State::Browse)
        return m_pending.asText(f);
    QByteArray none = Record().asText(f); // throws for an integer field
    return m_current < 0 || isNullAt(m_current, f) ? none : textAt(m_current, f).toByteArray();
}

void RecordStore::setInteger(Field f, qint32 value)
{
    requireEditing();
    m_pending.setInteger(f, value);
}

void RecordStore::setText(Field f, const QByteArray& value)
{
    requireEditing();
    m_pending.setText(f, value);
}

RecordStore::Batch::Batch(RecordStore& store)
    : m_store(store)
{
    if (m_store.m_batchDepth++ == 0) {
        emit m_store.aboutToReset();
        m_store.m_currentBeforeBatch = m_store.m_current;
    }
}

RecordStore::Batch::~Batch()
{
    if (--m_store.m_batchDepth != 0)
        return;
    emit m_store.resetDone();
    if (m_store.m_current != m_store.m_currentBeforeBatch)
        emit m_store.currentChanged(m_store.m_current);
}

void RecordStore::append(const Record& record)
{
    requireActive();
    browseMode();
    const int row = count();
    tell(&RecordStore::rowAboutToBeInserted, row);
    m_rows.push_back(store(record));
    changed(row, row + 1);
    tell(&RecordStore::rowInserted, row);
    if (m_current < 0)
        moveTo(0, true, false);
}

void RecordStore::append(unsigned nulls, const qint32 (&ints)[3], const QByteArrayView (&texts)[4])
{
    requireActive();
    browseMode();
    const int row = count();
    tell(&RecordStore::rowAboutToBeInserted, row);
    m_rows.push_back(store(nulls, ints, texts));
    changed(row, row + 1);
    tell(&RecordStore::rowInserted, row);
    if (m_current < 0)
        moveTo(0, true, false);
}

Record RecordStore::at(int row) const
{
    Record r;
    for (int i = 0; i < FieldCount; ++i) {
        const Field f = Field(i);
        if (isNullAt(row, f))
            continue;
        if (isIntegerField(f))
            r.setInteger(f, integerAt(row, f));
        else
            r.setText(f, textAt(row, f).toByteArray());
    }
    return r;
}

std::vector<Record> RecordStore::rows() const
{
    std::vector<Record> out;
    out.reserve(m_rows.size());
    for (int row = 0; row < count(); ++row)
        out.push_back(at(row));
    return out;
}

QByteArrayView RecordStore::textAt(int row, Field f) const
{
    const Slot& s = m_rows[size_t(row)];
    const int t = int(f) - int(Field::CODE);
    if (s.length[t] == 0)
        return QByteArrayView("", 0);
    quint32 offset = s.text % BlockSize;
    for (int i = 0; i < t; ++i)
        offset += s.length[i];
    return QByteArrayView(m_blocks[s.text / BlockSize].get() + offset, s.length[t]);
}

RecordStore::Slot RecordStore::store(unsigned nulls, const qint32 (&ints)[3], const QByteArrayView (&texts)[4])
{
    Slot s {};
    s.nulls = quint8(nulls & 0x7F);
    quint32 total = 0;
    for (int i = 0; i < 3; ++i)
        s.ints[i] = (nulls >> i) & 1 ? 0 : ints[i];
    for (int t = 0; t < 4; ++t) {
        const bool null = (nulls >> (t + 3)) & 1;
        s.length[t] = null ? 0 : quint8(qMin<qsizetype>(texts[t].size(), textFieldWidth(Field(t + 3))));
        total += s.length[t];
    }
    if (total == 0)
        return s;
    // A record's texts never straddle two blocks.
    if (m_blockUsed + total > BlockSize) {
        m_blocks.emplace_back(new char[BlockSize]); // untouched pages cost nothing
        m_blockUsed = 0;
    }
    const quint32 block = quint32(m_blocks.size() - 1);
    s.text = block * BlockSize + m_blockUsed;
    char* p = m_blocks.back().get() + m_blockUsed;
    for (int t = 0; t < 4; ++t) {
        if (s.length[t] > 0)
            std::memcpy(p, texts[t].data(), s.length[t]);
        p += s.length[t];
    }
    m_blockUsed += total;
    m_textBytes += total;
    return s;
}

RecordStore::Slot RecordStore::store(const Record& record)
{
    unsigned nulls = 0;
    qint32 ints[3] = {};
    QByteArray held[4];
    QByteArrayView texts[4];
    for (int i = 0; i < FieldCount; ++i) {
        const Field f = Field(i);
        if (record.isNull(f))
            nulls |= 1u << i;
        else if (isIntegerField(f))
            ints[i] = record.asInteger(f);
        else
            texts[i - 3] = held[i - 3] = record.asText(f);
    }
    return store(nulls, ints, texts);
}

void RecordStore::release(const Slot& slot)
{
    const qint64 total = slot.length[0] + slot.length[1] + slot.length[2] + slot.length[3];
    m_textBytes -= total;
    m_garbage += total;
    // Texts of changed and removed records are left where they were until they outweigh the
    // live ones; then every live text is copied once into fresh blocks.
    if (m_garbage > qint64(BlockSize) && m_garbage > m_textBytes)
        compactTexts();
}

void RecordStore::compactTexts()
{
    std::vector<std::unique_ptr<char[]>> old;
    old.swap(m_blocks);
    m_blockUsed = BlockSize;
    m_textBytes = 0;
    m_garbage = 0;
    for (Slot& s : m_rows) {
        const char* p = old[s.text / BlockSize].get() + s.text % BlockSize;
        QByteArrayView texts[4];
        for (int t = 0; t < 4; ++t) {
            texts[t] = QByteArrayView(p, s.length[t]);
            p += s.length[t];
        }
        const Slot moved = store(s.nulls, s.ints, texts);
        s.text = moved.text;
    }
}

void RecordStore::clearRows()
{
    m_unchangedHead = m_unchangedTail = 0;
    std::vector<Slot>().swap(m_rows);
    std::vector<std::unique_ptr<char[]>>().swap(m_blocks);
    m_blockUsed = BlockSize;
    m_textBytes = 0;
    m_garbage = 0;
}

quint64 RecordStore::mark()
{
    m_unchangedHead = m_unchangedTail = count();
    return ++m_mark;
}

RecordStore::Changes RecordStore::changesSince(quint64 mark) const
{
    if (mark != m_mark || mark == 0)
        return {};
    return {true, m_unchangedHead, m_unchangedTail};
}

void RecordStore::changed(int from, int to)
{
    m_unchangedHead = qMin(m_unchangedHead, from);
    m_unchangedTail = qMin(m_unchangedTail, count() - to);
}

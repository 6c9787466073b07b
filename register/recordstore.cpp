#include "recordstore.h"

#include "registererror.h"

namespace {
const Record& nullRecord()
{
    static const Record r;
    return r;
}
} // namespace

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
    m_rows.clear();
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
    std::vector<Record>().swap(m_rows);
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
    requireActive();
    browseMode();
    if (m_rows.empty())
        moveTo(-1, true, true);
    else
        moveTo(0, true, false);
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
    requireActive();
    browseMode();
    if (m_rows.empty())
        moveTo(-1, true, true);
    else
        moveTo(count() - 1, false, true);
}

bool RecordStore::locate(Field f, qint32 value)
{
    requireActive();
    browseMode();
    for (int row = 0; row < count(); ++row) {
        const Record& r = m_rows[size_t(row)];
        if (!r.isNull(f) && r.asInteger(f) == value) {
            moveTo(row, false, false);
            return true;
        }
    }
    return false;
}

bool RecordStore::locate(Field f, const QByteArray& value)
{
    requireActive();
    browseMode();
    for (int row = 0; row < count(); ++row) {
        const Record& r = m_rows[size_t(row)];
        if (!r.isNull(f) && r.asText(f) == value) {
            moveTo(row, false, false);
            return true;
        }
    }
    return false;
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
    m_pending = m_rows[size_t(m_current)];
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
        m_rows.insert(m_rows.begin() + row, std::move(m_pending));
        m_pending = Record();
        tell(&RecordStore::rowInserted, row);
        // The row that was current has moved down by one, so the view must hear of it.
        moveTo(row, false, false, true);
    } else if (state == State::Edit) {
        m_rows[size_t(m_current)] = std::move(m_pending);
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
    m_rows.erase(m_rows.begin() + row);
    // The current record is valid again before anyone hears of the removal.
    m_current = m_rows.empty() ? -1 : qMin(row, count() - 1);
    m_bof = m_eof = m_rows.empty();
    tell(&RecordStore::rowRemoved, row);
    tell(&RecordStore::currentChanged, m_current);
}

Record* RecordStore::target()
{
    if (m_state != State::Browse)
        return &m_pending;
    return m_current < 0 ? nullptr : &m_rows[size_t(m_current)];
}

const Record* RecordStore::target() const
{
    if (m_state != State::Browse)
        return &m_pending;
    return m_current < 0 ? nullptr : &m_rows[size_t(m_current)];
}

bool RecordStore::isNull(Field f) const
{
    const Record* r = target();
    return (r ? *r : nullRecord()).isNull(f);
}

qint32 RecordStore::asInteger(Field f) const
{
    const Record* r = target();
    return (r ? *r : nullRecord()).asInteger(f);
}

QByteArray RecordStore::asText(Field f) const
{
    const Record* r = target();
    return (r ? *r : nullRecord()).asText(f);
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
    m_rows.push_back(record);
    tell(&RecordStore::rowInserted, row);
    if (m_current < 0)
        moveTo(0, true, false);
}

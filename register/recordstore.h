#pragma once

#include "register/record.h"

#include <QByteArrayView>
#include <QObject>

#include <memory>
#include <vector>

// The register table MTTrinkets: records in row order, a current record and the at-start and
// at-end flags. Operations on a closed (inactive) store throw RegisterError with
// "MTTrinkets: Cannot perform this operation on a closed dataset". The records are kept compact,
// as a million of them must load and sort in well under a second: a small fixed slot per record
// and its texts, as their Windows-1251 bytes, in large shared blocks.
class RecordStore final : public QObject
{
    Q_OBJECT

public:
    explicit RecordStore(QObject* parent = nullptr);

    bool isActive() const { return m_active; }
    void activate(); // an empty register
    void deactivate(); // discards every record

    int count() const { return int(m_rows.size()); }
    Record at(int row) const;
    std::vector<Record> rows() const;
    // A field of a stored record without building the record; a text's view lasts until the
    // next change of the register.
    bool isNullAt(int row, Field f) const { return (m_rows[size_t(row)].nulls >> int(f)) & 1; }
    qint32 integerAt(int row, Field f) const { return m_rows[size_t(row)].ints[int(f)]; }
    QByteArrayView textAt(int row, Field f) const;

    int currentRow() const { return m_current; } // -1 when empty
    bool bof() const { return m_bof; }
    bool eof() const { return m_eof; }

    void first();
    void next();
    void last();
    bool locate(Field f, qint32 value);
    bool locate(Field f, const QByteArray& value);
    // The grid selected this row: it becomes current, both flags cleared.
    void setCurrentRow(int row);

    void insert(); // pending new record, all fields null, placed before the current record
    void edit(); // pending change of the current record
    void post();
    void cancel();
    void remove(); // deletes the current record
    bool isEditing() const { return m_state != State::Browse; }

    // Field access on the pending record while editing, else on the current one.
    bool isNull(Field f) const;
    qint32 asInteger(Field f) const;
    QByteArray asText(Field f) const;
    void setInteger(Field f, qint32 value);
    void setText(Field f, const QByteArray& value);

    // Used by the data file reader: appends a completed record at the end of the row order.
    void append(const Record& record);
    // The same from the reader's own buffers: a bit per null field, the integers and the texts
    // (already cut to their widths; a null field's value is ignored).
    void append(unsigned nulls, const qint32 (&ints)[3], const QByteArrayView (&texts)[4]);

    // Which rows a save must encode again: since the mark, only rows [head, count() - tail) may
    // have changed, been inserted or lost rows in their place; the first `head` and the last
    // `tail` rows are the marked ones. Unknown when the mark is not the latest one.
    struct Changes
    {
        bool known = false;
        int head = 0;
        int tail = 0;
    };
    quint64 mark();
    Changes changesSince(quint64 mark) const;

    // Many changes heard as one reset: a Batch's start emits aboutToReset, the store is silent
    // while it lives, and its end emits resetDone, then currentChanged if the current row moved.
    // A load of many records costs an observer one rebuild, and no observer needs a bulk mode.
    class Batch final
    {
    public:
        explicit Batch(RecordStore& store);
        ~Batch();
        Batch(const Batch&) = delete;
        Batch& operator=(const Batch&) = delete;

    private:
        RecordStore& m_store;
    };

signals:
    void aboutToReset();
    void resetDone();
    void rowAboutToBeInserted(int row);
    void rowInserted(int row);
    void rowAboutToBeRemoved(int row);
    void rowRemoved(int row);
    void rowChanged(int row);
    void currentChanged(int row);

private:
    enum class State
    {
        Browse,
        Insert,
        Edit,
    };
    void requireActive() const;
    // first() and last(): both ends of an empty register are the end-of-data mark.
    void moveToEnd(bool first);
    // The one search behind both locates: the first row whose non-null field matches.
    template <class Matches> bool locateWhere(Field f, Matches matches);
    void requireEditing() const;
    void browseMode();
    void moveTo(int row, bool bof, bool eof, bool notify = false);
    // Emits the signal unless a batch is running.
    template <class... Args, class... Values> void tell(void (RecordStore::*signal)(Args...), Values... values)
    {
        if (m_batchDepth == 0)
            (this->*signal)(values...);
    }

    // A record's slot: integers (0 when null), null fields as bits, and where its texts lie:
    // one after another in a text block, at `text` (block * BlockSize + offset).
    struct Slot
    {
        qint32 ints[3];
        quint32 text;
        quint8 length[4];
        quint8 nulls;
    };
    static constexpr quint32 BlockSize = 1 << 20;
    Slot store(unsigned nulls, const qint32 (&ints)[3], const QByteArrayView (&texts)[4]);
    Slot store(const Record& record);
    void release(const Slot& slot);
    void compactTexts();
    void clearRows();
    // Rows [from, to) of the register as it now is replaced those between the unchanged head and tail.
    void changed(int from, int to);

    bool m_active = true;
    std::vector<Slot> m_rows;
    std::vector<std::unique_ptr<char[]>> m_blocks;
    quint32 m_blockUsed = BlockSize; // of the last block
    qint64 m_textBytes = 0; // in use
    qint64 m_garbage = 0; // left by changed and removed records
    int m_current = -1;
    bool m_bof = true;
    bool m_eof = true;
    State m_state = State::Browse;
    Record m_pending;
    int m_insertRow = 0;
    int m_batchDepth = 0;
    int m_currentBeforeBatch = -1;
    quint64 m_mark = 0;
    int m_unchangedHead = 0;
    int m_unchangedTail = 0;
};

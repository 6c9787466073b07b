#pragma once

#include "record.h"

#include <QObject>

#include <vector>

// The register table MTTrinkets: records in row order, a current record and the at-start and
// at-end flags. Operations on a closed (inactive) store throw RegisterError with
// "MTTrinkets: Cannot perform this operation on a closed dataset".
class RecordStore final : public QObject
{
    Q_OBJECT

public:
    explicit RecordStore(QObject* parent = nullptr);

    bool isActive() const { return m_active; }
    void activate();     // an empty register
    void deactivate();   // discards every record

    int count() const { return int(m_rows.size()); }
    const Record& at(int row) const { return m_rows[size_t(row)]; }
    const std::vector<Record>& rows() const { return m_rows; }

    int currentRow() const { return m_current; }   // -1 when empty
    bool bof() const { return m_bof; }
    bool eof() const { return m_eof; }

    void first();
    void next();
    void last();
    bool locate(Field f, qint32 value);
    bool locate(Field f, const QByteArray& value);
    // The grid selected this row: it becomes current, both flags cleared.
    void setCurrentRow(int row);

    void insert();   // pending new record, all fields null, placed before the current record
    void edit();     // pending change of the current record
    void post();
    void cancel();
    void remove();   // deletes the current record
    bool isEditing() const { return m_state != State::Browse; }

    // Field access on the pending record while editing, else on the current one.
    bool isNull(Field f) const;
    qint32 asInteger(Field f) const;
    QByteArray asText(Field f) const;
    void setInteger(Field f, qint32 value);
    void setText(Field f, const QByteArray& value);

    // Used by the data file reader: appends a completed record at the end of the row order.
    void append(const Record& record);

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
    void requireEditing() const;
    void browseMode();
    void moveTo(int row, bool bof, bool eof, bool notify = false);
    Record* target();
    const Record* target() const;
    // Emits the signal unless a batch is running.
    template <class... Args, class... Values> void tell(void (RecordStore::*signal)(Args...), Values... values)
    {
        if (m_batchDepth == 0)
            (this->*signal)(values...);
    }

    bool m_active = true;
    std::vector<Record> m_rows;
    int m_current = -1;
    bool m_bof = true;
    bool m_eof = true;
    State m_state = State::Browse;
    Record m_pending;
    int m_insertRow = 0;
    int m_batchDepth = 0;
    int m_currentBeforeBatch = -1;
};

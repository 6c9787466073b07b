#include "register/recordstore.h"
#include "register/registererror.h"
#include "tests/support/fixtures.h"

#include <QAbstractItemModelTester>
#include <QAbstractTableModel>
#include <QRandomGenerator>
#include <QtTest>

namespace {

void appendNumbered(RecordStore& s, std::initializer_list<qint32> ids)
{
    for (qint32 id : ids) {
        Record r;
        r.setInteger(Field::ID_RECORD, id);
        r.setText(Field::PULT_NUM, QByteArray::number(100 + id));
        s.append(r);
    }
}

QList<qint32> order(const RecordStore& s)
{
    QList<qint32> ids;
    for (const Record& r : s.rows())
        ids.append(r.asInteger(Field::ID_RECORD));
    return ids;
}

// The smallest model a grid could put over the store, driven only by its signals.
class StoreModel final : public QAbstractTableModel
{
public:
    explicit StoreModel(RecordStore& store)
        : m_store(store)
    {
        connect(&store, &RecordStore::aboutToReset, this, [this] { beginResetModel(); });
        connect(&store, &RecordStore::resetDone, this, [this] { endResetModel(); });
        connect(&store, &RecordStore::rowAboutToBeInserted, this, [this](int row) { beginInsertRows({}, row, row); });
        connect(&store, &RecordStore::rowInserted, this, [this](int) { endInsertRows(); });
        connect(&store, &RecordStore::rowAboutToBeRemoved, this, [this](int row) { beginRemoveRows({}, row, row); });
        connect(&store, &RecordStore::rowRemoved, this, [this](int) { endRemoveRows(); });
        connect(&store, &RecordStore::rowChanged, this,
                [this](int row) { emit dataChanged(index(row, 0), index(row, FieldCount - 1)); });
        connect(&store, &RecordStore::currentChanged, this, [this](int row) { current = row; });
    }
    int rowCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : m_store.count(); }
    int columnCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : FieldCount; }
    QVariant data(const QModelIndex& index, int role) const override
    {
        if (role != Qt::DisplayRole || index.row() >= m_store.count())
            return {};
        const Field f = Field(index.column());
        const Record& r = m_store.at(index.row());
        return isIntegerField(f) ? QVariant(r.asInteger(f)) : QVariant(r.asText(f));
    }
    int current = -1;

private:
    RecordStore& m_store;
};

} // namespace

class TestRecordStore : public QObject
{
    Q_OBJECT

private slots:
    void navigationFlagsMoveAsTheTableSays();
    void emptyRegisterHasBothFlags();
    void insertGoesBeforeTheCurrentRecord();
    void editPostAndCancel();
    void locateIsExactAndNeverMatchesNull();
    void deleteMovesToTheFollowingRecord();
    void closedStoreRefusesOperations();
    void signalsAreEnoughForAModel();
    void batchIsHeardAsOneReset();
    void manyChangesKeepEveryText();
};

void TestRecordStore::navigationFlagsMoveAsTheTableSays()
{
    RecordStore s;
    appendNumbered(s, {1, 2, 3});
    s.first();
    QCOMPARE(s.currentRow(), 0);
    QVERIFY(s.bof() && !s.eof());
    s.next();
    QCOMPARE(s.currentRow(), 1);
    QVERIFY(!s.bof() && !s.eof());
    s.next();
    s.next(); // on the last record: stays, at-end set
    QCOMPARE(s.currentRow(), 2);
    QVERIFY(!s.bof() && s.eof());
    s.next(); // at-end already: nothing moves
    QCOMPARE(s.currentRow(), 2);
    QVERIFY(s.eof());
    s.first();
    s.last();
    QCOMPARE(s.currentRow(), 2);
    QVERIFY(!s.bof() && s.eof());
    s.setCurrentRow(1); // a row chosen in the grid
    QVERIFY(!s.bof() && !s.eof());
    QCOMPARE(s.asInteger(Field::ID_RECORD), 2);

    int visited = 0;
    for (s.first(); !s.eof(); s.next())
        ++visited;
    QCOMPARE(visited, 3);
}

void TestRecordStore::emptyRegisterHasBothFlags()
{
    RecordStore s;
    QVERIFY(s.isActive());
    s.first();
    QCOMPARE(s.currentRow(), -1);
    QVERIFY(s.bof() && s.eof());
    s.next();
    s.last();
    QVERIFY(s.bof() && s.eof());
    QVERIFY(s.isNull(Field::PULT_NUM));
    QCOMPARE(s.asText(Field::PULT_NUM), QByteArray());
    QCOMPARE(s.asInteger(Field::ID_RECORD), 0);
    s.remove(); // nothing to delete
    QCOMPARE(s.count(), 0);
}

void TestRecordStore::insertGoesBeforeTheCurrentRecord()
{
    RecordStore s;
    s.insert(); // empty register: becomes the only record
    s.setInteger(Field::ID_RECORD, 1);
    s.post();
    QCOMPARE(order(s), QList<qint32>({1}));
    QCOMPARE(s.currentRow(), 0);

    appendNumbered(s, {2, 3});
    s.locate(Field::ID_RECORD, 3);
    s.insert();
    QVERIFY(s.isNull(Field::ID_RECORD)); // a fresh record, not a copy of the current one
    s.setInteger(Field::ID_RECORD, 4);
    s.post();
    QCOMPARE(order(s), QList<qint32>({1, 2, 4, 3}));
    QCOMPARE(s.asInteger(Field::ID_RECORD), 4);
    QVERIFY(!s.bof() && !s.eof());

    s.last(); // at-end: the insert still goes before the last record
    s.insert();
    s.setInteger(Field::ID_RECORD, 5);
    s.post();
    QCOMPARE(order(s), QList<qint32>({1, 2, 4, 5, 3}));
    QVERIFY(!s.eof());
}

void TestRecordStore::editPostAndCancel()
{
    RecordStore s;
    appendNumbered(s, {1, 2});
    s.locate(Field::ID_RECORD, 2);
    QVERIFY_THROWS_EXCEPTION(RegisterError, s.setText(Field::ADDRESS, "x"));

    s.edit();
    s.setText(Field::ADDRESS, "Lenina 1");
    QCOMPARE(s.asText(Field::ADDRESS), QByteArray("Lenina 1")); // the pending value is read back
    QVERIFY(s.at(1).isNull(Field::ADDRESS)); // but not stored yet
    s.cancel();
    QVERIFY(s.isNull(Field::ADDRESS));

    s.edit();
    s.setText(Field::ADDRESS, "");
    s.post();
    QCOMPARE(order(s), QList<qint32>({1, 2})); // editing never moves a record
    QVERIFY(!s.at(1).isNull(Field::ADDRESS));
    QCOMPARE(s.currentRow(), 1);

    s.cancel(); // nothing pending: nothing happens
    s.insert();
    s.cancel();
    QCOMPARE(s.count(), 2);

    // Moving away from a pending record stores it.
    s.edit();
    s.setInteger(Field::ID_TRINK, 7);
    s.first();
    QCOMPARE(s.at(1).asInteger(Field::ID_TRINK), 7);
    QVERIFY(!s.isEditing());
}

void TestRecordStore::locateIsExactAndNeverMatchesNull()
{
    RecordStore s;
    Record nullNumber; // ID_RECORD null: must not be found as 0
    s.append(nullNumber);
    appendNumbered(s, {5, 0, 7});
    Record lower;
    lower.setText(Field::PULT_NUM, "master");
    s.append(lower);
    Record upper;
    upper.setText(Field::PULT_NUM, "MASTER");
    s.append(upper);

    s.first();
    QVERIFY(s.locate(Field::ID_RECORD, 0));
    QCOMPARE(s.currentRow(), 2);
    QVERIFY(!s.bof() && !s.eof());
    QVERIFY(s.locate(Field::PULT_NUM, QByteArray("MASTER")));
    QCOMPARE(s.currentRow(), 5);
    QVERIFY(s.locate(Field::PULT_NUM, QByteArray("master")));
    QCOMPARE(s.currentRow(), 4);

    s.last();
    QVERIFY(!s.locate(Field::PULT_NUM, QByteArray("10"))); // no partial match of "105" etc.
    QVERIFY(!s.locate(Field::PULT_NUM, QByteArray(""))); // null texts are not ""
    QVERIFY(!s.locate(Field::ID_TRINK, 0));
    QCOMPARE(s.currentRow(), 5);
    QVERIFY(s.eof()); // not found: flags unchanged
}

void TestRecordStore::deleteMovesToTheFollowingRecord()
{
    RecordStore s;
    appendNumbered(s, {1, 2, 3});
    s.locate(Field::ID_RECORD, 2);
    s.remove();
    QCOMPARE(order(s), QList<qint32>({1, 3}));
    QCOMPARE(s.asInteger(Field::ID_RECORD), 3);
    QVERIFY(!s.bof() && !s.eof());
    s.remove(); // the last one: the new last record becomes current
    QCOMPARE(s.asInteger(Field::ID_RECORD), 1);
    QVERIFY(!s.bof() && !s.eof());
    s.remove();
    QCOMPARE(s.currentRow(), -1);
    QVERIFY(s.bof() && s.eof());
}

void TestRecordStore::closedStoreRefusesOperations()
{
    RecordStore s;
    appendNumbered(s, {1});
    s.deactivate();
    QVERIFY(!s.isActive());
    QCOMPARE(s.count(), 0);
    try {
        s.locate(Field::ID_RECORD, 0);
        QFAIL("locate on a closed register");
    } catch (const RegisterError& e) {
        QCOMPARE(e.message(), QStringLiteral("MTTrinkets: Cannot perform this operation on a closed dataset"));
    }
    QVERIFY_THROWS_EXCEPTION(RegisterError, s.first());
    QVERIFY_THROWS_EXCEPTION(RegisterError, s.insert());
    QVERIFY_THROWS_EXCEPTION(RegisterError, s.append(Record()));
    QVERIFY(s.eof());
    s.activate();
    QCOMPARE(s.count(), 0);
    appendNumbered(s, {1});
    s.activate(); // already open: keeps its records
    QCOMPARE(s.count(), 1);
}

void TestRecordStore::signalsAreEnoughForAModel()
{
    RecordStore s;
    StoreModel model(s);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);

    QRandomGenerator rng(4071);
    for (int step = 0; step < 600; ++step) {
        switch (rng.bounded(8)) {
        case 0:
        case 1:
            s.insert();
            s.setInteger(Field::ID_RECORD, step);
            s.post();
            break;
        case 2:
            s.remove();
            break;
        case 3:
            if (s.count()) {
                s.edit();
                s.setText(Field::ADDRESS, QByteArray::number(step));
                s.post();
            }
            break;
        case 4:
            s.append(Fixtures::randomRecord(rng));
            break;
        case 5:
            s.first();
            s.next();
            break;
        case 6:
            s.setCurrentRow(int(rng.bounded(qMax(1, s.count()))));
            break;
        case 7:
            if (rng.bounded(20) == 0) {
                s.deactivate();
                s.activate();
            } else {
                s.last();
            }
            break;
        }
        QCOMPARE(model.rowCount(), s.count());
        QCOMPARE(model.current, s.currentRow());
    }
    QVERIFY(changed.count() > 0);
}

void TestRecordStore::batchIsHeardAsOneReset()
{
    RecordStore s;
    appendNumbered(s, {1, 2});
    s.first();
    StoreModel model(s);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QSignalSpy resets(&s, &RecordStore::resetDone);
    QSignalSpy current(&s, &RecordStore::currentChanged);
    QSignalSpy aboutToReset(&s, &RecordStore::aboutToReset);
    int rowSignals = 0;
    for (auto signal : {&RecordStore::rowAboutToBeInserted, &RecordStore::rowInserted,
                        &RecordStore::rowAboutToBeRemoved, &RecordStore::rowRemoved, &RecordStore::rowChanged})
        connect(&s, signal, this, [&rowSignals] { ++rowSignals; });
    {
        // A load as the data file does it: closed, opened, filled and walked through; nested.
        RecordStore::Batch batch(s);
        s.deactivate();
        s.activate();
        {
            RecordStore::Batch inner(s);
            appendNumbered(s, {3, 4, 5});
        }
        s.remove();
        for (s.first(); !s.eof(); s.next()) { }
        QCOMPARE(resets.count(), 0);
        QCOMPARE(current.count(), 0);
    }
    QCOMPARE(aboutToReset.count(), 1);
    QCOMPARE(rowSignals, 0);
    QCOMPARE(resets.count(), 1);
    QCOMPARE(order(s), (QList<qint32> {4, 5})); // the first appended was current, so removed
    QCOMPARE(model.rowCount(), 2);
    QCOMPARE(current.count(), 1);
    QCOMPARE(current.first().first().toInt(), 1);
    QCOMPARE(model.current, 1);
    QVERIFY(s.eof());

    // A batch that leaves the current row where it was says only the reset.
    {
        RecordStore::Batch batch(s);
        appendNumbered(s, {6});
    }
    QCOMPARE(resets.count(), 2);
    QCOMPARE(current.count(), 1);
    QCOMPARE(model.rowCount(), 3);
}

void TestRecordStore::manyChangesKeepEveryText()
{
    // Enough changed and removed texts that the store gathers its live ones anew several times.
    RecordStore s;
    QRandomGenerator rng(22);
    std::vector<Record> expected;
    for (int i = 0; i < 3000; ++i) {
        expected.push_back(Fixtures::randomRecord(rng));
        s.append(expected.back());
    }
    for (int round = 0; round < 12; ++round) {
        for (int row = round; row < s.count(); row += 2) {
            const Record r = Fixtures::randomRecord(rng);
            Record& want = expected[size_t(row)];
            s.setCurrentRow(row);
            s.edit();
            for (int i = 0; i < FieldCount; ++i) {
                const Field f = Field(i);
                if (r.isNull(f))
                    continue; // kept from before
                if (isIntegerField(f)) {
                    s.setInteger(f, r.asInteger(f));
                    want.setInteger(f, r.asInteger(f));
                } else {
                    s.setText(f, r.asText(f) + QByteArray(80, 'x'));
                    want.setText(f, r.asText(f) + QByteArray(80, 'x'));
                }
            }
            s.post();
            QVERIFY(s.at(row) == want);
        }
        s.setCurrentRow(round);
        s.remove();
        expected.erase(expected.begin() + round);
    }
    QVERIFY(s.rows() == expected);
    for (int row = 0; row < s.count(); ++row) {
        for (const Field f : {Field::CODE, Field::CODE_D, Field::PULT_NUM, Field::ADDRESS})
            QCOMPARE(s.textAt(row, f).toByteArray(), expected[size_t(row)].asText(f));
    }
}

QTEST_GUILESS_MAIN(TestRecordStore)
#include "tst_recordstore.moc"

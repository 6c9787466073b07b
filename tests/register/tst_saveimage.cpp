#include "register/dataformat.h"
#include "register/recordstore.h"
#include "register/saveimage.h"
#include "tests/support/fixtures.h"

#include <QRandomGenerator>
#include <QtTest>

#include <cstring>

// The image a save keeps must equal the whole register's stream after every change, and the
// range it reports must cover every byte that differs from the image before.
class TestSaveImage : public QObject
{
    Q_OBJECT

private slots:
    void followsTheRegister_data();
    void followsTheRegister();
};

namespace {

// Applies one step of a script to the register: eN / sN give row N a longer / shorter address,
// iN inserts a record before row N, rN removes row N, a appends one, z closes and reopens the
// register with the same records, ? takes a random step.
void step(RecordStore& store, const QString& op, QRandomGenerator& rng)
{
    const QChar kind = op.at(0);
    const int row = op.size() > 1 ? op.mid(1).toInt() : int(rng.bounded(qMax(1, store.count())));
    if (kind == QLatin1Char('?')) {
        static const char kinds[] = "eesiiraz";
        step(store, QLatin1Char(kinds[rng.bounded(8)]) + QString::number(row), rng);
        return;
    }
    if (kind == QLatin1Char('a')) {
        store.append(Fixtures::randomRecord(rng));
        return;
    }
    if (kind == QLatin1Char('z')) {
        const std::vector<Record> rows = store.rows();
        store.deactivate();
        store.activate();
        for (const Record& r : rows)
            store.append(r);
        return;
    }
    store.setCurrentRow(qMin(row, store.count() - 1));
    if (kind == QLatin1Char('i')) {
        store.insert();
        store.setText(Field::ADDRESS, "inserted " + QByteArray::number(rng.bounded(1000)));
    } else if (kind == QLatin1Char('r')) {
        store.remove();
        return;
    } else {
        store.edit();
        const QByteArray address = store.asText(Field::ADDRESS);
        store.setText(Field::ADDRESS, kind == QLatin1Char('e') ? address + "7" : address.left(address.size() / 2));
    }
    store.post();
}

} // namespace

void TestSaveImage::followsTheRegister_data()
{
    QTest::addColumn<int>("records");
    QTest::addColumn<QString>("script"); // steps, with | where the image is brought up to date
    QTest::newRow("nothing changed") << 50 << "| |";
    QTest::newRow("one address longer, then shorter") << 50 << "e25 | s25 |";
    QTest::newRow("first and last records") << 50 << "e0 | s49 | r0 | r48 | i0 |";
    QTest::newRow("several, far apart") << 50 << "e3 s40 i20 r10 |";
    QTest::newRow("insert then remove the same row") << 50 << "i7 r7 |";
    QTest::newRow("appended") << 50 << "a a | a |";
    QTest::newRow("emptied and refilled") << 3 << "r0 r0 r0 | a a |";
    QTest::newRow("closed and reopened") << 50 << "e5 | z | e6 |";
    QTest::newRow("from an empty register") << 0 << "| a | e0 |";
    QString random;
    for (int i = 0; i < 200; ++i)
        random += i % 3 == 2 ? QStringLiteral("? | ") : QStringLiteral("? ");
    QTest::newRow("random") << 300 << random;
}

void TestSaveImage::followsTheRegister()
{
    QFETCH(int, records);
    QFETCH(QString, script);
    QRandomGenerator rng(407);
    RecordStore store;
    for (int i = 0; i < records; ++i)
        store.append(Fixtures::randomRecord(rng));
    SaveImage image;
    QByteArray before;
    const QStringList steps = script.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (int i = 0; i < steps.size(); ++i) {
        if (steps.at(i) != QLatin1String("|")) {
            step(store, steps.at(i), rng);
            continue;
        }
        qint64 from = -1;
        qint64 to = -1;
        image.update(store, &from, &to);
        const QByteArray& now = image.bytes();
        QCOMPARE(now, DataFormat::write(store));
        QVERIFY2(from >= 0 && from <= to && to <= now.size(), qPrintable(QString::number(i)));
        // Outside the range, the bytes are the ones the image held before.
        QVERIFY2(from <= before.size() && std::memcmp(now.constData(), before.constData(), size_t(from)) == 0,
                 qPrintable(QStringLiteral("step %1: before %2").arg(i).arg(from)));
        QVERIFY2(to == now.size()
                     || (now.size() <= before.size()
                         && std::memcmp(now.constData() + to, before.constData() + to, size_t(now.size() - to)) == 0),
                 qPrintable(QStringLiteral("step %1: after %2").arg(i).arg(to)));
        before = now;
    }
}

QTEST_GUILESS_MAIN(TestSaveImage)
#include "tst_saveimage.moc"

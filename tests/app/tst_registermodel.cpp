// The grid's model over the register: its display order and its search, each set against the
// plain rule on texts as shown (QString's case-insensitive order, a case-folded substring).
#include "app/registermodel.h"
#include "register/recordstore.h"
#include "register/text1251.h"
#include "tests/support/fixtures.h"

#include <QAbstractItemModelTester>
#include <QRandomGenerator>
#include <QtTest>

#include <algorithm>

namespace {

// Short texts from a few letters in both cases and both scripts, so that many rows tie or
// share long prefixes; sometimes null.
Record tieingRecord(QRandomGenerator& rng, int id)
{
    static const QByteArray letters = Text1251::fromUnicode(QStringLiteral("aAbB-ёЁяЯжЖµ"));
    Record r = Fixtures::randomRecord(rng);
    r.setInteger(Field::ID_RECORD, id % 50);
    for (const Field f : {Field::CODE, Field::PULT_NUM, Field::ADDRESS}) {
        if (rng.bounded(6) == 0) {
            r.setNull(f);
            continue;
        }
        QByteArray t(int(rng.bounded(11)), 'a');
        for (char& c : t)
            c = letters[int(rng.bounded(letters.size()))];
        r.setText(f, t);
    }
    return r;
}

bool shownLess(const RecordStore& s, Field f, int a, int b)
{
    const Record ra = s.at(a);
    const Record rb = s.at(b);
    if (ra.isNull(f) != rb.isNull(f))
        return ra.isNull(f);
    if (isIntegerField(f))
        return ra.asInteger(f) < rb.asInteger(f);
    return Text1251::toUnicode(ra.asText(f)).compare(Text1251::toUnicode(rb.asText(f)), Qt::CaseInsensitive) < 0;
}

std::vector<int> shownOrder(const TRegisterModel& model)
{
    std::vector<int> rows;
    for (int d = 0; d < model.rowCount(); ++d)
        rows.push_back(model.storeRow(d));
    return rows;
}

} // namespace

class TestRegisterModel : public QObject
{
    Q_OBJECT

private slots:
    void sortsAsTheTextsShownFromTheOrderTheyHad();
    void changedAndAddedRowsGoAfterTheirEquals();
    void searchMatchesTheFoldedTextsShown();
};

void TestRegisterModel::sortsAsTheTextsShownFromTheOrderTheyHad()
{
    RecordStore s;
    QRandomGenerator rng(7);
    for (int i = 0; i < 600; ++i)
        s.append(tieingRecord(rng, i));
    TRegisterModel model(s, nullptr);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    std::vector<int> expected = shownOrder(model);
    for (const int column : {0, 6, 3, 5, 1, 4, 6, 2}) {
        for (const Qt::SortOrder order : {Qt::AscendingOrder, Qt::DescendingOrder}) {
            const Field f = Field(column);
            if (order == Qt::AscendingOrder)
                std::stable_sort(expected.begin(), expected.end(), [&](int a, int b) { return shownLess(s, f, a, b); });
            else
                std::stable_sort(expected.begin(), expected.end(), [&](int a, int b) { return shownLess(s, f, b, a); });
            model.sort(column, order);
            QVERIFY2(shownOrder(model) == expected, qPrintable(QStringLiteral("column %1").arg(column)));
        }
    }
    QCOMPARE(model.data(model.index(model.displayRow(0), 6), Qt::DisplayRole).toString(),
             Text1251::toUnicode(s.at(0).asText(Field::ADDRESS)));
}

void TestRegisterModel::changedAndAddedRowsGoAfterTheirEquals()
{
    RecordStore s;
    QRandomGenerator rng(8);
    for (int i = 0; i < 200; ++i)
        s.append(tieingRecord(rng, i));
    TRegisterModel model(s, nullptr);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    for (const Qt::SortOrder order : {Qt::AscendingOrder, Qt::DescendingOrder}) {
        model.sort(6, order);
        for (int round = 0; round < 40; ++round) {
            std::vector<int> before = shownOrder(model);
            const int row = int(rng.bounded(s.count()));
            s.setCurrentRow(row);
            if (round % 3 == 2) {
                s.remove();
                before.erase(std::find(before.begin(), before.end(), row));
                for (int& r : before)
                    r -= r > row ? 1 : 0;
                QVERIFY(shownOrder(model) == before);
                continue;
            }
            const Record r = tieingRecord(rng, round);
            if (round % 3 == 0) {
                s.insert(); // before the current record
            } else {
                s.edit();
                before.erase(std::find(before.begin(), before.end(), row));
            }
            s.setText(Field::ADDRESS, r.asText(Field::ADDRESS));
            s.post();
            for (int& x : before)
                x += round % 3 == 0 && x >= row ? 1 : 0;
            const auto after = [&](int other) {
                return order == Qt::AscendingOrder ? shownLess(s, Field::ADDRESS, row, other)
                                                   : shownLess(s, Field::ADDRESS, other, row);
            };
            const auto at = std::find_if(before.begin(), before.end(), after);
            before.insert(at, row);
            QVERIFY2(shownOrder(model) == before, qPrintable(QStringLiteral("round %1").arg(round)));
        }
    }
}

void TestRegisterModel::searchMatchesTheFoldedTextsShown()
{
    RecordStore s;
    QRandomGenerator rng(9);
    for (int i = 0; i < 300; ++i)
        s.append(tieingRecord(rng, i));
    TRegisterModel model(s, nullptr);
    const QChar separator(0xFFFF);
    const QStringList needles = {QStringLiteral("ё"),
                                 QStringLiteral("ЯЖ"),
                                 QStringLiteral("b-A"),
                                 QStringLiteral("Μ"),
                                 QStringLiteral("a") + separator,
                                 QStringLiteral("中"),
                                 QStringLiteral("ÿ"),
                                 QString(300, QLatin1Char('a'))};
    for (const QString& needle : needles) {
        const QString folded = needle.toCaseFolded();
        for (int row = 0; row < s.count(); ++row) {
            const Record r = s.at(row);
            QString joined;
            for (const Field f : {Field::PULT_NUM, Field::ADDRESS, Field::CODE, Field::CODE_D})
                joined += (f == Field::PULT_NUM ? QString() : QString(separator))
                    + Text1251::toUnicode(r.asText(f)).toCaseFolded();
            QCOMPARE(model.matches(row, folded), joined.contains(folded));
        }
    }
}

QTEST_GUILESS_MAIN(TestRegisterModel)
#include "tst_registermodel.moc"

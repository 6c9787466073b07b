#include "register/dataformat.h"
#include "register/editing.h"
#include "register/recordstore.h"
#include "tests/support/fixtures.h"

#include <QtTest>

#include <limits>
#include <optional>

using Editing::CheckResult;
using Fixtures::cp;

namespace {
// Master "MASTER" (0), then 105 (1), 200 (2) and 5 (5), as loaded from a file.
void fill(RecordStore& s)
{
    Fixtures::fillWorkedExample(s);
    for (qint32 id : {2, 5}) {
        Record r;
        r.setInteger(Field::ID_RECORD, id);
        r.setText(Field::PULT_NUM, id == 2 ? QByteArray("200") : QByteArray(" 5 "));
        r.setText(Field::ADDRESS, cp("пр. Победы"));
        s.append(r);
    }
}

constexpr qint32 Master = 0x0AB123;
constexpr qint32 Taken = 0x1B2C33; // the first trinket of console 102
constexpr qint32 First = 0x3C5A93;
constexpr qint32 Second = 0x2D4E63;

// A record with its first and second trinket (0: none), each with its jumper pattern.
Record trinketRecord(qint32 id, const QByteArray& number, qint32 first, qint32 second = 0)
{
    Record r;
    r.setInteger(Field::ID_RECORD, id);
    r.setText(Field::PULT_NUM, number);
    r.setText(Field::ADDRESS, number + " street");
    const auto put = [&r](Field codeField, Field textField, qint32 code) {
        if (code == 0)
            return;
        r.setInteger(codeField, code);
        r.setText(textField, Editing::TrinketCode(quint32(code)).toLatin1());
    };
    put(Field::ID_TRINK, Field::CODE, first);
    put(Field::ID_TRINK_D, Field::CODE_D, second);
    return r;
}

// The master, console 101 without a first trinket but with a second one, console 102 with a
// trinket; console 101 is current, as chosen in the grid.
std::vector<Record> enrolmentRows()
{
    return {trinketRecord(0, "MASTER", Master), trinketRecord(1, "101", 0, 0x555553), trinketRecord(2, "102", Taken)};
}

void fillEnrolment(RecordStore& s)
{
    for (const Record& r : enrolmentRows())
        s.append(r);
    s.setCurrentRow(1);
}
} // namespace

Q_DECLARE_METATYPE(Editing::Enrolment)
Q_DECLARE_METATYPE(std::optional<qint32>)

class TestEditing : public QObject
{
    Q_OBJECT

private slots:
    void consoleNumberIsNormalised();
    void consoleNumberCheckRefusals();
    void duplicateWhileEditingReturnsToTheEditedRecord();
    void addNumbersAndPlacesRecords();
    void refusalsAtEndAndOnTheMaster();
    void eraseClearsOnlyTheFirstTrinket();
    void questionsNameTheTrimmedNumber();

    void trinketCode_data();
    void trinketCode();
    void buttonOneIsTheLowNibbleThree();
    void trinketsRecorded();
    void trinketRefusals_data();
    void trinketRefusals();
    void ownTrinketAgainAndAnotherCurrentRecord();
    void recordGoneDuringTheWait();
    void masterRecorded();
    void masterAddedWhenMissing();
};

void TestEditing::consoleNumberIsNormalised()
{
    RecordStore s;
    fill(s);
    QByteArray n = cp("  105а\t");
    QCOMPARE(Editing::checkConsoleNumber(s, n, -1), CheckResult::Accepted);
    QCOMPARE(n, cp("105А"));
    n = "105 ";
    QCOMPARE(Editing::checkConsoleNumber(s, n, -1), CheckResult::Duplicate);
    QCOMPARE(n, QByteArray("105"));
}

void TestEditing::consoleNumberCheckRefusals()
{
    RecordStore s;
    fill(s);
    QByteArray n = "   ";
    QCOMPARE(Editing::checkConsoleNumber(s, n, -1), CheckResult::Empty);
    QCOMPARE(n, QByteArray());
    QCOMPARE(Editing::emptyConsoleNumberText(), QStringLiteral("Не введен пультовой номер"));
    QCOMPARE(Editing::duplicateConsoleNumberText(), QStringLiteral("Такой пультовой номер уже существует"));

    // Adding: the record holding the number simply becomes current.
    s.last();
    n = " master ";
    QCOMPARE(Editing::checkConsoleNumber(s, n, -1), CheckResult::Duplicate);
    QCOMPARE(n, QByteArray("MASTER"));
    QCOMPARE(s.asInteger(Field::ID_RECORD), 0);
    QVERIFY(!s.eof());

    // Stored numbers are matched as stored: " 5 " was loaded untrimmed, so "5" is free.
    n = "5";
    QCOMPARE(Editing::checkConsoleNumber(s, n, -1), CheckResult::Accepted);
}

void TestEditing::duplicateWhileEditingReturnsToTheEditedRecord()
{
    RecordStore s;
    fill(s);
    s.locate(Field::ID_RECORD, 2);
    QByteArray n = "200"; // its own number, unchanged
    QCOMPARE(Editing::checkConsoleNumber(s, n, 2), CheckResult::Accepted);

    n = "105"; // record 1's number
    QCOMPARE(Editing::checkConsoleNumber(s, n, 2), CheckResult::Duplicate);
    QCOMPARE(s.asInteger(Field::ID_RECORD), 2);

    // Renaming the master record is allowed; it stays the master by its number 0.
    s.locate(Field::ID_RECORD, 0);
    n = "m1";
    QCOMPARE(Editing::checkConsoleNumber(s, n, 0), CheckResult::Accepted);
    Editing::editCurrent(s, n, QByteArray());
    QCOMPARE(s.asInteger(Field::ID_RECORD), 0);
    QCOMPARE(s.asText(Field::PULT_NUM), QByteArray("M1"));
    QCOMPARE(s.currentRow(), 0);
}

void TestEditing::addNumbersAndPlacesRecords()
{
    RecordStore empty;
    qint32 max = 0;
    QVERIFY(!Editing::canEdit(empty));
    Editing::addRecord(empty, max, "1", cp("Тверская"));
    QCOMPARE(max, 1);
    QCOMPARE(empty.asInteger(Field::ID_RECORD), 1);
    QVERIFY(empty.isNull(Field::ID_TRINK) && empty.isNull(Field::CODE) && empty.isNull(Field::CODE_D));

    RecordStore s;
    fill(s);
    max = 5;
    s.locate(Field::ID_RECORD, 1);
    Editing::addRecord(s, max, "300", QByteArray());
    QCOMPARE(max, 6);
    QCOMPARE(s.asInteger(Field::ID_RECORD), 6);
    QCOMPARE(s.currentRow(), 1); // just before record 1, which was current
    QCOMPARE(s.at(2).asInteger(Field::ID_RECORD), 1);
    Editing::deleteCurrent(s);
    Editing::addRecord(s, max, "301", QByteArray());
    QCOMPARE(s.asInteger(Field::ID_RECORD), 7); // 6 is never handed out twice

    // Past 2147483647 the lowest number no record holds is taken; the largest stays.
    max = std::numeric_limits<qint32>::max();
    Editing::addRecord(s, max, "302", QByteArray());
    QCOMPARE(s.asInteger(Field::ID_RECORD), 3);
    QCOMPARE(max, 2147483647);

    // The new record is written to the file just before the record that was current.
    RecordStore loaded;
    DataFormat::read(loaded, DataFormat::write(s));
    QCOMPARE(loaded.at(2).asInteger(Field::ID_RECORD), 7);
    QCOMPARE(loaded.at(3).asInteger(Field::ID_RECORD), 1);
    QVERIFY(!loaded.at(2).isNull(Field::ADDRESS));
}

void TestEditing::refusalsAtEndAndOnTheMaster()
{
    RecordStore s;
    fill(s);
    for (s.first(); !s.eof(); s.next()) { }
    QVERIFY(!Editing::canEdit(s));
    QVERIFY(!Editing::canDeleteOrErase(s));
    s.setCurrentRow(s.count() - 1); // chosen again: allowed again
    QVERIFY(Editing::canEdit(s));
    QVERIFY(Editing::canDeleteOrErase(s));

    s.locate(Field::ID_RECORD, 0);
    QVERIFY(Editing::canEdit(s));
    QVERIFY(!Editing::canDeleteOrErase(s));

    Record unnumbered; // null ID_RECORD reads as 0 and is protected like the master
    s.append(unnumbered);
    s.last();
    s.setCurrentRow(s.count() - 1);
    QVERIFY(!Editing::canDeleteOrErase(s));

    s.deactivate();
    QVERIFY(!Editing::canEdit(s));
}

void TestEditing::eraseClearsOnlyTheFirstTrinket()
{
    RecordStore s;
    fill(s);
    s.locate(Field::ID_RECORD, 1);
    s.edit();
    s.setInteger(Field::ID_TRINK_D, 0x123456);
    s.setText(Field::CODE_D, "0X?10X?10X");
    s.post();
    Editing::eraseTrinket(s);
    QVERIFY(!s.isNull(Field::ID_TRINK));
    QCOMPARE(s.asInteger(Field::ID_TRINK), 0);
    QVERIFY(!s.isNull(Field::CODE));
    QCOMPARE(s.asText(Field::CODE), QByteArray());
    QCOMPARE(s.asInteger(Field::ID_TRINK_D), 0x123456);
    QCOMPARE(s.asText(Field::CODE_D), QByteArray("0X?10X?10X"));
    QCOMPARE(s.currentRow(), 1);
    // Written as values, not as nulls.
    QVERIFY(DataFormat::write(s).contains(Fixtures::hex("01 02 00 08 02 01 08 02 00 08 04 56 34 12 00 08 06 00")));
}

void TestEditing::questionsNameTheTrimmedNumber()
{
    RecordStore s;
    fill(s);
    s.locate(Field::ID_RECORD, 5);
    QCOMPARE(Editing::deleteQuestion(s), QStringLiteral("Вы действительно хотите удалить запись о пульт. N 5?"));
    QCOMPARE(Editing::eraseQuestion(s), QStringLiteral("Стереть информацию о брелке в пульт. N 5?"));
    s.edit();
    s.setText(Field::PULT_NUM, cp("Юг-1"));
    s.post();
    QCOMPARE(Editing::eraseQuestion(s), QStringLiteral("Стереть информацию о брелке в пульт. N Юг-1?"));
    Record noNumber;
    noNumber.setInteger(Field::ID_RECORD, 9);
    s.append(noNumber);
    s.setCurrentRow(s.count() - 1);
    QCOMPARE(Editing::deleteQuestion(s), QStringLiteral("Вы действительно хотите удалить запись о пульт. N ?"));
}

void TestEditing::trinketCode_data()
{
    QTest::addColumn<quint32>("value");
    QTest::addColumn<QString>("text");
    QTest::newRow("all GND") << 0x000003u << QStringLiteral("0000000000");
    QTest::newRow("all UCC") << 0xFFFFFFu << QStringLiteral("1111111111");
    QTest::newRow("all free") << 0x555553u << QStringLiteral("XXXXXXXXXX");
    QTest::newRow("mixed") << 0x1B2C33u << QStringLiteral("0X?10?1001");
    QTest::newRow("highest digit") << 0xC00003u << QStringLiteral("1000000000");
    QTest::newRow("button bits ignored") << 0x00000Fu << QStringLiteral("0000000000");
    QTest::newRow("bits above 24 ignored") << 0xFF000003u << QStringLiteral("0000000000");
}

void TestEditing::trinketCode()
{
    QFETCH(quint32, value);
    QFETCH(QString, text);
    QCOMPARE(Editing::TrinketCode(value), text);
}

void TestEditing::buttonOneIsTheLowNibbleThree()
{
    QVERIFY(Editing::isButtonOne(0x1B2C33));
    QVERIFY(Editing::isButtonOne(0x000003));
    QVERIFY(!Editing::isButtonOne(0x1B2C35));
    QVERIFY(!Editing::isButtonOne(0x1B2C30));
}

void TestEditing::trinketsRecorded()
{
    // One-trinket mode keeps the record's second trinket.
    RecordStore s;
    fillEnrolment(s);
    QCOMPARE(Editing::recordTrinkets(s, 1, First, std::nullopt), Editing::Enrolment::Recorded);
    std::vector<Record> expected = enrolmentRows();
    expected[1].setInteger(Field::ID_TRINK, First);
    expected[1].setText(Field::CODE, "0110XX???X");
    QCOMPARE(s.rows(), expected);
    QVERIFY(!s.isEditing());

    RecordStore two;
    fillEnrolment(two);
    QCOMPARE(Editing::recordTrinkets(two, 1, First, Second), Editing::Enrolment::Recorded);
    expected[1].setInteger(Field::ID_TRINK_D, Second);
    expected[1].setText(Field::CODE_D, "0?1XX01?X?");
    QCOMPARE(two.rows(), expected);
}

void TestEditing::trinketRefusals_data()
{
    QTest::addColumn<qint32>("first");
    QTest::addColumn<std::optional<qint32>>("second");
    QTest::addColumn<Editing::Enrolment>("result");
    QTest::addColumn<int>("currentId");
    const std::optional<qint32> none;
    using E = Editing::Enrolment;
    // A duplicate leaves the record holding the code current.
    QTest::newRow("one, taken") << Taken << none << E::DuplicateCode << 2;
    QTest::newRow("two, second taken") << First << std::optional<qint32>(Taken) << E::DuplicateCode << 2;
    QTest::newRow("one, button 2") << First + 2 << none << E::NotButtonOne << 1;
    QTest::newRow("two, second button 2") << First << std::optional<qint32>(Second + 1) << E::NotButtonOne << 1;
}

void TestEditing::trinketRefusals()
{
    QFETCH(qint32, first);
    QFETCH(std::optional<qint32>, second);
    QFETCH(Editing::Enrolment, result);
    QFETCH(int, currentId);
    RecordStore s;
    fillEnrolment(s);
    QCOMPARE(Editing::recordTrinkets(s, 1, first, second), result);
    QCOMPARE(s.rows(), enrolmentRows());
    QCOMPARE(s.asInteger(Field::ID_RECORD), currentId);
    QVERIFY(!s.isEditing());
}

void TestEditing::ownTrinketAgainAndAnotherCurrentRecord()
{
    // Console 102 enrols its own trinket again: no duplicate.
    RecordStore s;
    fillEnrolment(s);
    QCOMPARE(Editing::recordTrinkets(s, 2, Taken, std::nullopt), Editing::Enrolment::Recorded);
    QCOMPARE(s.rows(), enrolmentRows());

    // The grid moved to another record during the wait: the enrolled record still receives the codes.
    s.setCurrentRow(2);
    QCOMPARE(Editing::recordTrinkets(s, 1, First, std::nullopt), Editing::Enrolment::Recorded);
    QCOMPARE(s.at(1).asInteger(Field::ID_TRINK), First);
    QCOMPARE(s.at(2).asInteger(Field::ID_TRINK), Taken);

    // Only first trinkets are searched: console 101's second one may go to console 102.
    QCOMPARE(Editing::recordTrinkets(s, 2, 0x555553, std::nullopt), Editing::Enrolment::Recorded);
    QCOMPARE(s.at(2).asText(Field::CODE), QByteArray("XXXXXXXXXX"));
}

void TestEditing::recordGoneDuringTheWait()
{
    RecordStore s;
    fillEnrolment(s);
    s.remove();
    const std::vector<Record> before = s.rows();
    QCOMPARE(Editing::recordTrinkets(s, 1, First, Second), Editing::Enrolment::RecordGone);
    QCOMPARE(s.rows(), before);
}

void TestEditing::masterRecorded()
{
    RecordStore s;
    fillEnrolment(s);
    // Another record's trinket cannot become the master; a wrong button is refused too.
    QCOMPARE(Editing::recordMaster(s, Taken), Editing::Enrolment::DuplicateCode);
    QCOMPARE(s.asInteger(Field::ID_RECORD), 2);
    QCOMPARE(Editing::recordMaster(s, First + 1), Editing::Enrolment::NotButtonOne);
    QCOMPARE(s.rows(), enrolmentRows());

    // The master's own code is accepted; a new one replaces it, the number comes back, the address stays.
    QCOMPARE(Editing::recordMaster(s, Master), Editing::Enrolment::Recorded);
    s.locate(Field::ID_RECORD, 0);
    s.edit();
    s.setText(Field::PULT_NUM, "M1");
    s.post();
    QCOMPARE(Editing::recordMaster(s, First), Editing::Enrolment::Recorded);
    std::vector<Record> expected = enrolmentRows();
    expected[0].setInteger(Field::ID_TRINK, First);
    expected[0].setText(Field::CODE, "0110XX???X");
    QCOMPARE(s.rows(), expected);
}

void TestEditing::masterAddedWhenMissing()
{
    RecordStore s;
    s.append(trinketRecord(1, "101", 0));
    s.setCurrentRow(0);
    QCOMPARE(Editing::recordMaster(s, Second), Editing::Enrolment::Recorded);
    QCOMPARE(s.count(), 2);
    QVERIFY(s.locate(Field::ID_RECORD, 0));
    QCOMPARE(s.asText(Field::PULT_NUM), QByteArray("MASTER"));
    QCOMPARE(s.asInteger(Field::ID_TRINK), Second);
    QCOMPARE(s.asText(Field::CODE), QByteArray("0?1XX01?X?"));
    QVERIFY(s.isNull(Field::ADDRESS));
    QCOMPARE(s.at(1).asInteger(Field::ID_RECORD), 1);
}

QTEST_GUILESS_MAIN(TestEditing)
#include "tst_editing.moc"

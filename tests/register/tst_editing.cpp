#include "dataformat.h"
#include "editing.h"
#include "fixtures.h"
#include "recordstore.h"

#include <QtTest>

#include <limits>

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
} // namespace

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

QTEST_GUILESS_MAIN(TestEditing)
#include "tst_editing.moc"

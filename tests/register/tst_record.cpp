#include "register/record.h"
#include "register/registererror.h"
#include "register/text1251.h"
#include "tests/support/fixtures.h"

#include <QtTest>

using Fixtures::cp;

class TestRecord : public QObject
{
    Q_OBJECT

private slots:
    void conversionRoundTripsEveryMappedByte();
    void unmappableCharactersBecomeQuestionMarks();
    void upperCasingFollowsWindows1251();
    void trimmingRemovesControlsAndBlanks();
    void nullAndEmptyAreDifferent();
    void textsAreCutAtWidthAndNul();
    void fieldsOfTheWrongKindAreRefused();
};

void TestRecord::conversionRoundTripsEveryMappedByte()
{
    QByteArray all;
    for (int b = 1; b < 256; ++b)
        if (b != 0x98) // the one byte Windows-1251 leaves unassigned
            all.append(char(b));
    QCOMPARE(Text1251::fromUnicode(Text1251::toUnicode(all)), all);
    QCOMPARE(Text1251::fromUtf8(Text1251::toUtf8(all)), all);
    QCOMPARE(Text1251::toUnicode(cp("ул. Мира, 7")), QStringLiteral("ул. Мира, 7"));
    QCOMPARE(Text1251::toUtf8(cp("ул. Мира, 7")), QByteArray("\xD1\x83\xD0\xBB. \xD0\x9C\xD0\xB8\xD1\x80\xD0\xB0, 7"));
    QCOMPARE(cp("Ёё№").toHex(), QByteArray("a8b8b9"));
}

void TestRecord::unmappableCharactersBecomeQuestionMarks()
{
    QCOMPARE(Text1251::fromUnicode(QStringLiteral("a中b")), QByteArray("a?b"));
    // One question mark for a character outside the basic plane, not one per UTF-16 unit.
    QCOMPARE(Text1251::fromUnicode(QString::fromUtf8("x\xF0\x9F\x98\x80y")), QByteArray("x?y"));
    QCOMPARE(Text1251::fromUtf8(QByteArray("a\xFF\xFE"
                                           "b"))
                 .front(),
             'a');
    QCOMPARE(Text1251::fromUtf8(QByteArray("a\xFF\xFE"
                                           "b"))
                 .back(),
             'b');
}

void TestRecord::upperCasingFollowsWindows1251()
{
    QCOMPARE(Text1251::toUpper(cp("master")), QByteArray("MASTER"));
    QCOMPARE(Text1251::toUpper(cp("пульт ёж 105a")), cp("ПУЛЬТ ЁЖ 105A"));
    QCOMPARE(Text1251::toUpper(cp("ўєії")), cp("ЎЄІЇ"));
    // Micro sign: its upper-case form (Greek capital mu) has no Windows-1251 byte, so it stays.
    QCOMPARE(Text1251::toUpper(cp("µ")), cp("µ"));
    QCOMPARE(Text1251::toUpper(cp("ПУЛЬТ 7")), cp("ПУЛЬТ 7"));
}

void TestRecord::trimmingRemovesControlsAndBlanks()
{
    QCOMPARE(Text1251::trimmed(QByteArray(" \t\r\n105 A\x01 ")), QByteArray("105 A"));
    QCOMPARE(Text1251::trimmed(QByteArray("   ")), QByteArray());
    // 0xA0 is a no-break space in Windows-1251 but its code is above 32: it stays.
    QCOMPARE(Text1251::trimmed(QByteArray("\xA0"
                                          "1 ")),
             QByteArray("\xA0"
                        "1"));
}

void TestRecord::nullAndEmptyAreDifferent()
{
    Record r;
    for (int i = 0; i < FieldCount; ++i)
        QVERIFY(r.isNull(Field(i)));
    QCOMPARE(r.asInteger(Field::ID_TRINK), 0);
    QCOMPARE(r.asText(Field::CODE), QByteArray());

    r.setInteger(Field::ID_TRINK, 0);
    r.setText(Field::CODE, "");
    QVERIFY(!r.isNull(Field::ID_TRINK));
    QVERIFY(!r.isNull(Field::CODE));
    QVERIFY(r != Record());
    r.setNull(Field::ID_TRINK);
    r.setNull(Field::CODE);
    QVERIFY(r == Record());
}

void TestRecord::textsAreCutAtWidthAndNul()
{
    Record r;
    r.setText(Field::PULT_NUM, QByteArray(40, 'A'));
    QCOMPARE(r.asText(Field::PULT_NUM), QByteArray(32, 'A'));
    r.setText(Field::ADDRESS, cp(QByteArray(100, 'x').prepend("ж").constData()));
    QCOMPARE(r.asText(Field::ADDRESS).size(), 80);
    QCOMPARE(r.asText(Field::ADDRESS).front(), cp("ж").front());
    r.setText(Field::CODE,
              QByteArray("12\0"
                         "34",
                         5));
    QCOMPARE(r.asText(Field::CODE), QByteArray("12"));
    r.setText(Field::CODE_D, QByteArray("\0abc", 4));
    QVERIFY(!r.isNull(Field::CODE_D));
    QCOMPARE(r.asText(Field::CODE_D), QByteArray());
}

void TestRecord::fieldsOfTheWrongKindAreRefused()
{
    Record r;
    QVERIFY_THROWS_EXCEPTION(RegisterError, r.setText(Field::ID_RECORD, "1"));
    QVERIFY_THROWS_EXCEPTION(RegisterError, r.setInteger(Field::ADDRESS, 1));
}

QTEST_GUILESS_MAIN(TestRecord)
#include "tst_record.moc"

#include "device/ops/journal.h"
#include "device/ops/service.h"
#include "device/ops/trinket.h"
#include "device/ops/zoneparams.h"

#include <QtTest>

using namespace DeviceOps;

// The texts and values the operations derive from controller bytes, without a line.
class TestOpsFormat : public QObject
{
    Q_OBJECT

private slots:
    void pressedButton();

    void minutesToText_data();
    void minutesToText();
    void journalLine_data();
    void journalLine();
    void journalCIsLatin();

    void versionAndRunTime();
    void dumpLine();

    void zoneModes();
    void flags_data();
    void flags();
    void invalidZoneOnlyAmongWrittenZones();
};

void TestOpsFormat::pressedButton()
{
    QCOMPARE(pressedButtonText(0x81), QStringLiteral("Нажата кнопка 2 брелка 1"));
    QCOMPARE(pressedButtonText(0x03), QStringLiteral("Нажата кнопка 1 брелка 3"));
    // Bits 4 to 6 carry nothing.
    QCOMPARE(pressedButtonText(0xFC), QStringLiteral("Нажата кнопка 2 брелка 12"));
}

void TestOpsFormat::minutesToText_data()
{
    QTest::addColumn<quint32>("minutes");
    QTest::addColumn<QString>("text");
    QTest::newRow("zero") << 0u << QStringLiteral("0дн 0ч 0мин");
    QTest::newRow("59") << 59u << QStringLiteral("0дн 0ч 59мин");
    QTest::newRow("60") << 60u << QStringLiteral("0дн 1ч 0мин");
    QTest::newRow("1439") << 1439u << QStringLiteral("0дн 23ч 59мин");
    QTest::newRow("1500") << 1500u << QStringLiteral("1дн 1ч 0мин");
    QTest::newRow("24-bit max") << 0xFFFFFFu << QStringLiteral("11650дн 20ч 15мин");
}

void TestOpsFormat::minutesToText()
{
    QFETCH(quint32, minutes);
    QFETCH(QString, text);
    QCOMPARE(MinutesToText(minutes), text);
}

void TestOpsFormat::journalLine_data()
{
    QTest::addColumn<int>("event");
    QTest::addColumn<quint32>("minutes");
    QTest::addColumn<QString>("line");
    const QString tail = QStringLiteral(" c начала работы");
    QTest::newRow("armed, zone 3") << 0x63 << 1500u << QStringLiteral("Взятие (3), прошло 1дн 1ч 0мин") + tail;
    QTest::newRow("unknown 0") << 0x00 << 0u << QStringLiteral("Unknown, прошло 0дн 0ч 0мин") + tail;
    QTest::newRow("bracket 15") << 0x1F << 59u << QStringLiteral("Замыкание датчика (15), прошло 0дн 0ч 59мин") + tail;
    QTest::newRow("unknown F") << 0xF0 << 0u << QStringLiteral("Unknown, прошло 0дн 0ч 0мин") + tail;
    QTest::newRow("battery") << 0x50 << 60u << QStringLiteral("Востановление АКК, прошло 0дн 1ч 0мин") + tail;
    QTest::newRow("loop broken") << 0xE2 << 0u << QStringLiteral("Обрыв шлейфа (2), прошло 0дн 0ч 0мин") + tail;
}

void TestOpsFormat::journalLine()
{
    QFETCH(int, event);
    QFETCH(quint32, minutes);
    QFETCH(QString, line);
    QCOMPARE(DeviceOps::journalLine(quint8(event), minutes), line);
}

void TestOpsFormat::journalCIsLatin()
{
    const QString line = DeviceOps::journalLine(0x10, 0);
    const qsizetype at = line.indexOf(QStringLiteral(" начала"));
    QVERIFY(at > 0);
    QCOMPARE(line.at(at - 1).unicode(), char16_t(0x63));

    QStringList names;
    for (int code = 0; code < 16; ++code)
        names << eventName(code);
    QCOMPARE(names.count(QStringLiteral("Unknown")), 2);
    QCOMPARE(QSet<QString>(names.begin(), names.end()).size(), 15);
}

void TestOpsFormat::versionAndRunTime()
{
    QCOMPARE(versionText(1, 1), QStringLiteral("QM407 версии 1.1"));
    QCOMPARE(versionText(2, 0), QStringLiteral("QM407 версии 2.0"));
    QCOMPARE(versionText(1, 12), QStringLiteral("QM407 версии 1.12"));
    QVERIFY(!reportsRunTime(1, 0));
    QVERIFY(!reportsRunTime(1, 1));
    QVERIFY(reportsRunTime(1, 2));
    QVERIFY(reportsRunTime(2, 0));
    QVERIFY(reportsRunTime(3, 0));
    QCOMPARE(runTimeText(1500), QStringLiteral("\nУстройство проработало 1дн 1ч 0мин"));
}

void TestOpsFormat::dumpLine()
{
    const QString first = DeviceOps::dumpLine(0, QByteArray::fromHex("0A00FF0102030405"));
    QCOMPARE(first, QStringLiteral("0000  0A 00 FF 01 02 03 04 05 "));
    QCOMPARE(first.size(), 30);
    QCOMPARE(DeviceOps::dumpLine(0xF8, QByteArray::fromHex("abcdef0000000000")),
             QStringLiteral("00F8  AB CD EF 00 00 00 00 00 "));
}

void TestOpsFormat::zoneModes()
{
    const QStringList names = zoneModeNames();
    QCOMPARE(names.size(), 6);
    QCOMPARE(zoneModeCode(QStringLiteral("Выключена")), 0);
    QCOMPARE(zoneModeCode(QStringLiteral("Круглосуточная")), 2);
    QCOMPARE(zoneModeCode(QStringLiteral("Пожарная")), 5);
    QCOMPARE(zoneModeCode(QStringLiteral("пожарная")), -1);
    QCOMPARE(zoneModeCode(QString()), -1);
    QCOMPARE(zoneModeCode(QStringLiteral("Пожарная ")), -1);
}

void TestOpsFormat::flags_data()
{
    QTest::addColumn<int>("which");
    QTest::addColumn<int>("byte");
    QTest::newRow("none") << 0 << 0;
    QTest::newRow("bypass") << 1 << 1;
    QTest::newRow("ext code") << 2 << 2;
    QTest::newRow("auto close") << 4 << 4;
    QTest::newRow("indicator") << 8 << 8;
    QTest::newRow("no transmitter") << 16 << 16;
    QTest::newRow("all") << 31 << 31;
}

void TestOpsFormat::flags()
{
    QFETCH(int, which);
    QFETCH(int, byte);
    ZoneParams p;
    p.enBypass = which & 1;
    p.disExtCode = which & 2;
    p.autoClose = which & 4;
    p.indicOnlyAlarm = which & 8;
    p.noMat = which & 16;
    QCOMPARE(int(flagsByte(p)), byte);
}

void TestOpsFormat::invalidZoneOnlyAmongWrittenZones()
{
    ZoneParams p;
    QCOMPARE(invalidZone(p, 7), 0);
    p.modes[4] = -1;
    QCOMPARE(invalidZone(p, zonesOf(false)), 0);
    QCOMPARE(invalidZone(p, zonesOf(true)), 5);
    p.modes[1] = 6;
    QCOMPARE(invalidZone(p, 3), 2);
}

QTEST_GUILESS_MAIN(TestOpsFormat)
#include "tst_opsformat.moc"

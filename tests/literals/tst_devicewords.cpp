// The controller's words and cell numbers as the installer and the controller know them,
// written out here rather than taken from the code's own constants.
#include "device/devicetexts.h"
#include "device/memorymap.h"
#include "device/ops/opstexts.h"
#include "tests/support/simulatedcontroller.h"

#include <QtTest>

#include <functional>

Q_DECLARE_METATYPE(MemoryMap)
Q_DECLARE_METATYPE(std::function<QString()>)

using Cells = QList<int>; // ZoneBase, CloseDelayCell, TrinketBase, FlagsCell, CounterBase, ZeroCell, JournalLength

namespace {
Cells cellsOf(const MemoryMap& m)
{
    return {m.ZoneBase, m.CloseDelayCell, m.TrinketBase, m.FlagsCell, m.CounterBase, m.ZeroCell, m.JournalLength};
}

const Cells Qm407v11 {4, 10, 11, 23, 67, 70, 44};
const Cells Qm407Other {2, 8, 9, 21, 65, 68, 44};
const Cells Qm407m {2, 16, 17, 29, 89, 92, 38};
} // namespace

class TestDeviceWords : public QObject
{
    Q_OBJECT
private slots:
    void texts_data();
    void texts();
    void memoryMaps_data();
    void memoryMaps();
    void detectedMaps_data();
    void detectedMaps();
};

void TestDeviceWords::texts_data()
{
    QTest::addColumn<std::function<QString()>>("text");
    QTest::addColumn<QString>("expected");
    const auto row = [](const char* name, QString (*text)(), const char* expected) {
        QTest::newRow(name) << std::function<QString()>(text) << QString::fromUtf8(expected);
    };
    row("port read", DeviceTexts::portReadError, "Ошибка чтения из COM порта");
    row("no answer", DeviceTexts::noAnswer, "Нет ответа от QM407");
    row("cell read", DeviceTexts::eepromReadError, "Ошибка чтения данных из EEPROM");
    row("cell write", DeviceTexts::eepromWriteError, "Ошибка записи данных в EEPROM");
    row("checksum", DeviceTexts::crcError, "Ошибка установки EEPROM CRC");
    row("version read", DeviceTexts::versionReadError, "Ошибка чтения версии");
    row("unknown version", DeviceTexts::unknownVersion, "Неизвестная версия");
    row("journal read", DeviceTexts::journalReadError, "Ошибка чтения журнала");
    row("enrolment", DeviceTexts::enrolError, "Ошибка установки брелка");
    row("trinket test", DeviceTexts::testError, "Ошибка при проверке брелка");
    row("enrolment label", OpsTexts::enrolLabel,
        "Установка брелка.\nНажмите кнопку '1' на брелке и удерживайте ее нажатой 2 сек");
    row("test label", OpsTexts::testLabel, "\nНажмите кнопку на проверяемом брелке");
    row("master exists", OpsTexts::masterExistsQuestion, "Мастер-брелок уже имеется в базе данных, продолжить?");
    row("trinket exists", OpsTexts::trinketExistsQuestion, "Брелок для этого устройства уже установлен, продолжить?");
    row("duplicate code", OpsTexts::duplicateCode, "Брелок с таким кодом уже есть в БД");
    row("not button one", OpsTexts::notButtonOne, "Нажата не кнопка '1' брелка");
    row("trinket caption", OpsTexts::trinketCaption, "Брелок");
    row("version caption", OpsTexts::versionCaption, "Версия");
}

void TestDeviceWords::texts()
{
    QFETCH(std::function<QString()>, text);
    QFETCH(QString, expected);
    QCOMPARE(text(), expected);
}

void TestDeviceWords::memoryMaps_data()
{
    QTest::addColumn<MemoryMap>("map");
    QTest::addColumn<Cells>("cells");
    QTest::newRow("QM407 1.1") << MemoryMap::qm407v11() << Qm407v11;
    QTest::newRow("QM407 other versions") << MemoryMap::qm407() << Qm407Other;
    QTest::newRow("QM407M") << MemoryMap::qm407m() << Qm407m;
    QTest::newRow("before detection") << MemoryMap::initial() << Qm407Other;
}

void TestDeviceWords::memoryMaps()
{
    QFETCH(MemoryMap, map);
    QFETCH(Cells, cells);
    QCOMPARE(cellsOf(map), cells);
}

void TestDeviceWords::detectedMaps_data()
{
    QTest::addColumn<int>("major");
    QTest::addColumn<int>("minor");
    QTest::addColumn<int>("model");
    QTest::addColumn<Cells>("cells");
    QTest::newRow("1.1") << 1 << 1 << 0 << Qm407v11;
    QTest::newRow("1.0") << 1 << 0 << 0 << Qm407Other;
    QTest::newRow("1.2") << 1 << 2 << 0 << Qm407Other;
    QTest::newRow("2.0") << 2 << 0 << 1 << Qm407m;
    QTest::newRow("3.5") << 3 << 5 << 1 << Qm407m;
}

void TestDeviceWords::detectedMaps()
{
    QFETCH(int, major);
    QFETCH(int, minor);
    QFETCH(int, model);
    QFETCH(Cells, cells);
    SimulatedController c;
    QString error;
    QVERIFY2(c.start(&error), qPrintable(error));
    c.sim.setVersion(major, minor);
    QCOMPARE(int(c.controller.DefineModel()), model);
    QCOMPARE(cellsOf(c.controller.memoryMap()), cells);
}

QTEST_GUILESS_MAIN(TestDeviceWords)
#include "tst_devicewords.moc"

#include "core/installercore.h"
#include "device/deviceerror.h"
#include "device/devicetexts.h"
#include "device/ops/zoneparams.h"
#include "register/record.h"
#include "sim/simulator.h"
#include "tests/support/apptest.h"
#include "tests/support/fixtures.h"

#include <QSignalSpy>
#include <QtTest>

#include <functional>
#include <memory>

using Fixtures::errorOf;
using Fixtures::hex;
using Fixtures::readSlot;
using Fixtures::writeCells;

namespace {

constexpr qint32 Master = 0x0AB123;
constexpr qint32 Taken = 0x1B2C33; // the first trinket of console 102
constexpr qint32 First = 0x3C5A93;
constexpr qint32 Second = 0x2D4E63;
const QByteArray Crc = hex("5315");

Record record(qint32 id, const QByteArray& number, qint32 trinket = 0, qint32 second = 0)
{
    Record r = AppTest::record(id, number, "Address " + QByteArray::number(id), trinket ? trinket : -1);
    if (second)
        r.setInteger(Field::ID_TRINK_D, second);
    return r;
}

// The master, console 101 with a second trinket only, console 102 with a trinket.
std::vector<Record> sampleRegister()
{
    return {record(0, "MASTER", Master), record(1, "101", 0, 0x555553), record(2, "102", Taken)};
}

// Detection, slot 0 from the master code, slots 1..3 cleared (a QM407 1.0).
QByteArray userEnrolmentStart(const QByteArray& master = hex("23B10A"))
{
    return hex("5310") + writeCells(9, master) + writeCells(12, QByteArray(9, char(0xFF)));
}

// The installer at the wait: holds the next trinket of the list, or cancels when none is left.
class ScriptedView final : public InstallerCore::WaitView
{
public:
    ScriptedView(InstallerCore& core, Qm407Simulator& sim, QList<quint32> presses = {})
        : m_core(core)
        , m_sim(sim)
        , presses(std::move(presses))
    {
    }
    void showWait(const QString& shownLabel) override
    {
        ++shown;
        label = shownLabel;
        busyWhileShown = m_core.busy();
    }
    void pump() override
    {
        QCoreApplication::processEvents();
        if (!m_sim.isWaiting() || m_core.cancelRequested())
            return;
        if (presses.isEmpty())
            m_core.cancelWait();
        else
            m_sim.pressTrinket(presses.takeFirst());
    }
    void hideWait() override { ++hidden; }

    int shown = 0;
    int hidden = 0;
    bool busyWhileShown = false;
    QString label;

private:
    InstallerCore& m_core;
    Qm407Simulator& m_sim;

public:
    QList<quint32> presses;
};

// A core on a private data file, its link open on a simulated controller.
struct CoreRig
{
    explicit CoreRig(const std::vector<Record>& records = sampleRegister())
        : core(folder.filePath(QStringLiteral("Trinket.dat")), folder.filePath(QStringLiteral("Trinket.bkd")))
    {
        QFile file(dataPath());
        ready = file.open(QIODevice::WriteOnly) && file.write(AppTest::registerBytes(records)) >= 0;
        file.close();
        ready = ready && sim.start() && core.loadData() == 0 && core.openPort(sim.slavePath()).ok();
        core.lookUpMaster();
    }
    QString dataPath() const { return folder.filePath(QStringLiteral("Trinket.dat")); }
    QByteArray dataBytes() const { return AppTest::readFile(dataPath()); }
    // Selects the record numbered id, as a click on its row does.
    void select(qint32 id) { QVERIFY(core.store().locate(Field::ID_RECORD, id)); }

    QTemporaryDir folder;
    Qm407Simulator sim;
    InstallerCore core;
    bool ready = false;
};

} // namespace

// The installer's commands without their windows, against a simulated controller: outcomes,
// bytes on the wire, the register and its data file.
class TestInstallerCore : public QObject
{
    Q_OBJECT

private slots:
    void userEnrolment_data();
    void userEnrolment();
    void masterFollowsTheRegister();
    void enrolmentFailures_data();
    void enrolmentFailures();
    void busyFollowsTheWaits();
    void readingsCutShort();
    void version();
    void parameterWrite_data();
    void parameterWrite();
};

void TestInstallerCore::userEnrolment_data()
{
    QTest::addColumn<bool>("two");
    QTest::addColumn<QList<quint32>>("presses");
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("currentId");
    QTest::addColumn<QByteArray>("wire");
    const QByteArray slot1 = hex("5317") + readSlot(12);
    const QByteArray slot2 = hex("5318") + readSlot(15);
    // One-trinket mode keeps the record's second trinket; its own trinket again is no duplicate.
    QTest::newRow("one") << false << QList<quint32> {First} << int(InstallerCore::Enrolment::Recorded) << 1
                         << userEnrolmentStart() + slot1 + Crc;
    // The first trinket held again for the second slot only starts that wait anew.
    QTest::newRow("two, same again") << true << QList<quint32> {First, First, Second}
                                     << int(InstallerCore::Enrolment::Recorded) << 1
                                     << userEnrolmentStart() + slot1 + slot2 + slot2 + Crc;
    // A refusal leaves what was enrolled in the controller, unrecorded and unchecksummed; a
    // duplicate makes the record holding it current.
    QTest::newRow("two, second taken") << true << QList<quint32> {First, Taken}
                                       << int(InstallerCore::Enrolment::DuplicateCode) << 2
                                       << userEnrolmentStart() + slot1 + slot2;
    QTest::newRow("button 2") << false << QList<quint32> {First + 2} << int(InstallerCore::Enrolment::NotButtonOne) << 1
                              << userEnrolmentStart() + slot1;
    QTest::newRow("cancelled") << false << QList<quint32> {} << int(InstallerCore::Enrolment::Cancelled) << 1
                               << userEnrolmentStart() + hex("53170000");
}

void TestInstallerCore::userEnrolment()
{
    QFETCH(bool, two);
    QFETCH(QList<quint32>, presses);
    QFETCH(int, kind);
    QFETCH(int, currentId);
    QFETCH(QByteArray, wire);
    CoreRig rig;
    QVERIFY(rig.ready);
    rig.core.setTwoTrinkets(two);
    rig.select(1);
    const QByteArray before = rig.dataBytes();
    const std::optional<InstallerCore::EnrolTarget> target = rig.core.enrolTarget();
    QVERIFY(target && target->recordId == 1 && !target->hasTrinket);
    ScriptedView view(rig.core, rig.sim, presses);
    QCOMPARE(int(rig.core.enrolTrinkets(1, view).kind), kind);
    QTRY_COMPARE(rig.sim.received(), wire);
    QCOMPARE(rig.core.store().asInteger(Field::ID_RECORD), currentId);
    if (kind != InstallerCore::Enrolment::Recorded) {
        QCOMPARE(rig.dataBytes(), before);
        return;
    }
    std::vector<Record> expected = sampleRegister();
    expected[1].setInteger(Field::ID_TRINK, First);
    expected[1].setText(Field::CODE, "0110XX???X");
    if (two) {
        expected[1].setInteger(Field::ID_TRINK_D, Second);
        expected[1].setText(Field::CODE_D, "0?1XX01?X?");
    }
    QCOMPARE(rig.dataBytes(), AppTest::registerBytes(expected));
}

void TestInstallerCore::masterFollowsTheRegister()
{
    CoreRig rig({record(1, "101")});
    QVERIFY(rig.ready);
    QCOMPARE(rig.core.masterCode(), 0);
    // No master recorded: slot 0 gets zeros.
    ScriptedView view(rig.core, rig.sim, {First});
    QCOMPARE(rig.core.enrolTrinkets(1, view).kind, InstallerCore::Enrolment::Recorded);
    QCOMPARE(rig.sim.received().mid(2, 12), writeCells(9, QByteArray(3, '\0')));

    // The master record is added, and the next user enrolment writes its code into slot 0.
    rig.sim.clearLog();
    view.presses = {Second};
    QCOMPARE(rig.core.enrolMaster(view).kind, InstallerCore::Enrolment::Recorded);
    QCOMPARE(rig.core.masterCode(), Second);
    QCOMPARE(rig.sim.received(), hex("53105316") + readSlot(9) + Crc);
    const std::vector<Record> saved = AppTest::recordsIn(rig.dataPath());
    QCOMPARE(saved.size(), size_t(2));
    QCOMPARE(saved.at(0).asInteger(Field::ID_RECORD), 0);
    QCOMPARE(saved.at(0).asText(Field::PULT_NUM), QByteArray("MASTER"));
    QCOMPARE(saved.at(0).asInteger(Field::ID_TRINK), Second);
    rig.sim.clearLog();
    QCOMPARE(rig.core.enrolTrinkets(1, view).kind, InstallerCore::Enrolment::Cancelled);
    QCOMPARE(rig.sim.received().mid(2, 12), writeCells(9, hex("634E2D")));

    // Another record's trinket cannot become the master, which stays as recorded.
    CoreRig other;
    QVERIFY(other.ready);
    ScriptedView press(other.core, other.sim, {Taken});
    QCOMPARE(other.core.enrolMaster(press).kind, InstallerCore::Enrolment::DuplicateCode);
    QCOMPARE(other.core.masterCode(), Master);
    QCOMPARE(other.core.store().asInteger(Field::ID_RECORD), 2);
}

void TestInstallerCore::enrolmentFailures_data()
{
    QTest::addColumn<bool>("master");
    QTest::addColumn<int>("fault");
    QTest::addColumn<QString>("message");
    QTest::newRow("user, enrolment answer") << false << 0x16 << DeviceTexts::enrolError();
    QTest::newRow("user, detection") << false << 0x10 << DeviceTexts::versionReadError();
    QTest::newRow("user, slot write") << false << 0x13 << DeviceTexts::eepromWriteError();
    QTest::newRow("master, read back") << true << 0x14 << DeviceTexts::noAnswer();
}

// After the drain, a failed exchange is the command's outcome; the register stays as it was.
void TestInstallerCore::enrolmentFailures()
{
    QFETCH(bool, master);
    QFETCH(int, fault);
    QFETCH(QString, message);
    CoreRig rig;
    QVERIFY(rig.ready);
    const QByteArray before = rig.dataBytes();
    if (fault == 0x16) {
        rig.sim.setEnrolReply('X');
    } else {
        Qm407Simulator::Fault f;
        f.kind = fault == 0x13 ? Qm407Simulator::Fault::WrongAck : Qm407Simulator::Fault::NoReply;
        rig.sim.setFault(quint8(fault), f);
    }
    ScriptedView view(rig.core, rig.sim, {First});
    const InstallerCore::Enrolment outcome = master ? rig.core.enrolMaster(view) : rig.core.enrolTrinkets(1, view);
    QCOMPARE(outcome.kind, InstallerCore::Enrolment::Failed);
    QCOMPARE(outcome.message, message);
    QCOMPARE(view.shown, view.hidden);
    QVERIFY(!rig.core.busy());
    QCOMPARE(rig.dataBytes(), before);
    QCOMPARE(rig.sim.crcRequests(), 0);
    QCOMPARE(rig.core.masterCode(), Master);

    // The drain before it is not the command's: a closed port throws.
    rig.core.closePort();
    QCOMPARE(errorOf([&] { rig.core.enrolMaster(view); }), DeviceTexts::portReadError());
    QCOMPARE(view.shown, view.hidden);
}

void TestInstallerCore::busyFollowsTheWaits()
{
    CoreRig rig;
    QVERIFY(rig.ready);
    QSignalSpy busy(&rig.core, &InstallerCore::busyChanged);
    ScriptedView view(rig.core, rig.sim);
    QCOMPARE(rig.core.enrolTrinkets(1, view).kind, InstallerCore::Enrolment::Cancelled);
    QVERIFY(view.busyWhileShown);
    QCOMPARE(view.label,
             QStringLiteral("Установка брелка.\nНажмите кнопку '1' на брелке и удерживайте ее нажатой 2 сек"));
    QVERIFY(rig.core.cancelRequested());
    QCOMPARE(busy.size(), 2);
    QCOMPARE(busy.at(0).at(0).toBool(), true);
    QCOMPARE(busy.at(1).at(0).toBool(), false);

    // The test's wait, cancelled the same way; then answered.
    busy.clear();
    rig.sim.clearLog();
    QCOMPARE(rig.core.testTrinket(view).kind, DeviceOps::TestOutcome::Cancelled);
    QCOMPARE(view.label, QStringLiteral("\nНажмите кнопку на проверяемом брелке"));
    QTRY_COMPARE(rig.sim.received(), hex("53120000"));
    QCOMPARE(busy.size(), 2);
    QVERIFY(!rig.core.busy());
}

void TestInstallerCore::readingsCutShort()
{
    CoreRig rig;
    QVERIFY(rig.ready);
    rig.sim.setVersion(2, 0);
    Qm407Simulator::Fault silent;
    silent.kind = Qm407Simulator::Fault::NoReply;
    silent.afterCount = 10;
    rig.sim.setFault(0x11, silent);
    QSignalSpy journalChanged(&rig.core, &InstallerCore::journalChanged);
    const InstallerCore::JournalReading journal = rig.core.readJournal();
    QVERIFY(journal.started);
    QCOMPARE(journal.lines.size(), 10);
    QCOMPARE(journal.entries.size(), 10);
    QCOMPARE(journal.failure, DeviceTexts::noAnswer());
    QCOMPARE(rig.core.journal().lines, journal.lines); // kept for the journal's files
    QCOMPARE(journalChanged.size(), 1);

    // Only complete lines of a dump are shown, and no image is kept.
    rig.sim.clearFaults();
    silent.afterCount = 100;
    rig.sim.setFault(0x14, silent);
    const InstallerCore::MemoryDump dump = rig.core.dumpMemory();
    QCOMPARE(dump.failure, DeviceTexts::noAnswer());
    QCOMPARE(dump.lines.size(), 12);
    QVERIFY(dump.cells.isEmpty());
    QVERIFY(rig.core.lastDump().cells.isEmpty());
}

void TestInstallerCore::version()
{
    CoreRig rig;
    QVERIFY(rig.ready);
    // A short reply is the command's own failure: no detection, no counter.
    Qm407Simulator::Fault shortReply;
    shortReply.kind = Qm407Simulator::Fault::ShortReply;
    shortReply.replyBytes = 2;
    rig.sim.setFault(0x10, shortReply);
    QVERIFY(!rig.core.readVersion().complete);
    QCOMPARE(rig.sim.received(), hex("5310"));

    // 1.1 has no run-time line; a QM407M reads its counter at 89..91.
    rig.sim.clearFaults();
    rig.sim.clearLog();
    rig.sim.setVersion(1, 1);
    QCOMPARE(rig.core.readVersion().text, QStringLiteral("QM407 версии 1.1"));
    QCOMPARE(rig.sim.received(), hex("53105310"));
    rig.sim.clearLog();
    rig.sim.setVersion(2, 0);
    rig.sim.setCounter(59);
    QCOMPARE(rig.core.readVersion().text, QStringLiteral("QM407 версии 2.0\nУстройство проработало 0дн 0ч 59мин"));
    QCOMPARE(rig.sim.received(),
             hex("53105310"
                 "53145B53145A531459"));

    rig.sim.clearLog();
    rig.sim.setVersion(4, 0);
    QCOMPARE(errorOf([&] { rig.core.readVersion(); }), DeviceTexts::unknownVersion());
    QCOMPARE(rig.sim.received(), hex("53105310"));
}

void TestInstallerCore::parameterWrite_data()
{
    QTest::addColumn<int>("minor");
    QTest::addColumn<QByteArray>("wire");
    const QByteArray zones13 = hex("011E0200050A");
    QTest::newRow("QM407 1.0") << 0
                               << hex("5310") + writeCells(2, zones13) + writeCells(8, hex("1E"))
            + writeCells(21, hex("01")) + writeCells(68, hex("00")) + Crc;
    QTest::newRow("QM407 1.1") << 1
                               << hex("5310") + writeCells(4, zones13) + writeCells(10, hex("1E"))
            + writeCells(23, hex("01")) + writeCells(70, hex("00")) + Crc;
}

void TestInstallerCore::parameterWrite()
{
    QFETCH(int, minor);
    QFETCH(QByteArray, wire);
    CoreRig rig;
    QVERIFY(rig.ready);
    rig.sim.setVersion(1, minor);
    DeviceOps::ZoneParams params;
    params.modes = {1, 2, 5, -1, -1, -1, -1};
    params.delays = {30, 0, 10};
    params.closeDelay = 30;
    params.enBypass = true;
    QSignalSpy detected(&rig.core, &InstallerCore::modelDetected);
    const InstallerCore::ParamWrite written = rig.core.writeZoneParams(params);
    QCOMPARE(written.invalidZone, 0);
    QCOMPARE(rig.sim.received(), wire);
    QCOMPARE(detected.size(), 1);

    // A zone naming no mode is refused after the detection, before any cell is written.
    rig.sim.clearLog();
    params.modes[1] = -1;
    QCOMPARE(rig.core.writeZoneParams(params).invalidZone, 2);
    QCOMPARE(rig.sim.received(), hex("5310"));
}

QTEST_GUILESS_MAIN(TestInstallerCore)

#include "tst_installercore.moc"

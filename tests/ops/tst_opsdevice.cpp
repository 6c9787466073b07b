#include "device/controller.h"
#include "device/deviceerror.h"
#include "device/devicetexts.h"
#include "device/ops/journal.h"
#include "device/ops/opstexts.h"
#include "device/ops/service.h"
#include "device/ops/trinket.h"
#include "tests/support/fixtures.h"
#include "tests/support/simulatedcontroller.h"

#include <QtTest>

#include <functional>
#include <memory>

using namespace DeviceOps;

namespace {

// Stands in for the main window during a wait: counts the window's life and lets a test act
// from inside the loop, as the cancel button would.
class ScriptedHost final : public WaitHost
{
public:
    void beginWait(const QString& label) override
    {
        ++begun;
        this->label = label;
        cancel = false;
    }
    void pump() override
    {
        ++pumps;
        QCoreApplication::processEvents();
        if (onPump)
            onPump(pumps);
    }
    bool cancelRequested() const override { return cancel; }
    void endWait() override { ++ended; }

    int begun = 0;
    int ended = 0;
    int pumps = 0;
    bool cancel = false;
    QString label;
    std::function<void(int)> onPump;
};

using Fixtures::errorOf;
using Fixtures::hex;

} // namespace

// The device operations against the simulated controller on a real pseudo-terminal.
class TestOpsDevice : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void enrolmentReadsTheSlotBack();
    void cancelledEnrolmentSendsCancelWait();
    void waitEndsWhenTheLineFails();
    void testReportsButtonAndAck();
    void cancelledTest();
    void testReplyStraddlingReadsIsJoined();
    void strayByteBeforeATestReplyIsDropped();

    void journalLengthByModel_data();
    void journalLengthByModel();
    void journalStopsAtTheFailedEntry();

    void dumpKeepsCompleteLinesOnFailure();

private:
    void detect(int major, int minor);

    std::unique_ptr<SimulatedController> m_rig;
    Qm407Simulator* m_sim = nullptr;
    SerialLink* m_link = nullptr;
    Controller* m_controller = nullptr;
};

void TestOpsDevice::init()
{
    m_rig = std::make_unique<SimulatedController>();
    QString error;
    QVERIFY2(m_rig->start(&error), qPrintable(error));
    m_sim = &m_rig->sim;
    m_link = &m_rig->link;
    m_controller = &m_rig->controller;
}

void TestOpsDevice::cleanup()
{
    m_rig.reset();
}

void TestOpsDevice::detect(int major, int minor)
{
    m_sim->setVersion(major, minor);
    m_controller->DefineModel();
    m_sim->clearLog();
}

void TestOpsDevice::enrolmentReadsTheSlotBack()
{
    detect(1, 1);
    ScriptedHost host;
    host.onPump = [this](int) {
        if (m_sim->isWaiting())
            m_sim->pressTrinket(0x1B2C33);
    };
    QCOMPARE(SetupTrinket(*m_controller, 2, host), 0x1B2C33u);
    QCOMPARE(host.begun, 1);
    QCOMPARE(host.ended, 1);
    QCOMPARE(host.label, OpsTexts::enrolLabel());
    // Slot 2 of a QM407 1.1 is cells 17..19, read back highest first.
    QCOMPARE(m_sim->received(),
             hex("5318"
                 "531413"
                 "531412"
                 "531411"));
    QCOMPARE(m_sim->cell(17), quint8(0x33));
}

void TestOpsDevice::cancelledEnrolmentSendsCancelWait()
{
    ScriptedHost host;
    host.onPump = [this, &host](int pumps) {
        if (pumps == 3) {
            m_controller->cancelWait();
            host.cancel = true;
        }
    };
    QCOMPARE(SetupTrinket(*m_controller, 1, host), 0u);
    QCOMPARE(host.ended, 1);
    QCOMPARE(m_sim->received(),
             hex("5317"
                 "0000"));
    QVERIFY(!m_sim->isWaiting());
    // The controller's answer to the cancel was taken in: nothing is left on the line.
    QCOMPARE(m_link->read(1).data, QByteArray());
}

void TestOpsDevice::waitEndsWhenTheLineFails()
{
    ScriptedHost host;
    host.onPump = [this](int pumps) {
        if (pumps == 2)
            m_sim->stop();
    };
    QCOMPARE(errorOf([&] { SetupTrinket(*m_controller, 0, host); }), DeviceTexts::portReadError());
    QCOMPARE(host.begun, 1);
    QCOMPARE(host.ended, 1);
}

void TestOpsDevice::testReportsButtonAndAck()
{
    m_sim->inject(hex("4242")); // stale input goes with the drain
    QTRY_COMPARE(m_link->pendingBytes(), qint64(2));
    ScriptedHost host;
    host.onPump = [this](int) {
        if (m_sim->isWaiting())
            m_sim->pressTestButton(0x81);
    };
    TestOutcome outcome = TestTrinket(*m_controller, host);
    QCOMPARE(outcome.kind, TestOutcome::Pressed);
    QCOMPARE(outcome.buttonByte, quint8(0x81));
    QCOMPARE(host.label, OpsTexts::testLabel());
    QCOMPARE(m_sim->received(), hex("5312"));

    host.onPump = [this](int) {
        if (m_sim->isWaiting())
            m_sim->pressTestButton(0x81, 'V');
    };
    outcome = TestTrinket(*m_controller, host);
    QCOMPARE(outcome.kind, TestOutcome::BadReply);
    QCOMPARE(host.ended, 2);
}

void TestOpsDevice::cancelledTest()
{
    ScriptedHost host;
    host.onPump = [this, &host](int pumps) {
        if (pumps == 2) {
            m_controller->cancelWait();
            host.cancel = true;
        }
    };
    QCOMPARE(TestTrinket(*m_controller, host).kind, TestOutcome::Cancelled);
    QCOMPARE(m_sim->received(),
             hex("5312"
                 "0000"));
    QCOMPARE(m_link->read(2).data, QByteArray());
}

void TestOpsDevice::testReplyStraddlingReadsIsJoined()
{
    // The reply's two bytes, a few byte times apart, land around the end of a 120 ms read: its first
    // byte alone ends that read, and must not be dropped. The offsets sweep past the read's end,
    // wherever the timers of this machine put it.
    for (int offsetMs = 106; offsetMs <= 136; offsetMs += 2) {
        ScriptedHost host;
        host.onPump = [this, &host, offsetMs](int pumps) {
            if (pumps == 2) {
                m_sim->inject(hex("03"), offsetMs);
                m_sim->inject(QByteArray("U"), offsetMs + 4);
            }
            if (pumps == 40)
                host.cancel = true; // a way out should the reply be lost
        };
        const TestOutcome outcome = TestTrinket(*m_controller, host);
        QVERIFY2(outcome.kind == TestOutcome::Pressed, qPrintable(QString::number(offsetMs)));
        QCOMPARE(outcome.buttonByte, quint8(0x03));
    }
}

void TestOpsDevice::strayByteBeforeATestReplyIsDropped()
{
    // Noise half a second before the press: alone, it is no part of the reply.
    ScriptedHost host;
    host.onPump = [this, &host](int pumps) {
        if (pumps == 2)
            m_sim->inject(hex("81"));
        if (pumps == 6)
            m_sim->pressTestButton(0x03);
        if (pumps == 40)
            host.cancel = true;
    };
    const TestOutcome outcome = TestTrinket(*m_controller, host);
    QCOMPARE(outcome.kind, TestOutcome::Pressed);
    QCOMPARE(outcome.buttonByte, quint8(0x03));
    QCOMPARE(pressedButtonText(outcome.buttonByte), QStringLiteral("Нажата кнопка 1 брелка 3"));
}

void TestOpsDevice::journalLengthByModel_data()
{
    QTest::addColumn<int>("major");
    QTest::addColumn<int>("minor");
    QTest::addColumn<int>("lines");
    QTest::newRow("QM407 1.0") << 1 << 0 << 43;
    QTest::newRow("QM407 1.1") << 1 << 1 << 43;
    QTest::newRow("QM407M") << 3 << 5 << 37;
}

void TestOpsDevice::journalLengthByModel()
{
    QFETCH(int, major);
    QFETCH(int, minor);
    QFETCH(int, lines);
    detect(major, minor);
    m_sim->setJournalEntry(0, 0x63, 1500);
    m_sim->setJournalEntry(lines - 1, 0x1F, 59);
    QStringList read {QStringLiteral("left from before")};
    readJournal(*m_controller, read);
    QCOMPARE(read.size(), lines);
    QCOMPARE(read.first(), journalLine(0x63, 1500));
    QCOMPARE(read.last(), journalLine(0x1F, 59));
    QCOMPARE(read.at(1), journalLine(0, 0));
    // Entries 0 .. length - 2 in order; the last index is never asked for.
    QByteArray expected;
    for (int i = 0; i < lines; ++i)
        expected += QByteArray("\x53\x11", 2) + char(i);
    QCOMPARE(m_sim->received(), expected);
}

void TestOpsDevice::journalStopsAtTheFailedEntry()
{
    Qm407Simulator::Fault silent;
    silent.kind = Qm407Simulator::Fault::NoReply;
    silent.afterCount = 10;
    m_sim->setFault(0x11, silent);
    QStringList read;
    QCOMPARE(errorOf([&] { readJournal(*m_controller, read); }), DeviceTexts::noAnswer());
    QCOMPARE(read.size(), 10);

    m_sim->clearFaults();
    m_link->FlushPort();
    Qm407Simulator::Fault wrongAck;
    wrongAck.kind = Qm407Simulator::Fault::WrongAck;
    wrongAck.ackByte = 'u';
    m_sim->setFault(0x11, wrongAck);
    QCOMPARE(errorOf([&] { readJournal(*m_controller, read); }), DeviceTexts::journalReadError());
    QCOMPARE(read.size(), 0);
}

void TestOpsDevice::dumpKeepsCompleteLinesOnFailure()
{
    Qm407Simulator::Fault wrongAck;
    wrongAck.kind = Qm407Simulator::Fault::WrongAck;
    wrongAck.afterCount = 100;
    m_sim->setFault(0x14, wrongAck);
    QStringList lines;
    QCOMPARE(errorOf([&] { dumpMemory(*m_controller, lines); }), DeviceTexts::eepromReadError());
    QCOMPARE(lines.size(), 12); // cell 100 is in line 12
    QCOMPARE(m_sim->received().size(), 101 * 3);
}

QTEST_GUILESS_MAIN(TestOpsDevice)
#include "tst_opsdevice.moc"

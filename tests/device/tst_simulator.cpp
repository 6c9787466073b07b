#include "device/controller.h"
#include "device/seriallink.h"
#include "sim/simulator.h"

#include <QElapsedTimer>
#include <QtTest>

#include <atomic>

namespace {
QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray b;
    for (int v : values)
        b.append(char(v));
    return b;
}

// Reads until n bytes came or the time ran out; the waits answer only after a press.
QByteArray readFor(SerialLink& link, int n, int totalMs)
{
    QByteArray got;
    QElapsedTimer timer;
    timer.start();
    while (got.size() < n && timer.elapsed() < totalMs) {
        const SerialLink::ReadResult r = link.read(n - got.size());
        if (!r.ok)
            break;
        got += r.data;
    }
    return got;
}
} // namespace

class TestSimulator : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void framesSplitOverWritesAreAnswered();
    void strayBytesAreSkipped();
    void enrolmentStoresThePressedCode_data();
    void enrolmentStoresThePressedCode();
    void pressBeforeTheWaitIsKept();
    void testWaitAnswersTheButton();
    void cancelAnswersByTheKindOfWait();
    void journalAndCounterFollowTheVariant_data();
    void journalAndCounterFollowTheVariant();
    void faultsStartFromTheNthRequest();
    void delayedAnswerComesLate();
    void pacingKeepsToTheLineSpeed();
    void pacedBytesArriveOneByteTimeApart();
    void logRecordsBothDirectionsInOrder();

private:
    std::unique_ptr<Qm407Simulator> m_sim;
    std::unique_ptr<SerialLink> m_link;
};

void TestSimulator::init()
{
    m_sim = std::make_unique<Qm407Simulator>();
    QVERIFY(m_sim->start());
    m_link = std::make_unique<SerialLink>();
    QString error;
    QVERIFY2(m_link->Open(m_sim->slavePath(), &error), qPrintable(error));
}

void TestSimulator::cleanup()
{
    m_link.reset();
    m_sim.reset();
}

void TestSimulator::framesSplitOverWritesAreAnswered()
{
    m_sim->setCell(0xA0, 0x3C);
    for (char b : bytes({0x53, 0x14, 0xA0})) {
        m_link->write(QByteArray(1, b));
        QThread::msleep(30);
    }
    QCOMPARE(m_link->read(2).data, bytes({0x3C, 'U'}));
    QCOMPARE(m_sim->received(), bytes({0x53, 0x14, 0xA0}));
}

void TestSimulator::strayBytesAreSkipped()
{
    m_link->write(bytes({0x01, 0x00, 0x07, 0x53, 0x10}));
    QCOMPARE(m_link->read(3).data, bytes({0x00, 0x01, 'U'}));
    // An unknown command gets no answer.
    m_link->write(bytes({0x53, 0x7F}));
    QVERIFY(m_link->read(1).data.isEmpty());
}

void TestSimulator::enrolmentStoresThePressedCode_data()
{
    QTest::addColumn<int>("major");
    QTest::addColumn<int>("minor");
    QTest::addColumn<int>("slot");
    QTest::addColumn<int>("firstCell");
    QTest::newRow("QM407 1.0, slot 0") << 1 << 0 << 0 << 9;
    QTest::newRow("QM407 1.1, slot 2") << 1 << 1 << 2 << 17;
    QTest::newRow("QM407M, slot 1") << 3 << 0 << 1 << 20;
}

void TestSimulator::enrolmentStoresThePressedCode()
{
    QFETCH(int, major);
    QFETCH(int, minor);
    QFETCH(int, slot);
    QFETCH(int, firstCell);
    m_sim->setVersion(major, minor);
    std::atomic<int> waitedSlot {-9};
    m_sim->setOnWait([&waitedSlot](int s) { waitedSlot = s; });

    m_link->write(bytes({0x53, 0x16 + slot}));
    QVERIFY(m_sim->waitForWait(2000));
    QCOMPARE(m_sim->waitingCommand(), 0x16 + slot);
    QTRY_COMPARE(waitedSlot.load(), slot);
    // Nothing comes until the button is held.
    QVERIFY(m_link->read(1).data.isEmpty());

    m_sim->pressTrinket(0x5A6B7C);
    QCOMPARE(readFor(*m_link, 1, 2000), QByteArray("U"));
    QVERIFY(!m_sim->isWaiting());
    QCOMPARE(m_sim->cell(firstCell), quint8(0x7C));
    QCOMPARE(m_sim->cell(firstCell + 1), quint8(0x6B));
    QCOMPARE(m_sim->cell(firstCell + 2), quint8(0x5A));

    Controller controller(*m_link);
    controller.DefineModel();
    QCOMPARE(controller.ReadTriple(slot), 0x5A6B7C);
}

void TestSimulator::pressBeforeTheWaitIsKept()
{
    m_sim->pressTrinket(0x123456);
    QVERIFY(!m_sim->isWaiting());
    m_sim->setEnrolReply('X');
    m_link->write(bytes({0x53, 0x16}));
    QCOMPARE(readFor(*m_link, 1, 2000), QByteArray("X"));
    QCOMPARE(m_sim->cell(9), quint8(0x56));

    // Used once only.
    m_link->write(bytes({0x53, 0x17}));
    QVERIFY(m_sim->waitForWait(2000));
    QVERIFY(m_link->read(1).data.isEmpty());
}

void TestSimulator::testWaitAnswersTheButton()
{
    m_link->write(bytes({0x53, 0x12}));
    QVERIFY(m_sim->waitForWait(2000));
    QCOMPARE(m_sim->waitingCommand(), 0x12);
    m_sim->pressTestButton(0x23);
    QCOMPARE(readFor(*m_link, 2, 2000), bytes({0x23, 'U'}));

    m_link->write(bytes({0x53, 0x12}));
    QVERIFY(m_sim->waitForWait(2000));
    m_sim->pressTestButton(0x24, 0x00);
    QCOMPARE(readFor(*m_link, 2, 2000), bytes({0x24, 0x00}));
}

void TestSimulator::cancelAnswersByTheKindOfWait()
{
    // Outside a wait the cancel frame is ignored.
    m_link->write(bytes({0x00, 0x00}));
    QVERIFY(m_link->read(1).data.isEmpty());

    m_link->write(bytes({0x53, 0x18}));
    QVERIFY(m_sim->waitForWait(2000));
    m_link->write(bytes({0x00, 0x00}));
    QCOMPARE(readFor(*m_link, 2, 300).size(), 1);
    QVERIFY(!m_sim->isWaiting());

    m_link->write(bytes({0x53, 0x12}));
    QVERIFY(m_sim->waitForWait(2000));
    m_link->write(bytes({0x00, 0x00}));
    QCOMPARE(readFor(*m_link, 3, 300).size(), 2);
    QVERIFY(!m_sim->isWaiting());

    // A press after the cancel waits for the next enrolment; the cancelled slot stays as it was.
    m_sim->pressTrinket(0xABCDEF);
    QCOMPARE(m_sim->cell(15), quint8(0));
}

void TestSimulator::journalAndCounterFollowTheVariant_data()
{
    QTest::addColumn<int>("major");
    QTest::addColumn<int>("minor");
    QTest::addColumn<int>("counterBase");
    QTest::addColumn<int>("journalLength");
    QTest::newRow("QM407 1.1") << 1 << 1 << 67 << 44;
    QTest::newRow("QM407 1.3") << 1 << 3 << 65 << 44;
    QTest::newRow("QM407M") << 2 << 0 << 89 << 38;
}

void TestSimulator::journalAndCounterFollowTheVariant()
{
    QFETCH(int, major);
    QFETCH(int, minor);
    QFETCH(int, counterBase);
    QFETCH(int, journalLength);
    m_sim->setVersion(major, minor);
    m_sim->setCounter(1500);
    QCOMPARE(m_sim->cell(counterBase), quint8(0xDC));
    QCOMPARE(m_sim->cell(counterBase + 1), quint8(0x05));
    QCOMPARE(m_sim->cell(counterBase + 2), quint8(0x00));

    m_sim->setJournalEntry(3, 0x21, 0x012345);
    m_sim->setJournalEntry(journalLength, 0x22, 7);
    m_link->write(bytes({0x53, 0x11, 3}));
    QCOMPARE(m_link->read(5).data, bytes({0x21, 0x45, 0x23, 0x01, 'U'}));
    m_link->write(bytes({0x53, 0x11, 4}));
    QCOMPARE(m_link->read(5).data, bytes({0, 0, 0, 0, 'U'}));
    // Beyond the variant's journal there is nothing.
    m_link->write(bytes({0x53, 0x11, journalLength}));
    QCOMPARE(m_link->read(5).data, bytes({0, 0, 0, 0, 'U'}));
}

void TestSimulator::faultsStartFromTheNthRequest()
{
    Qm407Simulator::Fault f;
    f.kind = Qm407Simulator::Fault::Garbage;
    f.replyBytes = 3;
    f.afterCount = 2;
    m_sim->setFault(0x14, f);
    Controller controller(*m_link);
    QCOMPARE(controller.ReadByte(0), 0);
    QCOMPARE(controller.ReadByte(0), 0);
    m_link->write(bytes({0x53, 0x14, 0}));
    QCOMPARE(m_link->read(4).data, bytes({0xAA, 0xAA, 0xAA}));

    // The enrolment fault applies to every slot and hits the answer to the press.
    Qm407Simulator::Fault silent;
    silent.kind = Qm407Simulator::Fault::NoReply;
    m_sim->setFault(0x16, silent);
    m_link->write(bytes({0x53, 0x17}));
    QVERIFY(m_sim->waitForWait(2000));
    m_sim->pressTrinket(0x010203);
    QVERIFY(readFor(*m_link, 1, 300).isEmpty());
    QCOMPARE(m_sim->cell(12), quint8(0x03));
}

void TestSimulator::delayedAnswerComesLate()
{
    Qm407Simulator::Fault slow;
    slow.delayMs = 60;
    m_sim->setFault(0x10, slow);
    QElapsedTimer timer;
    timer.start();
    Controller controller(*m_link);
    QCOMPARE(controller.DefineModel(), Model::QM407);
    QVERIFY(timer.elapsed() >= 60);
}

void TestSimulator::pacingKeepsToTheLineSpeed()
{
    m_sim->setPacing(true);
    Controller controller(*m_link);
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < 20; ++i)
        controller.ReadByte(i);
    // 20 exchanges of 5 bytes, 10 bits each at 9600 baud: never faster than the wire.
    QVERIFY2(timer.elapsed() >= 20 * 5 * 10 * 1000 / 9600, qPrintable(QString::number(timer.elapsed())));

    const auto log = m_sim->log();
    QCOMPARE(int(log.size()), 40);
    for (size_t i = 0; i < log.size(); i += 2) {
        // A two-byte answer takes two byte times after its request was complete.
        QVERIFY(log[i + 1].time - log[i].time >= std::chrono::microseconds(2 * 1041));
    }
}

void TestSimulator::pacedBytesArriveOneByteTimeApart()
{
    // Each byte of an answer is on the line for its own 10 bits: however the simulator keeps
    // time, no byte may arrive before the line could have carried it.
    m_sim->setPacing(true);
    m_sim->setJournalEntry(4, 0x61, 0x030201);
    m_link->write(bytes({0x53, 0x11, 0x04}));
    std::vector<std::chrono::steady_clock::time_point> arrivals;
    QByteArray answer;
    while (answer.size() < 5) {
        const SerialLink::ReadResult r = m_link->read(1);
        QVERIFY(r.ok && r.data.size() == 1);
        arrivals.push_back(std::chrono::steady_clock::now());
        answer += r.data;
    }
    QCOMPARE(answer, bytes({0x61, 0x01, 0x02, 0x03, 'U'}));

    const auto log = m_sim->log();
    QCOMPARE(int(log.size()), 2);
    const auto requestComplete = log[0].time;
    for (int k = 0; k < 5; ++k)
        QVERIFY2(arrivals[k] - requestComplete >= (k + 1) * std::chrono::microseconds(1041),
                 qPrintable(QString::number(k)));
}

void TestSimulator::logRecordsBothDirectionsInOrder()
{
    m_sim->inject(QByteArray("zz"));
    QCOMPARE(m_link->read(2).data, QByteArray("zz"));
    m_link->write(bytes({0x53, 0x15}));
    QCOMPARE(m_link->read(1).data, QByteArray("U"));

    const auto log = m_sim->log();
    QCOMPARE(int(log.size()), 3);
    QVERIFY(!log[0].fromTool);
    QCOMPARE(log[0].bytes, QByteArray("zz"));
    QVERIFY(log[1].fromTool);
    QCOMPARE(log[1].bytes, bytes({0x53, 0x15}));
    QVERIFY(!log[2].fromTool);
    QVERIFY(log[0].time <= log[1].time && log[1].time <= log[2].time);
    QCOMPARE(m_sim->crcRequests(), 1);

    m_sim->clearLog();
    QVERIFY(m_sim->log().empty());
    QVERIFY(m_sim->received().isEmpty());
}

QTEST_GUILESS_MAIN(TestSimulator)
#include "tst_simulator.moc"

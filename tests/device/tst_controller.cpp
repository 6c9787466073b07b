#include "device/controller.h"
#include "device/deviceerror.h"
#include "device/devicetexts.h"
#include "tests/support/fixtures.h"
#include "tests/support/simulatedcontroller.h"

#include <QElapsedTimer>
#include <QtTest>

#include <functional>

using Fault = Qm407Simulator::Fault;
using Operation = std::function<void(Controller&)>;
Q_DECLARE_METATYPE(Operation)
Q_DECLARE_METATYPE(Fault)
Q_DECLARE_METATYPE(MemoryMap)
Q_DECLARE_METATYPE(Model)

namespace {
using Fixtures::errorOf;

Fault fault(Fault::Kind kind, int replyBytes = 0, quint8 ack = 0)
{
    Fault f;
    f.kind = kind;
    f.replyBytes = replyBytes;
    f.ackByte = ack;
    return f;
}

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray b;
    for (int v : values)
        b.append(char(v));
    return b;
}

// Frames the tool sent, in order.
QList<QByteArray> toolFrames(const Qm407Simulator& sim)
{
    QList<QByteArray> frames;
    for (const auto& e : sim.log()) {
        if (e.fromTool)
            frames.append(e.bytes);
    }
    return frames;
}
} // namespace

class TestController : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void cellPrimitivesSendExactFrames();
    void valuesAreTruncatedToTheirWidth();
    void failedExchangesRaiseTheirMessages_data();
    void failedExchangesRaiseTheirMessages();
    void closedPortFailsEveryPrimitive();
    void missingReplyReturnsAfterTheTimeout();
    void setCrcAlwaysPausesBeforeReading();
    void lateReplyStaysUntilTheNextDrain();
    void triplesUseTheCurrentMapInTheirOrder_data();
    void triplesUseTheCurrentMapInTheirOrder();
    void failedTripleStopsAtTheFailingCell();
    void defineModelChoosesTheMap_data();
    void defineModelChoosesTheMap();
    void failedDetectionKeepsTheMap_data();
    void failedDetectionKeepsTheMap();
    void counterUsesTheMapsCells_data();
    void counterUsesTheMapsCells();
    void versionReplyIsReportedNotThrown();
    void drainTakesStaleInputAndSendsNothing();

private:
    std::unique_ptr<SimulatedController> m_rig;
    Qm407Simulator* m_sim = nullptr;
    SerialLink* m_link = nullptr;
    Controller* m_controller = nullptr;
};

void TestController::init()
{
    m_rig = std::make_unique<SimulatedController>();
    QString error;
    QVERIFY2(m_rig->start(&error), qPrintable(error));
    m_sim = &m_rig->sim;
    m_link = &m_rig->link;
    m_controller = &m_rig->controller;
}

void TestController::cleanup()
{
    m_rig.reset();
}

void TestController::cellPrimitivesSendExactFrames()
{
    m_sim->setCell(0x41, 0x9C);
    QCOMPARE(m_controller->ReadByte(0x41), 0x9C);
    m_controller->WriteByte(0x80, 0xFF);
    QCOMPARE(m_controller->ReadByte(0x80), 0xFF);
    m_controller->SetCrc();

    QCOMPARE(m_sim->received(), bytes({0x53, 0x14, 0x41, 0x53, 0x13, 0x80, 0xFF, 0x53, 0x14, 0x80, 0x53, 0x15}));
    QCOMPARE(m_sim->sent(), bytes({0x9C, 'U', 'U', 0xFF, 'U', 'U'}));
    QCOMPARE(m_sim->cell(0x80), quint8(0xFF));
    QCOMPARE(m_sim->crcRequests(), 1);
}

void TestController::valuesAreTruncatedToTheirWidth()
{
    m_controller->WriteByte(5, 300);
    QCOMPARE(m_sim->cell(5), quint8(44));
    m_controller->WriteByte(6, -1);
    QCOMPARE(m_sim->cell(6), quint8(0xFF));

    m_sim->clearLog();
    m_controller->WriteTriple(1, 0x12345678);
    const int base = MemoryMap::initial().TrinketBase + 3;
    QCOMPARE(toolFrames(*m_sim),
             QList<QByteArray>({bytes({0x53, 0x13, base, 0x78}), bytes({0x53, 0x13, base + 1, 0x56}),
                                bytes({0x53, 0x13, base + 2, 0x34})}));
    QCOMPARE(m_controller->ReadTriple(1), 0x345678);
}

void TestController::failedExchangesRaiseTheirMessages_data()
{
    QTest::addColumn<quint8>("command");
    QTest::addColumn<Fault>("fault");
    QTest::addColumn<Operation>("operation");
    QTest::addColumn<QString>("message");

    const Operation readByte = [](Controller& c) { c.ReadByte(7); };
    const Operation writeByte = [](Controller& c) { c.WriteByte(7, 1); };
    const Operation setCrc = [](Controller& c) { c.SetCrc(); };
    const Operation defineModel = [](Controller& c) { c.DefineModel(); };
    const Operation journalEntry = [](Controller& c) { c.readJournalEntry(0); };

    QTest::newRow("ReadByte, no reply") << quint8(0x14) << fault(Fault::NoReply) << readByte << DeviceTexts::noAnswer();
    QTest::newRow("ReadByte, one byte") << quint8(0x14) << fault(Fault::ShortReply, 1) << readByte
                                        << DeviceTexts::noAnswer();
    QTest::newRow("ReadByte, second byte not U")
        << quint8(0x14) << fault(Fault::WrongAck, 0, 'u') << readByte << DeviceTexts::eepromReadError();
    QTest::newRow("ReadByte, garbage") << quint8(0x14) << fault(Fault::Garbage) << readByte
                                       << DeviceTexts::eepromReadError();
    QTest::newRow("WriteByte, no reply") << quint8(0x13) << fault(Fault::NoReply) << writeByte
                                         << DeviceTexts::noAnswer();
    QTest::newRow("WriteByte, not U") << quint8(0x13) << fault(Fault::WrongAck, 0, 0x00) << writeByte
                                      << DeviceTexts::eepromWriteError();
    QTest::newRow("SetCrc, no reply") << quint8(0x15) << fault(Fault::NoReply) << setCrc << DeviceTexts::crcError();
    QTest::newRow("SetCrc, not U") << quint8(0x15) << fault(Fault::WrongAck, 0, 'S') << setCrc
                                   << DeviceTexts::crcError();
    QTest::newRow("version, no reply") << quint8(0x10) << fault(Fault::NoReply) << defineModel
                                       << DeviceTexts::versionReadError();
    QTest::newRow("version, two bytes") << quint8(0x10) << fault(Fault::ShortReply, 2) << defineModel
                                        << DeviceTexts::versionReadError();
    QTest::newRow("version, third byte not U")
        << quint8(0x10) << fault(Fault::WrongAck, 0, 0x01) << defineModel << DeviceTexts::versionReadError();
    QTest::newRow("journal, four bytes") << quint8(0x11) << fault(Fault::ShortReply, 4) << journalEntry
                                         << DeviceTexts::noAnswer();
    QTest::newRow("journal, not U") << quint8(0x11) << fault(Fault::WrongAck, 0, 0xFF) << journalEntry
                                    << DeviceTexts::journalReadError();
}

void TestController::failedExchangesRaiseTheirMessages()
{
    QFETCH(quint8, command);
    QFETCH(Fault, fault);
    QFETCH(Operation, operation);
    QFETCH(QString, message);

    m_sim->setVersion(1, 2);
    m_sim->setFault(command, fault);
    QCOMPARE(errorOf([&] { operation(*m_controller); }), message);
    // One request, no retry.
    QCOMPARE(toolFrames(*m_sim).size(), 1);
    QCOMPARE(quint8(toolFrames(*m_sim).at(0).at(1)), command);

    // The same exchange works once the controller behaves.
    m_sim->clearFaults();
    m_link->FlushPort();
    QCOMPARE(errorOf([&] { operation(*m_controller); }), QString());
}

void TestController::closedPortFailsEveryPrimitive()
{
    m_link->Close();
    const QString portError = DeviceTexts::portReadError();
    QCOMPARE(errorOf([&] { m_controller->ReadByte(1); }), portError);
    QCOMPARE(errorOf([&] { m_controller->WriteByte(1, 2); }), portError);
    QCOMPARE(errorOf([&] { m_controller->ReadTriple(0); }), portError);
    QCOMPARE(errorOf([&] { m_controller->WriteTriple(0, 1); }), portError);
    QCOMPARE(errorOf([&] { m_controller->DefineModel(); }), portError);
    QCOMPARE(errorOf([&] { m_controller->SetCrc(); }), portError);
    QVERIFY(m_sim->received().isEmpty());
}

void TestController::missingReplyReturnsAfterTheTimeout()
{
    m_sim->setFault(0x14, fault(Fault::NoReply));
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(errorOf([&] { m_controller->ReadByte(1); }), DeviceTexts::noAnswer());
    QVERIFY(timer.elapsed() >= SerialLink::readTimeoutMs(2) - 2);
    QVERIFY(timer.elapsed() < SerialLink::readTimeoutMs(2) + 400);
}

void TestController::setCrcAlwaysPausesBeforeReading()
{
    QElapsedTimer timer;
    timer.start();
    m_controller->SetCrc();
    QVERIFY(timer.elapsed() >= Controller::CrcPauseMs);
    QCOMPARE(m_sim->crcRequests(), 1);
    QCOMPARE(m_sim->received(), bytes({0x53, 0x15}));

    // An answer delayed by less than the pause is still taken.
    Fault slow;
    slow.delayMs = 300;
    m_sim->setFault(0x15, slow);
    m_controller->SetCrc();
    QCOMPARE(m_sim->crcRequests(), 2);
}

void TestController::lateReplyStaysUntilTheNextDrain()
{
    m_sim->setCell(9, 0x21);
    m_sim->setCell(10, 0x22);
    Fault slow;
    slow.delayMs = 250;
    m_sim->setFault(0x14, slow);
    QCOMPARE(errorOf([&] { m_controller->ReadByte(9); }), DeviceTexts::noAnswer());
    QTRY_COMPARE(m_sim->sent(), bytes({0x21, 'U'}));
    m_sim->clearFaults();

    // Nothing resynchronises by itself: the late answer is taken for the next one.
    QCOMPARE(m_controller->ReadByte(10), 0x21);
    m_link->FlushPort();
    QCOMPARE(m_controller->ReadByte(10), 0x22);
}

void TestController::triplesUseTheCurrentMapInTheirOrder_data()
{
    QTest::addColumn<int>("major");
    QTest::addColumn<int>("minor");
    QTest::addColumn<int>("trinketBase");
    QTest::newRow("QM407 1.0") << 1 << 0 << 9;
    QTest::newRow("QM407 1.1") << 1 << 1 << 11;
    QTest::newRow("QM407M 2.0") << 2 << 0 << 17;
}

void TestController::triplesUseTheCurrentMapInTheirOrder()
{
    QFETCH(int, major);
    QFETCH(int, minor);
    QFETCH(int, trinketBase);
    m_sim->setVersion(major, minor);
    m_controller->DefineModel();
    m_sim->clearLog();

    const int base = trinketBase + 3 * 2;
    m_controller->WriteTriple(2, 0x1ABCDEF);
    QCOMPARE(toolFrames(*m_sim),
             QList<QByteArray>({bytes({0x53, 0x13, base, 0xEF}), bytes({0x53, 0x13, base + 1, 0xCD}),
                                bytes({0x53, 0x13, base + 2, 0xAB})}));
    QCOMPARE(m_sim->cell(base), quint8(0xEF));

    m_sim->clearLog();
    QCOMPARE(m_controller->ReadTriple(2), 0xABCDEF);
    QCOMPARE(
        toolFrames(*m_sim),
        QList<QByteArray>({bytes({0x53, 0x14, base + 2}), bytes({0x53, 0x14, base + 1}), bytes({0x53, 0x14, base})}));

    const int master = trinketBase;
    for (int i = 0; i < 3; ++i)
        m_sim->setCell(master + i, 0xFF);
    QCOMPARE(m_controller->ReadTriple(0), 0xFFFFFF);
    m_controller->WriteTriple(3, 0xFFFFFF);
    QCOMPARE(m_controller->ReadTriple(3), 0xFFFFFF);
    QCOMPARE(m_sim->cell(trinketBase + 9), quint8(0xFF));
}

void TestController::failedTripleStopsAtTheFailingCell()
{
    Fault second = fault(Fault::WrongAck, 0, 0x00);
    second.afterCount = 1;
    m_sim->setFault(0x13, second);
    QCOMPARE(errorOf([&] { m_controller->WriteTriple(0, 0x010203); }), DeviceTexts::eepromWriteError());
    QCOMPARE(toolFrames(*m_sim).size(), 2);

    m_sim->clearFaults();
    m_sim->clearLog();
    second.kind = Fault::ShortReply;
    second.replyBytes = 1;
    m_sim->setFault(0x14, second);
    QCOMPARE(errorOf([&] { m_controller->ReadTriple(0); }), DeviceTexts::noAnswer());
    QCOMPARE(toolFrames(*m_sim).size(), 2);
}

void TestController::defineModelChoosesTheMap_data()
{
    QTest::addColumn<int>("minor");
    QTest::addColumn<int>("major");
    QTest::addColumn<Model>("model");
    QTest::addColumn<MemoryMap>("map");
    QTest::newRow("1.1") << 1 << 1 << Model::QM407 << MemoryMap::qm407v11();
    QTest::newRow("1.0") << 0 << 1 << Model::QM407 << MemoryMap::qm407();
    QTest::newRow("1.2") << 2 << 1 << Model::QM407 << MemoryMap::qm407();
    QTest::newRow("1.255") << 255 << 1 << Model::QM407 << MemoryMap::qm407();
    QTest::newRow("2.0") << 0 << 2 << Model::QM407M << MemoryMap::qm407m();
    QTest::newRow("2.1") << 1 << 2 << Model::QM407M << MemoryMap::qm407m();
    QTest::newRow("3.5") << 5 << 3 << Model::QM407M << MemoryMap::qm407m();
}

void TestController::defineModelChoosesTheMap()
{
    QFETCH(int, minor);
    QFETCH(int, major);
    QFETCH(Model, model);
    QFETCH(MemoryMap, map);
    m_sim->setVersion(major, minor);
    QCOMPARE(m_controller->DefineModel(), model);
    QCOMPARE(m_controller->memoryMap(), map);
    QCOMPARE(m_sim->received(), bytes({0x53, 0x10}));
    QCOMPARE(m_sim->sent(), bytes({minor, major, 'U'}));
}

void TestController::failedDetectionKeepsTheMap_data()
{
    QTest::addColumn<int>("major");
    QTest::addColumn<Fault>("fault");
    QTest::addColumn<bool>("closed");
    QTest::addColumn<QString>("message");
    QTest::newRow("version 4.0") << 4 << Fault() << false << DeviceTexts::unknownVersion();
    QTest::newRow("version 0.0") << 0 << Fault() << false << DeviceTexts::unknownVersion();
    QTest::newRow("version 255") << 255 << Fault() << false << DeviceTexts::unknownVersion();
    QTest::newRow("no controller") << 2 << fault(Fault::NoReply) << false << DeviceTexts::versionReadError();
    QTest::newRow("only two bytes") << 2 << fault(Fault::ShortReply, 2) << false << DeviceTexts::versionReadError();
    QTest::newRow("third byte not U") << 2 << fault(Fault::WrongAck, 0, 0x56) << false
                                      << DeviceTexts::versionReadError();
    QTest::newRow("port closed") << 2 << Fault() << true << DeviceTexts::portReadError();
}

void TestController::failedDetectionKeepsTheMap()
{
    QFETCH(int, major);
    QFETCH(Fault, fault);
    QFETCH(bool, closed);
    QFETCH(QString, message);

    m_sim->setVersion(1, 1);
    m_controller->DefineModel();
    m_sim->setVersion(major, 0);
    m_sim->setFault(0x10, fault);
    if (closed)
        m_link->Close();

    QCOMPARE(errorOf([&] { m_controller->DefineModel(); }), message);
    QCOMPARE(m_controller->memoryMap(), MemoryMap::qm407v11());
}

void TestController::counterUsesTheMapsCells_data()
{
    QTest::addColumn<int>("major");
    QTest::addColumn<int>("minor");
    QTest::addColumn<int>("counterBase");
    QTest::newRow("QM407 1.0") << 1 << 0 << 65;
    QTest::newRow("QM407 1.1") << 1 << 1 << 67;
    QTest::newRow("QM407M 2.0") << 2 << 0 << 89;
}

void TestController::counterUsesTheMapsCells()
{
    QFETCH(int, major);
    QFETCH(int, minor);
    QFETCH(int, counterBase);
    m_sim->setVersion(major, minor);
    m_controller->DefineModel();
    m_sim->setCell(counterBase, 0x56);
    m_sim->setCell(counterBase + 1, 0x34);
    m_sim->setCell(counterBase + 2, 0x12);
    m_sim->clearLog();

    QCOMPARE(m_controller->readCounter(), 0x123456u);
    m_controller->writeCounter(0);
    const int c = counterBase;
    // Read high cell first, written low cell first.
    QCOMPARE(
        toolFrames(*m_sim),
        QList<QByteArray>({bytes({0x53, 0x14, c + 2}), bytes({0x53, 0x14, c + 1}), bytes({0x53, 0x14, c}),
                           bytes({0x53, 0x13, c, 0}), bytes({0x53, 0x13, c + 1, 0}), bytes({0x53, 0x13, c + 2, 0})}));
}

void TestController::versionReplyIsReportedNotThrown()
{
    m_sim->setVersion(1, 1);
    m_controller->DefineModel();
    m_sim->setVersion(3, 10);
    m_sim->clearLog();
    Controller::VersionReply reply = m_controller->readVersion();
    QVERIFY(reply.complete);
    QCOMPARE(reply.major, 3);
    QCOMPARE(reply.minor, 10);
    QCOMPARE(m_sim->received(), bytes({0x53, 0x10}));
    // Only DefineModel chooses the map.
    QCOMPARE(m_controller->memoryMap(), MemoryMap::qm407v11());

    m_sim->setFault(0x10, fault(Fault::ShortReply, 2));
    QCOMPARE(errorOf([&] { reply = m_controller->readVersion(); }), QString());
    QVERIFY(!reply.complete);
    m_sim->setFault(0x10, fault(Fault::WrongAck, 0, 'u'));
    QCOMPARE(errorOf([&] { reply = m_controller->readVersion(); }), QString());
    QVERIFY(!reply.complete);

    m_link->Close();
    QCOMPARE(errorOf([&] { m_controller->readVersion(); }), QStringLiteral("Ошибка чтения из COM порта"));
}

void TestController::drainTakesStaleInputAndSendsNothing()
{
    m_sim->inject(bytes({0x42, 'U', 0x00}));
    QTRY_COMPARE(m_link->pendingBytes(), qint64(3));
    m_controller->drain();
    QCOMPARE(m_link->pendingBytes(), qint64(0));
    QVERIFY(m_sim->received().isEmpty());
    QCOMPARE(m_controller->ReadByte(0), int(m_sim->cell(0)));
}

QTEST_GUILESS_MAIN(TestController)
#include "tst_controller.moc"

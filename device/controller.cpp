#include "device/controller.h"

#include "device/deviceerror.h"
#include "device/devicetexts.h"
#include "device/seriallink.h"

#include <QThread>

namespace {
constexpr char Ack = 'U';
constexpr int Prefix = 'S';
constexpr int CmdReadVersion = 0x10;
constexpr int CmdReadJournal = 0x11;
constexpr int CmdTestTrinket = 0x12;
constexpr int CmdWriteCell = 0x13;
constexpr int CmdReadCell = 0x14;
constexpr int CmdRecomputeCrc = 0x15;
constexpr int CmdSetupTrinket = 0x16; // plus the slot
constexpr int EnrolReplyLength = 1;
constexpr int TestReplyLength = 2;
// How long the rest of a wait's reply may lag behind its first byte: a few byte times at 9600
// baud (1.04 ms each) plus the 16 ms a USB adapter may hold a byte before passing it on.
constexpr int ReplyGapMs = 20;

QByteArray frame(std::initializer_list<int> bytes)
{
    QByteArray f;
    for (int b : bytes)
        f.append(char(b & 0xFF));
    return f;
}

[[noreturn]] void fail(SerialLink& link, const QString& message)
{
    link.traceError(message);
    throw DeviceError(message);
}

// The three checks every reply goes through, in this order. Gives back the data bytes before
// the acknowledgement.
QByteArray checkReply(SerialLink& link, const SerialLink::ReadResult& r, int replyLength,
                      const QString& shortReplyMessage, const QString& badAckMessage)
{
    if (!r.ok)
        fail(link, DeviceTexts::portReadError());
    if (r.data.size() < replyLength)
        fail(link, shortReplyMessage);
    if (r.data.at(replyLength - 1) != Ack)
        fail(link, badAckMessage);
    return r.data.left(replyLength - 1);
}
} // namespace

Controller::Controller(SerialLink& link)
    : m_link(link)
{
}

QByteArray Controller::exchange(const QByteArray& request, int replyLength, const QString& shortReplyMessage,
                                const QString& badAckMessage)
{
    m_link.write(request);
    return checkReply(m_link, m_link.read(replyLength), replyLength, shortReplyMessage, badAckMessage);
}

int Controller::ReadByte(int address)
{
    const QByteArray data
        = exchange(frame({Prefix, CmdReadCell, address}), 2, DeviceTexts::noAnswer(), DeviceTexts::eepromReadError());
    return quint8(data.at(0));
}

void Controller::WriteByte(int address, int value)
{
    exchange(frame({Prefix, CmdWriteCell, address, value}), 1, DeviceTexts::noAnswer(),
             DeviceTexts::eepromWriteError());
}

int Controller::readTripleAt(int base)
{
    const int high = ReadByte(base + 2);
    const int middle = ReadByte(base + 1);
    const int low = ReadByte(base);
    return (high << 16) | (middle << 8) | low;
}

void Controller::writeTripleAt(int base, int value)
{
    WriteByte(base, value);
    WriteByte(base + 1, value >> 8);
    WriteByte(base + 2, value >> 16);
}

int Controller::ReadTriple(int slot)
{
    return readTripleAt(m_map.TrinketBase + 3 * slot);
}

void Controller::WriteTriple(int slot, int value)
{
    writeTripleAt(m_map.TrinketBase + 3 * slot, value);
}

quint32 Controller::readCounter()
{
    return quint32(readTripleAt(m_map.CounterBase));
}

void Controller::writeCounter(quint32 minutes)
{
    writeTripleAt(m_map.CounterBase, int(minutes & 0xFFFFFF));
}

void Controller::SetCrc()
{
    m_link.write(frame({Prefix, CmdRecomputeCrc}));
    // The controller needs this long to recompute; its answer is only read afterwards.
    QThread::msleep(CrcPauseMs);
    checkReply(m_link, m_link.read(1), 1, DeviceTexts::crcError(), DeviceTexts::crcError());
}

Controller::VersionReply Controller::readVersion()
{
    m_link.write(frame({Prefix, CmdReadVersion}));
    const SerialLink::ReadResult r = m_link.read(3);
    if (!r.ok)
        fail(m_link, DeviceTexts::portReadError());
    VersionReply reply;
    reply.complete = r.data.size() == 3 && r.data.at(2) == Ack;
    if (!reply.complete) {
        m_link.traceError(DeviceTexts::versionReadError());
        return reply;
    }
    reply.minor = quint8(r.data.at(0));
    reply.major = quint8(r.data.at(1));
    return reply;
}

Model Controller::DefineModel()
{
    const VersionReply version = readVersion();
    if (!version.complete)
        throw DeviceError(DeviceTexts::versionReadError()); // traced by readVersion
    switch (version.major) {
    case 1:
        m_map = version.minor == 1 ? MemoryMap::qm407v11() : MemoryMap::qm407();
        return Model::QM407;
    case 2:
    case 3:
        m_map = MemoryMap::qm407m();
        return Model::QM407M;
    default:
        fail(m_link, DeviceTexts::unknownVersion());
    }
}

Controller::JournalEntry Controller::readJournalEntry(int index)
{
    const QByteArray data
        = exchange(frame({Prefix, CmdReadJournal, index}), 5, DeviceTexts::noAnswer(), DeviceTexts::journalReadError());
    const auto byte = [&data](int k) { return quint32(quint8(data.at(k))); };
    return {index, quint8(byte(0)), byte(3) << 16 | byte(2) << 8 | byte(1)};
}

void Controller::drain()
{
    m_link.FlushPort();
}

void Controller::startEnrolment(int slot)
{
    m_waitReplyLength = EnrolReplyLength;
    m_link.write(frame({Prefix, CmdSetupTrinket + slot}));
}

void Controller::startTest()
{
    m_waitReplyLength = TestReplyLength;
    m_link.write(frame({Prefix, CmdTestTrinket}));
    m_link.FlushPort();
}

void Controller::cancelWait()
{
    m_link.write(frame({0x00, 0x00}));
}

QByteArray Controller::pollWaitReply()
{
    const int length = m_waitReplyLength;
    SerialLink::ReadResult r = m_link.read(length, true);
    if (r.ok && !r.data.isEmpty() && r.data.size() < length) {
        const SerialLink::ReadResult rest = m_link.readWithin(length - int(r.data.size()), ReplyGapMs, true);
        r.ok = rest.ok;
        r.data += rest.data;
    }
    if (!r.ok)
        fail(m_link, DeviceTexts::portReadError());
    return r.data.size() >= length ? r.data : QByteArray();
}

void Controller::takeCancelAnswer()
{
    m_link.read(m_waitReplyLength, true);
}

void Controller::checkEnrolReply(const QByteArray& reply)
{
    if (reply.at(0) != Ack)
        fail(m_link, DeviceTexts::enrolError());
}

bool Controller::checkTestReply(const QByteArray& reply)
{
    if (reply.at(1) == Ack)
        return true;
    m_link.traceError(DeviceTexts::testError());
    return false;
}

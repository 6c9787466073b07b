#include "controller.h"

#include "deviceerror.h"
#include "devicetexts.h"
#include "seriallink.h"

#include <QThread>

namespace {
constexpr char Ack = 'U';
constexpr char Prefix = 'S';
constexpr char CmdReadVersion = 0x10;
constexpr char CmdWriteCell = 0x13;
constexpr char CmdReadCell = 0x14;
constexpr char CmdRecomputeCrc = 0x15;

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

// The three checks every reply goes through, in this order.
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

int Controller::ReadTriple(int slot)
{
    const int base = m_map.TrinketBase + 3 * slot;
    const int high = ReadByte(base + 2);
    const int middle = ReadByte(base + 1);
    const int low = ReadByte(base);
    return (high << 16) | (middle << 8) | low;
}

void Controller::WriteTriple(int slot, int value)
{
    const int base = m_map.TrinketBase + 3 * slot;
    WriteByte(base, value);
    WriteByte(base + 1, value >> 8);
    WriteByte(base + 2, value >> 16);
}

void Controller::SetCrc()
{
    m_link.write(frame({Prefix, CmdRecomputeCrc}));
    // The controller needs this long to recompute; its answer is only read afterwards.
    QThread::msleep(CrcPauseMs);
    checkReply(m_link, m_link.read(1), 1, DeviceTexts::crcError(), DeviceTexts::crcError());
}

Model Controller::DefineModel()
{
    const QByteArray data = exchange(frame({Prefix, CmdReadVersion}), 3, DeviceTexts::versionReadError(),
                                     DeviceTexts::versionReadError());
    const int minor = quint8(data.at(0));
    const int major = quint8(data.at(1));
    switch (major) {
    case 1:
        m_map = minor == 1 ? MemoryMap::qm407v11() : MemoryMap::qm407();
        return Model::QM407;
    case 2:
    case 3:
        m_map = MemoryMap::qm407m();
        return Model::QM407M;
    default:
        fail(m_link, DeviceTexts::unknownVersion());
    }
}

#pragma once

#include "memorymap.h"

#include <QByteArray>
#include <QString>

class SerialLink;

// Command frames and device-memory primitives over the serial link. Every method throws
// DeviceError on a failed exchange; nothing is retried.
class Controller final
{
public:
    explicit Controller(SerialLink& link);
    Controller(const Controller&) = delete;
    Controller& operator=(const Controller&) = delete;

    SerialLink& link() { return m_link; }
    const MemoryMap& memoryMap() const { return m_map; }
    void setMemoryMap(const MemoryMap& map) { m_map = map; }

    int ReadByte(int address);
    void WriteByte(int address, int value); // only the low 8 bits go out
    int ReadTriple(int slot);
    void WriteTriple(int slot, int value); // only the low 24 bits go out
    void SetCrc();

    // Sends ReadVersion, replaces the memory map and gives back the detected model.
    // A failed detection leaves the map as it was.
    Model DefineModel();

    // One exchange: writes the request, reads replyLength bytes in one read and applies the
    // three checks with the given messages. Gives back the data bytes before the 'U'.
    QByteArray exchange(const QByteArray& request, int replyLength, const QString& shortReplyMessage,
                        const QString& badAckMessage);

    // Pause before the checksum reply; tests may shorten nothing: it is fixed at 500 ms.
    static constexpr int CrcPauseMs = 500;

private:
    SerialLink& m_link;
    MemoryMap m_map = MemoryMap::initial();
};

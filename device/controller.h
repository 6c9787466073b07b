#pragma once

#include "device/memorymap.h"

#include <QByteArray>
#include <QString>

class SerialLink;

// The controller's protocol: command frames, the acknowledgement and every check of a reply.
// Operations elsewhere call these methods and never write to the link themselves. Every method
// throws DeviceError on a failed exchange; nothing is retried.
class Controller final
{
public:
    explicit Controller(SerialLink& link);
    Controller(const Controller&) = delete;
    Controller& operator=(const Controller&) = delete;

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

    struct VersionReply
    {
        bool complete = false; // three bytes ending in the acknowledgement
        int minor = 0;
        int major = 0;
    };
    // One ReadVersion exchange whose short or unacknowledged reply is reported, not thrown.
    // Throws only when the read call fails. The memory map stays as it is.
    VersionReply readVersion();

    // The run-time counter at CounterBase of the current map, high cell first.
    quint32 readCounter();
    // Low cell first, as the trinket slots.
    void writeCounter(quint32 minutes);

    // One entry as the controller gave it.
    struct JournalEntry
    {
        int index = 0;
        quint8 event = 0;
        quint32 minutes = 0;
    };
    JournalEntry readJournalEntry(int index);

    // Reads and discards stale input until the line falls silent (SerialLink::FlushPort).
    void drain();

    // The waits for a button: the controller answers only once one is pressed, so the reply is
    // polled until it comes or the wait is cancelled. Enrolment into slot 0, 1 or 2 is answered
    // with one byte, the test with the button byte and the acknowledgement. The test request is
    // followed by a drain: what the controller says before a press goes with the stale input.
    void startEnrolment(int slot);
    void startTest();
    // Ends a pending wait; the controller answers with one or two bytes.
    void cancelWait();
    // One read of the pending wait's reply: the whole reply, or nothing yet. A part of a reply
    // is given the rest if it follows at once (a reply may straddle the end of a read); a part
    // that stands alone is noise and dropped.
    QByteArray pollWaitReply();
    // Takes in the controller's answer to cancelWait(), whatever it is.
    void takeCancelAnswer();
    // Throws DeviceError unless the enrolment's reply is the acknowledgement.
    void checkEnrolReply(const QByteArray& reply);
    // Whether the test's reply ends in the acknowledgement; a reply that does not is traced.
    bool checkTestReply(const QByteArray& reply);

    // Pause before the checksum reply; tests may shorten nothing: it is fixed at 500 ms.
    static constexpr int CrcPauseMs = 500;

private:
    // One exchange: writes the request, reads replyLength bytes in one read and applies the
    // three checks with the given messages. Gives back the data bytes before the acknowledgement.
    QByteArray exchange(const QByteArray& request, int replyLength, const QString& shortReplyMessage,
                        const QString& badAckMessage);
    int readTripleAt(int base);
    void writeTripleAt(int base, int value);

    SerialLink& m_link;
    MemoryMap m_map = MemoryMap::initial();
    int m_waitReplyLength = 1;
};

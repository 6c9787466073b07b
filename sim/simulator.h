#pragma once

#include <QByteArray>
#include <QString>

#include <array>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

// A QM407 / QM407M controller on the master side of a pseudo-terminal. The tool opens
// slavePath() like a serial port. The simulator answers on its own thread, so code under
// test may block on the port while it works.
class Qm407Simulator final
{
public:
    enum class Variant
    {
        QM407,
        QM407M,
    };

    // How the simulator misbehaves for one command byte (0x10..0x16, or 0x00 for CancelWait).
    struct Fault
    {
        enum Kind
        {
            None,
            NoReply, // swallow the request
            ShortReply, // send only the first replyBytes bytes of the reply
            WrongAck, // replace the final 'U' by ackByte
            Garbage, // send replyBytes bytes of 0xAA instead of the reply
            DropWrite, // acknowledge a WriteCell as usual but leave the cell unchanged
        } kind
            = None;
        int replyBytes = 0;
        quint8 ackByte = 0x00;
        int delayMs = 0; // wait before answering
        int afterCount = 0; // apply only from the (afterCount+1)-th such request on
        int times = 0; // apply to this many requests only; 0: to every one from then on
    };

    struct LogEntry
    {
        bool fromTool; // true: bytes the tool sent; false: bytes the simulator sent
        QByteArray bytes;
        std::chrono::steady_clock::time_point time;
    };

    Qm407Simulator();
    ~Qm407Simulator();
    Qm407Simulator(const Qm407Simulator&) = delete;
    Qm407Simulator& operator=(const Qm407Simulator&) = delete;

    // Opens the pseudo-terminal and starts answering. Gives false on failure.
    bool start();
    // Stops answering and closes the master side: the tool then sees a vanished port.
    void stop();
    QString slavePath() const;

    // Firmware version as ReadVersion reports it (minor, major). Default 1.0, QM407.
    void setVersion(int major, int minor);
    Variant variant() const; // derived from the major version: 2 and 3 are QM407M

    // Memory cells, all 0 at the start; the run-time counter lives in the cells of the
    // current variant's map.
    quint8 cell(int address) const;
    void setCell(int address, quint8 value);
    std::array<quint8, 256> memory() const;
    void setCounter(quint32 minutes); // writes the three counter cells of the current variant

    // Journal entries: index -> (event byte, minutes). Missing entries answer 0, 0.
    void setJournalEntry(int index, quint8 event, quint32 minutes);

    // The next pending enrolment or test wait is answered as if a button was pressed:
    // an enrolment stores code (24 bits) into the slot's cells and replies 'U'
    // (or enrolReply if set); a test replies testByte, 'U' (or testAck). A press made
    // while no such wait is pending is kept for the next one.
    void pressTrinket(quint32 code);
    void pressTestButton(quint8 buttonByte, quint8 ack = 'U');
    void setEnrolReply(quint8 reply); // default 'U'
    bool isWaiting() const; // an enrolment or test wait is pending
    int waitingCommand() const; // 0x12, 0x16..0x18 or 0 when none
    // Blocks until a wait is pending or the time-out runs out.
    bool waitForWait(int timeoutMs);
    // Called on the simulator thread whenever a wait begins (enrolment slot 0..2, or -1 for a test).
    void setOnWait(std::function<void(int slot)> onWait);

    void setFault(quint8 command, const Fault& fault);
    void clearFaults();

    // Pace every sent byte at 9600 baud, 10 bits per byte (about 1.04 ms).
    void setPacing(bool on);

    // Sends raw bytes to the tool unasked (stale input, a chattering line), now or afterMs later.
    void inject(const QByteArray& bytes, int afterMs = 0);
    // Keeps sending a byte every intervalMs until stopped (0 to stop).
    void setChatter(int intervalMs, quint8 byte = 0x42);

    // Called on the simulator thread for every log entry as it is made.
    void setOnFrame(std::function<void(const LogEntry&)> onFrame);

    std::vector<LogEntry> log() const;
    QByteArray received() const; // every byte the tool sent, in order
    QByteArray sent() const; // every byte the simulator sent, in order
    void clearLog();
    int crcRequests() const;

private:
    struct Impl;
    Impl* d;
};

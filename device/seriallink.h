#pragma once

#include <QByteArray>
#include <QString>

#include "device/serialport.h"

class SerialTrace;

// The one serial port of the tool: fixed line settings, synchronous reads with time-outs.
class SerialLink final
{
public:
    SerialLink();
    ~SerialLink();
    Q_DISABLE_COPY_MOVE(SerialLink)

    // Opens the port by the name typed by the user. On failure the port stays closed and
    // *errorText receives the system's own text for the failure.
    bool Open(const QString& name, QString* errorText);
    // Drops DTR and closes; nothing when closed.
    void Close();
    // The handle is open from a successful Open until Close, also while the port is broken.
    bool isOpen() const;

    // Writes the bytes in one call; the outcome is never examined.
    void write(const QByteArray& bytes);

    struct ReadResult
    {
        bool ok = false; // false: the read call failed (closed, broken or vanished port)
        QByteArray data; // up to n bytes; fewer or none when the time-out ran out
    };
    // Reads up to n bytes, waiting at most 10 * n + 100 ms. silenceExpected: running out of
    // time is the normal end (a drain, a wait for a button), not a time-out worth tracing.
    ReadResult read(int n, bool silenceExpected = false);
    // The same with a time-out of the caller's.
    ReadResult readWithin(int n, int timeoutMs, bool silenceExpected);

    // Reads and discards input until a read returns no byte. Throws DeviceError, also when
    // the line is still talking after FlushLimitMs: a peer that never falls silent must not
    // hold the tool forever.
    void FlushPort();
    static constexpr int FlushLimitMs = 2000;
    // Tests shorten the limit to reach it without a long chatter.
    void setFlushLimitMs(int ms) { m_flushLimitMs = ms; }

    // True after the port failed under the tool (line error, adapter pulled, peer gone):
    // every read fails until Close and Open.
    bool isBroken() const { return m_port.hasFailed(); }
    // Bytes received and not yet read, never more than ReadBufferSize.
    qint64 pendingBytes() const;
    static constexpr qint64 ReadBufferSize = 4096;

    // The device path a typed name maps to on this platform ("COM3" -> "/dev/ttyS2" on Linux).
    static QString systemPortName(const QString& name);

    static int readTimeoutMs(int n) { return 10 * n + 100; }

    // Every frame, time-out and error goes to the trace while one is set; none by default.
    void setTrace(SerialTrace* trace) { m_trace = trace; }
    SerialTrace* trace() const { return m_trace; }
    // An error the layers above found in a reply, for the trace.
    void traceError(const QString& message);

private:
    ReadResult readPort(int n, int timeoutMs);

    SerialPort m_port;
    int m_flushLimitMs = FlushLimitMs;
    SerialTrace* m_trace = nullptr;
};

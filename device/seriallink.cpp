#include "device/seriallink.h"

#include "device/deviceerror.h"
#include "device/devicetexts.h"
#include "device/portsystem.h"
#include "device/serialtrace.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>

SerialLink::SerialLink() = default;

SerialLink::~SerialLink()
{
    Close();
}

bool SerialLink::Open(const QString& name, QString* errorText)
{
    Close();

    const QString path = systemPortName(name);
    if (path.isEmpty()) {
        if (errorText)
            *errorText = PortSystem::missingDeviceText();
        return false;
    }
    return m_port.open(path, ReadBufferSize, errorText);
}

void SerialLink::Close()
{
    m_port.close();
}

bool SerialLink::isOpen() const
{
    return m_port.isOpen();
}

qint64 SerialLink::pendingBytes() const
{
    return qMin(m_port.bytesAvailable(), ReadBufferSize);
}

void SerialLink::traceError(const QString& message)
{
    if (m_trace)
        m_trace->error(message);
}

void SerialLink::write(const QByteArray& bytes)
{
    // The bytes go out before they are traced: the trace's file write must not hold up the line.
    const bool complete
        = !isOpen() || m_port.failed() || bytes.isEmpty() || m_port.write(bytes, 10 * int(bytes.size()) + 100);
    if (m_trace) {
        m_trace->sent(bytes);
        if (!complete)
            m_trace->writeIncomplete();
    }
    // Unsent bytes must not go out later as a surprise request.
    if (!complete)
        m_port.discardOutput();
}

SerialLink::ReadResult SerialLink::read(int n, bool silenceExpected)
{
    return readWithin(n, readTimeoutMs(n), silenceExpected);
}

SerialLink::ReadResult SerialLink::readWithin(int n, int timeoutMs, bool silenceExpected)
{
    ReadResult result = readPort(n, timeoutMs);
    if (m_trace) {
        if (result.ok)
            m_trace->received(result.data, n, silenceExpected);
        else
            m_trace->readFailed();
    }
    return result;
}

SerialLink::ReadResult SerialLink::readPort(int n, int timeoutMs)
{
    ReadResult result;
    if (!isOpen())
        return result;

    const QDeadlineTimer deadline(timeoutMs);
    do {
        if (!m_port.readSome(&result.data, n - result.data.size(), int(qMax<qint64>(0, deadline.remainingTime()))))
            return ReadResult {};
    } while (result.data.size() < n && !deadline.hasExpired());
    if (m_port.failed())
        return ReadResult {};
    result.ok = true;
    return result;
}

void SerialLink::FlushPort()
{
    QElapsedTimer draining;
    draining.start();
    for (;;) {
        const ReadResult r = read(1, true);
        // A silent read ends the drain however long it took to get there.
        if (r.ok && r.data.isEmpty())
            return;
        if (!r.ok || draining.elapsed() > m_flushLimitMs) {
            traceError(DeviceTexts::portReadError());
            throw DeviceError(DeviceTexts::portReadError());
        }
    }
}

QString SerialLink::systemPortName(const QString& name)
{
    return PortSystem::devicePath(name);
}

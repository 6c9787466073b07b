#include "seriallink.h"

#include "deviceerror.h"
#include "devicetexts.h"
#include "portsystem.h"
#include "serialtrace.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QSerialPort>

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

    auto port = std::make_unique<QSerialPort>();
    port->setPortName(path);
    port->setBaudRate(QSerialPort::Baud9600);
    port->setDataBits(QSerialPort::Data8);
    port->setParity(QSerialPort::NoParity);
    port->setStopBits(QSerialPort::OneStop);
    port->setFlowControl(QSerialPort::NoFlowControl);
    // A controller that floods the line must not grow our memory: what does not fit waits
    // in the driver, which drops it when its own queue is full.
    port->setReadBufferSize(ReadBufferSize);

    if (!port->open(QIODevice::ReadWrite)) {
        if (errorText) {
            *errorText = PortSystem::openErrorText(path, int(port->error()), port->errorString());
        }
        return false;
    }
    if (!PortSystem::lockExclusive(port->handle())) {
        port->close();
        if (errorText)
            *errorText = PortSystem::busyText() + PortSystem::openFailureHelp(path, 0);
        return false;
    }

    // Neither outcome matters: a pseudo-terminal has no modem lines, and the controller
    // does not depend on them.
    port->setRequestToSend(false);
    port->setDataTerminalReady(true);
    port->clearError();

    // With an event loop running, Qt notices a vanished device on its own and keeps reporting
    // it, spinning the loop; a failed port is therefore released at once and stays failed
    // until the user reopens it.
    QSerialPort* raw = port.get();
    QObject::connect(raw, &QSerialPort::errorOccurred, raw, [this, raw](QSerialPort::SerialPortError error) {
        if (!isFailure(error) || m_port.get() != raw)
            return;
        m_broken = true;
        QMetaObject::invokeMethod(
            raw, [raw] { raw->close(); }, Qt::QueuedConnection);
    });

    m_port = std::move(port);
    m_broken = false;
    return true;
}

bool SerialLink::isFailure(int error)
{
    switch (error) {
    case QSerialPort::NoError:
    case QSerialPort::TimeoutError:
    case QSerialPort::UnsupportedOperationError: // no modem lines, e.g. on a pseudo-terminal
        return false;
    default:
        return true;
    }
}

void SerialLink::Close()
{
    if (!m_port)
        return;
    if (m_port->isOpen()) {
        m_port->setDataTerminalReady(false);
        m_port->close();
    }
    m_port.reset();
    m_broken = false;
}

bool SerialLink::isOpen() const
{
    return m_port != nullptr;
}

qint64 SerialLink::pendingBytes() const
{
    return m_port && m_port->isOpen() ? m_port->bytesAvailable() : 0;
}

// Qt reports a vanished device or a failed transfer through error() while the port still
// looks open; from then on the port is not trusted until it is reopened.
bool SerialLink::portFailed()
{
    if (!m_broken && m_port->isOpen()) {
        const QSerialPort::SerialPortError error = m_port->error();
        if (!isFailure(error)) {
            m_port->clearError();
            return false;
        }
    }
    m_broken = true;
    if (m_port->isOpen())
        m_port->close();
    return true;
}

void SerialLink::traceError(const QString& message)
{
    if (m_trace)
        m_trace->error(message);
}

void SerialLink::write(const QByteArray& bytes)
{
    if (m_trace)
        m_trace->sent(bytes);
    if (!isOpen() || portFailed() || bytes.isEmpty())
        return;
    m_port->write(bytes);
    if (!m_port->waitForBytesWritten(10 * int(bytes.size()) + 100)) {
        if (m_trace)
            m_trace->writeIncomplete();
        // Unsent bytes must not go out later as a surprise request.
        if (!portFailed())
            m_port->clear(QSerialPort::Output);
    }
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
    if (!isOpen() || portFailed())
        return result;

    const QDeadlineTimer deadline(timeoutMs);
    while (result.data.size() < n) {
        if (m_port->bytesAvailable() > 0) {
            result.data += m_port->read(n - result.data.size());
            continue;
        }
        const qint64 left = deadline.remainingTime();
        if (left <= 0)
            break;
        if (!m_port->waitForReadyRead(int(left)) && portFailed())
            return ReadResult {};
    }
    if (portFailed())
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

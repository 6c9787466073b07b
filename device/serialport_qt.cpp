#include "device/serialport.h"

#include "device/lowlatency.h"
#include "device/portsystem.h"

#include <QSerialPort>

#include <cerrno>

#include <sys/file.h>
#include <unistd.h>

namespace {
// The whole text of a failed open: the system's own text first, then the device and what may
// help. A permission failure on an accessible device is the lock being refused: "busy".
QString openErrorText(const QString& path, QSerialPort::SerialPortError error, const QString& qtText)
{
    int code = 0;
    QString text = qtText;
    if (error == QSerialPort::PermissionError) {
        const QByteArray local = path.toLocal8Bit();
        code = ::access(local.constData(), R_OK | W_OK) == 0 ? EBUSY : errno;
        text = PortSystem::errorText(code);
    } else if (error == QSerialPort::DeviceNotFoundError) {
        code = ENOENT;
    }
    return text + PortSystem::openFailureHelp(path, code);
}

// An advisory exclusive lock on top of the tty's own exclusive mode, which does not hold for root.
bool lockExclusive(qintptr handle)
{
    return ::flock(int(handle), LOCK_EX | LOCK_NB) == 0;
}
} // namespace

LowLatency::Request LowLatency::onOpen = &LowLatency::request;

struct SerialPort::Impl
{
    QSerialPort port;
    bool failed = false;

    static bool isFailure(QSerialPort::SerialPortError error)
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
};

SerialPort::SerialPort() = default;

SerialPort::~SerialPort()
{
    close();
}

bool SerialPort::open(const QString& path, qint64 bufferSize, QString* errorText)
{
    close();
    auto impl = std::make_unique<Impl>();
    QSerialPort& port = impl->port;
    port.setPortName(path);
    port.setBaudRate(QSerialPort::Baud9600);
    port.setDataBits(QSerialPort::Data8);
    port.setParity(QSerialPort::NoParity);
    port.setStopBits(QSerialPort::OneStop);
    port.setFlowControl(QSerialPort::NoFlowControl);
    // A controller that floods the line must not grow our memory: what does not fit waits
    // in the driver, which drops it when its own queue is full.
    port.setReadBufferSize(bufferSize);

    if (!port.open(QIODevice::ReadWrite)) {
        if (errorText)
            *errorText = openErrorText(path, port.error(), port.errorString());
        return false;
    }
    if (!lockExclusive(port.handle())) {
        port.close();
        if (errorText)
            *errorText = PortSystem::busyText() + PortSystem::openFailureHelp(path, 0);
        return false;
    }

    // Neither outcome matters: a pseudo-terminal has no modem lines, and the controller
    // does not depend on them; a port that refuses low latency merely answers later.
    LowLatency::onOpen(int(port.handle()));
    port.setRequestToSend(false);
    port.setDataTerminalReady(true);
    port.clearError();

    // With an event loop running, Qt notices a vanished device on its own and keeps reporting
    // it, spinning the loop; a failed port is therefore released at once and stays failed
    // until the user reopens it.
    Impl* raw = impl.get();
    QObject::connect(&port, &QSerialPort::errorOccurred, &port, [raw](QSerialPort::SerialPortError error) {
        if (!Impl::isFailure(error))
            return;
        raw->failed = true;
        QMetaObject::invokeMethod(
            &raw->port, [raw] { raw->port.close(); }, Qt::QueuedConnection);
    });
    d = std::move(impl);
    return true;
}

void SerialPort::close()
{
    if (!d)
        return;
    if (d->port.isOpen()) {
        d->port.setDataTerminalReady(false);
        d->port.close();
    }
    d.reset();
}

// Qt reports a vanished device or a failed transfer through error() while the port still
// looks open; from then on the port is not trusted until it is reopened.
bool SerialPort::failed()
{
    if (!d)
        return true;
    if (!d->failed && d->port.isOpen()) {
        const QSerialPort::SerialPortError error = d->port.error();
        if (!Impl::isFailure(error)) {
            // Clearing emits errorOccurred and translates a text: only when there is something
            // to clear, not on every transfer.
            if (error != QSerialPort::NoError)
                d->port.clearError();
            return false;
        }
    }
    d->failed = true;
    if (d->port.isOpen())
        d->port.close();
    return true;
}

bool SerialPort::hasFailed() const
{
    return d && d->failed;
}

qint64 SerialPort::bytesAvailable() const
{
    return d && d->port.isOpen() ? d->port.bytesAvailable() : 0;
}

bool SerialPort::readSome(QByteArray* into, qint64 n, int waitMs)
{
    if (failed())
        return false;
    if (d->port.bytesAvailable() == 0 && waitMs > 0 && !d->port.waitForReadyRead(waitMs) && failed())
        return false;
    const qint64 had = into->size();
    const qint64 want = qMin(n, d->port.bytesAvailable());
    if (want > 0) {
        into->resize(had + want);
        into->resize(had + qMax<qint64>(0, d->port.read(into->data() + had, want)));
    }
    return true;
}

bool SerialPort::write(const QByteArray& bytes, int waitMs)
{
    if (failed())
        return false;
    // A request is a few bytes the driver always has room for: handed to it directly they leave
    // at once, where the port's own buffer would first poll for room and switch its write
    // notifier on and off. Whatever the driver does not take, or an error, goes the port's way,
    // which waits for room and reports the failure.
    qint64 sent = 0;
    if (d->port.bytesToWrite() == 0) {
        const ssize_t n = ::write(int(d->port.handle()), bytes.constData(), size_t(bytes.size()));
        sent = qMax<qint64>(0, n);
    }
    if (sent == bytes.size())
        return true;
    d->port.write(bytes.constData() + sent, bytes.size() - sent);
    return d->port.waitForBytesWritten(waitMs);
}

void SerialPort::discardOutput()
{
    if (!failed())
        d->port.clear(QSerialPort::Output);
}

#pragma once

#include <QByteArray>
#include <QString>

#include <memory>

// The system half of SerialLink: one implementation per platform (serialport_qt.cpp with Qt
// Serial Port, serialport_win.cpp on the Win32 comm API), chosen by the build. Line settings,
// the 4 KiB bound, time-outs and the trace are SerialLink's, written once.
class SerialPort final
{
public:
    SerialPort();
    ~SerialPort();
    Q_DISABLE_COPY_MOVE(SerialPort)

    // Opens the device exclusively at 9600 8N1 without flow control, RTS low and DTR high, with
    // at most bufferSize received bytes kept. On failure *errorText gets the system's text for
    // it followed by PortSystem::openFailureHelp.
    bool open(const QString& path, qint64 bufferSize, QString* errorText);
    // Drops DTR and closes; nothing when closed.
    void close();
    bool isOpen() const { return d != nullptr; }

    // Appends up to n received bytes to *into, waiting at most waitMs for the first one when
    // none is there. False when the port failed (line error, adapter pulled, peer gone): a read
    // that brings nothing is told apart from a device that has gone.
    bool readSome(QByteArray* into, qint64 n, int waitMs);
    // Sends the bytes; false when they were not all out within waitMs.
    bool write(const QByteArray& bytes, int waitMs);
    // Drops whatever is still waiting to be sent.
    void discardOutput();
    // Bytes received and not yet read.
    qint64 bytesAvailable() const;
    // Checks the port: true once it has failed under the tool, and it is then closed.
    bool failed();
    // Whether a failure has been seen, without asking the system again.
    bool hasFailed() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

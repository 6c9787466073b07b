#include "device/serialport.h"

#include "device/portsystem.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

// The Win32 comm API: CreateFile with share mode 0 is the exclusive hold, ReadFile waits for
// the first byte through the comm time-outs, ClearCommError tells a quiet line from a gone one.

struct SerialPort::Impl
{
    HANDLE handle = INVALID_HANDLE_VALUE;
    bool failed = false;
    DWORD readWait = MAXDWORD - 1; // the wait the comm time-outs are set for; none yet

    bool setReadWait(DWORD waitMs)
    {
        if (waitMs == readWait)
            return true;
        // MAXDWORD interval with a MAXDWORD multiplier: return at once with what is there, or
        // with the first bytes to come within the constant; zero constant: never wait.
        COMMTIMEOUTS t {};
        t.ReadIntervalTimeout = MAXDWORD;
        t.ReadTotalTimeoutMultiplier = waitMs ? MAXDWORD : 0;
        t.ReadTotalTimeoutConstant = waitMs;
        t.WriteTotalTimeoutConstant = 0;
        t.WriteTotalTimeoutMultiplier = 0;
        if (!SetCommTimeouts(handle, &t))
            return false;
        readWait = waitMs;
        return true;
    }

    // False when the device is no longer there (a pulled adapter fails every call).
    bool status(COMSTAT* state)
    {
        DWORD errors = 0;
        return ClearCommError(handle, &errors, state) != 0;
    }

    void fail()
    {
        failed = true;
        if (handle != INVALID_HANDLE_VALUE) {
            CloseHandle(handle);
            handle = INVALID_HANDLE_VALUE;
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
    // "COM10" and up are reachable only through the device namespace.
    const QString device = path.startsWith(QLatin1String("\\\\.\\")) ? path : QStringLiteral("\\\\.\\") + path;
    const HANDLE h = CreateFileW(reinterpret_cast<LPCWSTR>(device.utf16()), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        if (errorText)
            *errorText = PortSystem::errorText(int(code)) + PortSystem::openFailureHelp(path, int(code));
        return false;
    }
    DCB dcb {};
    dcb.DCBlength = sizeof dcb;
    bool ok = GetCommState(h, &dcb) != 0;
    if (ok) {
        dcb.BaudRate = CBR_9600;
        dcb.ByteSize = 8;
        dcb.Parity = NOPARITY;
        dcb.StopBits = ONESTOPBIT;
        dcb.fBinary = TRUE;
        // No parity check, no flow control, nothing dropped, no abort on a line error.
        dcb.fParity = dcb.fOutxCtsFlow = dcb.fOutxDsrFlow = dcb.fDsrSensitivity = FALSE;
        dcb.fOutX = dcb.fInX = dcb.fNull = dcb.fAbortOnError = FALSE;
        dcb.fDtrControl = DTR_CONTROL_ENABLE;
        dcb.fRtsControl = RTS_CONTROL_DISABLE;
        ok = SetCommState(h, &dcb) != 0;
    }
    if (!ok) {
        const DWORD code = GetLastError();
        CloseHandle(h);
        if (errorText)
            *errorText = PortSystem::errorText(int(code)) + PortSystem::openFailureHelp(path, int(code));
        return false;
    }
    // The driver's own queue holds what the tool has not read yet; the size is a request.
    SetupComm(h, DWORD(bufferSize), DWORD(bufferSize));
    PurgeComm(h, PURGE_RXCLEAR | PURGE_TXCLEAR);
    d = std::make_unique<Impl>();
    d->handle = h;
    return true;
}

void SerialPort::close()
{
    if (!d)
        return;
    if (d->handle != INVALID_HANDLE_VALUE) {
        EscapeCommFunction(d->handle, CLRDTR);
        CloseHandle(d->handle);
    }
    d.reset();
}

bool SerialPort::failed()
{
    if (!d)
        return true;
    if (!d->failed && !d->status(nullptr))
        d->fail();
    return d->failed;
}

bool SerialPort::hasFailed() const
{
    return d && d->failed;
}

qint64 SerialPort::bytesAvailable() const
{
    if (!d || d->failed)
        return 0;
    COMSTAT state {};
    return d->status(&state) ? qint64(state.cbInQue) : 0;
}

bool SerialPort::readSome(QByteArray* into, qint64 n, int waitMs)
{
    if (failed())
        return false;
    if (!d->setReadWait(DWORD(qMax(0, waitMs)))) {
        d->fail();
        return false;
    }
    const qsizetype at = into->size();
    into->resize(at + n);
    DWORD got = 0;
    const bool ok = ReadFile(d->handle, into->data() + at, DWORD(n), &got, nullptr) != 0;
    into->resize(at + qsizetype(got));
    // A read that brings nothing looks the same for a quiet line and a pulled adapter.
    if (!ok || (got == 0 && !d->status(nullptr))) {
        d->fail();
        return false;
    }
    return true;
}

bool SerialPort::write(const QByteArray& bytes, int waitMs)
{
    if (failed())
        return false;
    COMMTIMEOUTS t {};
    GetCommTimeouts(d->handle, &t);
    t.WriteTotalTimeoutConstant = DWORD(qMax(1, waitMs));
    t.WriteTotalTimeoutMultiplier = 0;
    SetCommTimeouts(d->handle, &t);
    DWORD put = 0;
    if (!WriteFile(d->handle, bytes.constData(), DWORD(bytes.size()), &put, nullptr)) {
        if (!d->status(nullptr))
            d->fail();
        return false;
    }
    return put == DWORD(bytes.size());
}

void SerialPort::discardOutput()
{
    if (!failed())
        PurgeComm(d->handle, PURGE_TXABORT | PURGE_TXCLEAR);
}

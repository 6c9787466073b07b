#include "app/instancemarker.h"

#include <QLocalServer>

#include <stdexcept>

#include <windows.h>

// The marker is a named mutex in the session's namespace, dropped by the system with the last
// handle; the channel is a named pipe whose name carries the user's name and which only the
// user may open. Pipe names are machine-wide, so each end also checks who holds the other.

namespace {
[[noreturn]] void throwSystemError(DWORD code)
{
    throw std::runtime_error(InstanceMarker::systemErrorText(static_cast<int>(code)).toStdString());
}

// The user a process runs as, as the bytes of its security identifier; empty when unknown.
QByteArray processUser(HANDLE process)
{
    HANDLE token = nullptr;
    if (!::OpenProcessToken(process, TOKEN_QUERY, &token))
        return {};
    DWORD size = 0;
    ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    QByteArray buffer(int(size), '\0');
    QByteArray sid;
    if (size && ::GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) {
        const PSID user = reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid;
        sid = QByteArray(static_cast<const char*>(user), int(::GetLengthSid(user)));
    }
    ::CloseHandle(token);
    return sid;
}

QString userName()
{
    wchar_t name[256];
    DWORD size = 256;
    if (!::GetUserNameW(name, &size))
        return QString();
    return QString::fromWCharArray(name);
}
} // namespace

InstanceMarker::InstanceMarker(const QString& marker)
    : m_name(marker)
{
    m_name.replace(QLatin1Char('\\'), QLatin1Char('_'));
}

InstanceMarker::~InstanceMarker()
{
    release();
}

bool InstanceMarker::tryAcquire()
{
    if (m_handle != -1)
        return true;
    const std::wstring name = markerLocation().toStdWString();
    HANDLE mutex = ::CreateMutexW(nullptr, FALSE, name.c_str());
    if (!mutex)
        throwSystemError(::GetLastError());
    if (::GetLastError() == ERROR_ALREADY_EXISTS) {
        ::CloseHandle(mutex);
        return false;
    }
    m_handle = reinterpret_cast<qintptr>(mutex);
    return true;
}

void InstanceMarker::release()
{
    if (m_handle == -1)
        return;
    ::CloseHandle(reinterpret_cast<HANDLE>(m_handle));
    m_handle = -1;
}

bool InstanceMarker::held() const
{
    return m_handle != -1;
}

QString InstanceMarker::channelName() const
{
    return m_name + QLatin1Char('-') + userName();
}

QString InstanceMarker::markerLocation() const
{
    return QStringLiteral("Local\\") + m_name + QLatin1Char('-') + userName();
}

void InstanceMarker::prepareServer(QLocalServer& server)
{
    server.setSocketOptions(QLocalServer::UserAccessOption);
}

bool InstanceMarker::peerIsSameUser(qintptr socketDescriptor)
{
    const HANDLE pipe = reinterpret_cast<HANDLE>(socketDescriptor);
    ULONG server = 0;
    ULONG client = 0;
    ::GetNamedPipeServerProcessId(pipe, &server);
    ::GetNamedPipeClientProcessId(pipe, &client);
    const ULONG peer = server == ::GetCurrentProcessId() ? client : server;
    if (peer == 0)
        return false;
    const HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, peer);
    if (!process)
        return false;
    const QByteArray theirs = processUser(process);
    ::CloseHandle(process);
    return !theirs.isEmpty() && theirs == processUser(::GetCurrentProcess());
}

QByteArray InstanceMarker::ownCommandLine()
{
    return QString::fromWCharArray(::GetCommandLineW()).toLocal8Bit();
}

QString InstanceMarker::systemErrorText(int code)
{
    if (code == 0)
        return QStringLiteral("A call to an OS function failed");
    wchar_t* text = nullptr;
    ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    const QString message = text ? QString::fromWCharArray(text).trimmed() : QString();
    ::LocalFree(text);
    return QStringLiteral("System Error.  Code: %1.\r\n%2").arg(code).arg(message);
}

#include "device/portsystem.h"

#include <QStringList>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// After windows.h:
#include <devguid.h>
#include <setupapi.h>

namespace PortSystem {

QString devicePath(const QString& name)
{
    return name;
}

QString errorText(int code)
{
    wchar_t buffer[512] = {};
    const DWORD len = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, DWORD(code),
                                     0, buffer, 511, nullptr);
    return QString::fromWCharArray(buffer, int(len)).trimmed();
}

QString deviceHint(const QString&, int)
{
    return {};
}

namespace {
    QString wideText(const wchar_t* text)
    {
        return QString::fromWCharArray(text);
    }

    // "COM5" -> "USB Serial Port (COM5)" and its maker, from the device manager's records.
    QList<PortEntry> describedPorts()
    {
        QList<PortEntry> ports;
        const HDEVINFO set = SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
        if (set == INVALID_HANDLE_VALUE)
            return ports;
        SP_DEVINFO_DATA device {};
        device.cbSize = sizeof device;
        for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &device); ++i) {
            const HKEY key = SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
            if (key == INVALID_HANDLE_VALUE)
                continue;
            wchar_t name[256] = {};
            DWORD size = sizeof name - sizeof(wchar_t);
            DWORD type = 0;
            const bool named = RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE*>(name), &size)
                    == ERROR_SUCCESS
                && type == REG_SZ;
            RegCloseKey(key);
            if (!named)
                continue;
            QStringList about;
            for (const DWORD property : {DWORD(SPDRP_FRIENDLYNAME), DWORD(SPDRP_MFG)}) {
                wchar_t value[256] = {};
                if (SetupDiGetDeviceRegistryPropertyW(set, &device, property, nullptr, reinterpret_cast<BYTE*>(value),
                                                      sizeof value - sizeof(wchar_t), nullptr)) {
                    const QString part = wideText(value);
                    if (!part.isEmpty() && !about.contains(part))
                        about += part;
                }
            }
            ports += PortEntry {wideText(name), about.join(QStringLiteral(", "))};
        }
        SetupDiDestroyDeviceInfoList(set);
        return ports;
    }
} // namespace

QList<PortEntry> availablePorts()
{
    QList<PortEntry> ports;
    const QList<PortEntry> described = describedPorts();
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) != ERROR_SUCCESS)
        return described;
    for (DWORD i = 0;; ++i) {
        wchar_t valueName[256] = {};
        DWORD nameLength = 255;
        wchar_t data[256] = {};
        DWORD dataSize = sizeof data - sizeof(wchar_t);
        DWORD type = 0;
        const LONG rc
            = RegEnumValueW(key, i, valueName, &nameLength, nullptr, &type, reinterpret_cast<BYTE*>(data), &dataSize);
        if (rc == ERROR_NO_MORE_ITEMS)
            break;
        if (rc != ERROR_SUCCESS || type != REG_SZ)
            continue;
        PortEntry entry {wideText(data), QString()};
        for (const PortEntry& known : described) {
            if (known.name.compare(entry.name, Qt::CaseInsensitive) == 0)
                entry.about = known.about;
        }
        bool listed = false;
        for (const PortEntry& port : ports)
            listed = listed || port.name.compare(entry.name, Qt::CaseInsensitive) == 0;
        if (!listed && !entry.name.isEmpty())
            ports += entry;
    }
    RegCloseKey(key);
    return ports;
}

const int BusyCode = ERROR_ACCESS_DENIED;
const int MissingDeviceCode = ERROR_FILE_NOT_FOUND;

} // namespace PortSystem

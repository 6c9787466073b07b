#pragma once

#include <QList>
#include <QString>

// The few things about serial ports that differ between platforms: portsystem_posix.cpp and
// portsystem_win.cpp, chosen by the build.
namespace PortSystem {

// The device a name typed by the user refers to. Empty for an empty name.
QString devicePath(const QString& name);

// The system's own text for an error code of the platform.
QString errorText(int code);

// What follows the system's text for a failed open of path with the platform's error code:
// the device's name and, for a refused access or a missing device, what to do about it.
QString openFailureHelp(const QString& path, int code);
// Its platform part: what to do about a refused access or a missing device; empty otherwise.
QString deviceHint(const QString& path, int code);

// Ports the system knows of, as the names the tool opens, each with what the system says about
// it ("description, manufacturer"). Stable aliases (/dev/serial/by-id/...) come after their port;
// on Windows, the COM ports the registry lists, with their names in the device manager.
struct PortEntry
{
    QString name;
    QString about;
};
QList<PortEntry> availablePorts();

// The system's error codes for a port held by someone else and for an open that found no device.
extern const int BusyCode;
extern const int MissingDeviceCode;

// The text of a port held by someone else.
inline QString busyText()
{
    return errorText(BusyCode);
}

// The text of an open that found no device (the empty name included).
inline QString missingDeviceText()
{
    return errorText(MissingDeviceCode);
}

} // namespace PortSystem

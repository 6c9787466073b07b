#pragma once

#include <QList>
#include <QString>

// The few things about serial ports that differ between platforms.
namespace PortSystem {

// The device a name typed by the user refers to. Empty for an empty name.
QString devicePath(const QString& name);

// The system's own text for an error code of the platform.
QString errorText(int code);

// The whole text of a failed open: the system's own text first, then the device and what may
// help. serialPortError is Qt's kind of failure, qtText Qt's text for it. A permission failure
// on an accessible device is the lock being refused: "busy".
QString openErrorText(const QString& path, int serialPortError, const QString& qtText);

// What follows the system's text for a failed open of path with the platform's error code:
// the device's name and, for a refused access or a missing device, what to do about it.
QString openFailureHelp(const QString& path, int code);

// Ports the system knows of, as the names the tool opens, each with what the system says about
// it ("description, manufacturer"). Stable aliases (/dev/serial/by-id/...) come after their port.
struct PortEntry
{
    QString name;
    QString about;
};
QList<PortEntry> availablePorts();

// The text of a port held by someone else.
QString busyText();

// The text of an open that found no device (the empty name included).
QString missingDeviceText();

// Takes an advisory exclusive lock on an open port handle, so that a second opener fails
// even where the tty's own exclusive mode is ignored (it does not hold for root).
bool lockExclusive(qintptr handle);

} // namespace PortSystem

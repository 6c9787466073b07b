#pragma once

#include <QString>

// The few things about serial ports that differ between platforms.
namespace PortSystem {

// The device a name typed by the user refers to. Empty for an empty name.
QString devicePath(const QString& name);

// The system's own text for an error code of the platform.
QString errorText(int code);

// Text for a failed open that Qt reported as a permission problem: either the system's
// access text, or "busy" when the device is accessible and only the lock was refused.
QString permissionErrorText(const QString& path);

// The text of a port held by someone else.
QString busyText();

// The text of an open that found no device (the empty name included).
QString missingDeviceText();

// Takes an advisory exclusive lock on an open port handle, so that a second opener fails
// even where the tty's own exclusive mode is ignored (it does not hold for root).
bool lockExclusive(qintptr handle);

} // namespace PortSystem

#pragma once

#include <QSettings>

#include <memory>

// Where the settings store lives when no folder is given: systemstore_win.cpp and
// systemstore_posix.cpp, chosen by the build.
namespace SystemStore {

// The key path every value lives under, on every platform.
inline QString keyPath()
{
    return QStringLiteral("Software\\Pralvek\\TavroQM407");
}

std::unique_ptr<QSettings> open();

} // namespace SystemStore

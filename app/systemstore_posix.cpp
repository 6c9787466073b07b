#include "app/systemstore.h"

#include <QStandardPaths>

namespace SystemStore {

// No registry here: an INI file with the same key path in the user's configuration folder.
std::unique_ptr<QSettings> open()
{
    return std::make_unique<QSettings>(QStandardPaths::writableLocation(QStandardPaths::ConfigLocation)
                                           + QStringLiteral("/Pralvek/TavroQM407.ini"),
                                       QSettings::IniFormat);
}

} // namespace SystemStore

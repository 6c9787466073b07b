#include "device/portsystem.h"

namespace PortSystem {

QString openFailureHelp(const QString& path, int code)
{
    return QStringLiteral("\n\nУстройство: %1.").arg(path) + deviceHint(path, code);
}

} // namespace PortSystem

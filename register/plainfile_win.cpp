#include "register/plainfile.h"

#include <QFile>
#include <QFileInfo>

// Named pipes and devices are not reached through a chosen file name here.
bool openPlainFileForReading(QFile& file, const QString& path)
{
    file.setFileName(path);
    return QFileInfo(path).isFile() && file.open(QIODevice::ReadOnly);
}

#include "device/tracefile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

// The local application data folder is the user's own already; only the kind of file is checked.
namespace TraceFile {

bool makeFolder(const QString& folder, QString* error)
{
    if (QDir().mkpath(folder))
        return true;
    *error = QStringLiteral("Cannot create the folder ") + QDir::toNativeSeparators(folder);
    return false;
}

bool openLog(QFile& file, const QString& folder, const QString& name, QString* error)
{
    const QString path = QDir(folder).filePath(name);
    const QFileInfo info(path);
    if (info.exists() && (!info.isFile() || info.isSymLink())) {
        *error = QStringLiteral("Not a regular file");
        return false;
    }
    file.setFileName(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Append))
        return true;
    *error = file.errorString();
    return false;
}

} // namespace TraceFile

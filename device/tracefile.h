#pragma once

#include <QString>

class QFile;

// The trace log's file system calls, one source per platform. The folder is the user's own:
// made readable by its owner only and never reached through a link; the log is a regular file
// readable by its owner only, and a FIFO or a link in its place is refused without blocking.
namespace TraceFile {

// Makes the folder (its parents as usual); false with the reason.
bool makeFolder(const QString& folder, QString* error);
// Opens the log named `name` in the folder for appending, creating it; false with the reason.
bool openLog(QFile& file, const QString& folder, const QString& name, QString* error);

} // namespace TraceFile

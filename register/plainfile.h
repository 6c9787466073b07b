#pragma once

#include <QString>

class QFile;

// Opens a file the installer chose, for reading. Only a regular file is opened: a FIFO or a
// device in its place is refused at once instead of holding the window until a writer comes.
bool openPlainFileForReading(QFile& file, const QString& path);

#pragma once

#include "error/outcome.h"

#include "device/ops/journal.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

// What the installer keeps of a controller on disk: the journal as text and CSV, memory images
// in a folder per installation. No widgets, no dialogs here.
namespace KeptFiles {

// Lines as a text file: UTF-8 with a byte-order mark, each line ended by CR LF.
QByteArray textFile(const QStringList& lines);

// One row per entry: index, event code, event text, minutes, time as the journal shows it.
// UTF-8 with a byte-order mark, ';' between fields, CR LF rows, quoted where a field needs it.
QByteArray journalCsv(const QList<DeviceOps::JournalEntry>& entries);
QString csvField(const QString& field);

// A console number as a folder name: characters no file system takes become '_', as do a
// leading dot and trailing ones; a Windows device name (CON, NUL, COM1, LPT1...) gets a '_'.
QString folderName(const QString& consoleNumber);
// The folder of one installation's files beside the data file.
QString installationFolder(const QString& dataFolder, const QString& consoleNumber);

// "2026-12-09_132040": image names sort by the time they were taken.
QString imageStamp(const QDateTime& at);
// "Журнал_101_2026-12-09".
QString journalBaseName(const QString& consoleNumber, const QDate& day);

// Where the dump text of an image goes: beside it under the same name with ".txt", or, when
// that names the image itself, the image's whole name with ".txt" after it. Never the image.
QString dumpTextPath(const QString& imagePath);

// Writes the file whole, or gives the reason it could not.
Outcome writeFile(const QString& path, const QByteArray& bytes);
// Reads a memory image: exactly 256 bytes.
Expected<QByteArray> readImage(const QString& path);

} // namespace KeptFiles

#pragma once

#include <QString>
#include <QStringList>

class QWidget;

// Every file name the tool asks the installer for goes through here: one place for the dialogs
// and the test seam. An empty name means the installer cancelled.
namespace FileDialog {
QString saveFileName(QWidget* parent, const QString& caption, const QString& proposedPath, const QString& filter);
QString openFileName(QWidget* parent, const QString& caption, const QString& folder, const QString& filter);
} // namespace FileDialog

// Test seam: queued answers instead of dialogs, and a record of the names proposed.
class FileDialogSeam final
{
public:
    static void pushAnswer(const QString& path); // an empty path answers Cancel
    static QStringList proposed(); // the proposed path (save) or folder (open) of every question
    static void clear();
};

#pragma once

#include "app/uiseam.h"

#include <QList>
#include <QString>
#include <QStringList>

class QWidget;

// Every file name the tool asks the installer for goes through here: one place for the dialogs
// and the test seam. An empty name means the installer cancelled.
namespace FileDialog {
QString saveFileName(QWidget* parent, const QString& caption, const QString& proposedPath, const QString& filter);
QString openFileName(QWidget* parent, const QString& caption, const QString& folder, const QString& filter);
} // namespace FileDialog

struct FileDialogAsked
{
    QString caption;
    bool save;
    QString proposed; // the proposed path (save) or folder (open)
    QString answer;
};

// Test seam: queued answers and a record of every request. In unattended mode a request without
// a queued answer is cancelled and counted as unexpected; no real dialog is shown.
class FileDialogSeam final : public UiSeamFront<FileDialogAsked, QString>
{
public:
    using Asked = FileDialogAsked;
    static QList<Asked> asked() { return seam().requests(); }
    static QStringList proposed(); // the proposed path or folder of every request
};

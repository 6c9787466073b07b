#pragma once

#include <QList>
#include <QString>

class QWidget;

// Every file name the tool asks the person for goes through here: one place for the dialogs
// and the test seam. An empty name means the dialog was cancelled.
QString AskOpenFileName(QWidget* parent, const QString& caption, const QString& filter);
QString AskSaveFileName(QWidget* parent, const QString& caption, const QString& suggested, const QString& filter);

// Test seam: queued answers and a record of every request. In unattended mode a request without
// a queued answer is cancelled and counted as unexpected; no real dialog is shown.
class FileDialogSeam final
{
public:
    struct Asked
    {
        QString caption;
        bool save;
        QString answer;
    };

    static void pushAnswer(const QString& path);
    static void setUnattended(bool on);
    static int unexpectedCount();
    static QList<Asked> asked();
    static void clear(); // forgets the record, the queued answers and the count
};

#include "filedialog.h"

#include <QFileDialog>
#include <QQueue>

namespace {
QQueue<QString> g_answers;
QStringList g_proposed;

bool answerQueued(const QString& proposed, QString* answer)
{
    g_proposed << proposed;
    if (g_answers.isEmpty())
        return false;
    *answer = g_answers.dequeue();
    return true;
}
} // namespace

namespace FileDialog {

QString saveFileName(QWidget* parent, const QString& caption, const QString& proposedPath, const QString& filter)
{
    QString answer;
    if (answerQueued(proposedPath, &answer))
        return answer;
    return QFileDialog::getSaveFileName(parent, caption, proposedPath, filter);
}

QString openFileName(QWidget* parent, const QString& caption, const QString& folder, const QString& filter)
{
    QString answer;
    if (answerQueued(folder, &answer))
        return answer;
    return QFileDialog::getOpenFileName(parent, caption, folder, filter);
}

} // namespace FileDialog

void FileDialogSeam::pushAnswer(const QString& path)
{
    g_answers.enqueue(path);
}

QStringList FileDialogSeam::proposed()
{
    return g_proposed;
}

void FileDialogSeam::clear()
{
    g_answers.clear();
    g_proposed.clear();
}

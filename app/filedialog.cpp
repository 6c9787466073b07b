#include "filedialog.h"

#include <QFileDialog>

#include <deque>

namespace {

struct SeamState
{
    std::deque<QString> answers;
    bool unattended = false;
    int unexpected = 0;
    QList<FileDialogSeam::Asked> asked;
};

SeamState& seam()
{
    static SeamState state;
    return state;
}

template <class Show> QString ask(const QString& caption, bool save, const QString& proposed, Show&& show)
{
    SeamState& s = seam();
    FileDialogSeam::Asked asked {caption, save, proposed, QString()};
    if (!s.answers.empty()) {
        asked.answer = s.answers.front();
        s.answers.pop_front();
    } else if (s.unattended) {
        ++s.unexpected;
    } else {
        asked.answer = show();
    }
    s.asked.append(asked);
    return asked.answer;
}

} // namespace

namespace FileDialog {

QString saveFileName(QWidget* parent, const QString& caption, const QString& proposedPath, const QString& filter)
{
    return ask(caption, true, proposedPath,
               [&] { return QFileDialog::getSaveFileName(parent, caption, proposedPath, filter); });
}

QString openFileName(QWidget* parent, const QString& caption, const QString& folder, const QString& filter)
{
    return ask(caption, false, folder, [&] { return QFileDialog::getOpenFileName(parent, caption, folder, filter); });
}

} // namespace FileDialog

void FileDialogSeam::pushAnswer(const QString& path)
{
    seam().answers.push_back(path);
}

void FileDialogSeam::setUnattended(bool on)
{
    seam().unattended = on;
}

int FileDialogSeam::unexpectedCount()
{
    return seam().unexpected;
}

QList<FileDialogSeam::Asked> FileDialogSeam::asked()
{
    return seam().asked;
}

QStringList FileDialogSeam::proposed()
{
    QStringList paths;
    for (const Asked& asked : seam().asked)
        paths << asked.proposed;
    return paths;
}

void FileDialogSeam::clear()
{
    SeamState& s = seam();
    s.answers.clear();
    s.unexpected = 0;
    s.asked.clear();
}

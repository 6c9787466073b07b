#include "app/filedialog.h"

#include <QFileDialog>

namespace {

// Unattended, a request is cancelled.
template <class Show> QString ask(const QString& caption, bool save, const QString& proposed, Show&& show)
{
    return FileDialogSeam::seam().ask({caption, save, proposed, QString()}, QString(), std::forward<Show>(show));
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

QStringList FileDialogSeam::proposed()
{
    QStringList paths;
    for (const Asked& asked : seam().requests())
        paths << asked.proposed;
    return paths;
}

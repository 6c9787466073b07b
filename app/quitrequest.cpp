#include "app/quitrequest.h"

#include "app/auxwindow.h"

#include <QApplication>
#include <QDialog>
#include <QPointer>
#include <QTimer>

namespace {
bool g_requested = false;
bool g_inMainLoop = false;
int g_generation = 0;

void closeModalWindows()
{
    // Innermost first, so each nested loop unwinds in order.
    while (QWidget* modal = QApplication::activeModalWidget()) {
        if (auto* aux = qobject_cast<TAuxWindow*>(modal))
            aux->SetModalResult(TAuxWindow::mrCancel);
        else if (auto* dialog = qobject_cast<QDialog*>(modal))
            dialog->reject();
        else
            modal->close();
        if (QApplication::activeModalWidget() == modal)
            break; // refused to close; leave it to its own loop
    }
}
} // namespace

void QuitRequest::request()
{
    if (g_requested)
        return;
    g_requested = true;
    const int generation = g_generation;
    QTimer::singleShot(0, qApp, [generation] {
        if (generation != g_generation || !g_requested)
            return;
        closeModalWindows();
        // Outside the main loop a quit would only be remembered by the next loop to start.
        // exit(), not quit(): quit() also closes the windows, which queues a second quit that
        // a later loop (an error box of the shut-down) would take and end at once.
        if (g_inMainLoop)
            QCoreApplication::exit(0);
    });
}

bool QuitRequest::requested()
{
    return g_requested;
}

void QuitRequest::reset()
{
    g_requested = false;
    ++g_generation;
}

int QuitRequest::exec()
{
    if (g_requested)
        return 0;
    g_inMainLoop = true;
    QApplication::exec();
    g_inMainLoop = false;
    return 0;
}

#include "app/screenfit.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace ScreenFit {

QPoint inside(const QRect& frame, const QRect& area)
{
    const int x = qMax(area.left(), qMin(frame.left(), area.left() + area.width() - frame.width()));
    const int y = qMax(area.top(), qMin(frame.top(), area.top() + area.height() - frame.height()));
    return {x, y};
}

void keepOnScreen(QWidget* window)
{
    // Before the first showing the frame is not known yet; the window's own size is the best guess.
    const QRect frame(window->pos(), window->isVisible() ? window->frameGeometry().size() : window->size());
    const QScreen* best = QGuiApplication::primaryScreen();
    int bestShare = -1;
    for (const QScreen* each : QGuiApplication::screens()) {
        const QRect common = each->geometry().intersected(frame);
        const int share = common.isEmpty() ? 0 : common.width() * common.height();
        if (share > bestShare) {
            best = each;
            bestShare = share;
        }
    }
    if (best)
        window->move(inside(frame, best->availableGeometry()));
}

} // namespace ScreenFit

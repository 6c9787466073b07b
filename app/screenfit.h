#pragma once

#include <QPoint>
#include <QRect>

class QWidget;

namespace ScreenFit {

// The top-left corner that keeps a frame of this size fully inside the area; a frame larger
// than the area keeps its top-left corner in it, never at a negative offset.
QPoint inside(const QRect& frame, const QRect& area);

// Moves a window fully onto the available area of the screen that holds most of it.
void keepOnScreen(QWidget* window);

} // namespace ScreenFit

#pragma once
#include <QList>
#include <QRect>

class QWidget;

namespace tn::ui {

// The usable areas of every screen, in the desktop's logical coordinates.
QList<QRect> availableScreenAreas();

// Where a window with this frame opens so that it lies wholly on the screens.
QPoint placedOnScreens(const QRect& frame, const QList<QRect>& screens);

// Height the window manager adds above and below the client area: the real one once the window
// is decorated, before that an estimate for a window with a title bar.
int frameExtraHeight(const QWidget* window);

// A fixed-size dialog whose content does not fit `available` (beside its frame) is put into a
// scroll area, so that its buttons stay reachable; true when that happened. Done once.
bool fitDialogContent(QWidget* dialog, int frameExtra, const QRect& available);

// As a window shows: scroll its content when it is taller than its screen, and move it wholly
// onto the screens.
void fitOnScreen(QWidget* window);
void fitOnScreen(QWidget* window, const QList<QRect>& screens);

} // namespace tn::ui

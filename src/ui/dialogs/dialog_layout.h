#pragma once
// Geometry and font shared by the secondary dialogs, which are laid out in dialog units.
#include <QHash>
#include <QRect>
#include <span>

class QWidget;

namespace tn::ui {

struct ControlSpec;

// A font whose texts fit the template's rectangles, as the templates' 8-point font did.
void setDialogFont(QWidget* dialog);

QRect dialogUnitRect(int x, int y, int cx, int cy, qreal dpi);
// A control's rectangle; a drop-down keeps the height its style wants, since the template's
// height includes the open list.
QRect controlRect(const ControlSpec& c, qreal dpi);

qreal dialogDpi(const QWidget* dialog);

// Builds the dialog's table of controls in dialog units.
QHash<int, QWidget*> buildDialogControls(QWidget* dialog, std::span<const ControlSpec> table);

} // namespace tn::ui

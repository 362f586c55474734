#include "ui/dialogs/dialog_layout.h"

#include "ui/widgets/bitmap_dlg.h"
#include "ui/widgets/control_table.h"

#include <QScreen>
#include <QWidget>

namespace tn::ui {

void setDialogFont(QWidget* dialog) {
    QFont f = dialog->font();
    f.setPixelSize(10);
    // Desktop fonts run wider than the one the templates were drawn for.
    f.setStretch(QFont::SemiCondensed);
    dialog->setFont(f);
}

QRect dialogUnitRect(int x, int y, int cx, int cy, qreal dpi) {
    const int left = dialogUnitsToPixelsX(x, dpi);
    const int top = dialogUnitsToPixelsY(y, dpi);
    return {left, top, dialogUnitsToPixelsX(x + cx, dpi) - left,
            dialogUnitsToPixelsY(y + cy, dpi) - top};
}

QRect controlRect(const ControlSpec& c, qreal dpi) {
    QRect r = dialogUnitRect(c.x, c.y, c.cx, c.cy, dpi);
    if (c.kind == ControlKind::EditCombo || c.kind == ControlKind::ListCombo)
        r.setHeight(dialogUnitsToPixelsY(13, dpi));
    return r;
}

qreal dialogDpi(const QWidget* dialog) {
    const QScreen* s = dialog->screen();
    return s ? s->logicalDotsPerInch() : 96.0;
}

} // namespace tn::ui

namespace tn::ui {

QHash<int, QWidget*> buildDialogControls(QWidget* dialog, std::span<const ControlSpec> table) {
    const qreal dpi = dialogDpi(dialog);
    ControlTableContext context;
    context.parent = dialog;
    context.rect = [dpi](const ControlSpec& c) { return controlRect(c, dpi); };
    QHash<int, QWidget*> controls = buildControls(table, context);
    // Texts such as "Log Incoming NULL data " end in a blank a screen reader need not say.
    for (QWidget* w : dialog->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        w->setAccessibleName(w->accessibleName().trimmed());
    return controls;
}

} // namespace tn::ui

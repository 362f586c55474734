#include "ui/dialogs/dialog_table.h"

#include "ui/widgets/bitmap_dlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>

namespace tn::ui {

QRect dialogUnitRect(int x, int y, int cx, int cy, qreal dpi) {
    const int left = dialogUnitsToPixelsX(x, dpi);
    const int top = dialogUnitsToPixelsY(y, dpi);
    return {left, top, dialogUnitsToPixelsX(x + cx, dpi) - left,
            dialogUnitsToPixelsY(y + cy, dpi) - top};
}

void setDialogFont(QWidget* dialog) {
    QFont f = dialog->font();
    f.setPixelSize(10);
    // Desktop fonts run wider than the one the templates were drawn for.
    f.setStretch(QFont::SemiCondensed);
    dialog->setFont(f);
}

namespace {

QWidget* create(QWidget* parent, const ControlDef& d) {
    const QString text = QString::fromUtf8(d.text);
    switch (d.kind) {
    case ControlKind::Label:
        return new QLabel(text, parent);
    case ControlKind::Group:
        return new QGroupBox(text, parent);
    case ControlKind::Check:
        return new QCheckBox(text, parent);
    case ControlKind::Button:
    case ControlKind::DefaultButton: {
        auto* b = new QPushButton(text, parent);
        b->setDefault(d.kind == ControlKind::DefaultButton);
        b->setAutoDefault(d.kind == ControlKind::DefaultButton);
        return b;
    }
    case ControlKind::Edit:
        return new QLineEdit(parent);
    case ControlKind::DigitEdit: {
        auto* e = new QLineEdit(parent);
        e->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), e));
        return e;
    }
    case ControlKind::EditCombo: {
        auto* c = new QComboBox(parent);
        c->setEditable(true);
        c->setInsertPolicy(QComboBox::NoInsert);
        c->setCompleter(nullptr); // typed text is stored as typed, never completed
        return c;
    }
    case ControlKind::ListCombo:
        return new QComboBox(parent);
    case ControlKind::Date:
        return new QDateEdit(parent);
    }
    return nullptr;
}

} // namespace

QHash<int, QWidget*> buildControlTable(QWidget* parent, std::span<const ControlDef> table,
                                       qreal dpi) {
    QHash<int, QWidget*> controls;
    for (const ControlDef& d : table) {
        QWidget* w = create(parent, d);
        QRect r = dialogUnitRect(d.x, d.y, d.cx, d.cy, dpi);
        // A drop-down's height in the template includes its open list; the closed box keeps
        // the height the style wants.
        if (d.kind == ControlKind::EditCombo || d.kind == ControlKind::ListCombo)
            r.setHeight(std::max(w->sizeHint().height(), dialogUnitsToPixelsY(12, dpi)));
        w->setGeometry(r);
        w->setAccessibleName(
            QString::fromUtf8(d.accessibleName ? d.accessibleName : d.text).trimmed());
        if (d.kind == ControlKind::Group)
            w->lower();
        if (d.id != 0) {
            w->setObjectName(QString::number(d.id));
            controls.insert(d.id, w);
        }
    }
    return controls;
}

} // namespace tn::ui

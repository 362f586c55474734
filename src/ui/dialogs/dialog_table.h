#pragma once
// Dialogs built from a table of controls in dialog units, one loop for all of them.
#include <QHash>
#include <QRect>
#include <span>

class QWidget;

namespace tn::ui {

enum class ControlKind {
    Label,
    Group,
    Check,
    Button,
    DefaultButton,
    Edit,
    DigitEdit, // digits only
    EditCombo, // drop-down with an edit field
    ListCombo, // drop-down list
    Date,      // date picker
};

struct ControlDef {
    int id; // 0: a label nobody addresses
    ControlKind kind;
    const char* text;
    int x, y, cx, cy;           // dialog units
    const char* accessibleName; // null: the text
};

// A font whose texts fit the template's rectangles, as the templates' 8-point font did.
void setDialogFont(QWidget* dialog);

QRect dialogUnitRect(int x, int y, int cx, int cy, qreal dpi);

// Creates every control of the table as a child of `parent`, with its identifier as object
// name and its accessible name; returns the addressed ones by identifier.
QHash<int, QWidget*> buildControlTable(QWidget* parent, std::span<const ControlDef> table,
                                       qreal dpi);

} // namespace tn::ui

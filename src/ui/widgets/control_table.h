#pragma once
#include <QHash>
#include <QRect>
#include <functional>
#include <span>

class QWidget;

namespace tn::ui {

// The kinds of control a dialog table can hold. Custom controls are made by the dialog itself
// (through the table's factory) and only placed and named here.
enum class ControlKind {
    Label,
    Group,
    Button,
    Combo,
    Picture,
    SpeedBar,
    Custom,
    // The standard controls of the secondary dialogs.
    CheckBox,
    Edit,
    DigitEdit, // digits only
    EditCombo, // drop-down with an edit field
    ListCombo, // drop-down list
    DatePicker,
};

// One control of a dialog, in dialog units. A table of these and one loop build a dialog.
struct ControlSpec {
    int id = 0; // 0: a label without an identifier
    ControlKind kind = ControlKind::Label;
    const char* text = "";
    int x = 0, y = 0, cx = 0, cy = 0;
    // What a screen reader announces; null: the text. Value labels and picture buttons name
    // what they show or do, since their text is a number or empty.
    const char* accessibleName = nullptr;
    int colour = -1; // 0xRRGGBB for a label's text or a bar's fill; -1 keeps the default
};

struct ControlTableContext {
    QWidget* parent = nullptr;
    std::function<QRect(const ControlSpec&)> rect;      // dialog units to pixels
    std::function<QWidget*(const ControlSpec&)> custom; // makes the Custom controls
};

// Creates, places and names every control of the table in order; controls with an identifier
// get it as object name and go into the returned map.
QHash<int, QWidget*> buildControls(std::span<const ControlSpec> table,
                                   const ControlTableContext& context);

} // namespace tn::ui

#include "ui/widgets/control_table.h"

#include "ui/widgets/accessibility.h"
#include "ui/widgets/adapter_combo.h"
#include "ui/widgets/flat_button.h"
#include "ui/widgets/picture_ctrl.h"
#include "ui/widgets/plain_label.h"
#include "ui/widgets/speed_bar.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QLineEdit>
#include <QRegularExpressionValidator>

namespace tn::ui {

namespace {

QWidget* makeControl(const ControlSpec& c, const ControlTableContext& context) {
    QWidget* parent = context.parent;
    const QColor colour = c.colour >= 0 ? QColor::fromRgb(static_cast<QRgb>(c.colour)) : QColor();
    switch (c.kind) {
    case ControlKind::Label: {
        auto* l = new CPlainLabel(QString::fromUtf8(c.text), parent);
        if (colour.isValid())
            l->setTextColor(colour);
        return l;
    }
    case ControlKind::Group: {
        auto* g = new CGroupFrame(QString::fromUtf8(c.text), parent);
        g->lower(); // frames stay behind the labels they enclose
        return g;
    }
    case ControlKind::Button:
        return new CFlatButton(QString::fromUtf8(c.text), parent);
    case ControlKind::Combo:
        return new CAdapterCombo(parent);
    case ControlKind::Picture:
        return new CPictureCtrl(parent);
    case ControlKind::SpeedBar: {
        auto* bar = new CSpeedBar(parent);
        if (colour.isValid())
            bar->setBarColor(colour);
        return bar;
    }
    case ControlKind::Custom:
        return context.custom ? context.custom(c) : nullptr;
    case ControlKind::CheckBox:
        return new QCheckBox(QString::fromUtf8(c.text), parent);
    case ControlKind::Edit:
        return new QLineEdit(parent);
    case ControlKind::DigitEdit: {
        auto* e = new QLineEdit(parent);
        e->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), e));
        return e;
    }
    case ControlKind::EditCombo: {
        auto* combo = new QComboBox(parent);
        combo->setEditable(true);
        combo->setInsertPolicy(QComboBox::NoInsert);
        combo->setCompleter(nullptr); // typed text is kept as typed, never completed
        return combo;
    }
    case ControlKind::ListCombo:
        return new QComboBox(parent);
    case ControlKind::DatePicker:
        return new QDateEdit(parent);
    }
    return nullptr;
}

} // namespace

QHash<int, QWidget*> buildControls(std::span<const ControlSpec> table,
                                   const ControlTableContext& context) {
    installAccessibility();
    QHash<int, QWidget*> controls;
    for (const ControlSpec& c : table) {
        QWidget* w = makeControl(c, context);
        if (!w)
            continue;
        w->setGeometry(context.rect(c));
        w->setAccessibleName(QString::fromUtf8(c.accessibleName ? c.accessibleName : c.text));
        if (auto* combo = qobject_cast<QComboBox*>(w); combo && combo->lineEdit())
            combo->lineEdit()->setAccessibleName(w->accessibleName());
        if (c.id != 0) {
            w->setObjectName(QString::number(c.id));
            controls.insert(c.id, w);
        }
    }
    return controls;
}

} // namespace tn::ui

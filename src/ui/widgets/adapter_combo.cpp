#include "ui/widgets/adapter_combo.h"

#include "ui/widgets/artwork.h"

#include <QPainter>
#include <QStylePainter>
#include <QStyledItemDelegate>

namespace tn::ui {

namespace {

class RememberedDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        if (index.data(Qt::UserRole).toInt() == 1) {
            option->font.setBold(true);
            option->icon = art::rememberIcon();
            option->features |= QStyleOptionViewItem::HasDecoration;
            option->decorationSize = QSize(12, 12);
        }
    }
};

} // namespace

CAdapterCombo::CAdapterCombo(QWidget* parent) : QComboBox(parent) {
    setItemDelegate(new RememberedDelegate(this));
}

void CAdapterCombo::setRemembered(int index, bool on) {
    if (index >= 0 && index < count())
        setItemData(index, on ? 1 : 0, Qt::UserRole);
}

bool CAdapterCombo::isRemembered(int index) const {
    return index >= 0 && index < count() && itemData(index, Qt::UserRole).toInt() == 1;
}

void CAdapterCombo::clearRemembered() {
    for (int i = 0; i < count(); ++i)
        setItemData(i, 0, Qt::UserRole);
}

void CAdapterCombo::paintEvent(QPaintEvent*) {
    QStylePainter p(this);
    QStyleOptionComboBox opt;
    initStyleOption(&opt);
    p.drawComplexControl(QStyle::CC_ComboBox, opt);
    if (isRemembered(currentIndex())) {
        opt.currentIcon = art::rememberIcon();
        opt.iconSize = QSize(12, 12);
        QFont f = font();
        f.setBold(true);
        p.setFont(f);
    }
    p.drawControl(QStyle::CE_ComboBoxLabel, opt);
}

} // namespace tn::ui

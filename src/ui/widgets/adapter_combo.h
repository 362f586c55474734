#pragma once
#include <QComboBox>

namespace tn::ui {

// The adapter list. An entry whose item data is 1 is the remembered adapter and is drawn
// marked (pin and bold text), in the list and in the closed box.
class CAdapterCombo : public QComboBox {
    Q_OBJECT
public:
    explicit CAdapterCombo(QWidget* parent = nullptr);
    void setRemembered(int index, bool on);
    bool isRemembered(int index) const;
    // Item data 0 on every entry.
    void clearRemembered();

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace tn::ui

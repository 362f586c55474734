#pragma once
#include <QPushButton>

namespace tn::ui {

// A flat button that lights up under the mouse, drawn the same on every style.
class CFlatButton : public QPushButton {
    Q_OBJECT
public:
    explicit CFlatButton(const QString& text, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    bool m_hover = false;
};

} // namespace tn::ui

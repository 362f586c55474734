#include "ui/widgets/flat_button.h"

#include <QPainter>

namespace tn::ui {

CFlatButton::CFlatButton(const QString& text, QWidget* parent) : QPushButton(text, parent) {
    setAutoDefault(false);
    setCursor(Qt::PointingHandCursor);
}

void CFlatButton::enterEvent(QEnterEvent* event) {
    m_hover = true;
    update();
    QPushButton::enterEvent(event);
}

void CFlatButton::leaveEvent(QEvent* event) {
    m_hover = false;
    update();
    QPushButton::leaveEvent(event);
}

void CFlatButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QColor fill = isDown()  ? QColor(60, 78, 98)
                  : m_hover ? QColor(118, 142, 166)
                            : QColor(88, 108, 130);
    if (!isEnabled())
        fill = QColor(130, 136, 142);
    p.setPen(QPen(hasFocus() ? QColor(255, 255, 255) : QColor(38, 50, 64), 1));
    p.setBrush(fill);
    p.drawRoundedRect(r, 3, 3);
    QRect content = rect().adjusted(3, 1, -3, -1);
    if (!icon().isNull()) {
        const int side = std::min(content.width(), content.height());
        const QRect iconRect(content.center().x() - side / 2, content.center().y() - side / 2, side,
                             side);
        icon().paint(&p, iconRect);
    }
    const QString t = text().trimmed();
    if (!t.isEmpty()) {
        p.setPen(isEnabled() ? QColor(245, 248, 252) : QColor(200, 200, 200));
        p.drawText(content, Qt::AlignCenter, t);
    }
}

} // namespace tn::ui

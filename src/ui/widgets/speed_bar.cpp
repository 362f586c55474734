#include "ui/widgets/speed_bar.h"

#include <QPainter>
#include <algorithm>

namespace tn::ui {

CSpeedBar::CSpeedBar(QWidget* parent) : QWidget(parent) {}

int CSpeedBar::filledWidth() const {
    const int inner = std::max(0, width() - 2);
    if (m_max == 0)
        return m_pos > 0 ? inner : 0;
    const double share = std::min(1.0, static_cast<double>(m_pos) / m_max);
    return static_cast<int>(share * inner);
}

void CSpeedBar::setRange(std::uint32_t maximum) {
    if (maximum == m_max)
        return;
    m_max = maximum;
    update();
}

void CSpeedBar::setPosition(std::uint32_t position) {
    if (position == m_pos)
        return;
    const int before = filledWidth();
    m_pos = position;
    if (filledWidth() != before) // repaint only when a pixel changes
        update();
}

void CSpeedBar::setBarColor(const QColor& colour) {
    m_colour = colour;
    update();
}

void CSpeedBar::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setPen(QColor(40, 52, 66));
    p.setBrush(QColor(30, 36, 44));
    p.drawRect(rect().adjusted(0, 0, -1, -1));
    const int fill = filledWidth();
    if (fill > 0)
        p.fillRect(QRect(1, 1, fill, height() - 2), m_colour);
}

} // namespace tn::ui

#include "ui/main/graph_placeholder.h"

#include <QPainter>

namespace tn::ui {

CGraphPlaceholder::CGraphPlaceholder(QWidget* parent) : QWidget(parent) {}
void CGraphPlaceholder::setTimerPeriods(unsigned, unsigned) {}
void CGraphPlaceholder::setScalingMode(int) {}
void CGraphPlaceholder::restorePinPoint(std::int32_t) {}
void CGraphPlaceholder::setFixedMaximum(double v) {
    m_fixedMax = v;
}
void CGraphPlaceholder::setCurrentIncoming(std::uint32_t v) {
    m_in = v;
}
void CGraphPlaceholder::setCurrentOutgoing(std::uint32_t v) {
    m_out = v;
}

void CGraphPlaceholder::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), QColor(140, 200, 200));
    p.setPen(QColor(100, 100, 100));
    for (int x = 0; x < width(); x += 10)
        p.drawLine(x, 0, x, height());
    for (int y = height() - 2; y > 0; y -= 10)
        p.drawLine(0, y, width(), y);
}

} // namespace tn::ui

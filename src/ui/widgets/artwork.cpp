#include "ui/widgets/artwork.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

namespace tn::ui::art {

namespace {

// An arrow in a unit box (0..1), pointing up; the downward one is its mirror image.
QPainterPath arrow(bool down) {
    static constexpr QPointF kUp[] = {{0.50, 0.00}, {1.00, 0.50}, {0.70, 0.50}, {0.70, 1.00},
                                      {0.30, 1.00}, {0.30, 0.50}, {0.00, 0.50}};
    QPainterPath p;
    for (const QPointF& pt : kUp) {
        const QPointF q(pt.x(), down ? 1.0 - pt.y() : pt.y());
        if (p.elementCount() == 0)
            p.moveTo(q);
        else
            p.lineTo(q);
    }
    p.closeSubpath();
    return p;
}

void drawArrow(QPainter& p, QRectF box, bool down, QColor fill) {
    QTransform t;
    t.translate(box.left(), box.top());
    t.scale(box.width(), box.height());
    p.setPen(QPen(QColor(0, 0, 0, 220), 0));
    p.setBrush(fill);
    p.drawPath(t.map(arrow(down)));
}

} // namespace

QPixmap trayPixmap(int id, int size) {
    QPixmap pm(size, size);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = size;
    // A dark tile with a light rim reads on light and on dark panels alike.
    p.setPen(QPen(QColor(235, 240, 245), s / 16.0));
    p.setBrush(QColor(28, 38, 52));
    p.drawRoundedRect(QRectF(s / 32.0, s / 32.0, s - s / 16.0, s - s / 16.0), s / 6.0, s / 6.0);

    const bool sending = id == 135 || id == 137;
    const bool receiving = id == 136 || id == 137;
    const QColor off(120, 128, 138);
    // Receive arrow (down) on the left, send arrow (up) on the right.
    drawArrow(p, QRectF(s * 0.10, s * 0.16, s * 0.38, s * 0.68), true,
              receiving ? QColor(40, 230, 60) : off);
    drawArrow(p, QRectF(s * 0.52, s * 0.16, s * 0.38, s * 0.68), false,
              sending ? QColor(255, 60, 40) : off);
    return pm;
}

QIcon trayIcon(int id) {
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64})
        icon.addPixmap(trayPixmap(id, size));
    return icon;
}

QIcon appIcon() {
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128}) {
        QPixmap pm(size, size);
        pm.fill(Qt::transparent);
        QPainter p(&pm);
        p.setRenderHint(QPainter::Antialiasing);
        const qreal s = size;
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(16, 36, 58));
        p.drawRoundedRect(QRectF(0, 0, s, s), s / 6, s / 6);
        const qreal w = s / 8;
        const qreal heights[] = {0.28, 0.47, 0.37, 0.66};
        for (int i = 0; i < 4; ++i) {
            p.setBrush(i < 2 ? QColor(63, 209, 107) : QColor(229, 83, 61));
            const qreal h = heights[i] * s;
            p.drawRect(QRectF(s * 0.16 + i * w * 1.5, s * 0.84 - h, w, h));
        }
        p.end();
        icon.addPixmap(pm);
    }
    return icon;
}

QPixmap statusBitmap(int id) {
    QPixmap pm(48, 48);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const bool alert = id == 141;
    // A monitor with a cable: green screen when all is well, red with a cut cable on alert.
    p.setPen(QPen(QColor(30, 30, 30), 2));
    p.setBrush(QColor(200, 205, 212));
    p.drawRoundedRect(QRectF(5, 4, 38, 28), 3, 3);
    QRadialGradient glow(24, 18, 20);
    glow.setColorAt(0, alert ? QColor(255, 120, 90) : QColor(130, 240, 150));
    glow.setColorAt(1, alert ? QColor(170, 20, 10) : QColor(20, 120, 50));
    p.setPen(Qt::NoPen);
    p.setBrush(glow);
    p.drawRect(QRectF(9, 8, 30, 20));
    p.setPen(QPen(QColor(30, 30, 30), 2));
    p.setBrush(QColor(160, 165, 172));
    p.drawRect(QRectF(18, 32, 12, 4));
    p.drawRect(QRectF(12, 36, 24, 3));
    p.setPen(
        QPen(alert ? QColor(200, 20, 10) : QColor(40, 40, 40), 3, Qt::SolidLine, Qt::RoundCap));
    if (alert) {
        p.drawLine(QPointF(24, 39), QPointF(24, 42));
        p.drawLine(QPointF(24, 45), QPointF(24, 47));
        p.setPen(QPen(Qt::white, 3, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(24, 11), QPointF(24, 20));
        p.drawPoint(QPointF(24, 25));
    } else {
        p.drawLine(QPointF(24, 39), QPointF(24, 47));
    }
    return pm;
}

QIcon rememberIcon() {
    QIcon icon;
    for (int size : {16, 24, 32}) {
        QPixmap pm(size, size);
        pm.fill(Qt::transparent);
        QPainter p(&pm);
        p.setRenderHint(QPainter::Antialiasing);
        const qreal s = size;
        // A push pin.
        p.setPen(QPen(QColor(40, 40, 40), s / 12));
        p.drawLine(QPointF(s * 0.5, s * 0.55), QPointF(s * 0.5, s * 0.95));
        p.setBrush(QColor(220, 40, 40));
        p.drawEllipse(QPointF(s * 0.5, s * 0.32), s * 0.26, s * 0.26);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(255, 170, 160));
        p.drawEllipse(QPointF(s * 0.42, s * 0.25), s * 0.08, s * 0.08);
        p.end();
        icon.addPixmap(pm);
    }
    return icon;
}

static QPixmap shadedBackground(QSize size, const QColor& top, const QColor& bottom) {
    QPixmap pm(size);
    QPainter p(&pm);
    QLinearGradient g(0, 0, 0, size.height());
    g.setColorAt(0.0, top);
    g.setColorAt(1.0, bottom);
    p.fillRect(pm.rect(), g);
    // Fine diagonal hatching gives the surface some texture.
    p.setPen(QPen(QColor(255, 255, 255, 18), 1));
    for (int x = -size.height(); x < size.width(); x += 6)
        p.drawLine(x, size.height(), x + size.height(), 0);
    p.setPen(QPen(QColor(40, 52, 66), 1));
    p.setBrush(Qt::NoBrush);
    p.drawRect(pm.rect().adjusted(0, 0, -1, -1));
    p.setPen(QPen(QColor(235, 242, 250), 1));
    p.drawLine(1, 1, size.width() - 2, 1);
    p.drawLine(1, 1, 1, size.height() - 2);
    return pm;
}

QPixmap dialogBackground(QSize size) {
    return shadedBackground(size, QColor(120, 140, 162), QColor(78, 96, 118));
}

QPixmap dialogBackground(QSize size, const QColor& base) {
    return shadedBackground(size, base.lighter(112), base.darker(118));
}

} // namespace tn::ui::art

#include "ui/dialogs/ns_chart_ctrl.h"

#include <QApplication>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

namespace tn::ui {

namespace {

// The default interface font with another face, a cell height in pixels and a weight. Where
// the face is not installed fontconfig supplies its closest match.
QFont cellFont(const char* family, int cellHeight, QFont::Weight weight) {
    QFont f = QApplication::font();
    f.setFamilies({QString::fromLatin1(family)});
    f.setStyleHint(QFont::SansSerif);
    f.setWeight(weight);
    // A height given as a cell height: the largest pixel size whose line fits in it.
    for (int px = cellHeight; px > 1; --px) {
        f.setPixelSize(px);
        if (QFontMetrics(f).height() <= cellHeight)
            break;
    }
    return f;
}

QRect toQRect(const ChartRect& r) {
    return {r.left, r.top, r.right - r.left, r.bottom - r.top};
}

QColor toQColor(ChartRgb c) {
    return {c.r, c.g, c.b};
}

} // namespace

CNSChartCtrl::CNSChartCtrl(QWidget* parent)
    : QWidget(parent), m_axisFont(cellFont("Verdana", 11, QFont::Normal)),
      m_barLabelFont(cellFont("Arial", 10, QFont::Bold)),
      m_titleFont(cellFont("Verdana", 12, QFont::Bold)), m_messageFont(QApplication::font()) {
    setAttribute(Qt::WA_OpaquePaintEvent); // the surface covers every pixel
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    setAccessibleName("Traffic chart");
}

void CNSChartCtrl::setChartPalette(int kind) {
    m_model.setPalette(kind);
}

void CNSChartCtrl::setChartKind(int flags) {
    m_model.setChartKind(flags);
    update();
}

bool CNSChartCtrl::addValue(double value, const QString& label, bool redraw) {
    if (!m_model.addValue(value, label.toStdString()))
        return false;
    if (redraw)
        update();
    return true;
}

void CNSChartCtrl::clearValues() {
    m_model.clearValues();
}

int CNSChartCtrl::hitTest(const QPoint& client) const {
    return m_model.hitTest(client.x(), client.y(), width(), height());
}

const QPixmap& CNSChartCtrl::renderSurface() {
    const qreal ratio = devicePixelRatioF();
    const QSize pixels = size() * ratio;
    // A surface of another size would cut or blur the chart after a resize or a move to a
    // screen of another density.
    if (m_surface.size() != pixels || m_surface.devicePixelRatio() != ratio) {
        m_surface = QPixmap(pixels);
        m_surface.setDevicePixelRatio(ratio);
    }
    const ChartLayout lay = m_model.layout(width(), height());
    QPainter p(&m_surface);
    // Text stands on white boxes, as on a fresh drawing surface.
    p.setBackgroundMode(Qt::OpaqueMode);
    p.setBackground(Qt::white);
    p.setPen(Qt::black);
    if (!lay.message.empty()) {
        p.fillRect(rect(), Qt::white);
        p.setFont(m_messageFont);
        p.drawText(toQRect(lay.messageRect), Qt::AlignHCenter | Qt::AlignTop,
                   QString::fromLatin1(lay.message.c_str()));
        return m_surface;
    }
    p.fillRect(rect(), toQColor(ChartModel::kBackground));
    if (!lay.bars.empty()) {
        p.setFont(m_axisFont);
        for (const ChartLine& l : lay.ticks)
            p.drawLine(l.x0, l.y0, l.x1 - 1, l.y1); // the end point is not part of a line
        for (std::size_t i = 0; i < lay.scaleTexts.size(); ++i)
            p.drawText(toQRect(lay.scaleRects[i]), Qt::AlignRight | Qt::AlignTop,
                       QString::fromStdString(lay.scaleTexts[i]));
        for (const ChartBar& b : lay.bars) {
            const QRect r = toQRect(b.bar);
            p.fillRect(r, toQColor(b.colour));
            if (r.width() > 1 && r.height() > 1)
                p.drawRect(r.adjusted(0, 0, -1, -1)); // the outline inside the rectangle
            p.setFont(b.selected ? m_axisFont : m_barLabelFont);
            p.setPen(b.selected ? toQColor(ChartModel::kRed) : QColor(Qt::black));
            p.drawText(toQRect(b.labelRect), Qt::AlignHCenter | Qt::AlignTop,
                       QString::fromStdString(b.label));
            p.setPen(Qt::black);
        }
    }
    p.setFont(m_titleFont);
    p.setPen(toQColor(ChartModel::kRed));
    p.drawText(toQRect(lay.titleRect), Qt::AlignHCenter | Qt::AlignTop, windowTitle());
    return m_surface;
}

void CNSChartCtrl::paintEvent(QPaintEvent*) {
    const QPixmap& surface = renderSurface();
    QPainter p(this);
    p.drawPixmap(0, 0, surface);
}

void CNSChartCtrl::trackCursor(const QPoint& client) {
    const int hit = hitTest(client);
    m_model.setSelectedIndex(hit);
    if (hit >= 0)
        setCursor(Qt::PointingHandCursor);
    else
        unsetCursor();
}

void CNSChartCtrl::mouseMoveEvent(QMouseEvent* event) {
    trackCursor(event->position().toPoint());
    QWidget::mouseMoveEvent(event);
}

void CNSChartCtrl::mousePressEvent(QMouseEvent* event) {
    // The cursor follows every mouse message, a press without a move before it included.
    trackCursor(event->position().toPoint());
    event->accept();
}

void CNSChartCtrl::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    update();
    notify();
}

void CNSChartCtrl::keyPressEvent(QKeyEvent* event) {
    // The keyboard chooses bars as the mouse does, so the chart needs no mouse.
    const int count = static_cast<int>(m_model.count());
    if (count == 0 || (m_model.chartKind() & ChartModel::kDrawBars) == 0) {
        QWidget::keyPressEvent(event);
        return;
    }
    int index = m_model.selectedIndex();
    switch (event->key()) {
    case Qt::Key_Left:
        index = index < 0 ? count - 1 : std::max(0, index - 1);
        break;
    case Qt::Key_Right:
        index = index < 0 ? 0 : std::min(count - 1, index + 1);
        break;
    case Qt::Key_Home:
        index = 0;
        break;
    case Qt::Key_End:
        index = count - 1;
        break;
    case Qt::Key_Space:
        break;
    default:
        QWidget::keyPressEvent(event);
        return;
    }
    m_model.setSelectedIndex(index);
    update();
    notify();
}

void CNSChartCtrl::notify() {
    const ChartClick c = m_model.click();
    emit clicked(c.index, QString::fromStdString(c.label), c.value);
}

void CNSChartCtrl::changeEvent(QEvent* event) {
    if (event->type() == QEvent::WindowTitleChange) {
        setAccessibleDescription(windowTitle());
        update();
    }
    QWidget::changeEvent(event);
}

} // namespace tn::ui

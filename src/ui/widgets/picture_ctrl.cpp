#include "ui/widgets/picture_ctrl.h"

#include "ui/widgets/artwork.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>

namespace tn::ui {

CPictureCtrl::CPictureCtrl(QWidget* parent) : QLabel(parent) {
    setAlignment(Qt::AlignCenter);
    setCursor(Qt::PointingHandCursor);
}

void CPictureCtrl::setPictureId(int id) {
    if (id == m_id)
        return;
    m_id = id;
    setPixmap(art::statusBitmap(id));
}

void CPictureCtrl::mousePressEvent(QMouseEvent* event) {
    // Taken here, so the press does not start moving the window and the release comes back.
    if (event->button() == Qt::LeftButton)
        event->accept();
    else
        QLabel::mousePressEvent(event);
}

void CPictureCtrl::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit clicked();
    QLabel::mouseReleaseEvent(event);
}

void CPictureCtrl::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton)
        emit doubleClicked();
    QLabel::mouseDoubleClickEvent(event);
}

CGroupFrame::CGroupFrame(const QString& title, QWidget* parent) : QWidget(parent), m_title(title) {}

void CGroupFrame::setTitle(const QString& title) {
    if (title == m_title)
        return;
    // Only the title badge changes: repainting the whole frame would repaint every label in it.
    const QRect before = titleBadge().rect;
    m_title = title;
    update(before.united(titleBadge().rect).adjusted(-1, -1, 1, 1));
}

// Laid out once per title (and width): the period captions change every second.
const CGroupFrame::Badge& CGroupFrame::titleBadge() const {
    if (!m_badge.valid || m_badge.title != m_title || m_badge.width != width()) {
        const QFontMetrics fm = fontMetrics();
        m_badge.shown = fm.elidedText(m_title, Qt::ElideRight, std::max(0, width() - 18));
        m_badge.rect = QRect(8, 0, fm.horizontalAdvance(m_badge.shown) + 6, fm.height());
        m_badge.title = m_title;
        m_badge.width = width();
        m_badge.valid = true;
    }
    return m_badge;
}

void CGroupFrame::paintEvent(QPaintEvent* event) {
    // The labels inside repaint it under them every second: the rounded outline is drawn once
    // per size into an image and copied from there.
    const qreal dpr = devicePixelRatioF();
    if (m_outline.size() != size() * dpr || m_outline.devicePixelRatio() != dpr) {
        m_outline = QImage(size() * dpr, QImage::Format_ARGB32_Premultiplied);
        m_outline.setDevicePixelRatio(dpr);
        m_outline.fill(Qt::transparent);
        QPainter o(&m_outline);
        o.setRenderHint(QPainter::Antialiasing);
        const int top = fontMetrics().height() / 2;
        o.setPen(QPen(QColor(48, 62, 78), 1));
        o.setBrush(QColor(0, 0, 0, 40));
        o.drawRoundedRect(QRectF(rect()).adjusted(0.5, top + 0.5, -0.5, -0.5), 4, 4);
    }
    QPainter p(this);
    p.drawImage(0, 0, m_outline);
    if (m_title.isEmpty())
        return; // a bare frame, no empty title badge
    const Badge& badge = titleBadge();
    if (!event->rect().intersects(badge.rect))
        return;
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(48, 62, 78));
    p.drawRoundedRect(badge.rect, 3, 3);
    p.setPen(QColor(240, 244, 248));
    p.drawText(badge.rect.adjusted(3, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, badge.shown);
}

} // namespace tn::ui

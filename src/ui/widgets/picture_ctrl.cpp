#include "ui/widgets/picture_ctrl.h"

#include "ui/widgets/artwork.h"

#include <QMouseEvent>
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

void CGroupFrame::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QFontMetrics fm = fontMetrics();
    const int top = fm.height() / 2;
    QRectF frame = QRectF(rect()).adjusted(0.5, top + 0.5, -0.5, -0.5);
    p.setPen(QPen(QColor(48, 62, 78), 1));
    p.setBrush(QColor(0, 0, 0, 40));
    p.drawRoundedRect(frame, 4, 4);
    if (m_title.isEmpty())
        return; // a bare frame, no empty title badge
    const Badge& badge = titleBadge();
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(48, 62, 78));
    p.drawRoundedRect(badge.rect, 3, 3);
    p.setPen(QColor(240, 244, 248));
    p.drawText(badge.rect.adjusted(3, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, badge.shown);
}

} // namespace tn::ui

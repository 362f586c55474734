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
    m_title = title;
    update();
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
    const QString shown = fm.elidedText(m_title, Qt::ElideRight, std::max(0, width() - 18));
    const QRect textRect(8, 0, fm.horizontalAdvance(shown) + 6, fm.height());
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(48, 62, 78));
    p.drawRoundedRect(textRect, 3, 3);
    p.setPen(QColor(240, 244, 248));
    p.drawText(textRect.adjusted(3, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, shown);
}

} // namespace tn::ui

#include "ui/widgets/bitmap_dlg.h"

#include "ui/widgets/artwork.h"
#include "ui/widgets/screen_fit.h"

#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QWindow>
#include <cmath>

namespace tn::ui {

namespace {
int scaled(int units, int mul, int div, qreal dpi) {
    return static_cast<int>(std::lround(units * mul * dpi / (div * 96.0)));
}
} // namespace

int dialogUnitsToPixelsX(int units, qreal dpi) {
    return scaled(units, 6, 4, dpi);
}
int dialogUnitsToPixelsY(int units, qreal dpi) {
    return scaled(units, 13, 8, dpi);
}

CBitmapDlg::CBitmapDlg(QWidget* parent) : QDialog(parent) {
    // Frameless, but a normal top-level window so that it has a taskbar entry.
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

qreal CBitmapDlg::dpi() const {
    const QScreen* s = screen();
    return s ? s->logicalDotsPerInch() : 96.0;
}

void CBitmapDlg::setDialogUnitSize(int width, int height) {
    setFixedSize(dialogUnitsToPixelsX(width, dpi()), dialogUnitsToPixelsY(height, dpi()));
}

void CBitmapDlg::setSecondaryLook(const QColor& background, const QColor& face, const QColor& text,
                                  int width, int height) {
    setColours(background, face, text);
    QFont f = font();
    f.setFamilies({"Verdana"});
    f.setStyleHint(QFont::SansSerif);
    f.setPixelSize(11);
    setFont(f);
    setDialogUnitSize(width, height);
}

QRect CBitmapDlg::dialogRect(int x, int y, int w, int h) const {
    const qreal d = dpi();
    const int left = dialogUnitsToPixelsX(x, d);
    const int top = dialogUnitsToPixelsY(y, d);
    return {left, top, dialogUnitsToPixelsX(x + w, d) - left, dialogUnitsToPixelsY(y + h, d) - top};
}

void CBitmapDlg::setColours(const QColor& background, const QColor& face, const QColor& text) {
    m_base = background;
    QPalette pal = palette();
    pal.setColor(QPalette::Window, background);
    pal.setColor(QPalette::WindowText, text);
    pal.setColor(QPalette::Button, face);
    pal.setColor(QPalette::Base, face);
    setPalette(pal);
    m_background = makeBackground();
    update();
}

QPixmap CBitmapDlg::makeBackground() const {
    return m_base.isValid() ? art::dialogBackground(size(), m_base) : art::dialogBackground(size());
}

void CBitmapDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // A frameless window off the screen could never be reached to drag it back.
    fitOnScreen(this, screenAreasForPlacement());
}

QList<QRect> CBitmapDlg::screenAreasForPlacement() const {
    return availableScreenAreas();
}

void CBitmapDlg::resizeEvent(QResizeEvent* event) {
    m_background = makeBackground();
    QDialog::resizeEvent(event);
}

void CBitmapDlg::paintEvent(QPaintEvent* event) {
    QPainter p(this);
    if (m_background.size() != size())
        m_background = makeBackground();
    // Only what changed, piece by piece: the bounding box of a few scattered texts is most
    // of the window, and a copy that large is split over threads that must all be woken.
    for (const QRect& r : event->region())
        p.drawPixmap(r, m_background, r);
}

void CBitmapDlg::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        // Let the window manager move the window where it can (Wayland needs it); else by hand.
        if (windowHandle() && windowHandle()->startSystemMove())
            return;
        m_dragging = true;
        m_dragOffset = event->globalPosition().toPoint() - frameGeometry().topLeft();
    }
    QDialog::mousePressEvent(event);
}

void CBitmapDlg::mouseMoveEvent(QMouseEvent* event) {
    if (m_dragging && (event->buttons() & Qt::LeftButton))
        move(event->globalPosition().toPoint() - m_dragOffset);
    QDialog::mouseMoveEvent(event);
}

void CBitmapDlg::mouseReleaseEvent(QMouseEvent* event) {
    m_dragging = false;
    QDialog::mouseReleaseEvent(event);
}

} // namespace tn::ui

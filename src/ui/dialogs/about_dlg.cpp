#include "ui/dialogs/about_dlg.h"

#include "app/control_ids.h"
#include "ui/widgets/bitmap_dlg.h"
#include "ui/widgets/control_table.h"
#include "ui/widgets/screen_fit.h"

#include <QKeyEvent>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>

namespace tn::ui {

QImage aboutLogo(QSize size) {
    QImage img(size, QImage::Format_RGB32);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal w = size.width();
    const qreal h = size.height();
    QLinearGradient sky(0, 0, 0, h);
    sky.setColorAt(0, QColor(16, 36, 58));
    sky.setColorAt(1, QColor(6, 16, 28));
    p.fillRect(img.rect(), sky);

    // The program's bars, as in its icon, on the right.
    const qreal barW = h / 8;
    const qreal heights[] = {0.28, 0.47, 0.37, 0.66};
    p.setPen(Qt::NoPen);
    for (int i = 0; i < 4; ++i) {
        p.setBrush(i < 2 ? QColor(63, 209, 107) : QColor(229, 83, 61));
        const qreal bh = heights[i] * h;
        p.drawRect(QRectF(w - h * 0.9 + i * barW * 1.5, h * 0.78 - bh, barW, bh));
    }

    QFont title("DejaVu Sans");
    title.setPixelSize(std::max(10, static_cast<int>(h * 0.34)));
    title.setBold(true);
    p.setFont(title);
    p.setPen(QColor(236, 240, 245));
    p.drawText(QRectF(w * 0.16, h * 0.14, w * 0.6, h * 0.45), Qt::AlignLeft | Qt::AlignVCenter,
               "Tallynet");
    QFont sub("DejaVu Sans");
    sub.setPixelSize(std::max(8, static_cast<int>(h * 0.13)));
    p.setFont(sub);
    p.setPen(QColor(140, 170, 200));
    p.drawText(QRectF(w * 0.16, h * 0.55, w * 0.6, h * 0.2), Qt::AlignLeft | Qt::AlignVCenter,
               "network traffic meter");
    p.end();
    return img;
}

namespace {

// An upward arrow on black: combined with the logo so that only the arrow adds light.
QImage arrowStrip() {
    QImage strip(CAboutCtrl::kStripWidth, CAboutCtrl::kStripHeight, QImage::Format_RGB32);
    strip.fill(Qt::black);
    QPainter p(&strip);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath arrow;
    arrow.moveTo(10, 2);
    arrow.lineTo(18, 12);
    arrow.lineTo(13, 12);
    arrow.lineTo(13, 25);
    arrow.lineTo(7, 25);
    arrow.lineTo(7, 12);
    arrow.lineTo(2, 12);
    arrow.closeSubpath();
    p.fillPath(arrow, QColor(40, 120, 70));
    p.end();
    return strip;
}

} // namespace

CAboutCtrl::CAboutCtrl(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setCursor(Qt::CrossCursor);
    m_timer.setInterval(kFrameMs);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        drawFrame();
        update();
    });
}

void CAboutCtrl::attach() {
    m_logo = aboutLogo(size());
    resize(m_logo.size());
    raise();

    m_strip = arrowStrip();

    QPainter p(&m_logo);
    QFont f("Verdana");
    f.setPixelSize(12);
    f.setWeight(QFont::Normal);
    p.setFont(f);
    p.setPen(QColor(160, 140, 201));
    const int w = m_logo.width();
    const int h = m_logo.height();
    p.drawText(QRect(QPoint(6, h - kVersionLineHeight), QPoint(w - 1, h - 1)),
               Qt::AlignLeft | Qt::AlignVCenter, m_aboutText);
    p.drawText(QRect(QPoint(4, 2), QPoint(100, 12)), Qt::AlignLeft | Qt::AlignVCenter, kEdition);
    p.end();

    m_frame = m_logo;
    m_position = h - kVersionLineHeight;
    setAccessibleName("About Tallynet, " + m_aboutText);
    setAccessibleDescription(m_aboutText);
}

void CAboutCtrl::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    m_timer.start();
}

void CAboutCtrl::hideEvent(QHideEvent* event) {
    // Nothing animates behind a closed box.
    m_timer.stop();
    QWidget::hideEvent(event);
}

void CAboutCtrl::drawFrame() {
    m_frame = m_logo;
    if (m_frame.isNull())
        return;
    // The arrow rises from behind the version line and vanishes under the caption line.
    const int bottom = m_frame.height() - kVersionLineHeight;
    if (bottom > kStripTop) {
        QPainter p(&m_frame);
        p.setClipRect(QRect(0, kStripTop, kStripWidth + kStripX, bottom - kStripTop));
        p.setCompositionMode(QPainter::CompositionMode_Plus);
        p.drawImage(QPoint(kStripX, m_position), m_strip);
    }
    if (--m_position < kStripTop - kStripHeight)
        m_position = bottom;
}

void CAboutCtrl::paintEvent(QPaintEvent*) {
    QPainter p(this);
    if (m_frame.isNull())
        p.fillRect(rect(), Qt::black);
    else
        p.drawImage(0, 0, m_frame);
}

CAboutDlg::CAboutDlg(const QString& aboutText, QWidget* parent) : QDialog(parent) {
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setObjectName(QString::number(ids::about::kDialog));
    setAccessibleName("About Tallynet");
    setCursor(Qt::CrossCursor);
    const qreal dpi = logicalDpiX();
    setFixedSize(dialogUnitsToPixelsX(174, dpi), dialogUnitsToPixelsY(47, dpi));

    static constexpr ControlSpec kAboutControls[] = {
        {ids::about::kPicture, ControlKind::Custom, "", 0, 0, 170, 47, "About Tallynet"},
    };
    ControlTableContext context;
    context.parent = this;
    context.rect = [dpi](const ControlSpec& c) {
        return QRect(dialogUnitsToPixelsX(c.x, dpi), dialogUnitsToPixelsY(c.y, dpi),
                     dialogUnitsToPixelsX(c.cx, dpi), dialogUnitsToPixelsY(c.cy, dpi));
    };
    context.custom = [this](const ControlSpec&) -> QWidget* {
        return m_ctrl = new CAboutCtrl(this);
    };
    buildControls(kAboutControls, context);
    m_ctrl->setAboutText(aboutText);
    m_ctrl->attach();
}

void CAboutDlg::showEvent(QShowEvent* event) {
    if (const QWidget* p = parentWidget(); p && p->isVisible()) {
        const QPoint centre = p->frameGeometry().center();
        move(centre - QPoint(width() / 2, height() / 2));
    }
    QDialog::showEvent(event);
    fitOnScreen(this);
}

void CAboutDlg::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        accept();
        return;
    }
    QDialog::mouseReleaseEvent(event);
}

void CAboutDlg::paintEvent(QPaintEvent*) {
    // The thin border of the box; the picture covers the rest.
    QPainter p(this);
    p.fillRect(rect(), QColor(6, 16, 28));
    p.setPen(QColor(90, 110, 130));
    p.drawRect(rect().adjusted(0, 0, -1, -1));
}

} // namespace tn::ui

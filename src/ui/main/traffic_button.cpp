#include "ui/main/traffic_button.h"

#include "app/global.h"
#include "ui/widgets/window_pixel_writer.h"

#include <QCursor>
#include <QFontMetrics>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QRegion>
#include <QWindow>

#include <algorithm>
#include <vector>

namespace tn {

namespace {

// A rounded rectangle with a 5 x 5 corner ellipse: two pixels off the corner rows, one off the
// next rows.
QRegion roundedRegion(int w, int h) {
    QRegion r(0, 0, w, h);
    if (w < 5 || h < 5)
        return r;
    r -= QRegion(0, 0, 2, 1) + QRegion(w - 2, 0, 2, 1) + QRegion(0, h - 1, 2, 1) +
         QRegion(w - 2, h - 1, 2, 1);
    r -= QRegion(0, 1, 1, 1) + QRegion(w - 1, 1, 1, 1) + QRegion(0, h - 2, 1, 1) +
         QRegion(w - 1, h - 2, 1, 1);
    return r;
}

} // namespace

void MFTrafficButton::drawLabel(QPainter& p, int x, int y, const Label& label, int height,
                                const QColor& fg, const QColor& bg) {
    // Kept inside its box, so that the box is all a label covers when the grid moves under it.
    const QRect box(x, y, label.width, height);
    p.setClipRect(box);
    p.fillRect(box, bg);
    p.setPen(fg);
    p.drawStaticText(x, y, label.text);
    p.setClipping(false);
    m_overlays.push_back(box);
}

const MFTrafficButton::Label& MFTrafficButton::Label::update(const std::string& s,
                                                             const QFont& font) {
    // The texts change at most once a second while paints come ten times as often: laying
    // them out only on a change saves most of a paint's cost.
    if (s != key || !valid) {
        key = s;
        valid = true;
        const QString q = QString::fromStdString(s);
        text.setText(q);
        text.setTextFormat(Qt::PlainText);
        text.prepare(QTransform(), font);
        width = QFontMetrics(font).horizontalAdvance(q);
    }
    return *this;
}

MFTrafficButton::MFTrafficButton(CGlobal& global, QWidget* parent)
    : QWidget(parent), m_model(global), m_font(QStringLiteral("Arial")) {
    m_font.setPixelSize(10);
    m_font.setWeight(QFont::Thin);
    m_font.setStyleHint(QFont::SansSerif);
    m_fontHeight = QFontMetrics(m_font).height();
    // Every pixel is painted from the off-screen surface: no background erase, no flicker.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    setMouseTracking(true);
    // The timer's frame is drawn at once: a queued call, and a queued update after it, would
    // each cost the event loop another wake-up, ten times a second. A frame asked for by a
    // tick and still queued is the timer's frame too.
    connect(&m_repaintTimer, &QTimer::timeout, this, [this] {
        if (!m_framePending)
            produceFrame();
    });
    connect(&m_sampleTimer, &QTimer::timeout, this, [this] { sampleTick(); });
}

MFTrafficButton::~MFTrafficButton() = default;

void MFTrafficButton::attach() {
    const int w = width();
    const int h = height();
    setFixedSize(w, h);
    m_model.attach(w, h);
    setMask(roundedRegion(w, h));
    m_buffer = QImage(qMax(w, 1), qMax(h, 1), QImage::Format_RGB32);
    m_stale = true;
    buildBarSheet();
}

void MFTrafficButton::buildBarSheet() {
    const int w = m_model.width();
    const int h = m_model.height();
    m_barSheet = QImage(qMax(w, 1), qMax(h, 1), QImage::Format_RGB32);
    m_barSheet.fill(Qt::black);
    if (h <= 0)
        return;
    const double step = 255.0 / h;
    for (int y = 0; y < h; ++y) {
        const int r = static_cast<int>(255.0 - y * step);
        const QRgb c = qRgb(r, 64, 150);
        auto* line = reinterpret_cast<QRgb*>(m_barSheet.scanLine(y));
        for (int x = 0; x < w; ++x)
            if (x % CTrafficGraphModel::kBarWidth != 2)
                line[x] = c;
    }
}

void MFTrafficButton::setTimerPeriods(int sampleMs, int repaintMs) {
    m_model.setTimerPeriods(sampleMs, repaintMs);
    m_sampleTimer.stop();
    m_timersSet = true;
    m_repaintTimer.setInterval(repaintMs);
    runRepaintTimer(isVisible() && !m_offScreen);
    m_sampleTimer.start(sampleMs);
}

void MFTrafficButton::setScalingMode(int adaptive) {
    m_model.setScalingMode(adaptive);
}

void MFTrafficButton::restorePinPoint(std::int32_t packed) {
    m_model.restorePinPoint(packed);
}

void MFTrafficButton::setFixedMaximum(double bytesPerSecond) {
    m_model.setFixedMaximum(bytesPerSecond);
}

void MFTrafficButton::setCurrentIncoming(std::uint32_t bytesPerSecond) {
    m_model.setCurrentIncoming(bytesPerSecond);
}

void MFTrafficButton::setCurrentOutgoing(std::uint32_t bytesPerSecond) {
    m_model.setCurrentOutgoing(bytesPerSecond);
}

void MFTrafficButton::selectTrafficType(int type) {
    m_model.selectTrafficType(type);
    requestFrame();
}

void MFTrafficButton::selectTimeBase(int base) {
    m_model.selectTimeBase(base);
    restartRepaintTimer();
    requestFrame();
}

void MFTrafficButton::restartRepaintTimer() {
    m_repaintTimer.stop();
    m_repaintTimer.setInterval(m_model.repaintIntervalMs());
    runRepaintTimer(isVisible() && !m_offScreen);
}

// A graph off the screen has nothing to repaint; waking ten times a second for it would cost
// CPU while the program sits in the tray, from the start when it starts there. Sampling goes
// on so the history stays complete.
void MFTrafficButton::runRepaintTimer(bool onScreen) {
    if (!onScreen || !m_timersSet)
        m_repaintTimer.stop();
    else if (!m_repaintTimer.isActive())
        m_repaintTimer.start();
}

void MFTrafficButton::hideEvent(QHideEvent* event) {
    runRepaintTimer(false);
    QWidget::hideEvent(event);
}

void MFTrafficButton::setOffScreen(bool off) {
    if (off == m_offScreen)
        return;
    m_offScreen = off;
    runRepaintTimer(!off && isVisible());
    if (off)
        return;
    m_stale = true;
    requestFrame();
}

void MFTrafficButton::showEvent(QShowEvent* event) {
    m_stale = true; // the show repaints it whole, with what was sampled meanwhile
    runRepaintTimer(!m_offScreen);
    QWidget::showEvent(event);
}

void MFTrafficButton::sampleTick() {
    m_model.sampleTick();
}

std::unique_ptr<QMenu> MFTrafficButton::createContextMenu() {
    auto menu = std::make_unique<QMenu>();
    for (const GraphMenuItem& item : m_model.contextMenu()) {
        if (item.submenu.empty()) {
            QAction* a = menu->addAction(QString::fromStdString(item.text));
            a->setData(item.command);
            a->setCheckable(item.checked);
            a->setChecked(item.checked);
            continue;
        }
        QMenu* sub = menu->addMenu(QString::fromStdString(item.text));
        for (const GraphMenuItem& s : item.submenu) {
            QAction* a = sub->addAction(QString::fromStdString(s.text));
            a->setData(s.command);
            a->setCheckable(s.checked);
            a->setChecked(s.checked);
        }
    }
    return menu;
}

void MFTrafficButton::runCommand(int command) {
    switch (m_model.executeCommand(command)) {
    case GraphCommandEffect::RestartRepaintTimer:
        restartRepaintTimer();
        requestFrame();
        break;
    case GraphCommandEffect::Repaint:
        requestFrame();
        break;
    case GraphCommandEffect::None:
        break;
    }
}

void MFTrafficButton::mouseMoveEvent(QMouseEvent* event) {
    const QPoint pos = event->position().toPoint();
    if (m_model.mouseMove(pos.x(), pos.y()))
        requestFrame();
    QWidget::mouseMoveEvent(event);
}

void MFTrafficButton::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        m_model.leftButtonDown();
        QWidget::mousePressEvent(event);
        return;
    }
    if (event->button() == Qt::RightButton) {
        auto menu = createContextMenu();
        const QAction* chosen = menu->exec(QCursor::pos());
        if (chosen)
            runCommand(chosen->data().toInt());
        return;
    }
    QWidget::mousePressEvent(event);
}

void MFTrafficButton::requestFrame() {
    if (!isVisible() || m_offScreen) {
        m_stale = true; // whatever paints it next (a show, a grab) draws a new frame
        runRepaintTimer(false);
        return;
    }
    if (m_framePending)
        return;
    m_framePending = true;
    QMetaObject::invokeMethod(this, &MFTrafficButton::produceFrame, Qt::QueuedConnection);
}

namespace {

// Two frames that differ in nothing but the grid's scroll position.
bool sameButGrid(const GraphFrame& a, const GraphFrame& b) {
    return a.width == b.width && a.height == b.height && a.gridOffsetY == b.gridOffsetY &&
           a.barTop == b.barTop && a.barVisible == b.barVisible && a.infoText == b.infoText &&
           a.infoMode == b.infoMode && a.pinX == b.pinX && a.pinY == b.pinY &&
           a.crosshair.timeLabel == b.crosshair.timeLabel &&
           a.crosshair.valueLabel == b.crosshair.valueLabel;
}

// Whether column x carries a vertical grid line at the given offset.
bool gridColumn(int x, int offset, int width) {
    constexpr int kCell = CTrafficGraphModel::kGridCell;
    return x >= offset && (x - offset) % kCell == 0 && (x - offset) / kCell <= width / kCell;
}

} // namespace

void MFTrafficButton::produceFrame() {
    m_framePending = false;
    if (!m_model.ready() || !isVisible())
        return; // hidden: nothing is drawn and the grid stands still; the show repaints it whole
    if (const QWindow* w = window()->windowHandle(); w && !w->isExposed()) {
        m_stale = true; // minimised or covered whole: the expose that ends it repaints all
        return;
    }
    if (m_stale) {
        update();
        return;
    }
    m_model.snapshot(m_next);
    m_model.advanceGrid();
    if (!sameButGrid(m_next, m_frame)) {
        std::swap(m_next, m_frame);
        drawFrame(m_frame);
        if (!writeDirect({rect()}))
            repaint();
        return;
    }
    // Between two samples only the vertical grid lines move: their old and new columns are
    // drawn again, and the one rectangle around the pixels that changed is repainted. One
    // rectangle, not a strip per line: a copy clipped to dozens of strips, and as many
    // transfers to the display, cost more than the whole picture in one piece.
    const int before = m_frame.gridOffsetX;
    m_frame.gridOffsetX = m_next.gridOffsetX;
    if (const QRect changed = redrawGridColumns(before); !changed.isEmpty())
        if (!writeDirect(changedColumnRects()))
            repaint(changed);
}

const std::vector<QRect>& MFTrafficButton::changedColumnRects() {
    // A strip per run of neighbouring columns (a line's old and new place), each down to the
    // lowest bar top of the run: a few hundred bytes where the rectangle around them all holds
    // the whole graph.
    m_columnRects.clear();
    for (const GridColumn& c : m_changingColumns) {
        if (!m_columnRects.empty() && m_columnRects.back().right() + 1 == c.x) {
            QRect& r = m_columnRects.back();
            r.setRight(c.x);
            r.setBottom(std::max(r.bottom(), c.barTop - 1));
        } else {
            m_columnRects.push_back(QRect(c.x, 0, 1, c.barTop));
        }
    }
    return m_columnRects;
}

bool MFTrafficButton::writeDirect(const std::vector<QRect>& rects) {
    if (!m_writerTried) {
        m_writerTried = true;
        m_writer = ui::WindowPixelWriter::create(this);
    }
    if (!m_writer)
        return false;
    if (!m_writer->write(m_buffer, rects)) {
        m_writer.reset(); // the display refused: repaints from now on
        return false;
    }
    m_backingStale = true;
    if (QWindow* handle = m_writer->windowHandle(); handle != m_watched) {
        if (m_watched)
            m_watched->removeEventFilter(this);
        m_watched = handle;
        if (handle)
            handle->installEventFilter(this);
    }
    return true;
}

bool MFTrafficButton::eventFilter(QObject* watched, QEvent* event) {
    // The toolkit answers an expose from its backing store: bring it up to date first. A
    // window that is only now mapped again takes no paint yet; it paints what is due once it is.
    if (event->type() == QEvent::Expose && watched == m_watched && m_backingStale) {
        m_backingStale = false;
        if (window()->testAttribute(Qt::WA_Mapped))
            repaint();
        else
            update();
    }
    return QWidget::eventFilter(watched, event);
}

QRect MFTrafficButton::redrawGridColumns(int previousOffset) {
    const GraphFrame& f = m_frame;
    const int w = f.width;
    const int h = f.height;
    constexpr int kBar = CTrafficGraphModel::kBarWidth;
    std::vector<char>& gridRow = m_gridRows;
    gridRow.assign(static_cast<std::size_t>(std::max(h, 0)), 0);
    for (int i = 0; i <= h / CTrafficGraphModel::kGridCell; ++i)
        if (const int y = f.gridOffsetY + h - i * CTrafficGraphModel::kGridCell - 2;
            y >= 0 && y < h)
            gridRow[static_cast<std::size_t>(y)] = 1;
    const QRgb background = kBackgroundColour.rgb();
    const QRgb grid = kGridColour.rgb();
    uchar* const bits = m_buffer.bits();
    const qsizetype stride = m_buffer.bytesPerLine();
    // Only the columns where a line was or is now can change: a few dozen of the width.
    std::vector<int>& columns = m_gridColumns;
    columns.clear();
    for (int i = 0; i <= w / CTrafficGraphModel::kGridCell; ++i)
        for (const int x : {previousOffset + i * CTrafficGraphModel::kGridCell,
                            f.gridOffsetX + i * CTrafficGraphModel::kGridCell})
            if (x >= 0 && x < w)
                columns.push_back(x);
    std::sort(columns.begin(), columns.end());
    columns.erase(std::unique(columns.begin(), columns.end()), columns.end());
    // Of those, the ones whose line came or went, each down to its bar's top (the bar hides
    // the grid from there down; the crosshair and the labels stay as they are).
    std::vector<GridColumn>& changing = m_changingColumns;
    changing.clear();
    int lowest = 0;
    for (const int x : columns) {
        const bool line = gridColumn(x, f.gridOffsetX, w);
        if (line == gridColumn(x, previousOffset, w))
            continue;
        const std::size_t bar = static_cast<std::size_t>(x / kBar);
        const bool barHere = bar < f.barTop.size() && f.barVisible[bar] != 0;
        const int barTop = barHere ? std::clamp(f.barTop[bar], 0, h) : h;
        changing.push_back({x, barTop, line});
        lowest = std::max(lowest, barTop);
    }
    if (changing.empty())
        return {};
    // Row by row: the buffer and the cover are walked along their lines, not across them. A
    // scroll moves every line, so the pixels are written without comparing them first, and
    // the rectangle repainted is the one around the columns that changed.
    for (int y = 0; y < lowest; ++y) {
        auto* row = reinterpret_cast<QRgb*>(bits + y * stride);
        const char* cover = m_covered.data() + static_cast<std::ptrdiff_t>(y) * w;
        const QRgb off = gridRow[static_cast<std::size_t>(y)] != 0 ? grid : background;
        for (const GridColumn& c : changing)
            if (y < c.barTop && !cover[c.x])
                row[c.x] = c.line ? grid : off;
    }
    return QRect(QPoint(changing.front().x, 0), QPoint(changing.back().x, lowest - 1));
}

void MFTrafficButton::drawNextFrame() {
    m_model.snapshot(m_frame);
    m_model.advanceGrid();
    drawFrame(m_frame);
}

void MFTrafficButton::paintEvent(QPaintEvent* event) {
    if (!m_model.ready())
        return;
    if (m_stale) {
        // The first paint, or the first after a hide: a new frame over the whole control.
        m_stale = false;
        drawNextFrame();
        if (event->region().boundingRect() != rect())
            update(); // the rest of the control still shows an older frame
    }
    // Any other paint (an expose, or the pixels produceFrame found changed) shows the frame
    // on the screen as it is.
    // One copy; the paint's region clips it to the pixels asked for.
    QPainter p(this);
    p.drawImage(0, 0, m_buffer);
}

void MFTrafficButton::renderFrame(QPainter& p) {
    if (!m_model.ready())
        return;
    drawNextFrame();
    p.drawImage(0, 0, m_buffer);
}

void MFTrafficButton::drawFrame(const GraphFrame& f) {
    const int w = f.width;
    const int h = f.height;
    m_overlays.clear();
    {
        QPainter p(&m_buffer);
        p.fillRect(QRect(0, 0, w, h), kBackgroundColour);
        // One-pixel lines that end one pixel short of their end point, like the original
        // drawing; filled as rectangles, which costs a fraction of stroking them.
        for (int i = 0; i <= w / CTrafficGraphModel::kGridCell; ++i) {
            const int x = i * CTrafficGraphModel::kGridCell + f.gridOffsetX;
            p.fillRect(QRect(x, 0, 1, h), kGridColour);
        }
        for (int i = 0; i <= h / CTrafficGraphModel::kGridCell; ++i) {
            const int y = f.gridOffsetY + h - i * CTrafficGraphModel::kGridCell - 2;
            p.fillRect(QRect(0, y, w, 1), kGridColour);
        }
    }
    drawBars(f);

    QPainter p(&m_buffer);
    p.setFont(m_font);
    const int textHeight = m_fontHeight;
    const Label& info = m_infoLabel.update(f.infoText, m_font);
    if (f.infoMode) {
        CrosshairLabels labels = f.crosshair;
        const Label& timeLabel = m_timeLabel.update(labels.timeLabel, m_font);
        const Label& valueLabel = m_valueLabel.update(labels.valueLabel, m_font);
        placeCrosshairLabels(labels, f.pinX, f.pinY, w, h, textHeight, valueLabel.width,
                             info.width);
        p.fillRect(QRect(0, f.pinY, w, 1), Qt::black);
        p.fillRect(QRect(f.pinX, 0, 1, h), Qt::black);
        m_overlays.push_back(QRect(0, f.pinY, w, 1));
        m_overlays.push_back(QRect(f.pinX, 0, 1, h));
        drawLabel(p, labels.timeX, labels.timeY, timeLabel, textHeight, Qt::black, Qt::white);
        drawLabel(p, labels.valueX, labels.valueY, valueLabel, textHeight, Qt::black, Qt::white);
    }

    // The label sits on an opaque black box; the shadow is drawn first, one pixel to the right.
    drawLabel(p, 6, 5, info, textHeight, kShadowColour, Qt::black);
    drawLabel(p, 5, 5, info, textHeight, kMarkerColour, Qt::black);

    m_covered.assign(static_cast<std::size_t>(w) * static_cast<std::size_t>(h), 0);
    for (const QRect& r : m_overlays) {
        const QRect in = r & QRect(0, 0, w, h);
        for (int y = in.top(); y <= in.bottom(); ++y)
            std::fill_n(m_covered.begin() + static_cast<std::ptrdiff_t>(y) * w + in.left(),
                        in.width(), 1);
    }
}

void MFTrafficButton::drawBars(const GraphFrame& f) {
    // The sheet holds the gradient at the control's own rows, so copying a bar's rows from it
    // keeps the colours fixed to the control; the top row gets the marker pixel. No painter is
    // open on the buffer here, and every bar lies inside both images (3 * n <= width).
    constexpr int kBar = CTrafficGraphModel::kBarWidth;
    const int h = f.height;
    const QRgb marker = kMarkerColour.rgb();
    uchar* dstBits = m_buffer.bits();
    const uchar* srcBits = m_barSheet.constBits();
    const qsizetype dstStride = m_buffer.bytesPerLine();
    const qsizetype srcStride = m_barSheet.bytesPerLine();
    for (std::size_t i = 0; i < f.barTop.size(); ++i) {
        if (!f.barVisible[i])
            continue;
        const int x = static_cast<int>(i) * kBar;
        const int top = f.barTop[i];
        for (int y = top < 0 ? 0 : top; y < h; ++y) {
            auto* dst = reinterpret_cast<QRgb*>(dstBits + y * dstStride) + x;
            const auto* src = reinterpret_cast<const QRgb*>(srcBits + y * srcStride) + x;
            dst[0] = src[0];
            dst[1] = src[1];
            dst[2] = src[2];
        }
        if (top >= 0 && top < h)
            reinterpret_cast<QRgb*>(dstBits + top * dstStride)[x] = marker;
    }
}
} // namespace tn

#pragma once
// MFTrafficButton: the scrolling traffic graph of the main window (control 1011).
//
// Use from the main window, on the UI thread:
//   auto* graph = new MFTrafficButton(global, parent);   // traffic type from TraffTpe
//   graph->setGeometry(...); graph->attach();             // sizes everything once (n = width / 3)
//   graph->setTimerPeriods(1000, 100);                    // sample and repaint timers
//   graph->setScalingMode(global.TMaxScale);
//   graph->restorePinPoint(global.PinPoint);
//   graph->setFixedMaximum(double((global.ConSpeed << 10) >> 3));  // again when ConSpeed changes
//   each tick: setCurrentIncoming(in), setCurrentOutgoing(out), requestFrame();
// selectTrafficType (writes TraffTpe) and selectTimeBase (not stored) are what the context menu
// runs; the menu also toggles the scale (TMaxScale) and info mode (GNfoMode). With info mode on,
// the destructor stores the pinned crosshair in PinPoint.
#include "graph/traffic_graph_model.h"

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPointer>
#include <QRegion>
#include <QStaticText>
#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class QMenu;
class QPainter;
class QWindow;

namespace tn {

namespace ui {
class WindowPixelWriter;
}

class CGlobal;

class MFTrafficButton : public QWidget {
    Q_OBJECT
public:
    static inline const QColor kMarkerColour{0, 255, 255};
    static inline const QColor kShadowColour{0, 0, 75};
    static inline const QColor kGridColour{100, 100, 100};
    static inline const QColor kBackgroundColour{140, 200, 200};

    explicit MFTrafficButton(CGlobal& global, QWidget* parent = nullptr);
    ~MFTrafficButton() override;

    // Takes the present size for good; nothing is painted before this.
    void attach();

    void setTimerPeriods(int sampleMs, int repaintMs);
    void setScalingMode(int adaptive);
    void restorePinPoint(std::int32_t packed);
    void setFixedMaximum(double bytesPerSecond);
    void setCurrentIncoming(std::uint32_t bytesPerSecond);
    void setCurrentOutgoing(std::uint32_t bytesPerSecond);
    void selectTrafficType(int type);
    void selectTimeBase(int base);

    // What the sample timer does once a second.
    void sampleTick();
    // The next frame, as the repaint timer asks for it: drawn off screen once control returns
    // to the event loop (requests until then make one frame), and only the pixels that differ
    // from the frame on the screen are repainted.
    Q_INVOKABLE void requestFrame();
    // Nothing on the screen to draw for (the session is locked): it rests as when hidden, and
    // sampling goes on so the history stays complete.
    void setOffScreen(bool off);
    // One frame: moves the grid one step and copies the whole picture to p at (0, 0).
    void renderFrame(QPainter& p);

    // The right-click menu; each command action carries its command number as data.
    std::unique_ptr<QMenu> createContextMenu();
    void runCommand(int command);

    const CTrafficGraphModel& model() const { return m_model; }
    // Whether frames go to the window directly (see ui::WindowPixelWriter).
    bool writesDirectly() const { return m_writer != nullptr; }
    int repaintTimerIntervalMs() const { return m_repaintTimer.interval(); }
    bool timersActive() const { return m_repaintTimer.isActive() && m_sampleTimer.isActive(); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    void runRepaintTimer(bool onScreen);
    // A label laid out once per distinct text.
    struct Label {
        std::string key;
        bool valid = false;
        QStaticText text;
        int width = 0;
        const Label& update(const std::string& s, const QFont& font);
    };
    // Draws a label on its box; (x, y) is the box's top-left corner.
    void drawLabel(QPainter& p, int x, int y, const Label& label, int height, const QColor& fg,
                   const QColor& bg);

    void buildBarSheet();
    void drawFrame(const GraphFrame& f);
    void drawBars(const GraphFrame& f);
    void restartRepaintTimer();
    void produceFrame();
    void drawNextFrame();
    QRect redrawGridColumns(int previousOffset);
    // Shows rects of the buffer by writing them to the window directly; false where that is
    // not possible, and the caller repaints.
    bool writeDirect(const std::vector<QRect>& rects);
    const std::vector<QRect>& changedColumnRects();

    CTrafficGraphModel m_model;
    QFont m_font;
    int m_fontHeight = 0;
    Label m_infoLabel;
    Label m_timeLabel;
    Label m_valueLabel;
    std::vector<char> m_gridRows;   // redrawGridColumns' scratch, kept to spare an allocation
    std::vector<int> m_gridColumns; // per frame
    struct GridColumn {
        int x;
        int barTop; // the first row the column's bar covers (the height where none)
        bool line;  // whether a grid line stands there now
    };
    std::vector<GridColumn> m_changingColumns; // per frame
    QTimer m_repaintTimer;
    bool m_timersSet = false; // no timer runs before setTimerPeriods
    QTimer m_sampleTimer;
    // The frame on the screen: every paint copies from it.
    QImage m_buffer;
    bool m_framePending = false; // a produceFrame() is queued
    bool m_stale = true;         // the buffer misses what happened while hidden
    bool m_offScreen = false;
    // The bar gradient over the whole control: two gradient columns and one black gap column
    // per bar, fixed to the control so a low bar shows only the dark bottom colours.
    QImage m_barSheet;
    GraphFrame m_frame; // what the buffer shows
    GraphFrame m_next;
    std::vector<QRect> m_overlays; // the crosshair and the labels, drawn over grid and bars
    std::vector<char> m_covered;   // per pixel, row by row: under one of the overlays
    std::unique_ptr<ui::WindowPixelWriter> m_writer;
    bool m_writerTried = false;
    // The toolkit's backing store misses frames written directly: an expose must not show it
    // before the graph painted into it again.
    bool m_backingStale = false;
    QPointer<QWindow> m_watched;      // whose exposes are watched for that
    std::vector<QRect> m_columnRects; // per frame
};

} // namespace tn

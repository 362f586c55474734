#pragma once
// The scrolling traffic graph without any drawing: three histories (per second, minute and
// hour), the vertical scale, the label texts, the crosshair pin and the context-menu model.
// MFTrafficButton (src/ui/main/traffic_button.h) shows it and forwards timers, mouse and menu.
//
// History layout: each series has n + 1 slots, index 0 the oldest. Indices 0..n-1 are completed
// samples drawn as bars; index n is the slot being filled (the last second, or the running sum
// of the minute or hour in progress) and is never drawn.
#include <cstdint>
#include <string>
#include <vector>

namespace tn {

class CGlobal;

enum class TrafficType : std::int32_t { Total = 0, In = 1, Out = 2 };
enum class TimeBase : std::int32_t { Second = 0, Minute = 1, Hour = 2 };

// Context-menu commands.
enum GraphCommand : int {
    kCmdTrafficIn = 50,
    kCmdTrafficOut = 51,
    kCmdTrafficTotal = 52,
    kCmdSecond = 60,
    kCmdMinute = 61,
    kCmdHour = 62,
    kCmdToggleScaling = 3000,
    kCmdInfoMode = 3005,
};

struct GraphMenuItem {
    std::string text;
    int command = 0; // 0 for an item that opens a submenu
    bool checked = false;
    std::vector<GraphMenuItem> submenu;
};

// What the control has to do after a menu command.
enum class GraphCommandEffect { None, Repaint, RestartRepaintTimer };

// Text and placement of the crosshair read-out, in client pixels (top-left of each label).
struct CrosshairLabels {
    std::string timeLabel;  // "% i %s ago"
    std::string valueLabel; // " " + byte text
    int timeX = 0, timeY = 0;
    int valueX = 0, valueY = 0;
};

// Places the two labels around the pin: the time label at the left edge, below the horizontal
// line unless it would leave the control; the value label right of the vertical line unless it
// would leave the control, and lower down while the pin is left of the info text's right end.
void placeCrosshairLabels(CrosshairLabels& labels, int pinX, int pinY, int width, int height,
                          int timeLabelHeight, int valueLabelWidth, int infoTextWidth);

// Everything one paint needs, so a paint never reads the live model.
struct GraphFrame {
    int width = 0;
    int height = 0;
    int gridOffsetX = 0;
    int gridOffsetY = 0;
    // Top edge of each bar (0..n-1) in client pixels; a bar is drawn only when value > 0.
    // A top below 0 means the bar is taller than the control and is cut at the top edge.
    std::vector<int> barTop;
    std::vector<char> barVisible;
    std::string infoText;
    bool infoMode = false;
    int pinX = 0;
    int pinY = 0;
    CrosshairLabels crosshair; // texts only; the painter places them with its font's sizes
};

class CTrafficGraphModel {
public:
    static constexpr int kBarWidth = 3;
    static constexpr int kGridCell = 10;

    // Reads the traffic type from `TraffTpe`; the settings it changes are written through g.
    explicit CTrafficGraphModel(CGlobal& g);
    // With info mode on, stores the pin (0 when unpinned) in `PinPoint`.
    ~CTrafficGraphModel();
    CTrafficGraphModel(const CTrafficGraphModel&) = delete;
    CTrafficGraphModel& operator=(const CTrafficGraphModel&) = delete;

    // Sizes everything once: n = width / 3 columns, all series zero, the pin in the centre,
    // the current maximum taken from the fixed maximum.
    void attach(int width, int height);
    bool ready() const { return m_ready; }

    // Host operations.
    void setTimerPeriods(int sampleMs, int repaintMs);
    void setScalingMode(int adaptive);
    void restorePinPoint(std::int32_t packed);
    void setFixedMaximum(double bytesPerSecond);
    void setCurrentIncoming(std::uint32_t bytesPerSecond) { m_curIn = bytesPerSecond; }
    void setCurrentOutgoing(std::uint32_t bytesPerSecond) { m_curOut = bytesPerSecond; }
    // Writes `TraffTpe`. Values outside 0..2 are ignored.
    void selectTrafficType(int type);
    // Never persisted; Minute and Hour turn adaptive scaling on. Values outside 0..2 are ignored.
    void selectTimeBase(int base);

    // One sample (the sample timer): shift every series, then store the current values.
    void sampleTick();

    // Value of column i in the current time base and traffic type; 0 beyond n.
    double valueAt(std::int64_t i) const;
    // The unit suffix of the current time base: "/s", "/m" or "/h".
    const char* suffix() const;

    // Grid scrolling: one step per paint.
    void advanceGrid();

    // Mouse: returns true when the control should repaint.
    bool mouseMove(int x, int y);
    void leftButtonDown() { m_pinLocked = m_pinLocked ? 0 : 1; }

    std::vector<GraphMenuItem> contextMenu() const;
    GraphCommandEffect executeCommand(int command);

    // Crosshair texts for the column under the pin (not yet placed).
    CrosshairLabels crosshairLabels() const;
    // Top edge of a bar of value v; see GraphFrame::barTop.
    int barTop(double v) const;

    // Fills a frame for painting; reuses the frame's storage.
    void snapshot(GraphFrame& frame) const;

    std::uint32_t columns() const { return m_n; }
    int width() const { return m_width; }
    int height() const { return m_height; }
    const std::string& infoText() const { return m_infoText; }
    double currentMaximum() const { return m_curMax; }
    double fixedMaximum() const { return m_fixedMax; }
    int adaptive() const { return m_adaptive; }
    TrafficType trafficType() const { return m_trafficType; }
    TimeBase timeBase() const { return m_timeBase; }
    int pinX() const { return m_pinX; }
    int pinY() const { return m_pinY; }
    bool pinLocked() const { return m_pinLocked != 0; }
    bool infoMode() const;
    int gridOffsetX() const { return m_gridX; }
    int gridOffsetY() const { return m_gridY; }
    std::uint32_t sampleCount() const { return m_samples; }
    int samplePeriodMs() const { return m_samplePeriodMs; }
    // The repaint period stretched for the time base (x1, x2, x10).
    int repaintIntervalMs() const;

private:
    struct Slot {
        double in = 0;
        double out = 0;
    };
    const std::vector<Slot>& series() const;
    double valueOf(const Slot& s) const;
    double largestBarValue() const;

    // The last crosshair texts and what they were made of.
    struct CrosshairCache {
        bool valid = false;
        double value = 0;
        int ago = 0;
        const char* suffix = nullptr;
        CrosshairLabels labels;
    };
    mutable CrosshairCache m_crosshairCache;

    CGlobal& m_global;
    int m_width = 0;
    int m_height = 0;
    std::uint32_t m_n = 0;
    bool m_ready = false;
    double m_fixedMax = 0;
    double m_curMax = 0;
    int m_adaptive = 0;
    int m_gridX = 0;
    int m_gridY = 0;
    std::uint32_t m_samples = 0;
    std::vector<Slot> m_perSecond;
    std::vector<Slot> m_perMinute;
    std::vector<Slot> m_perHour;
    double m_curIn = 0;
    double m_curOut = 0;
    TrafficType m_trafficType = TrafficType::Total;
    TimeBase m_timeBase = TimeBase::Second;
    int m_pinX = 0;
    int m_pinY = 0;
    int m_lastMouseX = 0;
    int m_lastMouseY = 0;
    int m_pinLocked = 0;
    int m_samplePeriodMs = 1000;
    int m_repaintPeriodMs = 200;
    std::string m_infoText;
};

} // namespace tn

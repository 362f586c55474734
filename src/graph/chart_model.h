#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace tn {

// A rectangle with exclusive right and bottom edges, as the chart's geometry is stated.
struct ChartRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    bool contains(int x, int y) const { return x >= left && x < right && y >= top && y < bottom; }
    bool operator==(const ChartRect&) const = default;
};

// A line from (x0, y0) up to (x1, y1), the end point itself not drawn.
struct ChartLine {
    int x0 = 0;
    int y0 = 0;
    int x1 = 0;
    int y1 = 0;
    bool operator==(const ChartLine&) const = default;
};

struct ChartRgb {
    std::uint8_t r = 0;
    std::uint8_t g = 0;
    std::uint8_t b = 0;
    bool operator==(const ChartRgb&) const = default;
};

struct ChartBar {
    ChartRect bar; // filled with `colour`, outlined in black
    ChartRgb colour;
    ChartRect labelRect; // the label is centred horizontally in it
    std::string label;
    bool selected = false; // drawn in the axis font in red instead of the bar label font
};

// Everything one paint draws, worked out without a window.
struct ChartLayout {
    // Non-empty: the chart cannot be drawn; a white client area with this text centred in
    // `messageRect` is all there is.
    std::string message;
    ChartRect messageRect;
    ChartRect plot;
    std::vector<ChartLine> ticks;        // four, empty when bars are not drawn
    std::vector<std::string> scaleTexts; // the labels of s and s / 2
    std::vector<ChartRect> scaleRects;   // right-aligned in these
    std::vector<ChartBar> bars;
    ChartRect titleRect; // the title is centred horizontally at the top of it
};

// What a click on the chart tells its parent.
struct ChartClick {
    int index = -1;
    std::string label; // at most kMaxClickLabel characters; empty for an invalid index
    double value = 0.0;
};

// The bar chart of the history viewer: its values, palette, selection, scale and geometry. The
// chart widget paints what layout() says and asks hitTest() under the mouse.
class ChartModel {
public:
    static constexpr int kDrawBars = 1;
    static constexpr int kBarGap = 1;
    static constexpr std::size_t kMaxClickLabel = 59;
    static constexpr const char* kNoValues = "Values count must be > 0";
    static constexpr const char* kNoColours = "Color count mus be > 1";
    static constexpr ChartRgb kBackground{200, 200, 230};
    static constexpr ChartRgb kRed{255, 0, 0};

    // 0 empties the palette; 2 installs the twelve colours of the bars; other kinds only empty.
    void setPalette(int kind);
    // Bit 0 set draws the bars; a new chart has flags 2, which draws none.
    void setChartKind(int flags) { m_kind = flags; }
    int chartKind() const { return m_kind; }
    // Refuses a negative or non-finite value (false, nothing changes). Otherwise appends the
    // entry, keeps total and maximum and clears the selection.
    bool addValue(double value, std::string label);
    // Removes every entry; total and maximum become 0. The selection stays as it is.
    void clearValues();
    void setSelectedIndex(int index) { m_selected = index; }
    int selectedIndex() const { return m_selected; }

    std::size_t count() const { return m_values.size(); }
    double value(std::size_t i) const { return m_values.at(i).value; }
    const std::string& label(std::size_t i) const { return m_values.at(i).label; }
    double maximum() const { return m_maximum; }
    double total() const { return m_total; }
    const std::vector<ChartRgb>& palette() const { return m_palette; }

    // The top of the value axis for a largest value: 1 below 1; above that the next integer
    // after the first digit when that exceeds the maximum (5 gives 6, 1.4 gives 2), otherwise
    // the maximum itself (5000 gives 5000).
    static double scaleMaximum(double maximum);
    // The number part of a byte text: "6 B" gives "6 ", "4.88 KB" gives "4.88 ".
    static std::string scaleText(double value);

    ChartLayout layout(int width, int height) const;
    // Index of the bar (or of its label underneath) at a client point, -1 for none.
    int hitTest(int x, int y, int width, int height) const;
    // The notification of a click with the current selection.
    ChartClick click() const;

private:
    struct Entry {
        double value;
        std::string label;
    };
    std::vector<Entry> m_values;
    std::vector<ChartRgb> m_palette;
    double m_maximum = 0.0;
    double m_total = 0.0;
    int m_kind = 2;
    int m_selected = -1;
};

} // namespace tn

#include "graph/chart_model.h"

#include "app/formats.h"

#include <cmath>
#include <cstdio>
#include <new>

namespace tn {

namespace {

constexpr ChartRgb kPalette2[] = {{0, 204, 0}, {0, 0, 255},   {0, 204, 204}, {255, 0, 0},
                                  {204, 0, 0}, {0, 255, 0},   {255, 0, 255}, {204, 0, 204},
                                  {0, 0, 204}, {255, 255, 0}, {204, 204, 0}, {0, 255, 255}};

// Margins of the plot inside the client area.
constexpr int kLeftMargin = 50;
constexpr int kRightMargin = 20;
constexpr int kTopMargin = 30;
constexpr int kBottomMargin = 20;

// The first `n` characters of a UTF-8 text, never cutting a character in two.
std::string firstCharacters(const std::string& text, std::size_t n) {
    std::size_t count = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if ((c & 0xC0) != 0x80 && count++ == n)
            return text.substr(0, i);
    }
    return text;
}

} // namespace

void ChartModel::setPalette(int kind) {
    m_palette.clear();
    if (kind == 2)
        m_palette.assign(std::begin(kPalette2), std::end(kPalette2));
}

bool ChartModel::addValue(double value, std::string label) {
    // A non-finite value would make every bar height undefined.
    if (!(value >= 0.0) || !std::isfinite(value))
        return false;
    try {
        m_values.push_back(Entry{value, std::move(label)});
    } catch (const std::bad_alloc&) {
        return false; // the chart stays as it was
    }
    m_total += value;
    if (value > m_maximum)
        m_maximum = value;
    m_selected = -1;
    return true;
}

void ChartModel::clearValues() {
    m_values.clear();
    m_maximum = 0.0;
    m_total = 0.0;
}

double ChartModel::scaleMaximum(double maximum) {
    if (maximum < 1.0)
        return 1.0;
    char text[400];
    std::snprintf(text, sizeof text, "%.0f", maximum);
    const int digit = text[0] - '0';
    return digit + 1 > maximum ? digit + 1 : maximum;
}

std::string ChartModel::scaleText(double value) {
    const std::string text = formatBytes(static_cast<float>(value));
    const auto blank = text.find(' ');
    return blank == std::string::npos ? std::string() : text.substr(0, blank + 1);
}

ChartLayout ChartModel::layout(int width, int height) const {
    ChartLayout out;
    if (m_values.empty() || m_palette.size() < 2) {
        out.message = m_values.empty() ? kNoValues : kNoColours;
        out.messageRect = {0, 50, width, height};
        return out;
    }
    out.titleRect = {0, 0, width, height};
    const int l = kLeftMargin;
    const int r = width - kRightMargin;
    const int t = kTopMargin;
    const int b = height - kBottomMargin;
    const int h = b - t;
    out.plot = {l, t, r, b};
    if ((m_kind & kDrawBars) == 0)
        return out;

    out.ticks = {{l - 3, t, l + 3, t},
                 {l - 2, t + h / 4, l + 2, t + h / 4},
                 {l - 3, t + h / 2, l + 3, t + h / 2},
                 {l - 2, t + 3 * h / 4, l + 2, t + 3 * h / 4}};
    const double s = scaleMaximum(m_maximum);
    out.scaleTexts = {scaleText(s), scaleText(s * 0.5)};
    out.scaleRects = {{5, 25, 47, 40}, {5, t + h / 2 - 5, 47, t + h / 2 + 10}};

    const int w = (r - l) / static_cast<int>(m_values.size());
    out.bars.reserve(m_values.size());
    for (std::size_t i = 0; i < m_values.size(); ++i) {
        const int x0 = l + 2 + static_cast<int>(i) * w;
        const int x1 = x0 + w - kBarGap;
        int top = b - static_cast<int>(h * m_values[i].value / s);
        if (top > b - 2)
            top = b - 2; // even an empty day shows a sliver
        ChartBar bar;
        bar.bar = {x0, top, x1, b};
        bar.colour = m_palette[i % m_palette.size()];
        bar.labelRect = {x0, b + 2, x1, b + 17};
        bar.label = m_values[i].label;
        bar.selected = static_cast<int>(i) == m_selected;
        out.bars.push_back(std::move(bar));
    }
    return out;
}

int ChartModel::hitTest(int x, int y, int width, int height) const {
    if (!(m_total > 0.0) || (m_kind & kDrawBars) == 0)
        return -1;
    const double s = scaleMaximum(m_maximum);
    const int l = kLeftMargin;
    const int r = width - kRightMargin;
    const int h = (height - kBottomMargin) - kTopMargin;
    const int w = (r - l) / static_cast<int>(m_values.size());
    // The bottom reaches into the labels, so a label is as good a target as its bar.
    const int b = height - 4;
    for (std::size_t i = 0; i < m_values.size(); ++i) {
        const int x0 = l + 2 + static_cast<int>(i) * w;
        const int x1 = x0 + w - kBarGap;
        int top = b - static_cast<int>((h + 1) * m_values[i].value / s) - 15;
        if (top > b - 2)
            top = b - 2;
        if (ChartRect{x0, top, x1, b}.contains(x, y))
            return static_cast<int>(i);
    }
    return -1;
}

ChartClick ChartModel::click() const {
    ChartClick c;
    c.index = m_selected;
    if (m_selected >= 0 && static_cast<std::size_t>(m_selected) < m_values.size()) {
        const Entry& e = m_values[static_cast<std::size_t>(m_selected)];
        c.label = firstCharacters(e.label, kMaxClickLabel);
        c.value = e.value;
    }
    return c;
}

} // namespace tn

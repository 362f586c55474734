#include "graph/traffic_graph_model.h"

#include "app/formats.h"
#include "app/global.h"

#include <cmath>
#include <cstdio>

namespace tn {

namespace {

// Every value is shown the way the byte formatter sees it: rounded to single precision.
std::string byteText(double v) {
    return formatBytes(static_cast<float>(v));
}

} // namespace

CTrafficGraphModel::CTrafficGraphModel(CGlobal& g)
    : m_global(g), m_trafficType(static_cast<TrafficType>(g.TraffTpe)) {}

CTrafficGraphModel::~CTrafficGraphModel() {
    if (m_global.GNfoMode == 0)
        return;
    std::int32_t packed = 0;
    if (m_pinLocked) {
        const std::uint32_t x = static_cast<std::uint32_t>(m_pinX) & 0xFFFFu;
        const std::uint32_t y = static_cast<std::uint32_t>(m_pinY) & 0xFFFFu;
        packed = static_cast<std::int32_t>((x << 16) + y);
    }
    m_global.PinPoint = packed;
    m_global.writeInt("PinPoint", packed);
}

void CTrafficGraphModel::attach(int width, int height) {
    m_width = width < 0 ? 0 : width;
    m_height = height < 0 ? 0 : height;
    m_curMax = m_fixedMax;
    m_n = static_cast<std::uint32_t>(m_width / kBarWidth);
    m_perSecond.assign(m_n + 1, Slot{});
    m_perMinute.assign(m_n + 1, Slot{});
    m_perHour.assign(m_n + 1, Slot{});
    m_samples = 0;
    m_pinX = m_width / 2;
    m_pinY = m_height / 2;
    m_ready = true;
}

void CTrafficGraphModel::setTimerPeriods(int sampleMs, int repaintMs) {
    m_samplePeriodMs = sampleMs;
    m_repaintPeriodMs = repaintMs;
}

int CTrafficGraphModel::repaintIntervalMs() const {
    switch (m_timeBase) {
    case TimeBase::Minute:
        return m_repaintPeriodMs * 2;
    case TimeBase::Hour:
        return m_repaintPeriodMs * 10;
    default:
        return m_repaintPeriodMs;
    }
}

double CTrafficGraphModel::largestBarValue() const {
    double m = 0;
    for (std::uint32_t i = 0; i < m_n; ++i) {
        const double v = valueAt(i);
        if (v > m)
            m = v;
    }
    return m;
}

void CTrafficGraphModel::setScalingMode(int adaptive) {
    // Kept as 0 or 1: the sample tick tests for exactly 1, so a stray stored value such as 2
    // would otherwise let the adaptive maximum only grow.
    m_adaptive = adaptive != 0 ? 1 : 0;
    m_curMax = m_adaptive ? largestBarValue() : m_fixedMax;
}

void CTrafficGraphModel::restorePinPoint(std::int32_t packed) {
    if (packed == 0)
        return;
    const auto bits = static_cast<std::uint32_t>(packed);
    m_pinLocked = 1;
    m_pinX = static_cast<int>(bits >> 16);
    m_pinY = static_cast<int>(bits & 0xFFFFu);
}

void CTrafficGraphModel::setFixedMaximum(double bytesPerSecond) {
    m_fixedMax = bytesPerSecond;
    if (m_adaptive == 0)
        m_curMax = bytesPerSecond;
}

void CTrafficGraphModel::selectTrafficType(int type) {
    if (type < 0 || type > 2)
        return;
    m_trafficType = static_cast<TrafficType>(type);
    m_global.TraffTpe = type;
    m_global.writeInt("TraffTpe", type);
    setScalingMode(m_adaptive);
}

void CTrafficGraphModel::selectTimeBase(int base) {
    if (base < 0 || base > 2)
        return;
    m_timeBase = static_cast<TimeBase>(base);
    if (m_timeBase != TimeBase::Second)
        setScalingMode(1);
}

const std::vector<CTrafficGraphModel::Slot>& CTrafficGraphModel::series() const {
    switch (m_timeBase) {
    case TimeBase::Minute:
        return m_perMinute;
    case TimeBase::Hour:
        return m_perHour;
    default:
        return m_perSecond;
    }
}

double CTrafficGraphModel::valueOf(const Slot& s) const {
    switch (m_trafficType) {
    case TrafficType::In:
        return s.in;
    case TrafficType::Out:
        return s.out;
    default:
        return s.in + s.out;
    }
}

double CTrafficGraphModel::valueAt(std::int64_t i) const {
    if (i < 0 || i > static_cast<std::int64_t>(m_n) || !m_ready)
        return 0;
    return valueOf(series()[static_cast<std::size_t>(i)]);
}

const char* CTrafficGraphModel::suffix() const {
    switch (m_timeBase) {
    case TimeBase::Minute:
        return "/m";
    case TimeBase::Hour:
        return "/h";
    default:
        return "/s";
    }
}

void CTrafficGraphModel::sampleTick() {
    if (!m_ready)
        return;
    ++m_samples;
    const double last = valueAt(m_n);
    if (m_timeBase != TimeBase::Second)
        m_adaptive = 1;
    if (m_adaptive == 1)
        m_curMax = 0;
    // The shift comes before the new sample, so a minute closes on its 60th sample and the next
    // minute starts with it: the first completed minute holds 59 samples, the first hour 3599.
    const bool minuteEnds = m_samples % 60 == 0;
    const bool hourEnds = m_samples % 3600 == 0;
    for (std::uint32_t i = 0; i < m_n; ++i) {
        m_perSecond[i] = m_perSecond[i + 1];
        if (minuteEnds)
            m_perMinute[i] = m_perMinute[i + 1];
        if (hourEnds)
            m_perHour[i] = m_perHour[i + 1];
        const double v = valueAt(i);
        if (v > m_curMax && m_adaptive != 0)
            m_curMax = v;
    }
    // The slot in progress restarts even when there are no columns to shift into.
    if (minuteEnds)
        m_perMinute[m_n] = Slot{};
    if (hourEnds)
        m_perHour[m_n] = Slot{};
    m_perSecond[m_n] = Slot{m_curIn, m_curOut};
    m_perMinute[m_n].in += m_curIn;
    m_perMinute[m_n].out += m_curOut;
    m_perHour[m_n].in += m_curIn;
    m_perHour[m_n].out += m_curOut;
    if (m_adaptive == 0)
        m_curMax = m_fixedMax;

    const char* sfx = suffix();
    m_infoText.assign(" ");
    m_infoText += byteText(last);
    m_infoText += sfx;
    m_infoText += "  /  ";
    m_infoText += byteText(m_curMax);
    m_infoText += sfx;
    m_infoText += ' ';
}

void CTrafficGraphModel::advanceGrid() {
    m_gridX += -1;
    if (m_gridX < 0)
        m_gridX = kGridCell;
    else if (m_gridX > kGridCell)
        m_gridX = 0;
    if (m_gridY < 0)
        m_gridY = kGridCell;
    else if (m_gridY > kGridCell)
        m_gridY = 0;
}

bool CTrafficGraphModel::mouseMove(int x, int y) {
    if (!m_pinLocked) {
        m_pinX = x;
        m_pinY = y;
    }
    if (x == m_lastMouseX && y == m_lastMouseY)
        return false;
    m_lastMouseX = x;
    m_lastMouseY = y;
    return true;
}

bool CTrafficGraphModel::infoMode() const {
    return m_global.GNfoMode != 0;
}

std::vector<GraphMenuItem> CTrafficGraphModel::contextMenu() const {
    const auto type = static_cast<int>(m_trafficType);
    const auto base = m_timeBase;
    std::vector<GraphMenuItem> menu;
    menu.push_back({"Select Traffic",
                    0,
                    false,
                    {{"In", kCmdTrafficIn, type == 1, {}},
                     {"Out", kCmdTrafficOut, type == 2, {}},
                     {"Total", kCmdTrafficTotal, type == 0, {}}}});
    if (base == TimeBase::Second) {
        std::string text = m_adaptive == 0 ? std::string("Toggle scaling to Adaptative")
                                           : "Toggle scaling to " + byteText(m_fixedMax) + "/s";
        menu.push_back({std::move(text), kCmdToggleScaling, false, {}});
    }
    menu.push_back({"Switch speeds",
                    0,
                    false,
                    {{"Second", kCmdSecond, base == TimeBase::Second, {}},
                     {"Minute", kCmdMinute, base == TimeBase::Minute, {}},
                     {"Hour", kCmdHour, base == TimeBase::Hour, {}}}});
    menu.push_back({"Info Mode", kCmdInfoMode, infoMode(), {}});
    return menu;
}

GraphCommandEffect CTrafficGraphModel::executeCommand(int command) {
    switch (command) {
    case kCmdTrafficIn:
        selectTrafficType(1);
        return GraphCommandEffect::Repaint;
    case kCmdTrafficOut:
        selectTrafficType(2);
        return GraphCommandEffect::Repaint;
    case kCmdTrafficTotal:
        selectTrafficType(0);
        return GraphCommandEffect::Repaint;
    case kCmdSecond:
    case kCmdMinute:
    case kCmdHour:
        selectTimeBase(command - kCmdSecond);
        return GraphCommandEffect::RestartRepaintTimer;
    case kCmdToggleScaling:
        setScalingMode(m_adaptive == 1 ? 0 : 1);
        m_global.TMaxScale = m_adaptive;
        m_global.writeInt("TMaxScale", m_adaptive);
        return GraphCommandEffect::Repaint;
    case kCmdInfoMode:
        m_global.GNfoMode = m_global.GNfoMode == 0 ? 1 : 0;
        m_global.writeInt("GNfoMode", m_global.GNfoMode);
        return GraphCommandEffect::Repaint;
    default:
        return GraphCommandEffect::None;
    }
}

CrosshairLabels CTrafficGraphModel::crosshairLabels() const {
    const int column = m_pinX / kBarWidth;
    const double value = valueAt(column);
    // A pin beyond the last column gives a negative count, as the pin is never clamped.
    const auto ago = static_cast<int>(static_cast<std::int64_t>(m_n) - column);
    const char* sfx = suffix();
    // Every frame asks, ten times a second; the texts change with a sample or a move at most.
    CrosshairCache& c = m_crosshairCache;
    if (c.valid && c.value == value && c.ago == ago && c.suffix == sfx)
        return c.labels;
    c = {true, value, ago, sfx, {}};
    c.labels.valueLabel = " " + byteText(value);
    char buf[64];
    std::snprintf(buf, sizeof buf, "% i %s ago", ago, sfx);
    c.labels.timeLabel = buf;
    return c.labels;
}

void placeCrosshairLabels(CrosshairLabels& labels, int pinX, int pinY, int width, int height,
                          int timeLabelHeight, int valueLabelWidth, int infoTextWidth) {
    labels.timeX = 1;
    labels.timeY = pinY + timeLabelHeight < height ? pinY + 1 : pinY - timeLabelHeight;
    labels.valueX = pinX + valueLabelWidth < width ? pinX + 1 : pinX - valueLabelWidth;
    labels.valueY = pinX >= infoTextWidth + 6 ? 1 : 18;
}

int CTrafficGraphModel::barTop(double v) const {
    const int bottom = m_height;
    if (!(v > 0))
        return bottom;
    // A maximum of 0 would scale by infinity: every positive value is a full bar.
    if (!(m_curMax > 0))
        return 0;
    const double scale = static_cast<double>(m_height) / m_curMax;
    const double px = v * scale;
    // Anything taller than the control is cut at its top edge; one pixel above the edge stands
    // for any such height, which also keeps the integer conversion from overflowing.
    if (px >= m_height + 1.0)
        return -1;
    return bottom - static_cast<int>(px);
}

void CTrafficGraphModel::snapshot(GraphFrame& frame) const {
    frame.width = m_width;
    frame.height = m_height;
    frame.gridOffsetX = m_gridX;
    frame.gridOffsetY = m_gridY;
    frame.barTop.resize(m_n);
    frame.barVisible.resize(m_n);
    for (std::uint32_t i = 0; i < m_n; ++i) {
        const double v = valueAt(i);
        frame.barTop[i] = barTop(v);
        frame.barVisible[i] = v > 0 ? 1 : 0;
    }
    frame.infoText = m_infoText;
    frame.infoMode = infoMode();
    frame.pinX = m_pinX;
    frame.pinY = m_pinY;
    if (frame.infoMode)
        frame.crosshair = crosshairLabels();
}

} // namespace tn

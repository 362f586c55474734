#pragma once
#include "capture/adapter.h"
#include "orchestration/statistics_owner.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>

namespace tn {

class CGlobal;
class IClock;

// Tray state icons, chosen from the deltas of a tick.
enum TrayIconId : int {
    kTrayIdle = 134,    // nothing received or sent
    kTraySending = 135, // only sent
    kTrayReceiving = 136,
    kTrayBoth = 137,
};

int trayIconFor(std::uint64_t receivedDelta, std::uint64_t sentDelta);

// What the outage detector and the probe schedule get from a tick.
class ITickEvents {
public:
    virtual ~ITickEvents() = default;
    virtual void outageStep(std::uint64_t incoming) = 0;
    virtual void probeStep() = 0;
};

// Everything one tick shows, for the window to apply.
struct TickView {
    // The number of adapters changed: the window reloads its list and shows the idle state;
    // nothing else of this view is meaningful.
    bool adapterSetChanged = false;
    bool adapterCountWasNonZero = false;

    int trayIcon = kTrayIdle;
    std::string tooltip;
    std::uint64_t receivedDelta = 0;
    std::uint64_t sentDelta = 0;
    std::uint32_t receivedSpeed = 0; // bytes per second
    std::uint32_t sentSpeed = 0;
    std::uint32_t barMaximum = 0;    // both speed bars span 0 .. barMaximum
    std::uint64_t framesDropped = 0; // by the capture since the program started
    // Control identifier and text, in the order the tick writes them.
    static constexpr std::size_t kTextCount = 15;
    std::array<std::pair<int, std::string>, kTextCount> texts;

    // The text of one control; empty when the view has none for it.
    std::string text(int id) const;
};

// The arithmetic of the main window's once-a-second tick: reads the chosen traffic source, turns
// the cumulative counters into deltas, speeds, period totals and averages, and decides the tray
// state. Holds no window; the dialog applies the returned view.
class CTickSampler {
public:
    CTickSampler(CGlobal& global, const IClock& clock, CAdapter& counters, ICaptureTotals& capture,
                 ITickEvents* events);

    // Dialog initialisation: previous tick time, period start and program start become now.
    void start();
    // A new measuring period: totals and previous readings back to zero, period start now. The
    // bases and the program start stay.
    void restartPeriod();

    void setAdapterCount(int count) { m_adapterCount = count; }
    int adapterCount() const { return m_adapterCount; }
    void setAdapterName(std::string name) { m_adapterName = std::move(name); }
    // The connection moved to another adapter ("Automatic"): its counters are read now as the
    // previous reading, so the period, the graph and the totals go on without a jump.
    void switchAdapter(std::string name);
    const std::string& adapterName() const { return m_adapterName; }

    TickView tick();
    // A line the tooltip gains under the traffic (the data plan's); empty adds nothing.
    void setTooltipLine(std::function<std::string()> line) { m_tooltipLine = std::move(line); }
    // At exit, once the capture has stopped: the drops of the last minute (or of a run shorter
    // than one) would otherwise go untold, so the log gets the total if it grew since its last
    // line.
    void logFinalDrops();

    std::uint64_t periodReceived() const { return m_periodRx; }
    std::uint64_t periodSent() const { return m_periodTx; }
    std::uint64_t receivedBase() const { return m_rxBase; }
    std::uint64_t sentBase() const { return m_txBase; }
    int saveCounter() const { return m_saveCounter; }

private:
    std::uint64_t readSource(std::uint64_t& received, std::uint64_t& sent);
    void noteDrops(std::uint64_t dropped);
    void writeDrops(std::uint64_t dropped);

    CGlobal& m_global;
    const IClock& m_clock;
    CAdapter& m_counters;
    ICaptureTotals& m_capture;
    ITickEvents* m_events;

    int m_adapterCount = 0;
    std::string m_adapterName;
    std::uint64_t m_prevRx = 0, m_prevTx = 0; // both 0: no previous reading
    std::uint64_t m_periodRx = 0, m_periodTx = 0;
    std::uint64_t m_rxBase = 0, m_txBase = 0; // both 0: not taken yet
    std::uint32_t m_prevTickMs = 0;
    std::int64_t m_periodStart = 0;
    std::int64_t m_programStart = 0;
    int m_saveCounter = 0;
    std::uint64_t m_droppedLogged = 0;
    std::int64_t m_dropLogTime = 0; // when the last drop line was written; 0: never
    std::function<std::string()> m_tooltipLine;
};

} // namespace tn

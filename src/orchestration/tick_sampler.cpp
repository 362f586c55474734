#include "orchestration/tick_sampler.h"

#include "app/control_ids.h"
#include "app/formats.h"
#include "app/global.h"
#include "platform/clock.h"
#include "stats/report.h"

#include <algorithm>
#include <string>

namespace tn {

namespace {

using namespace ids::main_dlg;

// A reading below the previous one means the counter started again (interface reset or
// re-created, adapter gone): what arrived since then is the new reading itself, not a 64-bit
// wrap worth exabytes.
std::uint64_t counterDelta(std::uint64_t current, std::uint64_t previous) {
    return current >= previous ? current - previous : current;
}

std::uint32_t speedOf(std::uint64_t delta, std::uint32_t elapsedMs) {
    if (elapsedMs > 2000)
        return static_cast<std::uint32_t>(delta * 1000 / elapsedMs);
    return static_cast<std::uint32_t>(delta); // a tick up to two seconds late counts as one second
}

} // namespace

int trayIconFor(std::uint64_t receivedDelta, std::uint64_t sentDelta) {
    if (receivedDelta != 0 && sentDelta != 0)
        return kTrayBoth;
    if (sentDelta != 0)
        return kTraySending;
    if (receivedDelta != 0)
        return kTrayReceiving;
    return kTrayIdle;
}

std::string TickView::text(int id) const {
    for (const auto& [key, value] : texts)
        if (key == id)
            return value;
    return {};
}

CTickSampler::CTickSampler(CGlobal& global, const IClock& clock, CAdapter& counters,
                           ICaptureTotals& capture, ITickEvents* events)
    : m_global(global), m_clock(clock), m_counters(counters), m_capture(capture), m_events(events) {
}

void CTickSampler::start() {
    m_prevTickMs = m_clock.tickMs();
    m_periodStart = m_clock.now();
    m_programStart = m_periodStart;
}

void CTickSampler::switchAdapter(std::string name) {
    m_adapterName = std::move(name);
    if (m_global.WinPCap != 0) {
        // Capture totals run on across the new capture; only the bases belong to an adapter.
        if (m_global.Incremtotal == 0)
            return;
    }
    m_counters.refreshInterfaceTable();
    InterfaceReading reading;
    if (m_counters.findInterfaceReading(m_adapterName, reading) == 0) {
        m_prevRx = m_prevTx = 0; // the next reading starts from itself
        return;
    }
    if (m_global.WinPCap != 0) {
        // The new adapter's counters replace the old bases; what capture counted stays.
        const std::uint64_t rx = m_prevRx - m_rxBase + reading.inOctets;
        const std::uint64_t tx = m_prevTx - m_txBase + reading.outOctets;
        m_rxBase = reading.inOctets;
        m_txBase = reading.outOctets;
        m_prevRx = rx;
        m_prevTx = tx;
        return;
    }
    m_prevRx = reading.inOctets;
    m_prevTx = reading.outOctets;
}

void CTickSampler::restartPeriod() {
    m_periodRx = m_periodTx = 0;
    m_prevRx = m_prevTx = 0;
    m_periodStart = m_clock.now();
}

std::uint64_t CTickSampler::readSource(std::uint64_t& received, std::uint64_t& sent) {
    m_counters.refreshInterfaceTable();
    InterfaceReading reading;
    const bool found = m_counters.findInterfaceReading(m_adapterName, reading) != 0;

    if (m_global.RestartFlag.exchange(0) != 0)
        restartPeriod();
    if (m_rxBase == 0 && m_txBase == 0 && found) {
        m_rxBase = reading.inOctets;
        m_txBase = reading.outOctets;
    }

    const auto sinceStart = static_cast<std::uint64_t>(m_clock.now() - m_programStart);
    std::uint64_t duration = 0;
    if (m_global.WinPCap != 0) {
        received = m_capture.totalReceived();
        sent = m_capture.totalSent();
        if (m_global.Incremtotal != 0) {
            received += m_rxBase;
            sent += m_txBase;
            duration =
                found && reading.connectedSeconds != 0 ? reading.connectedSeconds : sinceStart;
        } else {
            duration = sinceStart;
        }
    } else if (found) {
        received = reading.inOctets;
        sent = reading.outOctets;
        duration = reading.connectedSeconds != 0 ? reading.connectedSeconds : sinceStart;
    } else {
        received = sent = 0;
    }
    if (m_prevRx == 0 && m_prevTx == 0) {
        m_prevRx = received; // the first reading of a period gives zero deltas
        m_prevTx = sent;
    }
    return duration;
}

void CTickSampler::noteDrops(std::uint64_t dropped) {
    // While the count grows the log gets a line at most once a minute.
    const std::int64_t now = m_clock.now();
    if (dropped <= m_droppedLogged || (m_dropLogTime != 0 && now - m_dropLogTime < 60))
        return;
    writeDrops(dropped);
}

void CTickSampler::logFinalDrops() {
    const std::uint64_t dropped = m_capture.framesDropped();
    if (dropped > m_droppedLogged)
        writeDrops(dropped);
}

void CTickSampler::writeDrops(std::uint64_t dropped) {
    m_global.writeLog(captureDropsLogText(dropped));
    m_droppedLogged = dropped;
    m_dropLogTime = m_clock.now();
}

TickView CTickSampler::tick() {
    TickView view;
    const int count = m_counters.countAdapters();
    if (count != m_adapterCount) {
        view.adapterSetChanged = true;
        view.adapterCountWasNonZero = m_adapterCount != 0;
        return view;
    }

    m_capture.setLanOnly(m_global.LanOnly);
    m_capture.refreshAddresses();
    if (++m_saveCounter >= 60) {
        m_capture.save();
        m_saveCounter = 0;
    }

    std::uint64_t received = 0, sent = 0;
    const std::uint64_t duration = readSource(received, sent);

    const std::uint64_t rxDelta = counterDelta(received, m_prevRx);
    const std::uint64_t txDelta = counterDelta(sent, m_prevTx);
    view.receivedDelta = rxDelta;
    view.sentDelta = txDelta;

    view.trayIcon = trayIconFor(rxDelta, txDelta);
    view.tooltip = "In : " + formatBytes64(rxDelta) + "  Out : " + formatBytes64(txDelta);
    view.framesDropped = m_capture.framesDropped();
    if (view.framesDropped != 0)
        view.tooltip += "\nDropped : " + std::to_string(view.framesDropped) + " frames";
    noteDrops(view.framesDropped);
    if (m_tooltipLine)
        if (const std::string line = m_tooltipLine(); !line.empty())
            view.tooltip += "\n" + line;
    if (m_events) {
        m_events->outageStep(rxDelta);
        m_events->probeStep();
    }

    m_prevRx = received;
    m_prevTx = sent;
    m_periodRx += rxDelta;
    m_periodTx += txDelta;

    const std::uint32_t nowMs = m_clock.tickMs();
    const std::uint32_t elapsed = nowMs - m_prevTickMs; // unsigned: the 32-bit wrap is harmless
    m_prevTickMs = nowMs;
    view.receivedSpeed = speedOf(rxDelta, elapsed);
    view.sentSpeed = speedOf(txDelta, elapsed);
    if (elapsed > 2000)
        m_global.writeLog("Warp:" + std::to_string(static_cast<int>(elapsed)));

    view.barMaximum = (m_global.ConSpeed << 10) >> 3;

    const double spanDays = static_cast<double>(m_clock.now() - m_periodStart) / 86400.0;
    std::int64_t seconds = periodSeconds(spanDays);
    if (seconds == 0)
        seconds = periodSeconds(spanDays + 1.0); // never divide by zero; the totals are 0 then
    const auto divisor = static_cast<std::uint64_t>(std::max<std::int64_t>(seconds, 1));
    const std::string periodText = formatPeriodLength(spanDays);
    const std::uint32_t speedSum = view.receivedSpeed + view.sentSpeed;

    view.texts = {{
        {kDuration, formatDuration(static_cast<std::int64_t>(duration))},
        {kReceivedSpeed, formatSpeed(view.receivedSpeed)},
        {kSentSpeed, formatSpeed(view.sentSpeed)},
        {kPeriodReceived, formatBytes64(m_periodRx)},
        {kPeriodSent, formatBytes64(m_periodTx)},
        {kPeriodTotal, formatBytes64(m_periodRx + m_periodTx)},
        {kTotalSpeed, formatSpeed(speedSum)},
        {kAverageReceived, formatBytes64(m_periodRx / divisor)},
        {kAverageSent, formatBytes64(m_periodTx / divisor)},
        {kAverageTotal, formatBytes64((m_periodRx + m_periodTx) / divisor)},
        {kAverageGroup, "Average Speeds during last " + periodText},
        {kPeriodGroup, "Traffic during last " + periodText},
        {kTotalUpload, formatBytes64(sent)},
        {kTotalDownload, formatBytes64(received)},
        {kTotalGeneral, formatBytes64(received + sent)},
    }};
    return view;
}

} // namespace tn

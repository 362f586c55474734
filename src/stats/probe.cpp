#include "stats/probe.h"

#include "app/error_text.h"
#include "app/global.h"
#include "platform/clock.h"

#include <atomic>
#include <cerrno>
#include <system_error>

namespace tn {

std::int32_t probeSlotSeconds(std::int32_t fallSecs) {
    // A negative threshold makes the detector count any silence at all, so the probe keeps
    // the line as busy as it can; dividing by zero (-1 / 2 == 0) is thus never reached.
    const std::int32_t g = fallSecs <= 1 ? 2 : fallSecs;
    return g / 2;
}

bool probeSlotDue(std::int32_t fallSecs, const IClock& clock) {
    const std::optional<LocalTime> local = clock.toLocal(clock.now());
    // A failed conversion gives -1 for both the seconds and the minutes.
    const std::int32_t secondOfHour = local ? local->second + local->minute * 60 : -1 + -1 * 60;
    return secondOfHour % probeSlotSeconds(fallSecs) == 0;
}

std::string probeSuccessText(const EchoReply& reply, const std::string& host) {
    const Ipv4Address& a = reply.address;
    return std::to_string(a.octets[0]) + '.' + std::to_string(a.octets[1]) + '.' +
           std::to_string(a.octets[2]) + '.' + std::to_string(a.octets[3]) + " [" + host +
           "], replied in RTT:" + std::to_string(reply.rttMs) + "ms\n\r";
}

std::string probeFailureText(const EchoError& error) {
    return "Failed in ping specified host, GetLastError returns: " + std::to_string(error.code) +
           " \r\n" + error.text;
}

int runProbe(IIcmpFactory* icmp, const IClock& clock, const std::string& host, bool silent,
             const ProbeResultCallback& onResult, std::stop_token stop) {
    EchoParams params;
    params.host = host;
    EchoReply reply;
    EchoError error{ENOSYS, systemErrorText(ENOSYS)};
    const bool ok = icmp && icmpEcho(*icmp, clock, params, reply, error, stop);
    if (silent)
        return 1;
    if (onResult && !stop.stop_requested())
        onResult(ok ? probeSuccessText(reply, host) : probeFailureText(error));
    return 0;
}

struct CProbe::Worker {
    std::atomic<bool> done{false};
    std::jthread thread;
};

CProbe::CProbe(IIcmpFactory* icmp, const IClock& clock) : m_icmp(icmp), m_clock(clock) {}

CProbe::~CProbe() {
    std::list<std::unique_ptr<Worker>> workers;
    {
        std::lock_guard lock(m_mutex);
        workers.swap(m_workers);
    }
    for (auto& w : workers)
        w->thread.request_stop();
    // The jthreads join as the list goes.
}

void CProbe::start(std::string host, bool silent, ProbeResultCallback onResult) {
    reapFinished();
    auto worker = std::make_unique<Worker>();
    Worker* w = worker.get();
    try {
        w->thread = std::jthread([this, w, host = std::move(host), silent,
                                  onResult = std::move(onResult)](std::stop_token stop) {
            runProbe(m_icmp, m_clock, host, silent, onResult, stop);
            w->done.store(true, std::memory_order_release);
        });
    } catch (const std::system_error&) {
        return;
    }
    std::lock_guard lock(m_mutex);
    m_workers.push_back(std::move(worker));
}

std::size_t CProbe::running() const {
    std::lock_guard lock(m_mutex);
    std::size_t n = 0;
    for (const auto& w : m_workers)
        n += w->done.load(std::memory_order_acquire) ? 0 : 1;
    return n;
}

void CProbe::reapFinished() {
    std::list<std::unique_ptr<Worker>> finished;
    {
        std::lock_guard lock(m_mutex);
        for (auto it = m_workers.begin(); it != m_workers.end();) {
            auto next = std::next(it);
            if ((*it)->done.load(std::memory_order_acquire))
                finished.splice(finished.end(), m_workers, it);
            it = next;
        }
    }
    // Joined outside the lock; these threads have already left their procedure.
}

void probeSchedulerStep(const CGlobal& global, const IClock& clock, CProbe& probe) {
    if (global.PingHost == 0 || global.HostToPing.empty())
        return;
    if (probeSlotDue(global.FallSecs, clock))
        probe.start(global.HostToPing, true);
}

} // namespace tn

#pragma once
// The connectivity probe: the schedule the sampling tick follows and the probe workers.
//
//   CProbe probe(os.icmp, *os.clock);                  // owned by the main window
//   probeSchedulerStep(global, clock, probe);           // every tick, after the outage step
//   probe.start(global.HostToPing, false,               // the options dialog's Test button
//               [](std::string text) { /* queue to the UI thread, show kPingTitle box */ });
//
// Each probe runs on a worker thread of its own with its own copy of the host text. A silent
// probe reports nothing; an interactive one hands its result text to the callback, on the
// worker thread. Destroying the CProbe cancels the waits and joins every worker.
#include "stats/icmp_echo.h"

#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace tn {

class CGlobal;
class IClock;
class IIcmpFactory;

inline constexpr const char* kPingTitle = "Tallynet ping utility";

// Seconds between probe slots for a FallSecs value: half of it, with 0, 1 and every negative
// value giving 1 (a probe on every tick, as for the smallest threshold).
std::int32_t probeSlotSeconds(std::int32_t fallSecs);
// True when the local wall-clock second of the hour is a probe slot.
bool probeSlotDue(std::int32_t fallSecs, const IClock& clock);

// The result texts of an interactive probe.
std::string probeSuccessText(const EchoReply& reply, const std::string& host);
std::string probeFailureText(const EchoError& error);

using ProbeResultCallback = std::function<void(std::string)>;

// The probe procedure: one echo with the program's parameters. Returns 1 when silent and 0
// otherwise; the callback gets the text unless the probe is silent or was stopped. Without
// ICMP on the system (icmp null) every probe fails with ENOSYS.
int runProbe(IIcmpFactory* icmp, const IClock& clock, const std::string& host, bool silent,
             const ProbeResultCallback& onResult, std::stop_token stop = {});

class CProbe {
public:
    CProbe(IIcmpFactory* icmp, const IClock& clock);
    ~CProbe();
    CProbe(const CProbe&) = delete;
    CProbe& operator=(const CProbe&) = delete;

    // Starts a worker and returns at once; a worker that cannot be started drops the probe.
    void start(std::string host, bool silent, ProbeResultCallback onResult = {});
    // Workers not yet finished.
    std::size_t running() const;

private:
    struct Worker;
    void reapFinished();

    IIcmpFactory* m_icmp;
    const IClock& m_clock;
    mutable std::mutex m_mutex;
    std::list<std::unique_ptr<Worker>> m_workers;
};

// The probe scheduler step: a silent probe on a due slot while PingHost is on and HostToPing
// is not empty.
void probeSchedulerStep(const CGlobal& global, const IClock& clock, CProbe& probe);

} // namespace tn

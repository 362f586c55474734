#pragma once
#include "platform/linux/unique_fd.h"
#include "platform/session_events.h"

#include <thread>

namespace tn {

// The thread that watches the system bus for one of the monitors below, and its stop.
struct BusWatcher {
    UniqueFd wake; // ends the watcher
    std::jthread thread;
    bool running() const { return thread.joinable(); }
    void stop();
};

// logind's PrepareForSleep signal on the system bus, watched on a thread of its own. Without a
// system bus (containers, minimal systems) start() says so and nothing is reported.
class LogindSleepMonitor final : public ISleepMonitor {
public:
    LogindSleepMonitor() = default;
    ~LogindSleepMonitor() override;
    LogindSleepMonitor(const LogindSleepMonitor&) = delete;
    LogindSleepMonitor& operator=(const LogindSleepMonitor&) = delete;
    bool start(std::function<void(bool sleeping)> onChange) override;
    void stop() override;

private:
    BusWatcher m_watcher;
};

// logind's word on the caller's session being locked: the session's LockedHint property (set by
// the desktop's screen locker) and its Lock and Unlock signals, on the system bus, watched on a
// thread of its own. Without a system bus or a session of logind's, start() says so.
class LogindLockMonitor final : public IScreenLockMonitor {
public:
    LogindLockMonitor() = default;
    ~LogindLockMonitor() override;
    LogindLockMonitor(const LogindLockMonitor&) = delete;
    LogindLockMonitor& operator=(const LogindLockMonitor&) = delete;
    bool start(std::function<void(bool locked)> onChange) override;
    void stop() override;

private:
    BusWatcher m_watcher;
};

} // namespace tn

#pragma once
#include "platform/linux/unique_fd.h"
#include "platform/session_events.h"

#include <thread>

namespace tn {

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
    UniqueFd m_wake; // ends the watcher
    std::jthread m_watcher;
};

} // namespace tn

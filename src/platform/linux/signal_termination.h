#pragma once
#include "platform/linux/unique_fd.h"
#include "platform/session_events.h"

#include <thread>

namespace tn {

// SIGTERM, SIGINT and SIGHUP as termination requests: the handler writes the signal number into
// a pipe (the only safe thing a handler can do) and a watcher thread passes it on.
class SignalTermination final : public ITerminationSource {
public:
    SignalTermination() = default;
    ~SignalTermination() override;
    SignalTermination(const SignalTermination&) = delete;
    SignalTermination& operator=(const SignalTermination&) = delete;
    bool start(std::function<void(int code)> onRequest) override;
    void stop() override;

private:
    UniqueFd m_read;
    UniqueFd m_wake; // ends the watcher
    std::jthread m_watcher;
};

} // namespace tn

#pragma once
#include "platform/instance_activation.h"
#include "platform/linux/unique_fd.h"

#include <filesystem>
#include <thread>

namespace tn {

// A local stream socket in the runtime folder, next to the instance lock. A connection is the
// request: nothing is read from it, so nothing a stranger sends can be misread; connections from
// another user are dropped.
class SocketActivation final : public IInstanceActivation {
public:
    explicit SocketActivation(std::filesystem::path socketFile);
    ~SocketActivation() override;
    SocketActivation(const SocketActivation&) = delete;
    SocketActivation& operator=(const SocketActivation&) = delete;

    // Call only while holding the instance lock: a socket left by a copy that died is replaced.
    bool listen(std::function<void()> onShow) override;
    void stop() override;
    bool requestShow() override;

private:
    void serve(std::function<void()> onShow);

    std::filesystem::path m_path;
    UniqueFd m_listener;
    UniqueFd m_wake; // eventfd that ends the serving thread
    std::thread m_thread;
};

} // namespace tn

#pragma once
#include "platform/icmp.h"

#include <filesystem>
#include <functional>

namespace tn {

// ICMP on Linux: a raw socket needs CAP_NET_RAW; without it an ICMP datagram ("ping") socket
// serves, which needs the process's group in net.ipv4.ping_group_range. When neither can be
// opened here, the capture helper (found through `helper`) opens a raw socket and passes it.
class LinuxIcmpFactory final : public IIcmpFactory {
public:
    LinuxIcmpFactory() = default;
    explicit LinuxIcmpFactory(std::function<std::filesystem::path()> helper)
        : m_helper(std::move(helper)) {}

    ResolveResult resolve(const std::string& host) override;
    // The lookup runs on a detached thread that shares nothing but its own result with the
    // caller, so a probe can end (and the program exit) while a silent resolver keeps the
    // lookup waiting.
    ResolveResult resolveUntil(const std::string& host, std::stop_token stop) override;
    std::unique_ptr<IIcmpSocket> open(int& error) override;
    std::uint32_t processId() const override;

private:
    std::function<std::filesystem::path()> m_helper;
};

} // namespace tn

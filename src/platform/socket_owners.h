#pragma once
#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace tn {

// One direction-free TCP or UDP flow as this computer sees it: its local and remote address and
// port. IPv4 addresses fill the first four bytes, the rest stay zero. Ports in host order.
struct FlowKey {
    std::uint8_t family = 4;   // 4 or 6
    std::uint8_t protocol = 0; // 6 TCP, 17 UDP
    std::uint16_t localPort = 0;
    std::uint16_t remotePort = 0;
    std::uint16_t pad = 0; // always zero: keys compare and hash as plain bytes
    std::array<std::uint8_t, 16> local{};
    std::array<std::uint8_t, 16> remote{};
    bool operator==(const FlowKey&) const = default;
};
static_assert(sizeof(FlowKey) == 40);

// Which program's socket carries a flow, found without privilege. Asked from the capture worker
// for flows it has not seen before; an answer may take a moment (the service looks in the
// background), so "not known yet" is asked again later.
class ISocketOwners {
public:
    virtual ~ISocketOwners() = default;
    // The program's name ("firefox-esr", "python3 sync.py") or, for a socket of another user,
    // "user <name>"; empty while no socket of the flow is known.
    virtual std::optional<std::string> ownerOf(const FlowKey& flow) = 0;
    // Raised whenever what the service knows changed: a flow not found is asked about again
    // only then, however many frames it carries meanwhile.
    virtual std::uint64_t knowledge() const = 0;
};

} // namespace tn

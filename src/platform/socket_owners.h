#pragma once
#include <array>
#include <cstdint>
#include <cstring>
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
    // Five words, not a library memcmp: the packet handler compares a key per frame.
    bool operator==(const FlowKey& o) const {
        std::uint64_t a[5];
        std::uint64_t b[5];
        std::memcpy(a, this, sizeof a);
        std::memcpy(b, &o, sizeof b);
        return ((a[0] ^ b[0]) | (a[1] ^ b[1]) | (a[2] ^ b[2]) | (a[3] ^ b[3]) | (a[4] ^ b[4])) == 0;
    }
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
    // Called as counting per program begins: the service starts listening for sockets that go,
    // so that a connection ended before its first frame is asked about is still known as one.
    virtual void begin() {}
    virtual std::optional<std::string> ownerOf(const FlowKey& flow) = 0;
    // Asked once for a flow that stayed unnamed for as long as the capture waits: the likeliest
    // program for a socket of this computer that went unseen, or nothing when no socket of this
    // computer is known to have carried the flow.
    virtual std::optional<std::string> lastGuess(const FlowKey& /*flow*/) { return std::nullopt; }
    // Raised whenever what the service knows changed: a flow not found is asked about again
    // only then, however many frames it carries meanwhile.
    virtual std::uint64_t knowledge() const = 0;
};

} // namespace tn

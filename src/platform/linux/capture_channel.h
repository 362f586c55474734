#pragma once
// The messages between the window process and tallynet-capture, the small program that holds the
// capture capabilities. They travel over an inherited SOCK_SEQPACKET socket pair, so every
// message arrives whole and on its own; every reader checks every length before it uses it.
//
//   window -> helper   one request (capture or ICMP socket), later an optional stop message
//   helper -> window   one reply, then frame batches and statistics (capture only)
//
// Integers are in the machine's own order: both ends are the same build on the same machine.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tn::channel {

// Largest message either side sends; frame batches are cut to fit.
constexpr std::size_t kMaxMessage = 64 * 1024;
// The helper copies at most this much of each frame: enough for any header the accounting reads,
// too little to make the helper a general-purpose recorder of other users' traffic.
constexpr std::uint32_t kMaxSnapLength = 256;
constexpr std::uint32_t kMinSnapLength = 20;
constexpr std::uint32_t kMaxKernelBufferBytes = 256u * 1024 * 1024;
constexpr std::uint32_t kMaxReadTimeoutMs = 10000;
constexpr std::size_t kMaxInterfaceName = 15; // IFNAMSIZ - 1
constexpr std::size_t kMaxReasonText = 512;

enum class RequestKind : std::uint8_t { Capture = 1, IcmpSocket = 2 };

struct Request {
    RequestKind kind = RequestKind::Capture;
    std::string interfaceName; // capture only
    std::uint32_t snapLength = 64;
    std::uint32_t kernelBufferBytes = 0;
    std::uint32_t readTimeoutMs = 500;
    bool promiscuous = false;
};

// An interface name the kernel could have given: 1 to 15 bytes, printable, no '/', no blank.
bool validInterfaceName(std::string_view name);

// Empty when the request breaks a rule above (name, bounds, kind).
std::vector<std::uint8_t> encodeRequest(const Request& request);
// Empty (no value) for a message that is not exactly one well-formed, in-bounds request.
std::optional<Request> decodeRequest(std::span<const std::uint8_t> message);

// The stop message: the helper hands out the batch in hand, flushes and exits.
std::vector<std::uint8_t> encodeStop();
bool isStop(std::span<const std::uint8_t> message);

enum class ReplyStatus : std::uint8_t {
    Ok = 0,
    BadRequest = 1,      // the request was malformed or out of bounds
    NoSuchInterface = 2, // the kernel knows no interface of that name
    NoPermission = 3,    // the helper lacks CAP_NET_RAW (or CAP_NET_ADMIN for promiscuous)
    OpenFailed = 4,      // the capture library refused for another reason
    KernelBufferFailed = 5,
    Internal = 6, // capabilities could not be dropped, or the like: the helper stops
};

struct Reply {
    ReplyStatus status = ReplyStatus::Ok;
    std::uint8_t linkKind = 0; // a tn::LinkKind value
    std::string reason;        // at most kMaxReasonText bytes; longer texts are cut
};

std::vector<std::uint8_t> encodeReply(const Reply& reply);
std::optional<Reply> decodeReply(std::span<const std::uint8_t> message);

struct Statistics {
    std::uint64_t received = 0;
    std::uint64_t dropped = 0;
};

std::vector<std::uint8_t> encodeStatistics(const Statistics& stats);
std::optional<Statistics> decodeStatistics(std::span<const std::uint8_t> message);

// Frame batches: a 4-byte tag, then records of [captured length u32, wire length u32, bytes].
class BatchWriter {
public:
    BatchWriter();
    // False when the record does not fit (send the batch and start another) or is invalid
    // (captured length above kMaxSnapLength).
    bool add(std::uint32_t wireLength, std::span<const std::uint8_t> captured);
    bool empty() const { return m_frames == 0; }
    std::span<const std::uint8_t> message() const { return m_buffer; }
    void clear();

private:
    std::vector<std::uint8_t> m_buffer;
    std::size_t m_frames = 0;
};

struct FrameView {
    std::uint32_t wireLength = 0;
    std::span<const std::uint8_t> captured;
};

enum class MessageKind { Reply, Batch, Statistics, Stop, Request, Unknown };
// What a message claims to be, from its tag; its decoder still checks the rest.
MessageKind kindOf(std::span<const std::uint8_t> message);

// Calls `onFrame(const FrameView&)` for each record of a batch message; false (and no call at
// all) when the message is not a well-formed batch: bad tag, truncated record, captured length
// above kMaxSnapLength or above the wire length.
template <typename F> bool forEachFrame(std::span<const std::uint8_t> message, F&& onFrame);

bool validBatch(std::span<const std::uint8_t> message, std::size_t& frames);
FrameView frameAt(std::span<const std::uint8_t> message, std::size_t& offset);

template <typename F> bool forEachFrame(std::span<const std::uint8_t> message, F&& onFrame) {
    std::size_t frames = 0;
    if (!validBatch(message, frames))
        return false;
    std::size_t offset = 4;
    for (std::size_t i = 0; i < frames; ++i)
        onFrame(frameAt(message, offset));
    return true;
}

} // namespace tn::channel

#pragma once
// The messages between the window process and tallynet-capture, the small program that holds the
// capture capabilities. They travel over an inherited SOCK_SEQPACKET socket pair, so every
// message arrives whole and on its own; every reader checks every length before it uses it.
//
//   window -> helper   one request (capture or echo; a capture request carries the frame ring's
//                      descriptor), later an optional stop message
//   helper -> window   capture: one reply, then "frames ready" and statistics;
//                      echo: one echo answer (never a descriptor)
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

// Largest message either side sends (a reply with its reason is the longest).
constexpr std::size_t kMaxMessage = 4096;
// No record in the frame ring is longer than this. What the helper writes there is shorter still:
// every frame is cut to the headers the accounting reads (capture/frame_layout.h).
constexpr std::uint32_t kMaxSnapLength = 256;
constexpr std::uint32_t kMinSnapLength = 20;
// The kernel ring the helper takes: about a second of the fastest small-frame stream it is
// sized for (300,000 frames a second cut to their headers, about 112 bytes a slot). A request
// for more is refused.
constexpr std::uint32_t kMaxKernelBufferBytes = 32u * 1024 * 1024;
constexpr std::uint32_t kMaxReadTimeoutMs = 10000;
constexpr std::size_t kMaxInterfaceName = 15; // IFNAMSIZ - 1
constexpr std::size_t kMaxReasonText = 512;

// The helper sends an echo request itself when the window may open no ICMP socket of its own;
// it waits at most this long for the reply (the window may give up sooner and hang up).
constexpr std::uint32_t kMaxEchoWaitMs = 60000;
constexpr std::uint16_t kMaxEchoData = 1024;

// 2 was a request for a raw ICMP socket, which no helper passes any more.
enum class RequestKind : std::uint8_t { Capture = 1, Echo = 3 };

// One echo request, in fixed fields: the helper builds the message itself, so nothing but an
// echo request of these fields can leave it.
struct EchoRequest {
    std::uint8_t destination[4] = {}; // network order
    std::uint8_t source[4] = {};      // 0.0.0.0: no bind
    std::uint16_t identifier = 0;     // both in machine order, as the message carries them
    std::uint16_t sequence = 0;
    std::uint32_t tick = 0;       // the sender's tick, carried in the message
    std::uint8_t timeToLive = 64; // 1..255
    std::uint8_t typeOfService = 0;
    bool dontFragment = false;
    std::uint16_t dataSize = 32; // filler bytes, at most kMaxEchoData
    std::uint32_t waitMs = 5000; // 1..kMaxEchoWaitMs
};

struct Request {
    RequestKind kind = RequestKind::Capture;
    std::string interfaceName; // capture only
    std::uint32_t snapLength = 64;
    std::uint32_t kernelBufferBytes = 0;
    std::uint32_t readTimeoutMs = 500;
    bool promiscuous = false;
    // Copies of the segments that open TCP connections, sent at once as FlowStart messages.
    bool flowStarts = false;
    EchoRequest echo; // echo only
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
    Internal = 6,   // capabilities could not be dropped, or the like: the helper stops
    NotAllowed = 7, // the caller is not among those the helper serves (its file's group)
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

// The helper's answer to an echo request: the reply's fields, or why there is none.
struct EchoAnswer {
    std::int32_t error = 0;    // 0: a reply came; else an errno value (EPERM, ENETUNREACH, ...)
    std::uint8_t from[4] = {}; // the reply's source, network order
    std::uint16_t identifier = 0;
    std::uint16_t sequence = 0;
    std::uint16_t dataSize = 0; // bytes after the echo header
};

std::vector<std::uint8_t> encodeEchoAnswer(const EchoAnswer& answer);
std::optional<EchoAnswer> decodeEchoAnswer(std::span<const std::uint8_t> message);

struct FrameView {
    std::uint32_t wireLength = 0;
    std::span<const std::uint8_t> captured;
};

// The frames themselves travel through a ring in memory that the window creates and shares with
// the helper, not through the socket: a socket message costs the kernel an allocation and two
// copies, which at a few hundred thousand frames a second cost more than the capture itself.
// The helper is the only writer, the window the only reader; the socket carries a short
// "frames ready" message after each published batch. Records are [captured length u32, wire
// length u32, bytes] and never wrap; positions are byte counts that only grow. Neither side
// trusts what the other wrote there: every position and length is checked before it is used.
class FrameRing {
public:
    static constexpr std::size_t kDataBytes = std::size_t{8} << 20;
    static constexpr std::size_t kHeaderBytes = 128; // the two positions, a cache line each
    static constexpr std::size_t kMapBytes = kHeaderBytes + kDataBytes;
    // Where the header keeps the writer's published position, the reader's position and the
    // reader's wake request (64-bit each); the records follow the header.
    static constexpr std::size_t kWrittenAt = 0;
    static constexpr std::size_t kReadAt = 64;
    static constexpr std::size_t kWakeAt = 72;

    FrameRing() = default;
    FrameRing(FrameRing&& other) noexcept;
    FrameRing& operator=(FrameRing&& other) noexcept;
    FrameRing(const FrameRing&) = delete;
    FrameRing& operator=(const FrameRing&) = delete;
    ~FrameRing();

    // The window's side: new shared memory of the ring's size, sealed against any change of
    // size, mapped. `fd` receives its descriptor (to pass to the helper); false with `error`.
    bool create(int& fd, std::string& error);
    // The helper's side: maps a descriptor from the window after checking that it is such a
    // sealed memory file of exactly the ring's size. The descriptor stays the caller's.
    bool attach(int fd, std::string& error);
    bool valid() const { return m_base != nullptr; }
    // The record area as this side maps it: every frame handed out lies within it.
    std::span<const std::uint8_t> records() const {
        return m_base ? std::span<const std::uint8_t>(m_base + kHeaderBytes, kDataBytes)
                      : std::span<const std::uint8_t>();
    }

    // Writer. False when the record is invalid (captured length above kMaxSnapLength or above
    // the wire length) or the ring has no room for it now (publish, let the reader catch up).
    bool add(std::uint32_t wireLength, std::span<const std::uint8_t> captured);
    // Makes every record added so far visible to the reader; true when there were any.
    bool publish();
    // The reader asked to be told of the next records (and the ask is taken back).
    bool takeWakeRequest();
    // The reader's position makes no sense (behind what it read before, or past the writer).
    bool readerBroken() const { return m_broken; }
    // Writer. Gives the system back the ring's pages that hold only records the reader is done
    // with; they come back as fresh pages when the writer reaches them again. Without it every
    // page of the ring stays in memory once a lap has gone by, as the slowest trickle does in
    // an hour. Returns the bytes given back.
    std::size_t release();

    // Reader. Calls onFrame(const FrameView&) for every record published and not yet read, then
    // frees their room. False when the ring breaks a rule (a position or a record out of
    // bounds): the records before the bad one were handed out, nothing after it will be.
    template <typename F> bool consume(F&& onFrame);
    // Something is published that the reader has not read.
    bool pending() const;
    // Before the reader sleeps: asks the writer for a note with its next records. False (and
    // no ask) when records came in the meantime, which are to be read first.
    bool requestWake();

private:
    struct Next {
        bool ok = false;
        bool done = false;
        FrameView frame;
    };
    // The record at the reader's position, within `published`; moves the position past it.
    Next nextRecord(std::uint64_t published);
    std::uint64_t loadWritten() const;
    void storeRead(std::uint64_t position);
    bool beginRead(std::uint64_t& published);

    std::uint8_t* m_base = nullptr;
    std::uint64_t m_position = 0; // the writer's next byte, or the reader's
    std::uint64_t m_published = 0;
    bool m_broken = false;
};

template <typename F> bool FrameRing::consume(F&& onFrame) {
    std::uint64_t published = 0;
    if (!beginRead(published))
        return false;
    for (;;) {
        const Next n = nextRecord(published);
        if (!n.ok)
            return false;
        if (n.done)
            break;
        onFrame(n.frame);
    }
    storeRead(m_position);
    return true;
}

// Sends one message on a channel socket, with descriptor `passed` along unless it is -1; true
// when the whole message went.
bool sendMessage(int socket, std::span<const std::uint8_t> message, int passed = -1);

struct Received {
    long length = -1;       // bytes; 0 at the end of the stream, -1 on failure
    bool truncated = false; // the message or its descriptors did not fit: none is kept
};
// Receives one message into `buffer`. A single descriptor that came with it is kept in `passed`
// (when given); any other is closed.
Received receiveMessage(int socket, std::span<std::uint8_t> buffer, int* passed);

enum class MessageKind { Reply, Ready, Statistics, Stop, Request, EchoAnswer, FlowStart, Unknown };
// What a message claims to be, from its tag; its decoder still checks the rest.
MessageKind kindOf(std::span<const std::uint8_t> message);

// "Frames ready": the helper published records in the ring.
std::vector<std::uint8_t> encodeReady();
bool isReady(std::span<const std::uint8_t> message);

// The headers of a segment that opens a TCP connection (at most kMaxSnapLength bytes, as a ring
// record carries): its frame still comes through the ring and is counted there. The helper
// sends one the moment it sees the segment, so that the window can ask whose socket it is while
// a short connection is still open.
std::vector<std::uint8_t> encodeFlowStart(std::span<const std::uint8_t> headers);
// The headers, or nothing for a message that is not one well-formed flow start.
std::optional<std::span<const std::uint8_t>> decodeFlowStart(std::span<const std::uint8_t> m);

} // namespace tn::channel

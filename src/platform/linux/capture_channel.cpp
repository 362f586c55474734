#include "platform/linux/capture_channel.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace tn::channel {

namespace {

constexpr std::uint8_t kRequestTag[4] = {'T', 'N', 'R', 'Q'};
constexpr std::uint8_t kStopTag[4] = {'T', 'N', 'S', 'T'};
constexpr std::uint8_t kReplyTag[4] = {'T', 'N', 'R', 'P'};
constexpr std::uint8_t kStatsTag[4] = {'T', 'N', 'S', 'S'};
constexpr std::uint8_t kReadyTag[4] = {'T', 'N', 'F', 'R'};
constexpr std::uint8_t kEchoAnswerTag[4] = {'T', 'N', 'E', 'A'};
constexpr std::uint8_t kFlowStartTag[4] = {'T', 'N', 'F', 'S'};
constexpr std::size_t kEchoRequestSize = 8 + 24;
constexpr std::size_t kEchoAnswerSize = 4 + 4 + 4 + 2 + 2 + 2;
constexpr std::size_t kRequestHead = 20;
constexpr std::size_t kReplyHead = 8;
constexpr std::size_t kStatsSize = 20;
constexpr std::size_t kRecordHead = 8;
constexpr std::uint8_t kPromiscuousFlag = 1;
constexpr std::uint8_t kFlowStartsFlag = 2;
constexpr std::uint8_t kDontFragmentFlag = 1;

bool hasTag(std::span<const std::uint8_t> m, const std::uint8_t (&tag)[4]) {
    return m.size() >= 4 && std::memcmp(m.data(), tag, 4) == 0;
}

template <typename T> void put(std::vector<std::uint8_t>& out, T value) {
    std::uint8_t bytes[sizeof(T)];
    std::memcpy(bytes, &value, sizeof(T));
    out.insert(out.end(), bytes, bytes + sizeof(T));
}

template <typename T> T get(std::span<const std::uint8_t> m, std::size_t offset) {
    T value;
    std::memcpy(&value, m.data() + offset, sizeof(T));
    return value;
}

void putTag(std::vector<std::uint8_t>& out, const std::uint8_t (&tag)[4]) {
    out.insert(out.end(), tag, tag + 4);
}

bool requestInBounds(const Request& r) {
    if (r.kind == RequestKind::Echo)
        return r.interfaceName.empty() && r.echo.timeToLive >= 1 &&
               r.echo.dataSize <= kMaxEchoData && r.echo.waitMs >= 1 &&
               r.echo.waitMs <= kMaxEchoWaitMs;
    if (r.kind != RequestKind::Capture)
        return false;
    return validInterfaceName(r.interfaceName) && r.snapLength >= kMinSnapLength &&
           r.snapLength <= kMaxSnapLength && r.kernelBufferBytes <= kMaxKernelBufferBytes &&
           r.readTimeoutMs >= 1 && r.readTimeoutMs <= kMaxReadTimeoutMs;
}

void encodeEcho(std::vector<std::uint8_t>& out, const EchoRequest& e) {
    out.insert(out.end(), e.destination, e.destination + 4);
    out.insert(out.end(), e.source, e.source + 4);
    put(out, e.identifier);
    put(out, e.sequence);
    put(out, e.tick);
    out.push_back(e.timeToLive);
    out.push_back(e.typeOfService);
    put(out, e.dataSize);
    put(out, e.waitMs);
}

EchoRequest decodeEcho(std::span<const std::uint8_t> m, bool dontFragment) {
    EchoRequest e;
    std::memcpy(e.destination, m.data() + 8, 4);
    std::memcpy(e.source, m.data() + 12, 4);
    e.identifier = get<std::uint16_t>(m, 16);
    e.sequence = get<std::uint16_t>(m, 18);
    e.tick = get<std::uint32_t>(m, 20);
    e.timeToLive = m[24];
    e.typeOfService = m[25];
    e.dataSize = get<std::uint16_t>(m, 26);
    e.waitMs = get<std::uint32_t>(m, 28);
    e.dontFragment = dontFragment;
    return e;
}

} // namespace

bool validInterfaceName(std::string_view name) {
    if (name.empty() || name.size() > kMaxInterfaceName || name == "." || name == "..")
        return false;
    return std::all_of(name.begin(), name.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u > 0x20 && u < 0x7f && c != '/' && c != ':';
    });
}

std::vector<std::uint8_t> encodeRequest(const Request& request) {
    if (!requestInBounds(request))
        return {};
    std::vector<std::uint8_t> out;
    putTag(out, kRequestTag);
    out.push_back(static_cast<std::uint8_t>(request.kind));
    if (request.kind == RequestKind::Echo) {
        out.push_back(request.echo.dontFragment ? kDontFragmentFlag : 0);
        out.push_back(0);
        out.push_back(0);
        encodeEcho(out, request.echo);
        return out;
    }
    out.push_back(static_cast<std::uint8_t>((request.promiscuous ? kPromiscuousFlag : 0) |
                                            (request.flowStarts ? kFlowStartsFlag : 0)));
    out.push_back(static_cast<std::uint8_t>(request.interfaceName.size()));
    out.push_back(0); // reserved
    put(out, request.snapLength);
    put(out, request.kernelBufferBytes);
    put(out, request.readTimeoutMs);
    out.insert(out.end(), request.interfaceName.begin(), request.interfaceName.end());
    return out;
}

std::optional<Request> decodeRequest(std::span<const std::uint8_t> m) {
    if (m.size() < 8 || !hasTag(m, kRequestTag) || m[7] != 0)
        return std::nullopt;
    const std::uint8_t kind = m[4];
    const std::uint8_t flags = m[5];
    const std::size_t nameLength = m[6];
    Request r;
    if (kind == static_cast<std::uint8_t>(RequestKind::Echo)) {
        if ((flags & ~kDontFragmentFlag) != 0 || nameLength != 0 || m.size() != kEchoRequestSize)
            return std::nullopt;
        r.kind = RequestKind::Echo;
        r.echo = decodeEcho(m, (flags & kDontFragmentFlag) != 0);
        if (!requestInBounds(r))
            return std::nullopt;
        return r;
    }
    if (kind != static_cast<std::uint8_t>(RequestKind::Capture) ||
        (flags & ~(kPromiscuousFlag | kFlowStartsFlag)) != 0 ||
        m.size() != kRequestHead + nameLength)
        return std::nullopt;
    r.kind = RequestKind::Capture;
    r.promiscuous = (flags & kPromiscuousFlag) != 0;
    r.flowStarts = (flags & kFlowStartsFlag) != 0;
    r.snapLength = get<std::uint32_t>(m, 8);
    r.kernelBufferBytes = get<std::uint32_t>(m, 12);
    r.readTimeoutMs = get<std::uint32_t>(m, 16);
    r.interfaceName.assign(reinterpret_cast<const char*>(m.data() + kRequestHead), nameLength);
    if (!requestInBounds(r))
        return std::nullopt;
    return r;
}

std::vector<std::uint8_t> encodeStop() {
    return {std::begin(kStopTag), std::end(kStopTag)};
}

bool isStop(std::span<const std::uint8_t> m) {
    return m.size() == 4 && hasTag(m, kStopTag);
}

std::vector<std::uint8_t> encodeReply(const Reply& reply) {
    const std::size_t length = std::min(reply.reason.size(), kMaxReasonText);
    std::vector<std::uint8_t> out;
    putTag(out, kReplyTag);
    out.push_back(static_cast<std::uint8_t>(reply.status));
    out.push_back(reply.linkKind);
    put(out, static_cast<std::uint16_t>(length));
    out.insert(out.end(), reply.reason.begin(), reply.reason.begin() + static_cast<long>(length));
    return out;
}

std::optional<Reply> decodeReply(std::span<const std::uint8_t> m) {
    if (m.size() < kReplyHead || !hasTag(m, kReplyTag))
        return std::nullopt;
    const std::size_t length = get<std::uint16_t>(m, 6);
    if (length > kMaxReasonText || m.size() != kReplyHead + length ||
        m[4] > static_cast<std::uint8_t>(ReplyStatus::NotAllowed))
        return std::nullopt;
    Reply r;
    r.status = static_cast<ReplyStatus>(m[4]);
    r.linkKind = m[5];
    r.reason.assign(reinterpret_cast<const char*>(m.data() + kReplyHead), length);
    return r;
}

std::vector<std::uint8_t> encodeStatistics(const Statistics& stats) {
    std::vector<std::uint8_t> out;
    putTag(out, kStatsTag);
    put(out, stats.received);
    put(out, stats.dropped);
    return out;
}

std::optional<Statistics> decodeStatistics(std::span<const std::uint8_t> m) {
    if (m.size() != kStatsSize || !hasTag(m, kStatsTag))
        return std::nullopt;
    return Statistics{get<std::uint64_t>(m, 4), get<std::uint64_t>(m, 12)};
}

std::vector<std::uint8_t> encodeEchoAnswer(const EchoAnswer& a) {
    std::vector<std::uint8_t> out;
    putTag(out, kEchoAnswerTag);
    put(out, a.error);
    out.insert(out.end(), a.from, a.from + 4);
    put(out, a.identifier);
    put(out, a.sequence);
    put(out, a.dataSize);
    return out;
}

std::optional<EchoAnswer> decodeEchoAnswer(std::span<const std::uint8_t> m) {
    if (m.size() != kEchoAnswerSize || !hasTag(m, kEchoAnswerTag))
        return std::nullopt;
    EchoAnswer a;
    a.error = get<std::int32_t>(m, 4);
    std::memcpy(a.from, m.data() + 8, 4);
    a.identifier = get<std::uint16_t>(m, 12);
    a.sequence = get<std::uint16_t>(m, 14);
    a.dataSize = get<std::uint16_t>(m, 16);
    if (a.error < 0 || a.dataSize > kMaxEchoData)
        return std::nullopt;
    return a;
}

bool sendMessage(int socket, std::span<const std::uint8_t> m, int passed) {
    iovec iov{const_cast<std::uint8_t*>(m.data()), m.size()};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    if (passed >= 0) {
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        cmsghdr* c = CMSG_FIRSTHDR(&msg);
        c->cmsg_level = SOL_SOCKET;
        c->cmsg_type = SCM_RIGHTS;
        c->cmsg_len = CMSG_LEN(sizeof(int));
        std::memcpy(CMSG_DATA(c), &passed, sizeof passed);
    }
    for (;;) {
        const ssize_t n = ::sendmsg(socket, &msg, MSG_NOSIGNAL);
        if (n >= 0)
            return static_cast<std::size_t>(n) == m.size();
        if (errno != EINTR)
            return false;
    }
}

Received receiveMessage(int socket, std::span<std::uint8_t> buffer, int* passed) {
    iovec iov{buffer.data(), buffer.size()};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))];
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    ssize_t n;
    while ((n = ::recvmsg(socket, &msg, MSG_CMSG_CLOEXEC)) < 0 && errno == EINTR) {
    }
    Received r;
    r.length = n;
    if (n < 0)
        return r;
    r.truncated = (msg.msg_flags & (MSG_TRUNC | MSG_CTRUNC)) != 0;
    // Every descriptor that came is ours to close, even when the message is refused.
    int kept = -1;
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
        if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS)
            continue;
        const std::size_t count = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
        for (std::size_t i = 0; i < count; ++i) {
            int fd = -1;
            std::memcpy(&fd, CMSG_DATA(c) + i * sizeof(int), sizeof fd);
            if (passed && count == 1 && kept < 0 && !r.truncated)
                kept = fd;
            else
                ::close(fd);
        }
    }
    if (passed)
        *passed = kept;
    return r;
}

MessageKind kindOf(std::span<const std::uint8_t> m) {
    if (hasTag(m, kReadyTag))
        return MessageKind::Ready;
    if (hasTag(m, kStatsTag))
        return MessageKind::Statistics;
    if (hasTag(m, kReplyTag))
        return MessageKind::Reply;
    if (hasTag(m, kStopTag))
        return MessageKind::Stop;
    if (hasTag(m, kRequestTag))
        return MessageKind::Request;
    if (hasTag(m, kEchoAnswerTag))
        return MessageKind::EchoAnswer;
    if (hasTag(m, kFlowStartTag))
        return MessageKind::FlowStart;
    return MessageKind::Unknown;
}

std::vector<std::uint8_t> encodeReady() {
    return {std::begin(kReadyTag), std::end(kReadyTag)};
}

bool isReady(std::span<const std::uint8_t> m) {
    return m.size() == 4 && hasTag(m, kReadyTag);
}

std::vector<std::uint8_t> encodeFlowStart(std::span<const std::uint8_t> headers) {
    if (headers.empty() || headers.size() > kMaxSnapLength)
        return {};
    std::vector<std::uint8_t> out;
    putTag(out, kFlowStartTag);
    out.insert(out.end(), headers.begin(), headers.end());
    return out;
}

std::optional<std::span<const std::uint8_t>> decodeFlowStart(std::span<const std::uint8_t> m) {
    if (!hasTag(m, kFlowStartTag) || m.size() <= 4 || m.size() > 4 + kMaxSnapLength)
        return std::nullopt;
    return m.subspan(4);
}

// ---- the frame ring ----

namespace {

constexpr std::uint32_t kWrapMark = 0xFFFFFFFFu; // the rest of this lap is empty

std::atomic_ref<std::uint64_t> positionAt(std::uint8_t* base, std::size_t at) {
    return std::atomic_ref<std::uint64_t>(*reinterpret_cast<std::uint64_t*>(base + at));
}

} // namespace

FrameRing::FrameRing(FrameRing&& other) noexcept
    : m_base(std::exchange(other.m_base, nullptr)), m_position(other.m_position),
      m_published(other.m_published), m_broken(other.m_broken) {}

FrameRing& FrameRing::operator=(FrameRing&& other) noexcept {
    if (this != &other) {
        if (m_base)
            ::munmap(m_base, kMapBytes);
        m_base = std::exchange(other.m_base, nullptr);
        m_position = other.m_position;
        m_published = other.m_published;
        m_broken = other.m_broken;
    }
    return *this;
}

FrameRing::~FrameRing() {
    if (m_base)
        ::munmap(m_base, kMapBytes);
}

bool FrameRing::create(int& fd, std::string& error) {
    fd = ::memfd_create("tallynet-frames", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (fd < 0) {
        error = std::string("memfd_create: ") + std::strerror(errno);
        return false;
    }
    // Sealed before the helper sees it: neither side can shrink it under the other's reads.
    if (::ftruncate(fd, static_cast<off_t>(kMapBytes)) != 0 ||
        ::fcntl(fd, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_SEAL) != 0) {
        error = std::string("frame ring: ") + std::strerror(errno);
        ::close(fd);
        fd = -1;
        return false;
    }
    if (!attach(fd, error)) {
        ::close(fd);
        fd = -1;
        return false;
    }
    return true;
}

bool FrameRing::attach(int fd, std::string& error) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
        st.st_size != static_cast<off_t>(kMapBytes)) {
        error = "the frame ring is not a memory file of its size";
        return false;
    }
    const int seals = ::fcntl(fd, F_GET_SEALS);
    if (seals < 0 || (seals & (F_SEAL_SHRINK | F_SEAL_GROW)) != (F_SEAL_SHRINK | F_SEAL_GROW)) {
        error = "the frame ring is not sealed against a change of size";
        return false;
    }
    void* p = ::mmap(nullptr, kMapBytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (p == MAP_FAILED) {
        error = std::string("mmap: ") + std::strerror(errno);
        return false;
    }
    *this = FrameRing();
    m_base = static_cast<std::uint8_t*>(p);
    // A new ring starts empty; one handed over with positions in it goes on from them.
    m_position = m_published =
        positionAt(m_base, FrameRing::kWrittenAt).load(std::memory_order_acquire);
    return true;
}

bool FrameRing::add(std::uint32_t wireLength, std::span<const std::uint8_t> captured) {
    if (!m_base || captured.size() > kMaxSnapLength || captured.size() > wireLength)
        return false;
    const std::uint64_t read =
        positionAt(m_base, FrameRing::kReadAt).load(std::memory_order_acquire);
    if (read > m_published || m_published - read > kDataBytes) {
        m_broken = true;
        return false;
    }
    const std::size_t need = kRecordHead + captured.size();
    const std::size_t offset = m_position % kDataBytes;
    const std::size_t skip = kDataBytes - offset < need ? kDataBytes - offset : 0;
    if (m_position + skip + need - read > kDataBytes)
        return false; // full until the reader catches up
    std::uint8_t* data = m_base + kHeaderBytes;
    if (skip != 0) {
        if (skip >= sizeof kWrapMark)
            std::memcpy(data + offset, &kWrapMark, sizeof kWrapMark);
        m_position += skip;
    }
    std::uint8_t* at = data + m_position % kDataBytes;
    const std::uint32_t head[2] = {static_cast<std::uint32_t>(captured.size()), wireLength};
    std::memcpy(at, head, kRecordHead);
    if (!captured.empty()) // an empty span may point nowhere
        std::memcpy(at + kRecordHead, captured.data(), captured.size());
    m_position += need;
    return true;
}

std::size_t FrameRing::release() {
    if (!m_base)
        return 0;
    const std::uint64_t read =
        positionAt(m_base, FrameRing::kReadAt).load(std::memory_order_acquire);
    // The window writes this position: one out of bounds gives nothing back.
    if (read > m_published || m_position - read > kDataBytes)
        return 0;
    // The room ahead of the writer, up to the reader's position a lap later: nobody reads it,
    // and only this writer writes it. Its whole pages are given back, at most two stretches
    // (it may cross the end of the lap); the header's page never is.
    const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    std::size_t released = 0;
    const auto give = [&](std::size_t from, std::size_t to) { // offsets in the mapping
        from = (from + page - 1) / page * page;
        to = to / page * page;
        if (to > from && ::madvise(m_base + from, to - from, MADV_REMOVE) == 0)
            released += to - from;
    };
    const std::size_t room = kDataBytes - static_cast<std::size_t>(m_position - read);
    const std::size_t start = m_position % kDataBytes;
    const std::size_t first = std::min(room, kDataBytes - start);
    give(kHeaderBytes + start, kHeaderBytes + start + first);
    give(kHeaderBytes, kHeaderBytes + (room - first));
    return released;
}

// The wake request and the positions use sequential consistency: the reader stores its request
// and then looks at the position, the writer stores the position and then looks at the
// request, so one of them always sees the other and no note is lost.
bool FrameRing::publish() {
    if (!m_base || m_position == m_published)
        return false;
    positionAt(m_base, FrameRing::kWrittenAt).store(m_position, std::memory_order_seq_cst);
    m_published = m_position;
    return true;
}

bool FrameRing::takeWakeRequest() {
    return m_base &&
           positionAt(m_base, FrameRing::kWakeAt).exchange(0, std::memory_order_seq_cst) != 0;
}

bool FrameRing::requestWake() {
    if (!m_base)
        return false;
    positionAt(m_base, FrameRing::kWakeAt).store(1, std::memory_order_seq_cst);
    if (positionAt(m_base, FrameRing::kWrittenAt).load(std::memory_order_seq_cst) == m_position)
        return true;
    positionAt(m_base, FrameRing::kWakeAt).store(0, std::memory_order_relaxed);
    return false;
}

std::uint64_t FrameRing::loadWritten() const {
    return positionAt(m_base, FrameRing::kWrittenAt).load(std::memory_order_acquire);
}

void FrameRing::storeRead(std::uint64_t position) {
    positionAt(m_base, FrameRing::kReadAt).store(position, std::memory_order_release);
}

bool FrameRing::pending() const {
    return m_base && loadWritten() != m_position;
}

bool FrameRing::beginRead(std::uint64_t& published) {
    if (!m_base)
        return false;
    published = loadWritten();
    return published >= m_position && published - m_position <= kDataBytes;
}

FrameRing::Next FrameRing::nextRecord(std::uint64_t published) {
    Next n;
    const std::uint8_t* data = m_base + kHeaderBytes;
    for (;;) {
        if (m_position == published) {
            n.ok = n.done = true;
            return n;
        }
        const std::size_t offset = m_position % kDataBytes;
        const std::size_t left = kDataBytes - offset;
        std::uint32_t head[2];
        if (left >= sizeof head[0])
            std::memcpy(&head[0], data + offset, sizeof head[0]); // read once: it is shared
        if (left < kRecordHead || head[0] == kWrapMark) {
            if (published - m_position < left)
                return n; // a lap that ends past what was published
            m_position += left;
            continue;
        }
        std::memcpy(&head[1], data + offset + 4, sizeof head[1]);
        const std::uint32_t captured = head[0];
        if (captured > kMaxSnapLength || captured > head[1] || kRecordHead + captured > left ||
            kRecordHead + captured > published - m_position)
            return n;
        n.frame.wireLength = head[1];
        n.frame.captured = {data + offset + kRecordHead, captured};
        m_position += kRecordHead + captured;
        n.ok = true;
        return n;
    }
}

} // namespace tn::channel

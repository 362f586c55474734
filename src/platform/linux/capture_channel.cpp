#include "platform/linux/capture_channel.h"

#include <algorithm>
#include <cstring>

namespace tn::channel {

namespace {

constexpr std::uint8_t kRequestTag[4] = {'T', 'N', 'R', 'Q'};
constexpr std::uint8_t kStopTag[4] = {'T', 'N', 'S', 'T'};
constexpr std::uint8_t kReplyTag[4] = {'T', 'N', 'R', 'P'};
constexpr std::uint8_t kStatsTag[4] = {'T', 'N', 'S', 'S'};
constexpr std::uint8_t kBatchTag[4] = {'T', 'N', 'F', 'B'};
constexpr std::size_t kRequestHead = 20;
constexpr std::size_t kReplyHead = 8;
constexpr std::size_t kStatsSize = 20;
constexpr std::size_t kRecordHead = 8;
constexpr std::uint8_t kPromiscuousFlag = 1;

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
    if (r.kind == RequestKind::IcmpSocket)
        return r.interfaceName.empty();
    if (r.kind != RequestKind::Capture)
        return false;
    return validInterfaceName(r.interfaceName) && r.snapLength >= kMinSnapLength &&
           r.snapLength <= kMaxSnapLength && r.kernelBufferBytes <= kMaxKernelBufferBytes &&
           r.readTimeoutMs >= 1 && r.readTimeoutMs <= kMaxReadTimeoutMs;
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
    out.push_back(request.promiscuous ? kPromiscuousFlag : 0);
    out.push_back(static_cast<std::uint8_t>(request.interfaceName.size()));
    out.push_back(0);
    put(out, request.snapLength);
    put(out, request.kernelBufferBytes);
    put(out, request.readTimeoutMs);
    out.insert(out.end(), request.interfaceName.begin(), request.interfaceName.end());
    return out;
}

std::optional<Request> decodeRequest(std::span<const std::uint8_t> m) {
    if (m.size() < kRequestHead || !hasTag(m, kRequestTag))
        return std::nullopt;
    const std::uint8_t kind = m[4];
    const std::uint8_t flags = m[5];
    const std::size_t nameLength = m[6];
    if (m[7] != 0 || (flags & ~kPromiscuousFlag) != 0 || m.size() != kRequestHead + nameLength)
        return std::nullopt;
    if (kind != static_cast<std::uint8_t>(RequestKind::Capture) &&
        kind != static_cast<std::uint8_t>(RequestKind::IcmpSocket))
        return std::nullopt;
    Request r;
    r.kind = static_cast<RequestKind>(kind);
    r.promiscuous = (flags & kPromiscuousFlag) != 0;
    r.snapLength = get<std::uint32_t>(m, 8);
    r.kernelBufferBytes = get<std::uint32_t>(m, 12);
    r.readTimeoutMs = get<std::uint32_t>(m, 16);
    r.interfaceName.assign(reinterpret_cast<const char*>(m.data() + kRequestHead), nameLength);
    if (r.kind == RequestKind::IcmpSocket &&
        (r.promiscuous || r.snapLength || r.kernelBufferBytes || r.readTimeoutMs))
        return std::nullopt;
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
        m[4] > static_cast<std::uint8_t>(ReplyStatus::Internal))
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

BatchWriter::BatchWriter() {
    m_buffer.reserve(kMaxMessage);
    clear();
}

void BatchWriter::clear() {
    m_buffer.assign(std::begin(kBatchTag), std::end(kBatchTag));
    m_frames = 0;
}

bool BatchWriter::add(std::uint32_t wireLength, std::span<const std::uint8_t> captured) {
    if (captured.size() > kMaxSnapLength || captured.size() > wireLength)
        return false;
    if (m_buffer.size() + kRecordHead + captured.size() > kMaxMessage)
        return false;
    put(m_buffer, static_cast<std::uint32_t>(captured.size()));
    put(m_buffer, wireLength);
    m_buffer.insert(m_buffer.end(), captured.begin(), captured.end());
    ++m_frames;
    return true;
}

MessageKind kindOf(std::span<const std::uint8_t> m) {
    if (hasTag(m, kBatchTag))
        return MessageKind::Batch;
    if (hasTag(m, kStatsTag))
        return MessageKind::Statistics;
    if (hasTag(m, kReplyTag))
        return MessageKind::Reply;
    if (hasTag(m, kStopTag))
        return MessageKind::Stop;
    if (hasTag(m, kRequestTag))
        return MessageKind::Request;
    return MessageKind::Unknown;
}

bool validBatch(std::span<const std::uint8_t> m, std::size_t& frames) {
    frames = 0;
    if (m.size() > kMaxMessage || !hasTag(m, kBatchTag))
        return false;
    std::size_t offset = 4;
    while (offset < m.size()) {
        if (m.size() - offset < kRecordHead)
            return false;
        const std::uint32_t captured = get<std::uint32_t>(m, offset);
        const std::uint32_t wire = get<std::uint32_t>(m, offset + 4);
        if (captured > kMaxSnapLength || captured > wire ||
            m.size() - offset - kRecordHead < captured)
            return false;
        offset += kRecordHead + captured;
        ++frames;
    }
    return true;
}

FrameView frameAt(std::span<const std::uint8_t> m, std::size_t& offset) {
    FrameView f;
    const std::uint32_t captured = get<std::uint32_t>(m, offset);
    f.wireLength = get<std::uint32_t>(m, offset + 4);
    f.captured = m.subspan(offset + kRecordHead, captured);
    offset += kRecordHead + captured;
    return f;
}

} // namespace tn::channel

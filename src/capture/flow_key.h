#pragma once
// The flow a counted frame belongs to, seen from this computer, and the hash the packet handler
// files flows under.
#include "capture/frame_layout.h"
#include "platform/socket_owners.h"

#include <bit>
#include <cstring>

namespace tn {

// A flow key as the five words the packet handler builds, compares and hashes in registers; a
// FlowKey in memory only where a flow is filed or asked about.
struct FlowWords {
    std::uint64_t w[5] = {};
    bool operator==(const FlowWords& o) const {
        return ((w[0] ^ o.w[0]) | (w[1] ^ o.w[1]) | (w[2] ^ o.w[2]) | (w[3] ^ o.w[3]) |
                (w[4] ^ o.w[4])) == 0;
    }
    FlowKey key() const {
        FlowKey k;
        std::memcpy(&k, w, sizeof k);
        return k;
    }
    static FlowWords of(const FlowKey& k) {
        FlowWords f;
        std::memcpy(f.w, &k, sizeof f.w);
        return f;
    }
};
static_assert(sizeof(FlowWords) == sizeof(FlowKey));

// The key of a frame whose fields the handler has read: source and destination addresses
// (`addrBytes` each) and ports, `sent` when this computer sent it.
inline FlowWords makeFlowWords(std::uint8_t protocol, const std::uint8_t* src,
                               const std::uint8_t* dst, std::uint32_t addrBytes,
                               std::uint16_t sport, std::uint16_t dport, bool sent) {
    // The words of FlowKey's layout, on a little-endian machine.
    static_assert(std::endian::native == std::endian::little);
    const std::uint8_t* local = sent ? src : dst;
    const std::uint8_t* remote = sent ? dst : src;
    FlowWords f;
    f.w[0] = (addrBytes == 4 ? 4u : 6u) | std::uint64_t{protocol} << 8 |
             std::uint64_t{sent ? sport : dport} << 16 | std::uint64_t{sent ? dport : sport} << 32;
    if (addrBytes == 4) {
        std::uint32_t l;
        std::uint32_t r;
        std::memcpy(&l, local, 4);
        std::memcpy(&r, remote, 4);
        f.w[1] = l;
        f.w[3] = r;
    } else {
        std::memcpy(&f.w[1], local, 8);
        std::memcpy(&f.w[2], local + 8, 8);
        std::memcpy(&f.w[3], remote, 8);
        std::memcpy(&f.w[4], remote + 8, 8);
    }
    return f;
}

inline FlowKey makeFlowKey(std::uint8_t protocol, const std::uint8_t* src, const std::uint8_t* dst,
                           std::uint32_t addrBytes, std::uint16_t sport, std::uint16_t dport,
                           bool sent) {
    return makeFlowWords(protocol, src, dst, addrBytes, sport, dport, sent).key();
}

// The key of a TCP or UDP frame that this computer sent (`sent`) or received, from the fields
// the accounting reads; false for any other frame or one cut before its ports.
inline bool flowKeyOf(LinkKind kind, const std::uint8_t* frame, std::uint32_t cap, bool sent,
                      FlowKey& key) {
    const frame::Link l = frame::linkOf(kind, frame, cap);
    if (!l.ok)
        return false;
    std::uint32_t transport = 0;
    std::uint32_t addrBytes = 4;
    std::uint32_t src = 0;
    std::uint32_t dst = 0;
    std::uint8_t proto = 0;
    if (l.type == frame::kTypeIpv4) {
        if (cap < l.ip + frame::kIpv4ReadBytes)
            return false;
        proto = frame[l.ip + 9];
        src = l.ip + 12;
        dst = l.ip + 16;
        transport = l.ip + 20; // where the accounting reads the ports, whatever the IHL says
    } else if (l.type == frame::kTypeIpv6) {
        if (cap < l.ip + frame::kIpv6HeaderBytes || (frame[l.ip] >> 4) != 6)
            return false;
        const frame::Ipv6Chain c =
            frame::ipv6ChainOf(frame, cap, l.ip + frame::kIpv6HeaderBytes, frame[l.ip + 6]);
        if (!c.known)
            return false;
        proto = c.next;
        src = l.ip + 8;
        dst = l.ip + 24;
        addrBytes = 16;
        transport = c.transport;
    } else {
        return false;
    }
    if ((proto != 6 && proto != 17) || cap < transport + frame::kPortBytes)
        return false;
    key = makeFlowKey(proto, frame + src, frame + dst, addrBytes, frame::be16(frame + transport),
                      frame::be16(frame + transport + 2), sent);
    return true;
}

inline std::uint64_t flowHash(const FlowWords& k) {
    std::uint64_t h = 0x9E3779B97F4A7C15ull;
    for (std::uint64_t v : k.w) {
        h ^= v;
        h *= 0xBF58476D1CE4E5B9ull;
        h ^= h >> 31;
    }
    return h;
}

inline std::uint64_t flowHash(const FlowKey& k) {
    return flowHash(FlowWords::of(k));
}

} // namespace tn

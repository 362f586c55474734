#pragma once
// The flow a counted frame belongs to, seen from this computer, and the hash the packet handler
// files flows under.
#include "capture/frame_layout.h"
#include "platform/socket_owners.h"

#include <cstring>

namespace tn {

// The key of a frame whose fields the handler has read: source and destination addresses
// (`addrBytes` each) and ports, `sent` when this computer sent it.
inline FlowKey makeFlowKey(std::uint8_t protocol, const std::uint8_t* src, const std::uint8_t* dst,
                           std::uint32_t addrBytes, std::uint16_t sport, std::uint16_t dport,
                           bool sent) {
    FlowKey key;
    key.family = addrBytes == 4 ? 4 : 6;
    key.protocol = protocol;
    key.localPort = sent ? sport : dport;
    key.remotePort = sent ? dport : sport;
    std::memcpy(key.local.data(), sent ? src : dst, addrBytes);
    std::memcpy(key.remote.data(), sent ? dst : src, addrBytes);
    return key;
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

inline std::uint64_t flowHash(const FlowKey& k) {
    std::uint64_t w[5];
    std::memcpy(w, &k, sizeof w);
    std::uint64_t h = 0x9E3779B97F4A7C15ull;
    for (std::uint64_t v : w) {
        h ^= v;
        h *= 0xBF58476D1CE4E5B9ull;
        h ^= h >> 31;
    }
    return h;
}

} // namespace tn

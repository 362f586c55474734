#pragma once
// Where the parts of a captured frame lie, as the accounting reads them. The packet handler and
// the capture helper walk a frame with these same functions: the handler to count it, the
// helper to cut it to what the handler reads before anything leaves the helper.
#include "platform/capture_device.h"

#include <cstdint>

namespace tn::frame {

inline constexpr std::uint16_t kTypeIpv4 = 0x0800;
inline constexpr std::uint16_t kTypeIpv6 = 0x86DD;
inline constexpr std::uint16_t kTypeVlan = 0x8100; // 802.1Q
inline constexpr std::uint16_t kTypeQinQ = 0x88A8; // 802.1ad
inline constexpr int kMaxExtensionHeaders = 8;
// Of an IPv4 packet the accounting reads the 20-byte header and the 4 bytes after it (the
// ports), whatever the header's length field says.
inline constexpr std::uint32_t kIpv4ReadBytes = 24;
inline constexpr std::uint32_t kIpv6HeaderBytes = 40;
inline constexpr std::uint32_t kPortBytes = 4;

inline std::uint16_t be16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}

struct Link {
    bool ok = false;        // false: too short for its link header (or its tags), or no link known
    std::uint32_t ip = 0;   // offset of the IP header
    std::uint16_t type = 0; // EtherType of what follows the link header and its tags
};

// The link header, and one or two VLAN tags after it (libpcap puts them back where the type
// field was, on Ethernet and in cooked v1 frames). Nothing past `cap` is read.
[[gnu::always_inline]] inline Link linkOf(LinkKind kind, const std::uint8_t* frame,
                                          std::uint32_t cap) {
    Link l;
    switch (kind) {
    case LinkKind::Ethernet:
        if (cap < 14)
            return l;
        l.type = be16(frame + 12);
        l.ip = 14;
        break;
    case LinkKind::LinuxSll:
        if (cap < 16)
            return l;
        l.type = be16(frame + 14);
        l.ip = 16;
        break;
    case LinkKind::LinuxSll2:
        if (cap < 20)
            return l;
        l.type = be16(frame);
        l.ip = 20;
        break;
    case LinkKind::RawIp:
        if (cap < 1)
            return l;
        l.type = (frame[0] >> 4) == 4 ? kTypeIpv4 : (frame[0] >> 4) == 6 ? kTypeIpv6 : 0;
        l.ip = 0;
        break;
    default:
        return l;
    }
    if (l.type == kTypeVlan || l.type == kTypeQinQ) [[unlikely]] {
        if (kind != LinkKind::Ethernet && kind != LinkKind::LinuxSll)
            return l;
        for (int tags = 0; tags < 2 && (l.type == kTypeVlan || l.type == kTypeQinQ); ++tags) {
            if (cap < l.ip + 4)
                return l;
            l.type = be16(frame + l.ip + 2);
            l.ip += 4;
        }
    }
    l.ok = true;
    return l;
}

struct Ipv6Chain {
    std::uint8_t next = 0;       // the protocol where the walk stopped (6 or 17: the transport)
    std::uint32_t transport = 0; // offset where the walk stopped
    bool known = true;           // false: the capture cut the chain before its end
};

// The IPv6 extension headers from `off` (just past the fixed header, whose next-header field
// is `next`), a bounded number of them, up to TCP or UDP. The walk stops at the transport
// header, at a later fragment (no transport header in it) or at a header it does not know.
[[gnu::always_inline]] inline Ipv6Chain ipv6ChainOf(const std::uint8_t* frame, std::uint32_t cap,
                                                    std::uint32_t off, std::uint8_t next) {
    Ipv6Chain c;
    for (int step = 0;; ++step) {
        if (next == 6 || next == 17)
            break;
        if ((next != 0 && next != 43 && next != 60 && next != 44) || step == kMaxExtensionHeaders)
            break;
        if (next == 44) {
            if (cap < off + 4) {
                c.known = false;
                break;
            }
            if ((be16(frame + off + 2) & 0xFFF8u) != 0) {
                off += 8; // read, and nothing of the transport follows it
                break;
            }
            next = frame[off];
            off += 8;
            continue;
        }
        if (cap < off + 2) {
            c.known = false;
            break;
        }
        next = frame[off];
        off += (static_cast<std::uint32_t>(frame[off + 1]) + 1) * 8;
    }
    c.next = next;
    c.transport = off;
    return c;
}

// How many leading bytes of a frame the accounting reads: the link header with its tags, the
// IP header (IPv6 with its extension headers) and the first four bytes of TCP or UDP, never
// more and never more than `cap`. 0 for a frame the accounting does not count (no IP, or too
// short to be counted): then only its lengths are worth anything.
inline std::uint32_t accountedBytes(LinkKind kind, const std::uint8_t* frame, std::uint32_t cap) {
    const Link l = linkOf(kind, frame, cap);
    if (!l.ok)
        return 0;
    const auto upTo = [cap](std::uint32_t end) { return end < cap ? end : cap; };
    if (l.type == kTypeIpv4)
        return cap < l.ip + 20 ? 0 : upTo(l.ip + kIpv4ReadBytes);
    if (l.type != kTypeIpv6 || cap < l.ip + kIpv6HeaderBytes || (frame[l.ip] >> 4) != 6)
        return 0;
    const Ipv6Chain c = ipv6ChainOf(frame, cap, l.ip + kIpv6HeaderBytes, frame[l.ip + 6]);
    if (!c.known)
        return cap; // everything captured lies inside the extension headers
    return upTo(c.transport + (c.next == 6 || c.next == 17 ? kPortBytes : 0));
}

} // namespace tn::frame

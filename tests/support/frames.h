#pragma once
#include "platform/adapter_source.h"
#include "platform/capture_device.h"

#include <arpa/inet.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace tn::test {

// An IPv4 address from its four octets, in the order they appear on the wire.
struct Ip4 {
    std::uint8_t o[4];
};

// One IPv4 packet (header plus the first transport bytes) described field by field.
struct TestPacket {
    Ip4 src{};
    Ip4 dst{};
    std::uint8_t protocol = 6;
    std::uint16_t srcPort = 0;
    std::uint16_t dstPort = 0;
    std::uint16_t totalLength = 0; // IP total length written into the header
    std::uint8_t headerWords = 5;  // IHL; above 5 adds option bytes before the transport header
    std::vector<std::uint8_t> optionPorts; // 4 bytes put where the options begin, when set
};

inline void put16(std::vector<std::uint8_t>& v, std::uint16_t x) {
    v.push_back(static_cast<std::uint8_t>(x >> 8));
    v.push_back(static_cast<std::uint8_t>(x));
}

// The IP header and 8 transport bytes (ports first), without any link header, padded with zeros
// to the total length it claims: the frame carries what its header says.
inline std::vector<std::uint8_t> ipBytes(const TestPacket& p) {
    std::vector<std::uint8_t> v;
    v.push_back(static_cast<std::uint8_t>(0x40 | p.headerWords));
    v.push_back(0);
    put16(v, p.totalLength);
    put16(v, 0x1234); // identification
    put16(v, 0x4000); // don't fragment
    v.push_back(64);
    v.push_back(p.protocol);
    put16(v, 0); // checksum: the accounting never looks at it
    v.insert(v.end(), p.src.o, p.src.o + 4);
    v.insert(v.end(), p.dst.o, p.dst.o + 4);
    std::vector<std::uint8_t> options(static_cast<std::size_t>((p.headerWords - 5) * 4), 0);
    for (std::size_t i = 0; i < p.optionPorts.size() && i < options.size(); ++i)
        options[i] = p.optionPorts[i];
    v.insert(v.end(), options.begin(), options.end());
    put16(v, p.srcPort);
    put16(v, p.dstPort);
    for (int i = 0; i < 4; ++i)
        v.push_back(0);
    if (v.size() < p.totalLength)
        v.resize(p.totalLength, 0);
    return v;
}

inline std::vector<std::uint8_t> ethernetFrame(const TestPacket& p, std::uint16_t type = 0x0800) {
    std::vector<std::uint8_t> v = {0x02, 0, 0, 0, 0, 1, 0x02, 0, 0, 0, 0, 2};
    put16(v, type);
    const std::vector<std::uint8_t> ip = ipBytes(p);
    v.insert(v.end(), ip.begin(), ip.end());
    return v;
}

// Linux cooked v1: packet type, ARPHRD, address length, 8 address bytes, protocol.
inline std::vector<std::uint8_t> sllFrame(const TestPacket& p) {
    std::vector<std::uint8_t> v = {0, 4, 0, 1, 0, 6, 2, 0, 0, 0, 0, 1, 0, 0, 0x08, 0x00};
    const std::vector<std::uint8_t> ip = ipBytes(p);
    v.insert(v.end(), ip.begin(), ip.end());
    return v;
}

// Linux cooked v2: protocol, reserved, interface index, ARPHRD, packet type, address.
inline std::vector<std::uint8_t> sll2Frame(const TestPacket& p) {
    std::vector<std::uint8_t> v = {0x08, 0x00, 0, 0, 0, 0, 0, 3, 0, 1,
                                   4,    6,    2, 0, 0, 0, 0, 0, 0, 0};
    const std::vector<std::uint8_t> ip = ipBytes(p);
    v.insert(v.end(), ip.begin(), ip.end());
    return v;
}

// An IPv6 address from its text, e.g. "2001:db8::1".
struct Ip6 {
    std::array<std::uint8_t, 16> o{};
};
inline Ip6 ip6(const char* text) {
    Ip6 a;
    if (::inet_pton(AF_INET6, text, a.o.data()) != 1)
        throw std::invalid_argument(text);
    return a;
}
inline Ipv6Address ip6Prefix(const char* text, int prefixLength) {
    return Ipv6Address{ip6(text).o, prefixLength};
}

// One IPv6 extension header: hop-by-hop (0), routing (43), destination options (60) of `bytes`
// (a multiple of 8), or a fragment header (44) with its offset in 8-byte units.
struct Ext6 {
    std::uint8_t type = 0;
    std::size_t bytes = 8;
    std::uint16_t fragmentOffset = 0;
};

// One IPv6 packet: the fixed header, the extension headers, then 8 transport bytes (ports
// first) of protocol `next`, padded to 40 + payloadLength bytes.
struct TestPacket6 {
    Ip6 src{};
    Ip6 dst{};
    std::uint8_t next = 6;
    std::uint16_t srcPort = 0;
    std::uint16_t dstPort = 0;
    std::uint16_t payloadLength = 0;
    std::vector<Ext6> ext;
};

inline std::vector<std::uint8_t> ipv6Bytes(const TestPacket6& p) {
    std::vector<std::uint8_t> v = {0x60, 0, 0, 0};
    put16(v, p.payloadLength);
    v.push_back(p.ext.empty() ? p.next : p.ext.front().type);
    v.push_back(64);
    v.insert(v.end(), p.src.o.begin(), p.src.o.end());
    v.insert(v.end(), p.dst.o.begin(), p.dst.o.end());
    for (std::size_t i = 0; i < p.ext.size(); ++i) {
        const Ext6& e = p.ext[i];
        const std::uint8_t next = i + 1 < p.ext.size() ? p.ext[i + 1].type : p.next;
        std::vector<std::uint8_t> h(e.type == 44 ? 8 : e.bytes, 0);
        h[0] = next;
        if (e.type == 44) {
            h[2] = static_cast<std::uint8_t>(e.fragmentOffset >> 5);
            h[3] = static_cast<std::uint8_t>((e.fragmentOffset << 3) & 0xF8);
        } else {
            h[1] = static_cast<std::uint8_t>(e.bytes / 8 - 1);
        }
        v.insert(v.end(), h.begin(), h.end());
    }
    put16(v, p.srcPort);
    put16(v, p.dstPort);
    for (int i = 0; i < 4; ++i)
        v.push_back(0);
    if (v.size() < 40u + p.payloadLength)
        v.resize(40u + p.payloadLength, 0);
    return v;
}

// An Ethernet frame of any type around `payload`, with VLAN tags (their type fields, e.g.
// 0x88A8 then 0x8100) between the addresses and the type.
inline std::vector<std::uint8_t> ethernetWith(std::uint16_t type,
                                              const std::vector<std::uint8_t>& payload,
                                              const std::vector<std::uint16_t>& tags = {}) {
    std::vector<std::uint8_t> v = {0x02, 0, 0, 0, 0, 1, 0x02, 0, 0, 0, 0, 2};
    for (std::uint16_t tpid : tags) {
        put16(v, tpid);
        put16(v, 0x0064); // VLAN 100
    }
    put16(v, type);
    v.insert(v.end(), payload.begin(), payload.end());
    return v;
}

// Linux cooked v1 and v2 frames of any protocol around `payload` (v1 may carry tags).
inline std::vector<std::uint8_t> sllWith(std::uint16_t type,
                                         const std::vector<std::uint8_t>& payload,
                                         const std::vector<std::uint16_t>& tags = {}) {
    std::vector<std::uint8_t> v = {0, 4, 0, 1, 0, 6, 2, 0, 0, 0, 0, 1, 0, 0};
    for (std::uint16_t tpid : tags) {
        put16(v, tpid);
        put16(v, 0x0064);
    }
    put16(v, type);
    v.insert(v.end(), payload.begin(), payload.end());
    return v;
}
inline std::vector<std::uint8_t> sll2With(std::uint16_t type,
                                          const std::vector<std::uint8_t>& payload) {
    std::vector<std::uint8_t> v;
    put16(v, type);
    const std::uint8_t rest[18] = {0, 0, 0, 0, 0, 3, 0, 1, 4, 6, 2, 0, 0, 0, 0, 0, 0, 0};
    v.insert(v.end(), rest, rest + 18);
    v.insert(v.end(), payload.begin(), payload.end());
    return v;
}

// Writes a classic pcap file: 24-byte header, then a 16-byte header before each frame.
inline void writePcap(const std::filesystem::path& file, std::uint32_t linkType,
                      const std::vector<std::vector<std::uint8_t>>& frames) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    const auto u32 = [&](std::uint32_t x) { out.write(reinterpret_cast<const char*>(&x), 4); };
    const auto u16 = [&](std::uint16_t x) { out.write(reinterpret_cast<const char*>(&x), 2); };
    u32(0xA1B2C3D4);
    u16(2);
    u16(4);
    u32(0);
    u32(0);
    u32(65535);
    u32(linkType);
    std::uint32_t t = 1700000000;
    for (const auto& f : frames) {
        u32(t++);
        u32(0);
        u32(static_cast<std::uint32_t>(f.size()));
        u32(static_cast<std::uint32_t>(f.size()));
        out.write(reinterpret_cast<const char*>(f.data()), static_cast<std::streamsize>(f.size()));
    }
}

// Holds a frame so that its last captured byte is the last readable byte before an
// inaccessible page: a read past the captured bytes crashes the test.
class GuardedFrame {
public:
    GuardedFrame() {
        m_page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
        void* p =
            ::mmap(nullptr, 2 * m_page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED)
            throw std::runtime_error("mmap failed");
        m_base = static_cast<std::uint8_t*>(p);
        ::mprotect(m_base + m_page, m_page, PROT_NONE);
    }
    ~GuardedFrame() { ::munmap(m_base, 2 * m_page); }
    GuardedFrame(const GuardedFrame&) = delete;
    GuardedFrame& operator=(const GuardedFrame&) = delete;

    // The first `captured` bytes of `frame`, ending at the guard page.
    const std::uint8_t* place(const std::vector<std::uint8_t>& frame, std::size_t captured) {
        std::uint8_t* start = m_base + m_page - captured;
        std::memcpy(start, frame.data(), captured);
        return start;
    }

private:
    std::size_t m_page = 0;
    std::uint8_t* m_base = nullptr;
};

} // namespace tn::test

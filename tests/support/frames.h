#pragma once
#include "platform/capture_device.h"

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

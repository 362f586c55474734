// The reply check reads a datagram straight off the network. Input: one flag byte (bit 0: the
// datagram starts with an IP header), the identifier and sequence to match (2 bytes each),
// then the datagram, in a buffer of exactly its size so any read past it is caught.
#include "stats/icmp_echo.h"

#include <cstdint>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 5)
        return 0;
    const bool withIpHeader = (data[0] & 1) != 0;
    std::uint16_t identifier;
    std::uint16_t sequence;
    std::memcpy(&identifier, data + 1, 2);
    std::memcpy(&sequence, data + 3, 2);
    const std::vector<std::uint8_t> datagram(data + 5, data + size);
    const tn::ReplyCheck check = tn::checkEchoReply(datagram, withIpHeader, identifier, sequence);
    // A reply always has room for the 12-byte echo header behind its IP header.
    if (check == tn::ReplyCheck::Reply) {
        const std::size_t h = withIpHeader ? 4u * (datagram[0] & 0x0fu) : 0u;
        if (datagram.size() < h + tn::kEchoHeaderBytes)
            __builtin_trap();
    }
    return 0;
}

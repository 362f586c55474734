#pragma once
// The ICMP echo ("ping") routine: request building, reply checking and the send-and-wait
// loop, over the sockets of platform/icmp.h.
//
//   EchoParams p; p.host = "198.18.0.1";
//   EchoReply r; EchoError e;
//   if (icmpEcho(factory, clock, p, r, e)) -> r.address, r.rttMs
//   else -> e.code (errno value, ETIMEDOUT when no reply came) and e.text
#include "platform/icmp.h"

#include <cstdint>
#include <span>
#include <stop_token>
#include <string>
#include <vector>

namespace tn {

class IClock;

struct EchoParams {
    std::string host;
    int timeToLive = 100;
    std::uint32_t timeoutMs = 5000; // for each wait, not in all
    std::int32_t dataSize = 32;     // filler bytes; cut to 0..kMaxEchoData
    int typeOfService = 0;
    int dontFragment = 0;
    std::string localAddress; // empty: no bind
    std::uint16_t sequence = 0;
};

struct EchoReply {
    Ipv4Address address;
    std::int32_t rttMs = 0;
};

struct EchoError {
    int code = 0;
    std::string text;
};

inline constexpr std::int32_t kMaxEchoData = 1024;
inline constexpr std::size_t kEchoHeaderBytes = 12; // type, code, checksum, id, seq, tick
inline constexpr std::size_t kEchoReceiveBytes = 1059;
inline constexpr std::uint8_t kEchoFiller = 0x45;

// RFC 1071 over 16-bit words read in machine order; the result is stored the same way.
std::uint16_t internetChecksum(std::span<const std::uint8_t> bytes);

// Type 8, code 0, checksum, identifier, sequence and tick in machine order, then the filler.
std::vector<std::uint8_t> buildEchoRequest(std::uint16_t identifier, std::uint16_t sequence,
                                           std::uint32_t tickMs, std::int32_t dataSize);

enum class ReplyCheck {
    Short,           // shorter than its header length + 12
    OtherIdentifier, // someone else's traffic
    OtherSequence,
    OwnRequest, // our own request, seen by a raw socket when the target is this machine
    NotReply,   // matching identifier and sequence but not an echo reply
    Reply,
};

// Examines one received datagram; withIpHeader when it starts with the IP header.
ReplyCheck checkEchoReply(std::span<const std::uint8_t> datagram, bool withIpHeader,
                          std::uint16_t identifier, std::uint16_t sequence);

// Sends one request and waits for its reply. A stop request ends the wait early.
bool icmpEcho(IIcmpFactory& icmp, const IClock& clock, const EchoParams& params, EchoReply& reply,
              EchoError& error, std::stop_token stop = {});

} // namespace tn

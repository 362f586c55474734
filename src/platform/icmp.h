#pragma once
// ICMP echo sockets, as the operating system offers them to the probe (stats/icmp_echo.h runs
// the echo itself). Errors are the system's codes (errno on Linux); 0 means success.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <stop_token>
#include <string>

namespace tn {

// An IPv4 address in network byte order, first octet first in memory.
struct Ipv4Address {
    std::uint8_t octets[4] = {0, 0, 0, 0};
    bool operator==(const Ipv4Address&) const = default;
};

struct ResolveResult {
    bool ok = false;
    Ipv4Address address;
    int error = 0;
    std::string errorText; // the resolver's own text; its codes are not errno values
};

enum class WaitResult { Readable, TimedOut, Failed };

class IIcmpSocket {
public:
    virtual ~IIcmpSocket() = default;
    // True for a raw socket, whose datagrams start with the IP header; a datagram (ping)
    // socket hands over the bare ICMP message.
    virtual bool receivesIpHeader() const = 0;
    // The identifier the kernel puts into requests in place of ours (datagram socket), read in
    // machine order at offset 4 of the message; false when ours goes out as built. Valid
    // after a send.
    virtual bool kernelIdentifier(std::uint16_t& identifier) const = 0;
    virtual int bind(const Ipv4Address& local) = 0;
    virtual int setTimeToLive(int ttl) = 0;
    virtual int setTypeOfService(int tos) = 0;
    virtual int setDontFragment() = 0;
    virtual int sendTo(std::span<const std::uint8_t> message, const Ipv4Address& to) = 0;
    // Waits until a datagram can be read; a stop request ends the wait as Failed.
    virtual WaitResult waitReadable(std::uint32_t timeoutMs, std::stop_token stop, int& error) = 0;
    // Reads one datagram; false on failure, including one longer than the buffer.
    virtual bool receive(std::span<std::uint8_t> buffer, std::size_t& length, Ipv4Address& from,
                         int& error) = 0;
};

class IIcmpFactory {
public:
    virtual ~IIcmpFactory() = default;
    // A dotted IPv4 address is taken as it is; any other text is looked up (IPv4 only).
    virtual ResolveResult resolve(const std::string& host) = 0;
    // The same, but returns at once (error ECANCELED) when `stop` is requested, even while the
    // name is still being looked up. The default cannot be interrupted.
    virtual ResolveResult resolveUntil(const std::string& host, std::stop_token stop) {
        (void)stop;
        return resolve(host);
    }
    // A raw ICMP socket when the process may open one, else a datagram ICMP socket; null with
    // error set when neither can be opened.
    virtual std::unique_ptr<IIcmpSocket> open(int& error) = 0;
    virtual std::uint32_t processId() const = 0;
};

} // namespace tn

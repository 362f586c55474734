#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace tn {

// One IPv6 address of an adapter with the length of its on-link prefix.
struct Ipv6Address {
    std::array<std::uint8_t, 16> address{}; // as on the wire
    int prefixLength = 128;
    bool operator==(const Ipv6Address&) const = default;
};

// One adapter as the system reports it.
struct AdapterInfo {
    std::string name;          // the interface name the capture device opens
    std::string description;   // shown in the combo box; unique and stable
    std::string addressText;   // first IPv4 address, dotted ("0.0.0.0" when none)
    std::string maskText;      // its mask, dotted
    int index = 0;             // the system's interface index
    bool up = false;           // administratively up and running
    bool defaultRoute = false; // carries the IPv4 default route
    std::vector<Ipv6Address>
        ipv6{}; // every IPv6 address: global, temporary, unique-local, link-local
};

enum class AdapterListStatus {
    Ok,
    LibraryMissing, // the system's adapter service is not there
    NoFunction,     // the service lacks the listing call
    NoAdapters,     // the system reports no adapters
    NoMemory,
    ListFailed,   // the list could not be obtained
    OtherFailure, // any other answer: no text of its own
};

class IAdapterSource {
public:
    virtual ~IAdapterSource() = default;
    virtual AdapterListStatus list(std::vector<AdapterInfo>& out) = 0;
    // The IPv6 addresses that interface `name` has now (they come and go: temporary addresses
    // are replaced every day); false when they cannot be asked for.
    virtual bool ipv6Addresses(const std::string& name, std::vector<Ipv6Address>& out) {
        (void)name;
        out.clear();
        return false;
    }
    // The interface that carries the default route, IPv4 first, else IPv6: the connection in
    // use. Empty when there is none or the system cannot tell.
    virtual std::string defaultRouteInterface() { return {}; }
    // Whether defaultRouteInterface() tells anything on this system.
    virtual bool reportsDefaultRoute() const { return false; }
};

} // namespace tn

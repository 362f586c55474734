#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <vector>

struct nl_sock;
struct nl_cache;
struct rtnl_link;

namespace tn {

struct LinkInfo {
    int ifindex = 0;
    std::string name;
    bool loopback = false;
    bool carrier = false;      // lower layer up
    bool up = false;           // administratively up and running
    std::uint64_t rxBytes = 0; // 64-bit counters of the link
    std::uint64_t txBytes = 0;
};

struct Ipv4Info {
    int ifindex = 0;
    std::uint32_t address = 0; // network byte order
    int prefixLength = 0;
};

struct Ipv6Info {
    int ifindex = 0;
    std::array<std::uint8_t, 16> address{};
    int prefixLength = 0;
};

// One rtnetlink socket, kept open, for link and address dumps through libnl.

// Link notifications (interfaces added, removed, renamed, carrier changes) from a netlink
// socket that is never waited on: poll() takes what arrived since the last call.
class LinkWatch {
public:
    struct Event {
        bool removed = false;
        LinkInfo link; // index, name, loopback and carrier (no counters)
    };
    LinkWatch();
    ~LinkWatch();
    LinkWatch(const LinkWatch&) = delete;
    LinkWatch& operator=(const LinkWatch&) = delete;

    bool ok() const { return m_fd >= 0; }
    // Appends what arrived; false when notifications were lost (the socket overflowed) or the
    // socket is not there, and the caller must take the whole table again.
    bool poll(std::vector<Event>& out);

private:
    int m_fd = -1;
    std::vector<char> m_buffer;
};

// Notifications of some rtnetlink groups: whether any arrived since the last call, so that a
// dump is taken (and a name looked up) only after a change.
class ChangeWatch {
public:
    // Address notifications of one family, and link notifications: a name that moved to
    // another interface changes its addresses without an address notification.
    static ChangeWatch addresses(int family);
    // Route notifications of both families, and link notifications: a renamed interface
    // changes the default route's interface name without a route notification.
    static ChangeWatch routes();
    ~ChangeWatch();
    ChangeWatch(ChangeWatch&& other) noexcept;
    ChangeWatch& operator=(ChangeWatch&&) = delete;
    ChangeWatch(const ChangeWatch&) = delete;
    ChangeWatch& operator=(const ChangeWatch&) = delete;

    // True when a notification came, notifications were lost, or there is no socket to tell:
    // the caller must dump again.
    bool changed();

private:
    explicit ChangeWatch(unsigned groups);
    int m_fd = -1;
};

class NetlinkLinks {
public:
    NetlinkLinks();
    ~NetlinkLinks();
    NetlinkLinks(const NetlinkLinks&) = delete;
    NetlinkLinks& operator=(const NetlinkLinks&) = delete;

    // One link dump, in interface-index order; false when the kernel could not be asked.
    bool dumpLinks(std::vector<LinkInfo>& out);
    // The one link with this index; false when it is gone or the kernel could not be asked.
    bool readLink(int ifindex, LinkInfo& out);
    // The byte counters of the link with this index, read every second: the kernel fills only
    // the 64-bit statistics (no names, flags or per-family settings). Where the kernel cannot
    // answer that way, the whole link is read instead; false when the link is gone.
    bool readCounters(int ifindex, std::uint64_t& rxBytes, std::uint64_t& txBytes);
    // One address dump: the IPv4 addresses in the kernel's order (primary first per link).
    bool dumpIpv4(std::vector<Ipv4Info>& out);
    // The same dump's IPv6 addresses (one dump serves both when asked right after dumpIpv4).
    bool dumpIpv6(std::vector<Ipv6Info>& out, bool refill = true);
    // The interface of the default route of `family` (AF_INET, AF_INET6) the kernel prefers
    // (lowest metric, main table); 0 when there is none, -1 when the kernel could not be asked.
    int defaultRouteIndex(int family = 2 /* AF_INET */);

private:
    static void fill(struct rtnl_link* link, LinkInfo& out);

    nl_sock* m_sock = nullptr;
    nl_cache* m_links = nullptr;
    nl_cache* m_addrs = nullptr;
    bool m_noStatsRequest = false; // the kernel refused RTM_GETSTATS once
};

} // namespace tn

#include "platform/linux/netlink_interfaces.h"

#include "platform/clock.h"

#include <arpa/inet.h>
#include <net/if.h>

namespace tn {

std::string ipv4Text(std::uint32_t networkOrder) {
    char buf[INET_ADDRSTRLEN] = {};
    in_addr a{};
    a.s_addr = networkOrder;
    inet_ntop(AF_INET, &a, buf, sizeof buf);
    return buf;
}

std::uint32_t prefixToMask(int prefixLength) {
    if (prefixLength <= 0)
        return 0;
    if (prefixLength >= 32)
        return 0xFFFFFFFFu;
    return htonl(~((1u << (32 - prefixLength)) - 1u));
}

NetlinkInterfaceTable::NetlinkInterfaceTable(const IClock& clock, DeviceNames& names)
    : m_clock(clock), m_names(names) {}

void NetlinkInterfaceTable::seeCarrier(Link& link, bool carrier, bool known) {
    if (known && carrier && !link.carrier)
        link.upSince = m_clock.now();
    if (!carrier)
        link.upSince = 0;
    link.carrier = carrier;
}

std::uint64_t NetlinkInterfaceTable::connectedSeconds(const Link& link) const {
    const std::int64_t now = m_clock.now();
    return (link.carrier && link.upSince != 0 && now > link.upSince)
               ? static_cast<std::uint64_t>(now - link.upSince)
               : 0;
}

bool NetlinkInterfaceTable::dump() {
    if (!m_netlink.dumpLinks(m_dump)) {
        m_synced = false;
        return false;
    }
    std::map<int, Link> links;
    for (const LinkInfo& l : m_dump) {
        const auto old = m_links.find(l.ifindex);
        const bool known = old != m_links.end() && old->second.name == l.name;
        Link link = known ? old->second : Link{l.name, l.loopback, l.carrier, 0};
        seeCarrier(link, l.carrier, known);
        links.emplace(l.ifindex, std::move(link));
    }
    m_links = std::move(links);
    m_synced = true;
    return true;
}

void NetlinkInterfaceTable::takeNotifications() {
    m_events.clear();
    if (!m_watch.poll(m_events)) {
        m_changed = true;
        m_synced = false;
    }
    for (const LinkWatch::Event& e : m_events) {
        const auto it = m_links.find(e.link.ifindex);
        if (e.removed) {
            if (it != m_links.end())
                m_links.erase(it);
            m_changed = true;
            continue;
        }
        if (it == m_links.end() || it->second.name != e.link.name) {
            m_links[e.link.ifindex] = Link{e.link.name, e.link.loopback, e.link.carrier, 0};
            m_changed = true;
            continue;
        }
        seeCarrier(it->second, e.link.carrier, true);
    }
}

bool NetlinkInterfaceTable::refresh(std::vector<InterfaceRow>& rows) {
    rows.clear();
    takeNotifications();
    if (!dump())
        return false;
    m_changed = false;
    for (const LinkInfo& l : m_dump) {
        InterfaceRow row;
        row.description = m_names.describe(l.name);
        row.inOctets = l.rxBytes;
        row.outOctets = l.txBytes;
        row.connectedSeconds = connectedSeconds(m_links[l.ifindex]);
        row.index = l.ifindex;
        rows.push_back(std::move(row));
    }
    return true;
}

bool NetlinkInterfaceTable::linksChanged() {
    takeNotifications();
    return m_changed || !m_synced || !m_watch.ok();
}

bool NetlinkInterfaceTable::readOne(int index, InterfaceRow& row) {
    // Name and carrier come with the notifications, which the caller took just before (a lost
    // one makes it take the whole table): only the counters are asked for.
    const auto it = m_links.find(index);
    std::uint64_t rx = 0;
    std::uint64_t tx = 0;
    if (it == m_links.end() || !m_netlink.readCounters(index, rx, tx))
        return false;
    row.inOctets = rx;
    row.outOctets = tx;
    row.connectedSeconds = connectedSeconds(it->second);
    return true;
}

int NetlinkInterfaceTable::countAdapters() {
    takeNotifications();
    if (!m_synced && !dump())
        return 0;
    int n = 0;
    for (const auto& [index, link] : m_links)
        n += link.loopback ? 0 : 1;
    return n;
}

NetlinkAdapterSource::NetlinkAdapterSource(DeviceNames& names) : m_names(names) {}

AdapterListStatus NetlinkAdapterSource::list(std::vector<AdapterInfo>& out) {
    out.clear();
    std::vector<LinkInfo> links;
    std::vector<Ipv4Info> addrs;
    std::vector<Ipv6Info> addrs6;
    if (!m_netlink.dumpLinks(links) || !m_netlink.dumpIpv4(addrs) ||
        !m_netlink.dumpIpv6(addrs6, false))
        return AdapterListStatus::ListFailed;
    const int defaultRoute = m_netlink.defaultRouteIndex();
    for (const LinkInfo& l : links) {
        if (l.loopback)
            continue;
        AdapterInfo a;
        a.index = l.ifindex;
        a.up = l.up;
        a.defaultRoute = l.ifindex == defaultRoute;
        a.name = l.name;
        a.description = m_names.describe(l.name);
        a.addressText = "0.0.0.0";
        a.maskText = "0.0.0.0";
        for (const Ipv4Info& ip : addrs) {
            if (ip.ifindex == l.ifindex) {
                a.addressText = ipv4Text(ip.address);
                a.maskText = ipv4Text(prefixToMask(ip.prefixLength));
                break;
            }
        }
        for (const Ipv6Info& ip : addrs6)
            if (ip.ifindex == l.ifindex)
                a.ipv6.push_back(Ipv6Address{ip.address, ip.prefixLength});
        out.push_back(std::move(a));
    }
    return out.empty() ? AdapterListStatus::NoAdapters : AdapterListStatus::Ok;
}

// Asked every second; the addresses are dumped again only after the kernel told of a change
// (or of an interface of the same name that came back with another index).
bool NetlinkAdapterSource::ipv6Addresses(const std::string& name, std::vector<Ipv6Address>& out) {
    out.clear();
    // Asked every second: with nothing changed since the last answer for this name, that
    // answer stands, without a look-up of the name.
    const bool changed = m_ipv6Watch.changed();
    if (!changed && m_ipv6Known && name == m_ipv6Name) {
        out = m_ipv6;
        return true;
    }
    const int index = static_cast<int>(if_nametoindex(name.c_str()));
    if (index == 0) {
        m_ipv6Known = false;
        return false;
    }
    if (changed || !m_ipv6Known || index != m_ipv6Index) {
        std::vector<Ipv6Info> addrs;
        if (!m_netlink.dumpIpv6(addrs)) {
            m_ipv6Known = false;
            return false;
        }
        m_ipv6.clear();
        for (const Ipv6Info& ip : addrs)
            if (ip.ifindex == index)
                m_ipv6.push_back(Ipv6Address{ip.address, ip.prefixLength});
        m_ipv6Index = index;
        m_ipv6Name = name;
        m_ipv6Known = true;
    }
    out = m_ipv6;
    return true;
}

std::string NetlinkAdapterSource::defaultRouteInterface() {
    // Notifications first: one that comes during the reading below makes the next call read
    // again.
    if (!m_routeWatch.changed() && m_defaultRouteKnown)
        return m_defaultRoute;
    int index = m_netlink.defaultRouteIndex(AF_INET);
    if (index == 0)
        index = m_netlink.defaultRouteIndex(AF_INET6);
    m_defaultRouteKnown = index >= 0; // a failed reading is not kept
    if (index < 0)
        return {};
    char name[IF_NAMESIZE] = {};
    if (index == 0 || !if_indextoname(static_cast<unsigned>(index), name))
        name[0] = '\0';
    m_defaultRoute = name;
    return m_defaultRoute;
}

} // namespace tn

#include "platform/linux/netlink_interfaces.h"

#include "platform/clock.h"

#include <arpa/inet.h>

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

bool NetlinkInterfaceTable::refresh(std::vector<InterfaceRow>& rows) {
    rows.clear();
    if (!m_netlink.dumpLinks(m_links))
        return false;
    const std::int64_t now = m_clock.now();
    for (const LinkInfo& l : m_links) {
        auto [it, fresh] = m_carrier.try_emplace(l.ifindex, Carrier{l.carrier, 0});
        Carrier& c = it->second;
        if (!fresh && l.carrier && !c.up)
            c.upSince = now;
        if (!l.carrier)
            c.upSince = 0;
        c.up = l.carrier;
        InterfaceRow row;
        row.description = m_names.describe(l.name);
        row.inOctets = l.rxBytes;
        row.outOctets = l.txBytes;
        row.connectedSeconds = (c.up && c.upSince != 0 && now > c.upSince)
                                   ? static_cast<std::uint64_t>(now - c.upSince)
                                   : 0;
        rows.push_back(std::move(row));
    }
    return true;
}

int NetlinkInterfaceTable::countAdapters() {
    if (!m_netlink.dumpLinks(m_links))
        return 0;
    int n = 0;
    for (const LinkInfo& l : m_links)
        n += l.loopback ? 0 : 1;
    return n;
}

NetlinkAdapterSource::NetlinkAdapterSource(DeviceNames& names) : m_names(names) {}

AdapterListStatus NetlinkAdapterSource::list(std::vector<AdapterInfo>& out) {
    out.clear();
    std::vector<LinkInfo> links;
    std::vector<Ipv4Info> addrs;
    if (!m_netlink.dumpLinks(links) || !m_netlink.dumpIpv4(addrs))
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
        out.push_back(std::move(a));
    }
    return out.empty() ? AdapterListStatus::NoAdapters : AdapterListStatus::Ok;
}

} // namespace tn

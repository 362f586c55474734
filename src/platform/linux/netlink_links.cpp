#include "platform/linux/netlink_links.h"

#include <algorithm>
#include <cstring>
#include <linux/if.h>
#include <linux/rtnetlink.h>
#include <netlink/cache.h>
#include <netlink/netlink.h>
#include <netlink/route/addr.h>
#include <netlink/route/link.h>
#include <netlink/route/route.h>
#include <sys/socket.h>

namespace tn {

NetlinkLinks::NetlinkLinks() {
    m_sock = nl_socket_alloc();
    if (m_sock && nl_connect(m_sock, NETLINK_ROUTE) != 0) {
        nl_socket_free(m_sock);
        m_sock = nullptr;
    }
}

NetlinkLinks::~NetlinkLinks() {
    if (m_links)
        nl_cache_free(m_links);
    if (m_addrs)
        nl_cache_free(m_addrs);
    if (m_sock)
        nl_socket_free(m_sock);
}

bool NetlinkLinks::dumpLinks(std::vector<LinkInfo>& out) {
    out.clear();
    if (!m_sock)
        return false;
    if (!m_links) {
        if (rtnl_link_alloc_cache(m_sock, AF_UNSPEC, &m_links) < 0) {
            m_links = nullptr;
            return false;
        }
    } else if (nl_cache_refill(m_sock, m_links) < 0) {
        return false;
    }
    for (nl_object* o = nl_cache_get_first(m_links); o; o = nl_cache_get_next(o)) {
        auto* link = reinterpret_cast<rtnl_link*>(o);
        LinkInfo li;
        li.ifindex = rtnl_link_get_ifindex(link);
        if (const char* n = rtnl_link_get_name(link))
            li.name = n;
        const unsigned flags = rtnl_link_get_flags(link);
        li.loopback = (flags & IFF_LOOPBACK) != 0;
        li.carrier = (flags & IFF_LOWER_UP) != 0;
        li.up = (flags & IFF_UP) != 0 && (flags & IFF_RUNNING) != 0;
        li.rxBytes = rtnl_link_get_stat(link, RTNL_LINK_RX_BYTES);
        li.txBytes = rtnl_link_get_stat(link, RTNL_LINK_TX_BYTES);
        out.push_back(std::move(li));
    }
    std::stable_sort(out.begin(), out.end(),
                     [](const LinkInfo& a, const LinkInfo& b) { return a.ifindex < b.ifindex; });
    return true;
}

bool NetlinkLinks::dumpIpv4(std::vector<Ipv4Info>& out) {
    out.clear();
    if (!m_sock)
        return false;
    if (!m_addrs) {
        if (rtnl_addr_alloc_cache(m_sock, &m_addrs) < 0) {
            m_addrs = nullptr;
            return false;
        }
    } else if (nl_cache_refill(m_sock, m_addrs) < 0) {
        return false;
    }
    for (nl_object* o = nl_cache_get_first(m_addrs); o; o = nl_cache_get_next(o)) {
        auto* a = reinterpret_cast<rtnl_addr*>(o);
        if (rtnl_addr_get_family(a) != AF_INET)
            continue;
        nl_addr* local = rtnl_addr_get_local(a);
        if (!local || nl_addr_get_len(local) != 4)
            continue;
        Ipv4Info info;
        info.ifindex = rtnl_addr_get_ifindex(a);
        std::memcpy(&info.address, nl_addr_get_binary_addr(local), 4);
        info.prefixLength = rtnl_addr_get_prefixlen(a);
        out.push_back(info);
    }
    return true;
}

int NetlinkLinks::defaultRouteIndex() {
    if (!m_sock)
        return 0;
    nl_cache* routes = nullptr;
    if (rtnl_route_alloc_cache(m_sock, AF_INET, 0, &routes) < 0)
        return 0;
    int best = 0;
    std::uint32_t bestMetric = 0;
    for (nl_object* o = nl_cache_get_first(routes); o; o = nl_cache_get_next(o)) {
        auto* r = reinterpret_cast<rtnl_route*>(o);
        nl_addr* dst = rtnl_route_get_dst(r);
        if (rtnl_route_get_table(r) != RT_TABLE_MAIN || rtnl_route_get_type(r) != RTN_UNICAST ||
            (dst && nl_addr_get_prefixlen(dst) != 0) || rtnl_route_get_nnexthops(r) < 1)
            continue;
        const int index = rtnl_route_nh_get_ifindex(rtnl_route_nexthop_n(r, 0));
        const std::uint32_t metric = rtnl_route_get_priority(r);
        if (index > 0 && (best == 0 || metric < bestMetric)) {
            best = index;
            bestMetric = metric;
        }
    }
    nl_cache_free(routes);
    return best;
}

} // namespace tn

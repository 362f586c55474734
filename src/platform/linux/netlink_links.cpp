#include "platform/linux/netlink_links.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <linux/if.h>
#include <linux/if_link.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <netlink/cache.h>
#include <netlink/netlink.h>
#include <netlink/route/addr.h>
#include <netlink/route/link.h>
#include <netlink/route/route.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tn {

namespace {

// A non-blocking rtnetlink socket that receives the given multicast groups; -1 on failure.
int openWatch(unsigned groups) {
    const int fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE);
    if (fd < 0)
        return -1;
    sockaddr_nl sa{};
    sa.nl_family = AF_NETLINK;
    sa.nl_groups = groups;
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace

LinkWatch::LinkWatch() : m_fd(openWatch(RTMGRP_LINK)), m_buffer(64 * 1024) {}

LinkWatch::~LinkWatch() {
    if (m_fd >= 0)
        ::close(m_fd);
}

bool LinkWatch::poll(std::vector<Event>& out) {
    if (m_fd < 0)
        return false;
    for (;;) {
        const ssize_t n = ::recv(m_fd, m_buffer.data(), m_buffer.size(), MSG_DONTWAIT);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            // ENOBUFS: the kernel dropped notifications while we were not reading.
            return errno == EAGAIN || errno == EWOULDBLOCK;
        }
        int left = static_cast<int>(n);
        for (auto* h = reinterpret_cast<nlmsghdr*>(m_buffer.data()); NLMSG_OK(h, left);
             h = NLMSG_NEXT(h, left)) {
            if (h->nlmsg_type == NLMSG_OVERRUN)
                return false;
            if ((h->nlmsg_type != RTM_NEWLINK && h->nlmsg_type != RTM_DELLINK) ||
                h->nlmsg_len < NLMSG_LENGTH(sizeof(ifinfomsg)))
                continue;
            const auto* ifi = static_cast<const ifinfomsg*>(NLMSG_DATA(h));
            Event e;
            e.removed = h->nlmsg_type == RTM_DELLINK;
            e.link.ifindex = ifi->ifi_index;
            e.link.loopback = (ifi->ifi_flags & IFF_LOOPBACK) != 0;
            e.link.carrier = (ifi->ifi_flags & IFF_LOWER_UP) != 0;
            e.link.up = (ifi->ifi_flags & IFF_UP) != 0 && (ifi->ifi_flags & IFF_RUNNING) != 0;
            int alen = static_cast<int>(IFLA_PAYLOAD(h));
            for (auto* a = IFLA_RTA(ifi); RTA_OK(a, alen); a = RTA_NEXT(a, alen)) {
                if (a->rta_type != IFLA_IFNAME)
                    continue;
                const char* name = static_cast<const char*>(RTA_DATA(a));
                e.link.name.assign(name, strnlen(name, RTA_PAYLOAD(a)));
            }
            out.push_back(std::move(e));
        }
    }
}

ChangeWatch::ChangeWatch(unsigned groups) : m_fd(openWatch(groups)) {}

ChangeWatch ChangeWatch::addresses(int family) {
    return ChangeWatch((family == AF_INET6 ? RTMGRP_IPV6_IFADDR : RTMGRP_IPV4_IFADDR) |
                       RTMGRP_LINK);
}

ChangeWatch ChangeWatch::routes() {
    return ChangeWatch(RTMGRP_IPV4_ROUTE | RTMGRP_IPV6_ROUTE | RTMGRP_LINK);
}

ChangeWatch::ChangeWatch(ChangeWatch&& other) noexcept : m_fd(other.m_fd) {
    other.m_fd = -1;
}

ChangeWatch::~ChangeWatch() {
    if (m_fd >= 0)
        ::close(m_fd);
}

bool ChangeWatch::changed() {
    if (m_fd < 0)
        return true;
    bool any = false;
    char buffer[8192];
    for (;;) {
        const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, MSG_DONTWAIT | MSG_TRUNC);
        if (n >= 0) {
            any = true; // what changed does not matter: the dump tells
            continue;
        }
        if (errno == EINTR)
            continue;
        // ENOBUFS: notifications were lost, so something changed.
        return any || (errno != EAGAIN && errno != EWOULDBLOCK);
    }
}

NetlinkLinks::NetlinkLinks() {
    m_sock = nl_socket_alloc();
    if (m_sock && nl_connect(m_sock, NETLINK_ROUTE) != 0) {
        nl_socket_free(m_sock);
        m_sock = nullptr;
    }
    if (!m_sock)
        return;
    // The counters are read every second: one receive per answer. No acknowledgement is asked
    // for (an error still comes as one), and no look ahead at each message's size, with a
    // buffer that holds the largest part of a dump the kernel sends (32 KiB).
    nl_socket_disable_auto_ack(m_sock);
    nl_socket_disable_msg_peek(m_sock);
    nl_socket_set_msg_buf_size(m_sock, 64 * 1024);
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
        LinkInfo li;
        fill(reinterpret_cast<rtnl_link*>(o), li);
        out.push_back(std::move(li));
    }
    std::stable_sort(out.begin(), out.end(),
                     [](const LinkInfo& a, const LinkInfo& b) { return a.ifindex < b.ifindex; });
    return true;
}

void NetlinkLinks::fill(rtnl_link* link, LinkInfo& li) {
    li.ifindex = rtnl_link_get_ifindex(link);
    if (const char* n = rtnl_link_get_name(link))
        li.name = n;
    const unsigned flags = rtnl_link_get_flags(link);
    li.loopback = (flags & IFF_LOOPBACK) != 0;
    li.carrier = (flags & IFF_LOWER_UP) != 0;
    li.up = (flags & IFF_UP) != 0 && (flags & IFF_RUNNING) != 0;
    li.rxBytes = rtnl_link_get_stat(link, RTNL_LINK_RX_BYTES);
    li.txBytes = rtnl_link_get_stat(link, RTNL_LINK_TX_BYTES);
}

bool NetlinkLinks::readLink(int ifindex, LinkInfo& out) {
    if (!m_sock || ifindex <= 0)
        return false;
    rtnl_link* link = nullptr;
    if (rtnl_link_get_kernel(m_sock, ifindex, nullptr, &link) < 0 || !link)
        return false;
    fill(link, out);
    rtnl_link_put(link);
    return true;
}

namespace {

struct CountersReply {
    int ifindex = 0;
    bool found = false;
    std::uint64_t rx = 0;
    std::uint64_t tx = 0;
};

int onStats(nl_msg* msg, void* arg) {
    auto* reply = static_cast<CountersReply*>(arg);
    nlmsghdr* h = nlmsg_hdr(msg);
    if (h->nlmsg_type != RTM_NEWSTATS || !nlmsg_valid_hdr(h, sizeof(if_stats_msg)))
        return NL_SKIP;
    const auto* ifsm = static_cast<const if_stats_msg*>(nlmsg_data(h));
    if (ifsm->ifindex != static_cast<__u32>(reply->ifindex))
        return NL_SKIP;
    nlattr* tb[IFLA_STATS_MAX + 1] = {};
    if (nlmsg_parse(h, sizeof(if_stats_msg), tb, IFLA_STATS_MAX, nullptr) < 0)
        return NL_SKIP;
    const nlattr* stats = tb[IFLA_STATS_LINK_64];
    // An older kernel's structure may be shorter, never without the first four counters.
    constexpr int kNeeded = offsetof(rtnl_link_stats64, tx_bytes) + sizeof(__u64);
    if (!stats || nla_len(stats) < kNeeded)
        return NL_SKIP;
    rtnl_link_stats64 s{};
    std::memcpy(&s, nla_data(stats), kNeeded);
    reply->rx = s.rx_bytes;
    reply->tx = s.tx_bytes;
    reply->found = true;
    return NL_OK;
}

// One RTM_GETSTATS request for the link's 64-bit statistics: libnl's result code, and the
// counters in `reply` when it carried them.
int askStats(nl_sock* sock, CountersReply& reply) {
    nl_msg* msg = nlmsg_alloc_simple(RTM_GETSTATS, NLM_F_REQUEST);
    if_stats_msg ifsm{};
    ifsm.family = AF_UNSPEC;
    ifsm.ifindex = static_cast<__u32>(reply.ifindex);
    ifsm.filter_mask = IFLA_STATS_FILTER_BIT(IFLA_STATS_LINK_64);
    int rc = -NLE_NOMEM;
    if (msg && nlmsg_append(msg, &ifsm, sizeof ifsm, NLMSG_ALIGNTO) == 0)
        rc = nl_send_auto(sock, msg);
    nlmsg_free(msg);
    if (rc < 0)
        return rc;
    // The socket hands out its callbacks with a reference of their own.
    nl_cb* own = nl_socket_get_cb(sock);
    nl_cb* cb = own ? nl_cb_clone(own) : nullptr;
    if (own)
        nl_cb_put(own);
    if (!cb)
        return -NLE_NOMEM;
    nl_cb_set(cb, NL_CB_VALID, NL_CB_CUSTOM, onStats, &reply);
    rc = nl_recvmsgs(sock, cb);
    nl_cb_put(cb);
    return rc;
}

} // namespace

bool NetlinkLinks::readCounters(int ifindex, std::uint64_t& rxBytes, std::uint64_t& txBytes) {
    if (!m_sock || ifindex <= 0)
        return false;
    if (!m_noStatsRequest) {
        CountersReply reply;
        reply.ifindex = ifindex;
        const int rc = askStats(m_sock, reply);
        if (rc >= 0 && reply.found) {
            rxBytes = reply.rx;
            txBytes = reply.tx;
            return true;
        }
        // A link that went is told as such. A kernel that does not know the request, or
        // answers it without the counters, has the whole link read from now on; anything else
        // only this time.
        if (rc == -NLE_NODEV || rc == -NLE_OBJ_NOTFOUND)
            return false;
        if (rc >= 0 || rc == -NLE_OPNOTSUPP || rc == -NLE_INVAL)
            m_noStatsRequest = true;
    }
    LinkInfo l;
    if (!readLink(ifindex, l))
        return false;
    rxBytes = l.rxBytes;
    txBytes = l.txBytes;
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

bool NetlinkLinks::dumpIpv6(std::vector<Ipv6Info>& out, bool refill) {
    out.clear();
    if (!m_sock)
        return false;
    if (!m_addrs) {
        if (rtnl_addr_alloc_cache(m_sock, &m_addrs) < 0) {
            m_addrs = nullptr;
            return false;
        }
    } else if (refill && nl_cache_refill(m_sock, m_addrs) < 0) {
        return false;
    }
    for (nl_object* o = nl_cache_get_first(m_addrs); o; o = nl_cache_get_next(o)) {
        auto* a = reinterpret_cast<rtnl_addr*>(o);
        if (rtnl_addr_get_family(a) != AF_INET6)
            continue;
        nl_addr* local = rtnl_addr_get_local(a);
        if (!local || nl_addr_get_len(local) != 16)
            continue;
        Ipv6Info info;
        info.ifindex = rtnl_addr_get_ifindex(a);
        std::memcpy(info.address.data(), nl_addr_get_binary_addr(local), 16);
        info.prefixLength = rtnl_addr_get_prefixlen(a);
        out.push_back(info);
    }
    return true;
}

int NetlinkLinks::defaultRouteIndex(int family) {
    if (!m_sock)
        return -1;
    nl_cache* routes = nullptr;
    if (rtnl_route_alloc_cache(m_sock, family, 0, &routes) < 0)
        return -1;
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

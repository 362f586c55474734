#pragma once
#include "platform/adapter_source.h"
#include "platform/interface_table.h"
#include "platform/linux/device_names.h"
#include "platform/linux/netlink_links.h"

#include <sys/socket.h>

#include <map>
#include <memory>

namespace tn {

class IClock;

// Interface counters through netlink. The full link dump is taken only when the link
// notifications say that interfaces came, went or were renamed (or were lost); otherwise a tick
// reads the one interface it needs by its index. The connection duration is the time since
// this object saw the carrier come up; 0 while it has not seen that happen.
class NetlinkInterfaceTable final : public IInterfaceTable {
public:
    NetlinkInterfaceTable(const IClock& clock, DeviceNames& names);
    bool refresh(std::vector<InterfaceRow>& rows) override;
    int countAdapters() override;
    bool linksChanged() override;
    bool readOne(int index, InterfaceRow& row) override;

private:
    struct Link {
        std::string name;
        bool loopback = false;
        bool carrier = false;
        std::int64_t upSince = 0; // 0: came up before we watched, or down
    };
    // Takes in the notifications that arrived; marks the set changed when one names a new,
    // renamed or removed interface.
    void takeNotifications();
    bool dump();
    void seeCarrier(Link& link, bool carrier, bool known);
    std::uint64_t connectedSeconds(const Link& link) const;

    const IClock& m_clock;
    DeviceNames& m_names;
    LinkWatch m_watch; // opened before the first dump, so that no change falls between
    NetlinkLinks m_netlink;
    std::vector<LinkInfo> m_dump;
    std::vector<LinkWatch::Event> m_events;
    std::map<int, Link> m_links; // by interface index, as of the last dump plus notifications
    bool m_synced = false;       // m_links holds a dump
    bool m_changed = true;       // the set changed since the last refresh
};

// The adapter list: every interface but loopback with its first IPv4 address and mask, its
// state and whether it carries the default route (CNetAdapter orders them).
class NetlinkAdapterSource final : public IAdapterSource {
public:
    explicit NetlinkAdapterSource(DeviceNames& names);
    AdapterListStatus list(std::vector<AdapterInfo>& out) override;
    bool ipv6Addresses(const std::string& name, std::vector<Ipv6Address>& out) override;
    std::string defaultRouteInterface() override;
    bool reportsDefaultRoute() const override { return true; }

private:
    DeviceNames& m_names;
    NetlinkLinks m_netlink;
    ChangeWatch m_ipv6Watch = ChangeWatch::addresses(AF_INET6);
    std::vector<Ipv6Address> m_ipv6; // of interface m_ipv6Index, while m_ipv6Known
    int m_ipv6Index = 0;
    std::string m_ipv6Name; // the name m_ipv6Index had then
    bool m_ipv6Known = false;
    // "Automatic" asks every second: the route tables are read again only after a change.
    ChangeWatch m_routeWatch = ChangeWatch::routes();
    std::string m_defaultRoute; // the interface's name, while m_defaultRouteKnown
    bool m_defaultRouteKnown = false;
};

std::string ipv4Text(std::uint32_t networkOrder);
std::uint32_t prefixToMask(int prefixLength); // network byte order

} // namespace tn

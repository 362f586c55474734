#pragma once
#include "platform/adapter_source.h"
#include "platform/interface_table.h"
#include "platform/linux/device_names.h"
#include "platform/linux/netlink_links.h"

#include <map>
#include <memory>

namespace tn {

class IClock;

// Interface counters from one netlink link dump per refresh. The connection duration is the
// time since this object saw the carrier come up; 0 while it has not seen that happen.
class NetlinkInterfaceTable final : public IInterfaceTable {
public:
    NetlinkInterfaceTable(const IClock& clock, DeviceNames& names);
    bool refresh(std::vector<InterfaceRow>& rows) override;
    int countAdapters() override;

private:
    struct Carrier {
        bool up = false;
        std::int64_t upSince = 0; // 0: came up before we watched
    };
    const IClock& m_clock;
    DeviceNames& m_names;
    NetlinkLinks m_netlink;
    std::vector<LinkInfo> m_links;
    std::map<int, Carrier> m_carrier; // by interface index
};

// The adapter list: every interface but loopback with its first IPv4 address and mask, its
// state and whether it carries the default route (CNetAdapter orders them).
class NetlinkAdapterSource final : public IAdapterSource {
public:
    explicit NetlinkAdapterSource(DeviceNames& names);
    AdapterListStatus list(std::vector<AdapterInfo>& out) override;

private:
    DeviceNames& m_names;
    NetlinkLinks m_netlink;
};

std::string ipv4Text(std::uint32_t networkOrder);
std::uint32_t prefixToMask(int prefixLength); // network byte order

} // namespace tn

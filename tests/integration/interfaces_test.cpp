// The adapter list and the interface counters against real interfaces in a namespace.
#include "capture/adapter.h"
#include "capture/net_adapter.h"
#include "platform/linux/device_names.h"
#include "platform/linux/netlink_interfaces.h"
#include "support/fake_clock.h"
#include "support/netns.h"

#include <arpa/inet.h>
#include <array>
#include <cstdio>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace tn {
namespace {

// /sys shows the namespace it was mounted in, so the counters are read through `ip netns exec`,
// which mounts a /sys of the namespace.
std::uint64_t sysfsCounter(const std::string& ns, const std::string& ifname, const char* which) {
    const std::string cmd =
        "ip netns exec " + ns + " cat /sys/class/net/" + ifname + "/statistics/" + which;
    std::FILE* p = ::popen(cmd.c_str(), "r");
    if (!p)
        return 0;
    unsigned long long v = 0;
    if (std::fscanf(p, "%llu", &v) != 1)
        v = 0;
    ::pclose(p);
    return v;
}

// Sends n UDP datagrams of the given payload size to 198.18.7.2 (the peer namespace).
void sendUdp(int n, std::size_t payload) {
    const int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(s, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(9);
    ::inet_pton(AF_INET, "198.18.7.2", &to.sin_addr);
    const std::string data(payload, 'x');
    for (int i = 0; i < n; ++i)
        ::sendto(s, data.data(), data.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    ::close(s);
}

class InterfacesIntegrationTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!test::isRoot())
            GTEST_SKIP() << "needs root to create network namespaces; skipped";
        const std::string sfx = test::uniqueSuffix();
        m_a = std::make_unique<test::NetNs>("tnifa" + sfx);
        m_b = std::make_unique<test::NetNs>("tnifb" + sfx);
        if (!m_a->ok() || !m_b->ok())
            GTEST_SKIP() << "cannot create network namespaces here (ip netns add failed)";
        m_ifA = "tnva" + sfx;
        m_ifB = "tnvb" + sfx;
        ASSERT_TRUE(test::ipBatch({
            "link add " + m_ifA + " netns " + m_a->name() + " type veth peer name " + m_ifB +
                " netns " + m_b->name(),
        }));
        // IPv6 stays off so that no neighbour discovery moves the counters during a comparison.
        m_a->exec("sysctl -qw net.ipv6.conf.all.disable_ipv6=1");
        m_b->exec("sysctl -qw net.ipv6.conf.all.disable_ipv6=1");
        ASSERT_TRUE(m_a->exec("ip addr add 198.18.7.1/24 dev " + m_ifA));
        ASSERT_TRUE(m_b->exec("ip addr add 198.18.7.2/24 dev " + m_ifB));
        ASSERT_TRUE(m_a->exec("ip link set " + m_ifA + " up"));
        ASSERT_TRUE(m_b->exec("ip link set " + m_ifB + " up"));
        m_enter = std::make_unique<test::EnterNetNs>(m_a->name());
        ASSERT_TRUE(m_enter->ok());
    }
    void TearDown() override {
        m_enter.reset();
        m_b.reset();
        m_a.reset();
    }

    std::unique_ptr<test::NetNs> m_a, m_b;
    std::unique_ptr<test::EnterNetNs> m_enter;
    std::string m_ifA, m_ifB;
    test::FakeClock m_clock;
};

TEST_F(InterfacesIntegrationTest, ReadingsEqualSysfsCountersAfterKnownTraffic) {
    // Both ways a tick reads: the whole table (the first tick, or after a change) and the one
    // selected interface by its index.
    for (const bool byIndex : {false, true}) {
        SCOPED_TRACE(byIndex ? "by index" : "whole table");
        DeviceNames names;
        NetlinkInterfaceTable table(m_clock, names);
        CAdapter adapter(&table);
        if (byIndex)
            adapter.refreshInterfaceTable();
        // Let the link settle: the first ARP exchange happens with the first datagram.
        sendUdp(1, 10);
        sendUdp(50, 1000);
        InterfaceReading r;
        bool matched = false;
        for (int attempt = 0; attempt < 20 && !matched; ++attempt) {
            const auto rx0 = sysfsCounter(m_a->name(), m_ifA, "rx_bytes");
            const auto tx0 = sysfsCounter(m_a->name(), m_ifA, "tx_bytes");
            adapter.refreshInterfaceTable();
            ASSERT_EQ(adapter.findInterfaceReading(m_ifA, r), 1);
            const auto rx1 = sysfsCounter(m_a->name(), m_ifA, "rx_bytes");
            const auto tx1 = sysfsCounter(m_a->name(), m_ifA, "tx_bytes");
            if (rx0 == rx1 && tx0 == tx1) {
                EXPECT_EQ(r.inOctets, rx0);
                EXPECT_EQ(r.outOctets, tx0);
                EXPECT_GT(r.inOctets, 0u); // the ARP replies at least
                matched = true;
            }
            if (byIndex) {
                EXPECT_FALSE(table.linksChanged()); // still one interface per tick
            }
        }
        ASSERT_TRUE(matched) << "counters kept moving";
        // 50 datagrams of 1000 bytes: 1042 bytes each on the wire (14 Ethernet + 20 IP + 8 UDP).
        EXPECT_GE(r.outOctets, 50u * 1042u);
    }
}

TEST_F(InterfacesIntegrationTest, AdapterListHoldsTheVethWithAddressAndMask) {
    DeviceNames names;
    NetlinkAdapterSource source(names);
    CNetAdapter list(&source);
    ASSERT_EQ(list.buildAdapterList(), 1) << list.lastErrorText();
    ASSERT_EQ(list.adapterCount(), 1); // loopback is not an adapter
    const AdapterRecord& rec = list.record(0);
    EXPECT_EQ(rec.name, m_ifA);
    EXPECT_EQ(rec.description, m_ifA); // a veth has no hardware model
    EXPECT_EQ(rec.addressText, "198.18.7.1");
    EXPECT_EQ(rec.maskText, "255.255.255.0");
    EXPECT_EQ(rec.address, dottedToAddress("198.18.7.1"));
}

TEST_F(InterfacesIntegrationTest, AdapterOrder_DefaultRouteThenUpWithIpv4ThenTheRest) {
    // Created after the veth, so with higher indexes: a down one, an up one with an address
    // and the one that carries the default route.
    const std::string sfx = test::uniqueSuffix();
    const std::string down = "tnd" + sfx, up = "tnu" + sfx, route = "tnr" + sfx;
    const auto pair = [&](const std::string& name) {
        return "ip link add " + name + " type veth peer name " + name + "p netns " + m_b->name();
    };
    for (const std::string& c :
         {pair(down), pair(up), pair(route), "ip addr add 198.18.8.1/24 dev " + up,
          "ip addr add 198.18.9.1/24 dev " + route, "ip link set " + up + " up",
          "ip link set " + route + " up", "ip route add default dev " + route})
        ASSERT_TRUE(m_a->exec(c)) << c;
    for (const std::string& name : {down, up, route})
        ASSERT_TRUE(m_b->exec("ip link set " + name + "p up"));
    DeviceNames names;
    NetlinkAdapterSource source(names);
    CNetAdapter list(&source);
    ASSERT_EQ(list.buildAdapterList(), 1) << list.lastErrorText();
    std::vector<std::string> order;
    for (int i = 0; i < list.adapterCount(); ++i)
        order.push_back(list.record(i).name);
    EXPECT_EQ(order, (std::vector<std::string>{route, m_ifA, up, down}));
}

TEST_F(InterfacesIntegrationTest, ManyInterfaces_ListAndCountAgree) {
    std::vector<std::string> lines;
    const std::string sfx = test::uniqueSuffix();
    for (int i = 0; i < 150; ++i)
        lines.push_back("link add tnm" + std::to_string(i) + "_" + sfx + " netns " + m_a->name() +
                        " type ifb");
    ASSERT_TRUE(test::ipBatch(lines));
    DeviceNames names;
    NetlinkAdapterSource source(names);
    CNetAdapter list(&source);
    NetlinkInterfaceTable table(m_clock, names);
    CAdapter adapter(&table);
    ASSERT_EQ(list.buildAdapterList(), 1) << list.lastErrorText();
    EXPECT_EQ(list.adapterCount(), 151);
    EXPECT_EQ(adapter.countAdapters(), list.adapterCount());
}

TEST_F(InterfacesIntegrationTest, AdapterCountFollowsVethsAddedAndRemoved) {
    DeviceNames names;
    NetlinkInterfaceTable table(m_clock, names);
    CAdapter adapter(&table);
    EXPECT_EQ(adapter.countAdapters(), 1);
    const std::string extra = "tnvx" + test::uniqueSuffix();
    ASSERT_TRUE(m_a->exec("ip link add " + extra + " type veth peer name " + extra + "p netns " +
                          m_b->name()));
    EXPECT_EQ(adapter.countAdapters(), 2);
    ASSERT_TRUE(m_a->exec("ip link del " + extra));
    EXPECT_EQ(adapter.countAdapters(), 1);
}

TEST_F(InterfacesIntegrationTest, InterfacesAddedAndRemovedAreSeenWithoutADumpPerTick) {
    DeviceNames names;
    NetlinkInterfaceTable table(m_clock, names);
    CAdapter adapter(&table);
    InterfaceReading r;
    adapter.refreshInterfaceTable();
    ASSERT_EQ(adapter.findInterfaceReading(m_ifA, r), 1);
    EXPECT_FALSE(table.linksChanged()); // nothing happened: the next tick reads one interface
    const std::string extra = "tnvy" + test::uniqueSuffix();
    ASSERT_TRUE(m_a->exec("ip link add " + extra + " type veth peer name " + extra + "p netns " +
                          m_b->name()));
    EXPECT_TRUE(table.linksChanged());
    adapter.refreshInterfaceTable();
    ASSERT_EQ(adapter.findInterfaceReading(extra, r), 1);
    EXPECT_FALSE(table.linksChanged());
    // Counters read by index follow the traffic like those of a dump.
    const std::uint64_t before = sysfsCounter(m_a->name(), m_ifA, "tx_bytes");
    sendUdp(10, 1000);
    adapter.refreshInterfaceTable();
    ASSERT_EQ(adapter.findInterfaceReading(m_ifA, r), 1);
    EXPECT_GE(r.outOctets, before + 10 * 1042); // 14 + 20 + 8 bytes of headers each
    EXPECT_LE(r.outOctets, sysfsCounter(m_a->name(), m_ifA, "tx_bytes"));
    ASSERT_TRUE(m_a->exec("ip link del " + extra));
    adapter.refreshInterfaceTable();
    EXPECT_EQ(adapter.findInterfaceReading(extra, r), 0);
    EXPECT_EQ(adapter.countAdapters(), 1);
}

TEST_F(InterfacesIntegrationTest, ConnectionDurationCountsFromACarrierSeenComingUp) {
    DeviceNames names;
    NetlinkInterfaceTable table(m_clock, names);
    CAdapter adapter(&table);
    InterfaceReading r;
    adapter.refreshInterfaceTable();
    ASSERT_EQ(adapter.findInterfaceReading(m_ifA, r), 1);
    EXPECT_EQ(r.connectedSeconds, 0u); // up before we watched: unknown
    // As the tick does: a refresh, then the lookup of the selected adapter.
    const auto tick = [&] {
        adapter.refreshInterfaceTable();
        return adapter.findInterfaceReading(m_ifA, r);
    };
    // The kernel announces a carrier change when it sets the operational state (up to a
    // second later): wait for that state before the tick that must have seen the change.
    const auto waitForState = [&](const std::string& state) {
        bool reached = false;
        for (int i = 0; i < 150 && !reached; ++i) {
            ::usleep(20000);
            tick();
            reached = test::sh("ip link show " + m_ifA + " | grep -q 'state " + state + "'");
        }
        return reached;
    };
    ASSERT_TRUE(m_b->exec("ip link set " + m_ifB + " down"));
    ASSERT_TRUE(waitForState("DOWN"));
    tick();
    ASSERT_TRUE(m_b->exec("ip link set " + m_ifB + " up"));
    ASSERT_TRUE(waitForState("UP"));
    tick();
    m_clock.advance(42);
    ASSERT_EQ(tick(), 1);
    EXPECT_EQ(r.connectedSeconds, 42u);
}

// The IPv6 addresses that tell a frame's direction are asked for every second but dumped only
// after a change: an address added or removed must still be seen at the next question, for the
// asked interface only.
TEST_F(InterfacesIntegrationTest, Ipv6AddressesFollowAddsAndRemovesWithoutADumpPerQuestion) {
    ASSERT_TRUE(m_a->exec("sysctl -qw net.ipv6.conf.all.disable_ipv6=0"));
    ASSERT_TRUE(m_a->exec("sysctl -qw net.ipv6.conf." + m_ifA + ".disable_ipv6=0"));
    DeviceNames names;
    NetlinkAdapterSource source(names);
    const auto has = [&](const std::string& ifname, const char* text, int prefix) {
        std::vector<Ipv6Address> got;
        EXPECT_TRUE(source.ipv6Addresses(ifname, got));
        std::array<std::uint8_t, 16> a{};
        ::inet_pton(AF_INET6, text, a.data());
        for (const Ipv6Address& g : got)
            if (g.address == a && g.prefixLength == prefix)
                return true;
        return false;
    };
    const struct {
        const char* command; // run before the question; empty: ask again with nothing changed
        const char* ifname;  // m_ifA when null
        const char* address;
        int prefix;
        bool present;
    } steps[] = {
        {"", nullptr, "2001:db8:7::1", 64, false},
        {"ip addr add 2001:db8:7::1/64 dev IF nodad", nullptr, "2001:db8:7::1", 64, true},
        {"", nullptr, "2001:db8:7::1", 64, true},
        {"ip addr add 2001:db8:8::2/56 dev IF nodad", nullptr, "2001:db8:8::2", 56, true},
        {"", "lo", "2001:db8:8::2", 56, false}, // another interface's list is its own
        {"", "lo", "::1", 128, true},
        {"", nullptr, "2001:db8:8::2", 56, true},
        {"ip addr del 2001:db8:7::1/64 dev IF", nullptr, "2001:db8:7::1", 64, false},
        {"", nullptr, "2001:db8:8::2", 56, true},
    };
    for (const auto& s : steps) {
        std::string cmd = s.command;
        if (const auto at = cmd.find("IF"); at != std::string::npos)
            cmd.replace(at, 2, m_ifA);
        if (!cmd.empty()) {
            ASSERT_TRUE(m_a->exec(cmd)) << cmd;
        }
        EXPECT_EQ(has(s.ifname ? s.ifname : m_ifA, s.address, s.prefix), s.present)
            << "after \"" << cmd << "\": " << s.address << " on " << (s.ifname ? s.ifname : m_ifA);
    }
}

} // namespace
} // namespace tn

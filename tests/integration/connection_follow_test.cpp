// "Automatic" against real routes: a namespace with two veth links, its default route moved
// from one to the other as a laptop moves from Wi-Fi to Ethernet.
#include "capture/connection_follower.h"
#include "capture/net_adapter.h"
#include "integration/helper_capture_rig.h"
#include "platform/linux/device_names.h"
#include "platform/linux/netlink_interfaces.h"
#include "support/netns.h"

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>

namespace tn {
namespace {

class ConnectionFollowTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!test::isRoot())
            GTEST_SKIP() << "needs root to create network namespaces; skipped";
        const std::string sfx = test::uniqueSuffix();
        m_a = std::make_unique<test::NetNs>("tnfwa" + sfx);
        m_b = std::make_unique<test::NetNs>("tnfwb" + sfx);
        if (!m_a->ok() || !m_b->ok())
            GTEST_SKIP() << "cannot create network namespaces here (ip netns add failed)";
        for (int i = 0; i < 2; ++i) {
            m_if[i] = "tnf" + std::to_string(i) + "a" + sfx;
            const std::string peer = "tnf" + std::to_string(i) + "b" + sfx;
            const std::string net = "198.18." + std::to_string(150 + i);
            ASSERT_TRUE(test::ipBatch({"link add " + m_if[i] + " netns " + m_a->name() +
                                       " type veth peer name " + peer + " netns " + m_b->name()}));
            ASSERT_TRUE(m_a->exec("ip addr add " + net + ".1/24 dev " + m_if[i]));
            ASSERT_TRUE(m_a->exec("ip -6 addr add 2001:db8:" + std::to_string(150 + i) +
                                  "::1/64 dev " + m_if[i] + " nodad"));
            ASSERT_TRUE(m_b->exec("ip addr add " + net + ".2/24 dev " + peer));
            ASSERT_TRUE(m_a->exec("ip link set " + m_if[i] + " up"));
            ASSERT_TRUE(m_b->exec("ip link set " + peer + " up"));
        }
        m_enter = std::make_unique<test::EnterNetNs>(m_a->name());
        ASSERT_TRUE(m_enter->ok());
    }
    void TearDown() override {
        m_enter.reset();
        m_b.reset();
        m_a.reset();
    }
    // The default route through link i (its peer in the other namespace is the gateway).
    bool routeVia(int i) const {
        return m_a->exec("ip route replace default via 198.18." + std::to_string(150 + i) +
                         ".2 dev " + m_if[i]);
    }

    std::unique_ptr<test::NetNs> m_a, m_b;
    std::unique_ptr<test::EnterNetNs> m_enter;
    std::string m_if[2];
};

TEST_F(ConnectionFollowTest, TheDefaultRoutesInterfaceIsFollowedBackAndForth_IPv6WhenNoIPv4) {
    DeviceNames names;
    NetlinkAdapterSource source(names);
    ASSERT_TRUE(source.reportsDefaultRoute());
    EXPECT_EQ(source.defaultRouteInterface(), ""); // no default route yet
    CNetAdapter list(&source);
    ASSERT_EQ(list.buildAdapterList(), 1) << list.lastErrorText();
    std::vector<std::string> adapterNames;
    for (int i = 0; i < list.adapterCount(); ++i)
        adapterNames.push_back(list.record(i).name);
    const int index[2] = {CConnectionFollower::target(m_if[0], adapterNames),
                          CConnectionFollower::target(m_if[1], adapterNames)};
    ASSERT_GE(index[0], 0);
    ASSERT_GE(index[1], 0);

    // Ten moves each way: every move is seen by the next poll (the window polls once a
    // second), and a poll between moves asks for no switch.
    int current = -1;
    for (int move = 0; move < 20; ++move) {
        const int via = move % 2;
        ASSERT_TRUE(routeVia(via));
        const std::string seen = source.defaultRouteInterface();
        EXPECT_EQ(seen, m_if[via]) << "move " << move;
        const int to = CConnectionFollower::step(seen, adapterNames, current);
        EXPECT_EQ(to, index[via]) << "move " << move;
        current = to;
        EXPECT_EQ(CConnectionFollower::step(source.defaultRouteInterface(), adapterNames, current),
                  -1);
    }
    // A lower metric wins over a second default route.
    ASSERT_TRUE(
        m_a->exec("ip route replace default via 198.18.150.2 dev " + m_if[0] + " metric 200"));
    ASSERT_TRUE(m_a->exec("ip route add default via 198.18.151.2 dev " + m_if[1] + " metric 100"));
    EXPECT_EQ(source.defaultRouteInterface(), m_if[1]);
    // Without an IPv4 default route, the IPv6 one tells the connection in use.
    ASSERT_TRUE(m_a->exec("ip route flush exact 0.0.0.0/0"));
    EXPECT_EQ(source.defaultRouteInterface(), "");
    ASSERT_TRUE(m_a->exec("ip -6 route add default via 2001:db8:150::2 dev " + m_if[0]));
    EXPECT_EQ(source.defaultRouteInterface(), m_if[0]);
    // The route gone for a moment: nothing to switch to, the adapter in use stays.
    ASSERT_TRUE(m_a->exec("ip -6 route flush exact ::/0"));
    EXPECT_EQ(CConnectionFollower::step(source.defaultRouteInterface(), adapterNames, current), -1);
}

// The program's way, with the capture helper: a stream of datagrams beyond the gateway while the
// default route moves ten times each way; the owner is moved as the window moves it, at its
// next once-a-second poll. What the day record misses is at most what two seconds of the
// stream carry, and it never holds more than was sent.
TEST_F(ConnectionFollowTest, CaptureMovesWithTheRoute_TheDayRecordMissesAtMostTwoSeconds) {
    using namespace std::chrono_literals;
    ASSERT_TRUE(routeVia(0));
    test::HelperCaptureRig rig; // its netlink sockets belong to this namespace
    CIPStat& stat = *rig.stat;
    stat.setLanOnly(1);
    std::vector<std::string> adapterNames;
    ASSERT_EQ(stat.initialise(-1), 1) << stat.lastErrorText();
    for (int i = 0; i < stat.adapterCount(); ++i)
        adapterNames.push_back(stat.record(i).name);
    // As the window does it: the list as it is now, the switch, and the same adapter found
    // again should the list have been reordered by the opening.
    const auto follow = [&] {
        stat.refreshKeepingCapture();
        adapterNames.clear();
        for (int i = 0; i < stat.adapterCount(); ++i)
            adapterNames.push_back(stat.record(i).name);
        const int to = CConnectionFollower::step(rig.os.adapters->defaultRouteInterface(),
                                                 adapterNames, stat.selectedIndex());
        if (to < 0)
            return;
        const std::string name = adapterNames[static_cast<std::size_t>(to)];
        stat.stopCapture();
        ASSERT_EQ(stat.initialise(to), 1) << stat.lastErrorText();
        for (int i = 0; i < stat.adapterCount() && stat.selectedAdapterName() != name; ++i)
            if (stat.record(i).name == name) {
                stat.stopCapture();
                ASSERT_EQ(stat.initialise(i), 1) << stat.lastErrorText();
            }
    };
    follow();
    ASSERT_EQ(stat.selectedAdapterName(), m_if[0]);

    // 1000-byte payloads, one every 5 ms: 1028 IP bytes each, about 205 KB a second.
    constexpr std::uint64_t kDatagram = 1028;
    constexpr auto kGap = 5ms;
    std::atomic<bool> run{true};
    std::atomic<std::uint64_t> sent{0};
    std::thread sender([&] {
        test::EnterNetNs inside(m_a->name());
        const int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(9);
        ::inet_pton(AF_INET, "198.18.200.1", &to.sin_addr); // beyond the gateway
        const std::string data(1000, 'x');
        while (run.load()) {
            if (::sendto(s, data.data(), data.size(), 0, reinterpret_cast<sockaddr*>(&to),
                         sizeof to) == static_cast<ssize_t>(data.size()))
                sent.fetch_add(1);
            std::this_thread::sleep_for(kGap);
        }
        ::close(s);
    });
    const auto start = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(1s);
    for (int move = 1; move <= 20; ++move) {
        ASSERT_TRUE(routeVia(move % 2));
        // The window's next poll comes within a second; here, a second later.
        std::this_thread::sleep_for(1s);
        follow();
        EXPECT_EQ(stat.selectedAdapterName(), m_if[move % 2]) << "move " << move;
        std::this_thread::sleep_for(500ms);
    }
    run.store(false);
    sender.join();
    const auto elapsed = std::chrono::steady_clock::now() - start;
    std::this_thread::sleep_for(1500ms); // the capture's last block
    const auto today = rig.os.clock->toLocal(rig.os.clock->now()).value();
    const std::uint64_t recorded = stat.dayRecord(Direction::Sent, today.day, kUdp);
    const std::uint64_t total = sent.load() * kDatagram;
    const double perSecond =
        static_cast<double>(total) / std::chrono::duration<double>(elapsed).count();
    const double missedSeconds =
        static_cast<double>(total - std::min(total, recorded)) / perSecond / 20.0;
    std::printf("sent %llu B, recorded %llu B, %.0f B/s; missed %.3f s of the stream per move\n",
                static_cast<unsigned long long>(total), static_cast<unsigned long long>(recorded),
                perSecond, missedSeconds);
    EXPECT_LE(recorded, total); // no phantom traffic
    EXPECT_LE(missedSeconds, 2.0);
    stat.stopCapture();
}

} // namespace
} // namespace tn

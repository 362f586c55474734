// IPv6, VLAN tags and byte counts that never exceed what the wire carried.
#include "capture/frame_layout.h"
#include "support/ip_stat_fixture.h"

namespace tn {
namespace {

using test::Ext6;
using test::ip6;
using test::Ip6;
using test::TestPacket;
using test::TestPacket6;

constexpr std::uint16_t kIpv4 = 0x0800;
constexpr std::uint16_t kIpv6 = 0x86DD;

// The adapter eth0 has 198.18.0.10/24 and, for IPv6, a global, a temporary (privacy), a
// unique-local and a link-local address, each on its /64. Today is 2026-03-17.
class Ipv6Test : public test::IPStatFixture {
protected:
    const Ip6 kSelf6 = ip6("2001:db8:1::10");
    const Ip6 kTemporary = ip6("2001:db8:1:0:8d3c:19a4:5e7f:2b61");
    const Ip6 kUla = ip6("fd00:db8:2::10");
    const Ip6 kLinkLocal = ip6("fe80::10");
    const Ip6 kNeighbour6 = ip6("2001:db8:1::20");
    const Ip6 kNeighbourLl = ip6("fe80::20");
    const Ip6 kRemote6 = ip6("2001:db8:ffff::1");
    const Ip6 kRemote6b = ip6("2001:db8:eeee::2");

    void SetUp() override {
        IPStatFixture::SetUp();
        adapters.adapters[0].ipv6 = {test::ip6Prefix("2001:db8:1::10", 64),
                                     test::ip6Prefix("2001:db8:1:0:8d3c:19a4:5e7f:2b61", 64),
                                     test::ip6Prefix("fd00:db8:2::10", 64),
                                     test::ip6Prefix("fe80::10", 64)};
    }
    static TestPacket6 seg6(Ip6 s, std::uint16_t sp, Ip6 d, std::uint16_t dp, std::uint16_t payload,
                            std::uint8_t next = 6) {
        TestPacket6 p;
        p.src = s;
        p.dst = d;
        p.next = next;
        p.srcPort = sp;
        p.dstPort = dp;
        p.payloadLength = payload;
        return p;
    }
    void feed6(const TestPacket6& p) { feed(test::ethernetWith(kIpv6, test::ipv6Bytes(p))); }
    std::uint64_t day(Direction d, int k) const { return stat->dayRecord(d, 17, k); }
    std::uint64_t month(Direction d, int k) const { return stat->monthRecord(d, 3, k); }
};

TEST_F(Ipv6Test, WebUdpCustomAndIcmpv6FollowTheIpv4Rules) {
    select();
    global->replaceCustomPorts({873, 53});
    feed6(seg6(kSelf6, 50000, kRemote6, 443, 1460)); // 1500-byte datagram
    feed6(seg6(kRemote6, 80, kSelf6, 50000, 1000));
    EXPECT_EQ(stat->totalSent(), 1500u);
    EXPECT_EQ(stat->totalReceived(), 1040u);
    EXPECT_EQ(day(Direction::Sent, kWeb), 1500u);
    EXPECT_EQ(month(Direction::Sent, kWeb), 1500u);
    EXPECT_EQ(day(Direction::Received, kWeb), 1040u);

    feed6(seg6(kSelf6, 53000, kRemote6, 53, 60, 17));
    EXPECT_EQ(day(Direction::Sent, kUdp), 100u);
    feed6(seg6(kSelf6, 700, kRemote6, 873, 60));
    EXPECT_EQ(day(Direction::Sent, kCustom), 100u); // TCP 873 only; UDP 53 never
    EXPECT_EQ(day(Direction::Sent, kOthers), 100u);
    feed6(seg6(kRemote6, 0x8000, kSelf6, 0, 24, 58)); // an ICMPv6 echo request
    EXPECT_EQ(day(Direction::Received, kOthers), 64u);
    feed6(seg6(kRemote6, 80, kSelf6, 80, 16, 132)); // SCTP: ports not looked at
    EXPECT_EQ(day(Direction::Received, kOthers), 120u);
    EXPECT_EQ(day(Direction::Received, kWeb), 1040u);
}

TEST_F(Ipv6Test, ExtensionHeadersAreFollowedToTheTransportHeader) {
    select();
    TestPacket6 p = seg6(kSelf6, 50000, kRemote6, 80, 1000);
    p.ext = {Ext6{0, 8}, Ext6{43, 24}, Ext6{60, 16}, Ext6{44, 8, 0}};
    feed6(p);
    EXPECT_EQ(day(Direction::Sent, kWeb), 1040u);

    TestPacket6 u = seg6(kRemote6, 53, kSelf6, 40000, 200, 17);
    u.ext = {Ext6{60, 8}};
    feed6(u);
    EXPECT_EQ(day(Direction::Received, kUdp), 240u);

    // Nine headers are more than the handler follows: Others, not Web.
    TestPacket6 long9 = seg6(kSelf6, 50000, kRemote6, 80, 500);
    long9.ext.assign(9, Ext6{60, 8});
    feed6(long9);
    EXPECT_EQ(day(Direction::Sent, kOthers), 540u);
    EXPECT_EQ(day(Direction::Sent, kWeb), 1040u);
    EXPECT_EQ(stat->totalSent(), 1580u);
}

TEST_F(Ipv6Test, LaterFragmentsCountAsOthersFirstFragmentsByTheirPorts) {
    select();
    TestPacket6 first = seg6(kRemote6, 443, kSelf6, 50000, 1448);
    first.ext = {Ext6{44, 8, 0}};
    feed6(first);
    TestPacket6 later = seg6(kRemote6, 443, kSelf6, 50000, 600);
    later.ext = {Ext6{44, 8, 181}}; // its "ports" are payload bytes that happen to read 443
    feed6(later);
    EXPECT_EQ(day(Direction::Received, kWeb), 1488u);
    EXPECT_EQ(day(Direction::Received, kOthers), 640u);
    EXPECT_EQ(stat->totalReceived(), 2128u);
}

TEST_F(Ipv6Test, TruncatedHeadersAreReadOnlyAsFarAsCaptured) {
    select();
    TestPacket6 p = seg6(kSelf6, 50000, kRemote6, 443, 960);
    p.ext = {Ext6{0, 8}, Ext6{60, 16}};
    const auto frame = test::ethernetWith(kIpv6, test::ipv6Bytes(p));
    // 14 link + 40 fixed + 24 extension + 4 ports = 82 bytes hold everything.
    feed(frame, 53); // fixed header cut: nothing
    EXPECT_EQ(stat->totalSent(), 0u);
    for (std::size_t cut : {54u, 55u, 62u, 63u, 78u, 81u}) // chain or ports cut: totals only
        feed(frame, cut);
    EXPECT_EQ(stat->totalSent(), 6u * 1000u);
    EXPECT_EQ(stat->dayTotal(17), 0u);
    feed(frame, 82);
    EXPECT_EQ(day(Direction::Sent, kWeb), 1000u);

    TestPacket6 u = seg6(kSelf6, 5353, kRemote6, 53, 60, 17);
    feed(test::ethernetWith(kIpv6, test::ipv6Bytes(u)), 54); // UDP needs no ports
    EXPECT_EQ(day(Direction::Sent, kUdp), 100u);

    // Every cut of a long chain, ending at an unreadable page: no read past the bytes.
    TestPacket6 chain = seg6(kSelf6, 50000, kRemote6, 80, 300);
    chain.ext = {Ext6{0, 16}, Ext6{43, 24}, Ext6{44, 8, 0}, Ext6{60, 8}};
    const auto all = test::ethernetWith(kIpv6, test::ipv6Bytes(chain), {0x88A8, 0x8100});
    for (std::size_t cut = 0; cut <= all.size(); ++cut)
        feed(all, cut);
    EXPECT_EQ(day(Direction::Sent, kWeb), 1000u + 340u * (all.size() - (14 + 8 + 40 + 56 + 4) + 1));
}

TEST_F(Ipv6Test, NeighboursOnEveryPrefixAndLanOnly) {
    select();
    ASSERT_EQ(stat->lanOnly(), 1);
    feed6(seg6(kSelf6, 50000, kNeighbour6, 443, 100)); // same /64: totals only
    feed6(seg6(kLinkLocal, 546, kNeighbourLl, 547, 60, 17));
    feed6(seg6(kNeighbourLl, 0x8800, kLinkLocal, 0, 32, 58)); // neighbour advertisement
    feed6(seg6(kUla, 22, ip6("fd00:db8:2::99"), 40000, 100));
    EXPECT_EQ(stat->totalSent(), 140u + 100u + 140u);
    EXPECT_EQ(stat->totalReceived(), 72u);
    EXPECT_EQ(stat->dayTotal(17), 0u);

    feed6(seg6(kNeighbour6, 40000, kRemote6, 443, 200)); // a neighbour's traffic
    feed6(seg6(kRemote6, 443, kNeighbour6, 40000, 400));
    EXPECT_EQ(stat->dayTotal(17), 0u);
    stat->setLanOnly(0);
    feed6(seg6(kNeighbour6, 40000, kRemote6, 443, 200));
    feed6(seg6(kRemote6, 443, kNeighbour6, 40000, 400));
    EXPECT_EQ(day(Direction::Sent, kWeb), 240u);
    EXPECT_EQ(day(Direction::Received, kWeb), 440u);
    feed6(seg6(kRemote6, 443, kRemote6b, 40000, 400)); // not ours at all
    EXPECT_EQ(stat->totalReceived(), 72u + 440u + 440u);
}

TEST_F(Ipv6Test, TemporaryAddressesCountAsThisStationAndNewOnesAreTakenUp) {
    select();
    feed6(seg6(kTemporary, 50000, kRemote6, 443, 960));
    feed6(seg6(kRemote6, 443, kTemporary, 50000, 1400));
    EXPECT_EQ(day(Direction::Sent, kWeb), 1000u);
    EXPECT_EQ(day(Direction::Received, kWeb), 1440u);

    // The next day's temporary address, in another /64 the adapter was given meanwhile.
    const Ip6 fresh = ip6("2001:db8:5::77");
    feed6(seg6(fresh, 50000, kRemote6, 443, 960));
    EXPECT_EQ(stat->totalSent(), 1000u);
    adapters.adapters[0].ipv6.push_back(test::ip6Prefix("2001:db8:5::77", 64));
    stat->refreshIpv6Addresses();
    feed6(seg6(fresh, 50000, kRemote6, 443, 960));
    EXPECT_EQ(day(Direction::Sent, kWeb), 2000u);
    adapters.adapters[0].ipv6.clear(); // all addresses gone
    stat->refreshIpv6Addresses();
    feed6(seg6(fresh, 50000, kRemote6, 443, 960));
    EXPECT_EQ(stat->totalSent(), 2000u);
}

TEST_F(Ipv6Test, EveryLinkTypeCarriesIpv6AndVlanTagsAreLookedThrough) {
    const TestPacket6 p = seg6(kSelf6, 50000, kRemote6, 443, 460); // 500 bytes
    const TestPacket ip4 = tcp(kSelf, 50000, kRemote, 80, 300);
    select(LinkKind::Ethernet);
    feed(test::ethernetWith(kIpv6, test::ipv6Bytes(p), {0x8100}));
    feed(test::ethernetWith(kIpv6, test::ipv6Bytes(p), {0x88A8, 0x8100}));
    feed(test::ethernetWith(kIpv4, test::ipBytes(ip4), {0x8100}));
    feed(test::ethernetWith(kIpv4, test::ipBytes(ip4), {0x88A8, 0x8100}));
    feed(test::ethernetWith(kIpv4, test::ipBytes(ip4), {0x8100, 0x8100, 0x8100})); // three
    feed(test::ethernetWith(kIpv4, test::ipBytes(ip4), {0x8100}), 17);             // tag cut
    EXPECT_EQ(stat->totalSent(), 1600u);
    select(LinkKind::LinuxSll);
    feed(test::sllWith(kIpv6, test::ipv6Bytes(p)));
    feed(test::sllWith(kIpv6, test::ipv6Bytes(p), {0x8100}));
    select(LinkKind::LinuxSll2);
    feed(test::sll2With(kIpv6, test::ipv6Bytes(p)));
    select(LinkKind::RawIp);
    feed(test::ipv6Bytes(p));
    EXPECT_EQ(stat->totalSent(), 3600u);
    EXPECT_EQ(day(Direction::Sent, kWeb), 3600u);
}

TEST_F(Ipv6Test, CountIpv6OffLeavesIpv6OutAndIpv4In) {
    global->CountIPv6 = 0;
    select(); // initialise takes the setting
    ASSERT_EQ(stat->countIpv6(), 0);
    feed6(seg6(kSelf6, 50000, kRemote6, 443, 960));
    feed(test::ethernetWith(kIpv6, test::ipv6Bytes(seg6(kSelf6, 1, kRemote6, 443, 60)), {0x8100}));
    feed(test::ethernetFrame(tcp(kSelf, 50000, kRemote, 443, 300)));
    EXPECT_EQ(stat->totalSent(), 300u);
    EXPECT_EQ(day(Direction::Sent, kWeb), 300u);
    stat->setCountIpv6(1);
    feed6(seg6(kSelf6, 50000, kRemote6, 443, 960));
    EXPECT_EQ(stat->totalSent(), 1300u);
}

// The wire, not the header, sets how much a frame counts.
class HonestCountTest : public Ipv6Test {};

TEST_F(HonestCountTest, LengthFieldsAboveTheWireCountWhatTheWireCarried) {
    select();
    // A 40-byte datagram that claims 65,535 bytes.
    std::vector<std::uint8_t> lie = test::ipBytes(tcp(kSelf, 50000, kRemote, 80, 40));
    lie[2] = 0xFF;
    lie[3] = 0xFF;
    feed(test::ethernetWith(kIpv4, lie));
    EXPECT_EQ(stat->totalSent(), 40u);
    EXPECT_EQ(day(Direction::Sent, kWeb), 40u);

    std::vector<std::uint8_t> lie6 = test::ipv6Bytes(seg6(kRemote6, 443, kSelf6, 50000, 20));
    lie6[4] = 0xFF;
    lie6[5] = 0xFF;
    feed(test::ethernetWith(kIpv6, lie6, {0x8100}));
    EXPECT_EQ(stat->totalReceived(), 60u);
    EXPECT_EQ(day(Direction::Received, kWeb), 60u);

    // Ethernet padding past a short datagram does not count.
    std::vector<std::uint8_t> small = test::ipBytes(tcp(kSelf, 50000, kRemote, 80, 40));
    small.resize(46, 0);
    feed(test::ethernetWith(kIpv4, small));
    EXPECT_EQ(stat->totalSent(), 80u);
}

TEST_F(HonestCountTest, ContradictoryIpv4LengthsCountTheWireInTheTotalsOnly) {
    select();
    std::vector<std::uint8_t> ihl4 = test::ipBytes(tcp(kSelf, 50000, kRemote, 80, 100));
    ihl4[0] = 0x44; // IHL below 5
    feed(test::ethernetWith(kIpv4, ihl4));
    EXPECT_EQ(stat->totalSent(), 100u);
    std::vector<std::uint8_t> shortTotal = test::ipBytes(tcp(kRemote, 80, kSelf, 50000, 200));
    shortTotal[3] = 12; // total length 12, below the 20-byte header
    feed(test::ethernetWith(kIpv4, shortTotal));
    EXPECT_EQ(stat->totalReceived(), 200u);
    TestPacket opt = tcp(kSelf, 50000, kRemote, 80, 300);
    opt.headerWords = 15;
    std::vector<std::uint8_t> below = test::ipBytes(opt);
    below[2] = 0;
    below[3] = 56; // above 20 but below the 60-byte header
    feed(test::ethernetWith(kIpv4, below));
    EXPECT_EQ(stat->totalSent(), 400u);
    EXPECT_EQ(stat->dayTotal(17), 0u);
}

} // namespace
} // namespace tn

namespace tn {
namespace {

// The capture helper hands the window only the first frame::accountedBytes of every frame. A
// cut that is too short would lose counts; one that is too long would let payload out. Every
// kind of frame counts the same cut as whole, and the cut ends where the headers end.
TEST_F(Ipv6Test, TheHelpersCutCountsAsTheWholeFrame_AndEndsWithTheHeaders) {
    const auto v4 = [](std::uint8_t protocol, std::uint8_t words = 5) {
        TestPacket p = tcp(kSelf, 40000, kRemote, 443, 900);
        p.protocol = protocol;
        p.headerWords = words;
        return test::ipBytes(p);
    };
    const auto v6 = [&](std::uint8_t next, std::vector<Ext6> ext = {}) {
        TestPacket6 p = seg6(kSelf6, 40000, kRemote6, 443, 900, next);
        p.ext = std::move(ext);
        return test::ipv6Bytes(p);
    };
    struct Case {
        const char* what;
        LinkKind link;
        std::vector<std::uint8_t> frame;
        std::uint32_t headers; // where the accounting stops reading
    };
    const std::vector<Case> cases = {
        {"IPv4 TCP", LinkKind::Ethernet, test::ethernetWith(kIpv4, v4(6)), 14 + 24},
        {"IPv4 with options: the ports are read 20 bytes in", LinkKind::Ethernet,
         test::ethernetWith(kIpv4, v4(17, 7)), 14 + 24},
        {"IPv4 ICMP", LinkKind::Ethernet, test::ethernetWith(kIpv4, v4(1)), 14 + 24},
        {"IPv4 in two VLAN tags", LinkKind::Ethernet,
         test::ethernetWith(kIpv4, v4(6), {0x88A8, 0x8100}), 22 + 24},
        {"IPv4, Linux cooked", LinkKind::LinuxSll, test::sllWith(kIpv4, v4(17)), 16 + 24},
        {"IPv4, cooked v2", LinkKind::LinuxSll2, test::sll2With(kIpv4, v4(6)), 20 + 24},
        {"IPv4 without a link header", LinkKind::RawIp, v4(6), 24},
        {"IPv6 TCP", LinkKind::Ethernet, test::ethernetWith(kIpv6, v6(6)), 14 + 40 + 4},
        {"IPv6 UDP after hop-by-hop and routing headers", LinkKind::Ethernet,
         test::ethernetWith(kIpv6, v6(17, {{0, 8}, {43, 24}})), 14 + 40 + 8 + 24 + 4},
        {"IPv6 first fragment", LinkKind::Ethernet, test::ethernetWith(kIpv6, v6(6, {{44, 8, 0}})),
         14 + 40 + 8 + 4},
        {"IPv6 later fragment: no transport header", LinkKind::Ethernet,
         test::ethernetWith(kIpv6, v6(6, {{44, 8, 100}})), 14 + 40 + 8},
        {"ICMPv6: nothing of it is read", LinkKind::Ethernet, test::ethernetWith(kIpv6, v6(58)),
         14 + 40},
        {"IPv6 UDP without a link header", LinkKind::RawIp, v6(17), 40 + 4},
        {"ARP: nothing is counted", LinkKind::Ethernet,
         test::ethernetWith(0x0806, std::vector<std::uint8_t>(28, 0x41)), 0},
        {"a frame too short for its IPv4 header", LinkKind::Ethernet,
         test::ethernetWith(kIpv4, std::vector<std::uint8_t>(12, 0x45)), 0},
    };
    LinkKind selected = LinkKind::Unsupported;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.link != selected) {
            select(c.link);
            selected = c.link;
        }
        const auto cap = static_cast<std::uint32_t>(c.frame.size());
        const std::uint32_t cut = frame::accountedBytes(c.link, c.frame.data(), cap);
        EXPECT_EQ(cut, c.headers);
        stat->restore(StatRecords{});
        const std::uint64_t sent = stat->totalSent(), received = stat->totalReceived();
        feed(c.frame);
        const StatRecords whole = stat->snapshot();
        const std::uint64_t wholeSent = stat->totalSent() - sent;
        const std::uint64_t wholeReceived = stat->totalReceived() - received;
        stat->restore(StatRecords{});
        feed(c.frame, cut);
        EXPECT_TRUE(stat->snapshot() == whole);
        EXPECT_EQ(stat->totalSent() - sent - wholeSent, wholeSent);
        EXPECT_EQ(stat->totalReceived() - received - wholeReceived, wholeReceived);
    }
}

} // namespace
} // namespace tn

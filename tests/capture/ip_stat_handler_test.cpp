#include "support/ip_stat_fixture.h"

namespace tn {
namespace {

using test::ethernetFrame;
using test::Ip4;
using test::TestPacket;

// Today is 2026-03-17 in every test here.
class HandlerTest : public test::IPStatFixture {
protected:
    void SetUp() override {
        IPStatFixture::SetUp();
        select();
    }
    std::uint64_t day(Direction d, int k) const { return stat->dayRecord(d, 17, k); }
    std::uint64_t month(Direction d, int k) const { return stat->monthRecord(d, 3, k); }
};

TEST_F(HandlerTest, OutboundAndInboundWebCountInTodayAndThisMonth) {
    feed(ethernetFrame(tcp(kSelf, 50000, kRemote, 80, 60)));
    EXPECT_EQ(stat->totalSent(), 60u);
    EXPECT_EQ(stat->totalReceived(), 0u);
    EXPECT_EQ(day(Direction::Sent, kWeb), 60u);
    EXPECT_EQ(month(Direction::Sent, kWeb), 60u);
    EXPECT_EQ(day(Direction::Received, kWeb), 0u);

    feed(ethernetFrame(tcp(kRemote, 443, kSelf, 50000, 1500)));
    EXPECT_EQ(stat->totalReceived(), 1500u);
    EXPECT_EQ(day(Direction::Received, kWeb), 1500u);
    EXPECT_EQ(month(Direction::Received, kWeb), 1500u);
    EXPECT_EQ(stat->dayTotal(17), 1560u);
    EXPECT_EQ(stat->monthTotal(3), 1560u);
    EXPECT_EQ(stat->dayTotal(16), 0u);
    EXPECT_EQ(stat->dayTotal(0), 0u);
    EXPECT_EQ(stat->monthTotal(13), 0u);
}

TEST_F(HandlerTest, SameSubnetTrafficCountsInTotalsOnly) {
    feed(ethernetFrame(tcp(kSelf, 50000, kNeighbour, 80, 100)));
    feed(ethernetFrame(tcp(kNeighbour, 80, kSelf, 50000, 40)));
    EXPECT_EQ(stat->totalSent(), 100u);
    EXPECT_EQ(stat->totalReceived(), 40u);
    EXPECT_EQ(stat->dayTotal(17), 0u);
    EXPECT_EQ(stat->monthTotal(3), 0u);
}

TEST_F(HandlerTest, RemotePortIsClassifiedBeforeLocalPort) {
    feed(ethernetFrame(tcp(kSelf, 443, kRemote, 873, 100))); // remote not listed: local 443
    EXPECT_EQ(day(Direction::Sent, kWeb), 100u);
    feed(ethernetFrame(tcp(kSelf, 443, kRemote, 21, 50))); // remote 21 wins
    EXPECT_EQ(day(Direction::Sent, kFtp), 50u);
    EXPECT_EQ(day(Direction::Sent, kWeb), 100u);
    feed(ethernetFrame(tcp(kRemote, 21, kSelf, 443, 70))); // received: the source is remote
    EXPECT_EQ(day(Direction::Received, kFtp), 70u);

    feed(ethernetFrame(tcp(kSelf, 25, kRemote, 8888, 41)));
    feed(ethernetFrame(tcp(kSelf, 5000, kRemote, 995, 42)));
    feed(ethernetFrame(tcp(kSelf, 563, kRemote, 5000, 43)));
    feed(ethernetFrame(tcp(kSelf, 5000, kRemote, 6000, 44)));
    feed(ethernetFrame(tcp(kSelf, 20, kRemote, 6001, 45)));
    EXPECT_EQ(day(Direction::Sent, kFilesharing), 41u);
    EXPECT_EQ(day(Direction::Sent, kMail), 42u);
    EXPECT_EQ(day(Direction::Sent, kNews), 43u);
    EXPECT_EQ(day(Direction::Sent, kOthers), 44u);
    EXPECT_EQ(day(Direction::Sent, kFtp), 95u);
}

TEST_F(HandlerTest, CustomPortsCountBesideTheirCategoryButNeverForUdp) {
    global->replaceCustomPorts({873, 53});
    feed(ethernetFrame(tcp(kSelf, 700, kRemote, 873, 100)));
    EXPECT_EQ(day(Direction::Sent, kCustom), 100u);
    EXPECT_EQ(day(Direction::Sent, kOthers), 100u);
    EXPECT_EQ(stat->dayTotal(17), 200u); // counted twice in the record's total

    feed(ethernetFrame(tcp(kSelf, 873, kRemote, 80, 40))); // local port in the list
    EXPECT_EQ(day(Direction::Sent, kCustom), 140u);
    EXPECT_EQ(day(Direction::Sent, kWeb), 40u);

    TestPacket dns = tcp(kSelf, 53, kRemote, 53, 80);
    dns.protocol = 17;
    feed(ethernetFrame(dns));
    EXPECT_EQ(day(Direction::Sent, kUdp), 80u);
    EXPECT_EQ(day(Direction::Sent, kCustom), 140u);
    EXPECT_EQ(month(Direction::Sent, kCustom), 140u);
}

TEST_F(HandlerTest, ProtocolsOtherThanTcpAndUdpAreOthersWhateverTheirBytes) {
    feed(ethernetFrame(other(1, kSelf, kRemote, 84)));
    TestPacket gre = other(47, kRemote, kSelf, 200);
    gre.srcPort = 80; // would be Web if the ports were looked at
    gre.dstPort = 80;
    feed(ethernetFrame(gre));
    EXPECT_EQ(day(Direction::Sent, kOthers), 84u);
    EXPECT_EQ(day(Direction::Received, kOthers), 200u);
    EXPECT_EQ(day(Direction::Received, kWeb), 0u);
}

TEST_F(HandlerTest, NeighbourTrafficCountsInCategoriesOnlyWithoutLanOnly) {
    ASSERT_EQ(stat->lanOnly(), 1); // the flag until the first tick copies the setting
    feed(ethernetFrame(tcp(kNeighbour, 5000, kRemote, 80, 100)));
    feed(ethernetFrame(tcp(kRemote, 80, kNeighbour, 5000, 200)));
    EXPECT_EQ(stat->totalSent(), 100u);
    EXPECT_EQ(stat->totalReceived(), 200u);
    EXPECT_EQ(stat->dayTotal(17), 0u);

    stat->setLanOnly(0);
    feed(ethernetFrame(tcp(kNeighbour, 5000, kRemote, 80, 100)));
    feed(ethernetFrame(tcp(kRemote, 80, kNeighbour, 5000, 200)));
    EXPECT_EQ(stat->totalSent(), 200u);
    EXPECT_EQ(stat->totalReceived(), 400u);
    EXPECT_EQ(day(Direction::Sent, kWeb), 100u);
    EXPECT_EQ(day(Direction::Received, kWeb), 200u);

    feed(ethernetFrame(tcp(kNeighbour, 5000, kNeighbour2, 80, 40))); // stays in the subnet
    EXPECT_EQ(stat->totalSent(), 240u);
    feed(ethernetFrame(tcp(kRemote, 5000, kRemote2, 80, 40))); // not ours at all
    EXPECT_EQ(stat->totalSent(), 240u);
    EXPECT_EQ(stat->totalReceived(), 400u);
    EXPECT_EQ(stat->dayTotal(17), 300u);
}

TEST_F(HandlerTest, FrameFromAndToThisStationCountsAsSent) {
    feed(ethernetFrame(tcp(kSelf, 1000, kSelf, 80, 77)));
    EXPECT_EQ(stat->totalSent(), 77u);
    EXPECT_EQ(stat->totalReceived(), 0u);
    EXPECT_EQ(stat->dayTotal(17), 0u);
}

TEST_F(HandlerTest, IpOptionsDoNotMoveThePorts) {
    TestPacket p = tcp(kSelf, 5000, kRemote, 25, 64); // the real TCP header says Mail
    p.headerWords = 6;
    p.optionPorts = {0x13, 0x88, 0x00, 0x50}; // frame bytes 34-37: 5000 -> 80
    feed(ethernetFrame(p));
    EXPECT_EQ(day(Direction::Sent, kWeb), 64u);
    EXPECT_EQ(day(Direction::Sent, kMail), 0u);
}

TEST_F(HandlerTest, ShortFramesAreReadOnlyAsFarAsTheirCapturedBytes) {
    const auto web = ethernetFrame(tcp(kSelf, 5000, kRemote, 80, 1000));
    TestPacket u = tcp(kSelf, 5000, kRemote, 53, 300);
    u.protocol = 17;
    const auto udp = ethernetFrame(u);

    feed(web, 0);
    feed(web, 13); // no complete type field
    feed(web, 33); // IP header cut before the destination's last byte
    EXPECT_EQ(stat->totalSent(), 0u);

    feed(web, 34); // whole IP header, no ports: totals only
    feed(web, 37);
    EXPECT_EQ(stat->totalSent(), 2000u);
    EXPECT_EQ(stat->dayTotal(17), 0u);

    feed(udp, 34); // UDP needs no ports
    EXPECT_EQ(day(Direction::Sent, kUdp), 300u);
    feed(web, 38);
    EXPECT_EQ(day(Direction::Sent, kWeb), 1000u);
    EXPECT_EQ(stat->totalSent(), 3300u);

    feed(ethernetFrame(tcp(kSelf, 5000, kRemote, 80, 1000), 0x86DD)); // not version 6 inside
    feed(ethernetFrame(tcp(kSelf, 5000, kRemote, 80, 1000), 0x8100)); // a tag over no IP type
    EXPECT_EQ(stat->totalSent(), 3300u);
}

TEST_F(HandlerTest, ReservedCountersAreNeverIncremented) {
    global->replaceCustomPorts({9000});
    stat->setLanOnly(0);
    const std::vector<TestPacket> mix = {
        tcp(kSelf, 9000, kRemote, 443, 41), other(17, kRemote, kSelf, 42),
        other(1, kNeighbour, kRemote, 43), tcp(kRemote, 110, kNeighbour, 9, 44)};
    for (const auto& p : mix)
        feed(ethernetFrame(p));
    for (Direction d : {Direction::Sent, Direction::Received})
        for (int k = 8; k <= 10; ++k) {
            EXPECT_EQ(day(d, k), 0u);
            EXPECT_EQ(month(d, k), 0u);
        }
    EXPECT_EQ(stat->dayTotal(17), 41u + 41u + 42u + 43u + 44u); // port 9000 also in Custom
}

TEST_F(HandlerTest, ClearCategoryZeroesItInEveryRecordOnly) {
    global->replaceCustomPorts({873});
    feed(ethernetFrame(tcp(kSelf, 700, kRemote, 873, 100)));
    feed(ethernetFrame(tcp(kRemote, 873, kSelf, 700, 30)));
    stat->clearCategory(kCustom);
    EXPECT_EQ(day(Direction::Sent, kCustom), 0u);
    EXPECT_EQ(month(Direction::Received, kCustom), 0u);
    EXPECT_EQ(day(Direction::Sent, kOthers), 100u);
    EXPECT_EQ(month(Direction::Received, kOthers), 30u);
    stat->clearCategory(11); // out of range: ignored
    EXPECT_EQ(stat->monthTotal(3), 130u);
}

class HandlerWithoutAdapterTest : public test::IPStatFixture {};

TEST_F(HandlerWithoutAdapterTest, FramesAreIgnoredUntilAnAdapterIsSelected) {
    feed(ethernetFrame(tcp(kSelf, 5000, kRemote, 80, 60)));
    EXPECT_EQ(stat->totalSent(), 0u);
    EXPECT_EQ(stat->selectedIndex(), -1);
}

class LinkTypesTest : public test::IPStatFixture {};

TEST_F(LinkTypesTest, CookedAndRawIpFramesFollowTheSameRules) {
    const TestPacket p = tcp(kSelf, 5000, kRemote, 80, 500);
    select(LinkKind::LinuxSll);
    feed(test::sllFrame(p));
    feed(test::sllFrame(p), 16 + 23); // ports cut: totals only
    select(LinkKind::LinuxSll2);
    feed(test::sll2Frame(p));
    select(LinkKind::RawIp);
    feed(test::ipBytes(p));
    feed(test::ipBytes(tcp(kRemote, 443, kSelf, 5000, 40)));
    EXPECT_EQ(stat->totalSent(), 2000u);
    EXPECT_EQ(stat->totalReceived(), 40u);
    EXPECT_EQ(stat->dayRecord(Direction::Sent, 17, kWeb), 1500u);
    EXPECT_EQ(stat->dayRecord(Direction::Received, 17, kWeb), 40u);
}

TEST_F(LinkTypesTest, OtherPayloadsAndUnknownLinksAreNotCounted) {
    const TestPacket p = tcp(kSelf, 5000, kRemote, 80, 500);
    select(LinkKind::RawIp);
    std::vector<std::uint8_t> v5 = test::ipBytes(p);
    v5[0] = 0x55; // neither version 4 nor 6
    feed(v5);
    select(LinkKind::LinuxSll);
    std::vector<std::uint8_t> arp = test::sllFrame(p);
    arp[14] = 0x08;
    arp[15] = 0x06;
    feed(arp);
    select(LinkKind::Unsupported);
    feed(ethernetFrame(p));
    EXPECT_EQ(stat->totalSent(), 0u);
}

} // namespace
} // namespace tn

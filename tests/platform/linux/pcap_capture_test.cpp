// The capture device on libpcap: its refusals and capture files replayed through the worker.
#include "capture/ip_stat.h"
#include "platform/linux/pcap_capture.h"
#include "support/ip_stat_fixture.h"

#include <chrono>

namespace tn {
namespace {

using test::ethernetFrame;

class PcapCaptureTest : public test::IPStatFixture {
protected:
    void SetUp() override {
        IPStatFixture::SetUp();
        ASSERT_EQ(stat->initialise(-1), 1);
    }
};

TEST_F(PcapCaptureTest, RealLibraryRefusesAnInterfaceThatDoesNotExist) {
    PcapCaptureFactory pcap;
    adapters.adapters = {{"tn-ghost0", "tn-ghost0", "198.18.0.10", "255.255.255.0"}};
    os.capture = &pcap;
    CGlobal g(os);
    CIPStat s(g, clock);
    EXPECT_EQ(s.initialise(0), 0);
    const std::string head = "Could not open Adapter: tn-ghost0 [index =0] in CPacket::Open()\n";
    EXPECT_EQ(s.lastErrorText().substr(0, head.size()), head);
    EXPECT_GT(s.lastErrorText().size(), head.size()); // libpcap's reason on its own line
    EXPECT_NE(s.captureLibraryVersion().find("libpcap"), std::string::npos);
}

// Frames that a capture file replays through the worker are accounted exactly like the same
// frames handed to the handler directly.
class ReplayTest : public test::IPStatFixture {
protected:
    std::vector<std::vector<std::uint8_t>> mix(bool ethernet) {
        std::vector<test::TestPacket> packets = {
            tcp(kSelf, 5000, kRemote, 80, 1500),    tcp(kRemote, 443, kSelf, 5000, 52),
            tcp(kSelf, 5001, kRemote, 25, 600),     tcp(kRemote, 993, kSelf, 5002, 900),
            tcp(kSelf, 5003, kRemote, 873, 120),    tcp(kSelf, 5004, kNeighbour, 80, 70),
            tcp(kNeighbour, 6346, kRemote, 7, 333), other(17, kSelf, kRemote, 76),
            other(1, kRemote, kSelf, 84),           tcp(kRemote, 21, kNeighbour, 443, 44),
            tcp(kRemote, 5000, kRemote2, 80, 999),  other(47, kNeighbour2, kRemote, 555)};
        std::vector<std::vector<std::uint8_t>> frames;
        for (int round = 0; round < 50; ++round)
            for (auto p : packets) {
                p.totalLength = static_cast<std::uint16_t>(p.totalLength + round);
                frames.push_back(ethernet ? ethernetFrame(p) : test::ipBytes(p));
            }
        frames.push_back(ethernetFrame(tcp(kSelf, 1, kRemote, 2, 3), 0x86DD));
        return frames;
    }

    void expectSameRecords(CIPStat& a, CIPStat& b) {
        EXPECT_EQ(a.totalSent(), b.totalSent());
        EXPECT_EQ(a.totalReceived(), b.totalReceived());
        const StatRecords ra = a.snapshot();
        const StatRecords rb = b.snapshot();
        EXPECT_EQ(ra.daysSent, rb.daysSent);
        EXPECT_EQ(ra.daysReceived, rb.daysReceived);
        EXPECT_EQ(ra.monthsSent, rb.monthsSent);
        EXPECT_EQ(ra.monthsReceived, rb.monthsReceived);
    }

    void replayAndCompare(std::uint32_t linkType, LinkKind kind, bool ethernet) {
        global->replaceCustomPorts({873});
        const auto frames = mix(ethernet);
        const auto file = dir.path() / "mix.pcap";
        test::writePcap(file, linkType, frames);

        PcapCaptureFactory pcap;
        PlatformServices fileOs = os;
        fileOs.capture = &pcap;
        CGlobal g2(fileOs);
        g2.replaceCustomPorts({873});
        CIPStat replayed(g2, clock);
        ASSERT_EQ(replayed.initialise(-1), 1);
        replayed.setLanOnly(0);
        ASSERT_EQ(replayed.openFile(0, file), 1) << replayed.CNetAdapter::lastErrorText();
        replayed.waitForExit();

        select(kind);
        stat->setLanOnly(0);
        for (const auto& f : frames)
            feed(f);
        expectSameRecords(replayed, *stat);
        EXPECT_GT(stat->dayTotal(17), 0u);
        // 50 rounds of the mix, lengths growing by one per round.
        EXPECT_EQ(stat->totalSent(),
                  50u * (1500 + 600 + 120 + 70 + 333 + 76 + 555) + 7u * (0 + 49) * 50 / 2);
    }
};

TEST_F(ReplayTest, EthernetCaptureFileGivesTheSameRecordsAsDirectFrames) {
    replayAndCompare(1, LinkKind::Ethernet, true);
}

TEST_F(ReplayTest, RawIpCaptureFileGivesTheSameRecordsAsDirectFrames) {
    replayAndCompare(101, LinkKind::RawIp, false);
}

TEST_F(ReplayTest, MissingCaptureFileIsReported) {
    PcapCaptureFactory pcap;
    os.capture = &pcap;
    CGlobal g(os);
    CIPStat s(g, clock);
    ASSERT_EQ(s.initialise(-1), 1);
    EXPECT_EQ(s.openFile(0, dir.path() / "none.pcap"), 0);
    EXPECT_NE(s.CNetAdapter::lastErrorText().find("Could not open capture file"),
              std::string::npos);
    EXPECT_FALSE(s.hasThread());
}

// The helper lets frames gather no longer than this: a bound too long loses frames to a full
// ring, and one that wraps or divides by nothing turns into no bound at all.
TEST(GatherAtMostTest, BoundsTheGatherByTheRingAndTheRate) {
    using std::chrono::milliseconds;
    using namespace std::chrono_literals;
    constexpr std::size_t MiB = 1024 * 1024;
    const struct {
        std::size_t ring;
        std::size_t batch;
        std::chrono::nanoseconds gathered;
        milliseconds expected;
    } cases[] = {
        {4 * MiB, 1 * MiB, 10ms, 10ms},                // a quarter of the ring came in 10 ms
        {4 * MiB, 256 * 1024, 2ms, 8ms},               // a flood's block every 2 ms: 8 ms
        {32 * MiB, 8 * MiB, 98ms, 98ms},               // the large ring under a flood
        {4 * MiB, 1024, 1'000'000h, milliseconds(1h)}, // a span of ages: an hour, not a wrap
        {4 * MiB, 0, 5ms, milliseconds::max()},        // nothing came: no rate
        {4 * MiB, 1024, 0ns, milliseconds::max()},     // no time passed: no rate
        {4 * MiB, 4 * MiB, 1ms, 0ms},                  // faster than a millisecond: no gathering
    };
    for (const auto& c : cases)
        EXPECT_EQ(PcapCaptureFactory::gatherAtMost(c.ring, c.batch, c.gathered), c.expected)
            << c.ring << " " << c.batch << " " << c.gathered.count();
}

} // namespace
} // namespace tn

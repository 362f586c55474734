#include "platform/linux/pcap_capture.h"
#include "support/ip_stat_fixture.h"

#include <thread>

namespace tn {
namespace {

using test::ethernetFrame;
using test::FakeDevice;

class Capture : public test::IPStatFixture {
protected:
    void SetUp() override {
        IPStatFixture::SetUp();
        ASSERT_EQ(stat->initialise(-1), 1);
    }
};

TEST_F(Capture, OpenFailuresLeaveTheirText) {
    EXPECT_EQ(stat->open(1, 524288, 524288, 1), 0); // the list has exactly one record
    EXPECT_EQ(stat->CNetAdapter::lastErrorText(), "No valid adapter found!");
    EXPECT_EQ(stat->selectedIndex(), -1);

    capture.failWith = CaptureOpenStatus::DeviceFailed;
    capture.reason = "eth0: No such device exists";
    EXPECT_EQ(stat->initialise(0), 0);
    EXPECT_EQ(stat->lastErrorText(),
              "Could not open Adapter: Test NIC (eth0) [index =0] in CPacket::Open()\n"
              "eth0: No such device exists");
    EXPECT_EQ(stat->selectedIndex(), 0);
    EXPECT_EQ(capture.openedName, "eth0");
    EXPECT_FALSE(stat->hasThread());

    capture.failWith = CaptureOpenStatus::KernelBufferFailed;
    EXPECT_EQ(stat->initialise(0), 0);
    EXPECT_EQ(stat->lastErrorText(), "Not enough memory for kernel buffer!");
}

TEST_F(Capture, RealLibraryRefusesAnInterfaceThatDoesNotExist) {
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

TEST_F(Capture, StopWakesAWorkerWaitingOnAnIdleLink) {
    capture.next->blockWhenIdle = true;
    ASSERT_EQ(stat->initialise(0), 1);
    ASSERT_TRUE(stat->hasThread());
    EXPECT_EQ(stat->exitCode(), -1);
    stat->stopCapture();
    EXPECT_FALSE(stat->hasThread());
    EXPECT_EQ(stat->exitCode(), 0);
}

TEST_F(Capture, WorkerFeedsEveryFrameToTheHandlerUntilStopped) {
    FakeDevice& dev = *capture.next;
    dev.endless = true;
    dev.frames = {ethernetFrame(tcp(kSelf, 5000, kRemote, 80, 100)),
                  ethernetFrame(tcp(kRemote, 80, kSelf, 5000, 1000))};
    ASSERT_EQ(stat->initialise(0), 1);
    while (dev.dispatches.load() < 20)
        std::this_thread::yield();
    stat->stopAndSave();
    EXPECT_FALSE(stat->hasThread());
    // Frames alternate and batches hold 64, so both directions saw the same number of frames.
    const std::uint64_t frames = stat->totalSent() / 100;
    EXPECT_GE(frames, 19u * 32u);
    EXPECT_EQ(stat->totalReceived(), frames * 1000);
    EXPECT_EQ(stat->dayRecord(Direction::Sent, 17, kWeb), stat->totalSent());
    EXPECT_EQ(stat->monthRecord(Direction::Received, 3, kWeb), stat->totalReceived());
}

// The user interface reads, clears, saves and replaces the custom ports while the worker
// counts; run under ThreadSanitizer this proves the sharing is sound.
TEST_F(Capture, UserInterfaceWorksWhileTheWorkerCounts) {
    FakeDevice& dev = *capture.next;
    dev.endless = true;
    dev.frames = {ethernetFrame(tcp(kSelf, 5000, kRemote, 873, 100)),
                  ethernetFrame(tcp(kNeighbour, 80, kRemote, 5000, 10)),
                  ethernetFrame(tcp(kRemote, 80, kSelf, 873, 1000))};
    ASSERT_EQ(stat->initialise(0), 1);
    std::uint64_t lastSent = 0;
    for (int i = 0; i < 300; ++i) {
        const std::uint64_t sent = stat->totalSent();
        EXPECT_GE(sent, lastSent);
        lastSent = sent;
        (void)stat->dayTotal(17);
        (void)stat->monthRecord(Direction::Sent, 3, kCustom);
        stat->setLanOnly(i % 2);
        if (i % 50 == 0)
            global->replaceCustomPorts({873, static_cast<std::uint16_t>(1000 + i)});
        if (i % 100 == 0)
            stat->save();
        if (i % 30 == 0)
            stat->clearCategory(kCustom);
        std::this_thread::yield();
    }
    stat->stopCapture();
    EXPECT_FALSE(stat->hasThread());
    EXPECT_TRUE(std::filesystem::exists(dir.path() / "data" / "stat.dat"));
}

// Frames that a capture file replays through the worker are accounted exactly like the same
// frames handed to the handler directly.
class Replay : public test::IPStatFixture {
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

TEST_F(Replay, EthernetCaptureFileGivesTheSameRecordsAsDirectFrames) {
    replayAndCompare(1, LinkKind::Ethernet, true);
}

TEST_F(Replay, RawIpCaptureFileGivesTheSameRecordsAsDirectFrames) {
    replayAndCompare(101, LinkKind::RawIp, false);
}

TEST_F(Replay, MissingCaptureFileIsReported) {
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

} // namespace
} // namespace tn

#include "support/ip_stat_fixture.h"

#include <thread>

namespace tn {
namespace {

using test::ethernetFrame;
using test::FakeDevice;

class CaptureTest : public test::IPStatFixture {
protected:
    void SetUp() override {
        IPStatFixture::SetUp();
        ASSERT_EQ(stat->initialise(-1), 1);
    }
};

TEST_F(CaptureTest, OpenFailuresLeaveTheirText) {
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

TEST_F(CaptureTest, StopWakesAWorkerWaitingOnAnIdleLink) {
    capture.next->blockWhenIdle = true;
    ASSERT_EQ(stat->initialise(0), 1);
    ASSERT_TRUE(stat->hasThread());
    EXPECT_EQ(stat->exitCode(), -1);
    stat->stopCapture();
    EXPECT_FALSE(stat->hasThread());
    EXPECT_EQ(stat->exitCode(), 0);
}

TEST_F(CaptureTest, WorkerFeedsEveryFrameToTheHandlerUntilStopped) {
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
TEST_F(CaptureTest, UserInterfaceWorksWhileTheWorkerCounts) {
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

// The kernel's drop counter is read on the reading thread and reaches any other thread; what a
// closed capture dropped stays in the program's total when the next one opens.
TEST_F(CaptureTest, DropCountersAreReadOnTheWorkerAndKeptAcrossReopening) {
    FakeDevice& first = *capture.next;
    const auto firstOffThread = first.statisticsOffThread;
    first.endless = true;
    first.reportsStatistics = true;
    first.dropped = 42;
    first.frames = {ethernetFrame(tcp(kRemote, 80, kSelf, 5000, 1000))};
    ASSERT_EQ(stat->initialise(0), 1);
    CaptureStatistics st;
    while (!stat->captureStatistics(st))
        std::this_thread::yield();
    EXPECT_EQ(st.dropped, 42u);
    EXPECT_EQ(stat->framesDropped(), 42u);
    first.dropped = 50;
    while (stat->framesDropped() != 50u)
        std::this_thread::yield(); // the worker takes the counters again about once a second
    stat->stopCapture();
    EXPECT_FALSE(*firstOffThread);
    EXPECT_FALSE(stat->captureStatistics(st)); // nothing open

    capture.next = std::make_unique<FakeDevice>();
    FakeDevice& second = *capture.next;
    const auto secondOffThread = second.statisticsOffThread;
    second.blockWhenIdle = true;
    second.reportsStatistics = true;
    second.dropped = 3;
    ASSERT_EQ(stat->initialise(0), 1);
    stat->stopCapture(); // the worker takes a last reading as it ends
    EXPECT_EQ(stat->framesDropped(), 53u);
    EXPECT_FALSE(*secondOffThread);
}

// Interfaces that come and go elsewhere leave the capture of the watched adapter running; a
// change of the watched adapter itself asks for a reopen.
TEST_F(CaptureTest, RefreshKeepsCaptureUnlessTheWatchedAdapterChanged) {
    adapters.adapters = {{"veth9", "veth9", "198.18.9.1", "255.255.255.0", 9},
                         {"eth0", "eth0", "198.18.0.10", "255.255.255.0", 2}};
    ASSERT_EQ(stat->initialise(-1), 1);
    const int eth0 = stat->record(0).name == "eth0" ? 0 : 1;
    capture.next->blockWhenIdle = true;
    ASSERT_EQ(stat->initialise(eth0), 1);
    FakeDevice* device = capture.last;

    adapters.adapters.erase(adapters.adapters.begin()); // veth9 goes
    adapters.adapters.push_back({"veth7", "veth7", "198.18.7.1", "255.255.255.0", 7});
    adapters.adapters.push_back({"veth8", "veth8", "0.0.0.0", "0.0.0.0", 8});
    ASSERT_TRUE(stat->refreshKeepingCapture());
    EXPECT_EQ(stat->adapterCount(), 3);
    EXPECT_EQ(stat->selectedAdapterName(), "eth0");
    EXPECT_TRUE(stat->hasThread());
    EXPECT_EQ(capture.last, device); // not reopened

    const auto changedFails = [&](AdapterInfo changed) {
        adapters.adapters = {{"eth0", "eth0", "198.18.0.10", "255.255.255.0", 2}};
        EXPECT_EQ(stat->initialise(-1), 1);
        capture.next = std::make_unique<FakeDevice>();
        capture.next->blockWhenIdle = true;
        EXPECT_EQ(stat->initialise(0), 1);
        adapters.adapters = {changed};
        return !stat->refreshKeepingCapture();
    };
    EXPECT_TRUE(changedFails({"eth0", "eth0", "198.18.0.11", "255.255.255.0", 2}));  // address
    EXPECT_TRUE(changedFails({"eth0", "eth0", "198.18.0.10", "255.255.255.0", 5}));  // index
    EXPECT_TRUE(changedFails({"lan0", "lan0", "198.18.0.10", "255.255.255.0", 2}));  // renamed
    EXPECT_TRUE(changedFails({"veth7", "veth7", "198.18.7.1", "255.255.255.0", 7})); // gone
    stat->stopCapture();
    EXPECT_FALSE(stat->refreshKeepingCapture()); // nothing captured: a plain reload is fine
}

} // namespace
} // namespace tn

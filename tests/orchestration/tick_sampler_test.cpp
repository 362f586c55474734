#include "orchestration/tick_sampler.h"
#include "stats/data_plan.h"

#include "app/global.h"
#include "support/fake_platform.h"
#include "support/file_bytes.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string_view>
#include <vector>

namespace tn {
namespace {

class RecordingEvents final : public ITickEvents {
public:
    std::vector<std::string> calls;
    void outageStep(std::uint64_t incoming) override {
        calls.push_back("outage " + std::to_string(incoming));
    }
    void probeStep() override { calls.emplace_back("probe"); }
};

class TickSamplerTest : public ::testing::Test {
protected:
    test::FakePlatform fake;
    const test::TempDir& dir = fake.dir;
    test::FakeClock& clock = fake.clock;
    test::FakeInterfaceTable& table = fake.interfaces;
    test::FakeStatisticsOwner capture;
    RecordingEvents events;
    std::unique_ptr<CGlobal> global;
    std::unique_ptr<CAdapter> counters;
    std::unique_ptr<CTickSampler> sampler;

    void SetUp() override {
        PlatformServices s = fake.services();
        s.settings = nullptr; // defaults, nothing stored
        global = std::make_unique<CGlobal>(s);
        global->loadSettings();
        counters = std::make_unique<CAdapter>(&table);
        sampler = std::make_unique<CTickSampler>(*global, clock, *counters, capture, &events);
        sampler->setAdapterCount(1);
        sampler->setAdapterName("eth0");
        sampler->start();
    }
    // One regular tick, one second after the previous one.
    TickView tickAfter(std::uint32_t ms = 1000) {
        clock.tick += ms;
        clock.nowValue += ms / 1000;
        return sampler->tick();
    }
    std::string log() { return test::readText(dir / "data/TN.log"); }
};

TEST_F(TickSamplerTest, FirstTick_ShowsZerosAndTheSourceTotals) {
    table.set(1000000, 2048, 3725);
    const TickView v = tickAfter();
    ASSERT_FALSE(v.adapterSetChanged);
    EXPECT_EQ(v.text(1000), "0 B/s");
    EXPECT_EQ(v.text(1002), "0 B/s");
    EXPECT_EQ(v.text(1004), "0 B/s");
    EXPECT_EQ(v.text(1001), "0 B");
    EXPECT_EQ(v.text(1003), "0 B");
    EXPECT_EQ(v.text(1005), "0 B");
    EXPECT_EQ(v.text(1006), "0 B");
    EXPECT_EQ(v.text(1009), "976.56 KB"); // 1000000 / 1024 = 976.5625
    EXPECT_EQ(v.text(1010), "2.00 KB");
    EXPECT_EQ(v.text(1018), "978.56 KB");   // 1002048 / 1024
    EXPECT_EQ(v.text(1017), "00:01:02:05"); // 3725 s connected
    EXPECT_EQ(v.text(1020), "Traffic during last 0:00:01");
    EXPECT_EQ(v.text(1012), "Average Speeds during last 0:00:01");
    EXPECT_EQ(v.trayIcon, kTrayIdle);
    EXPECT_EQ(v.tooltip, "In : 0 B  Out : 0 B");
}

TEST_F(TickSamplerTest, SecondTick_GivesDeltasSpeedsTrayStateAndTooltip) {
    table.set(1000, 1000);
    tickAfter();
    table.set(1000 + 1536, 1000);
    TickView v = tickAfter();
    EXPECT_EQ(v.text(1000), "1.50 KB/s");
    EXPECT_EQ(v.text(1001), "1.50 KB");
    EXPECT_EQ(v.text(1004), "1.50 KB/s");
    EXPECT_EQ(v.trayIcon, kTrayReceiving);
    EXPECT_EQ(v.tooltip, "In : 1.50 KB  Out : 0 B");

    table.set(2536, 1100);
    v = tickAfter();
    EXPECT_EQ(v.trayIcon, kTraySending);
    EXPECT_EQ(v.text(1002), "100 B/s");
    EXPECT_EQ(v.text(1005), "1.60 KB"); // 1536 + 100 = 1636 -> 1.597..
    table.set(2537, 1101);
    EXPECT_EQ(tickAfter().trayIcon, kTrayBoth);
    EXPECT_EQ(tickAfter().trayIcon, kTrayIdle);
}

TEST_F(TickSamplerTest, PcapWithIncremtotal_AddsBasesOfFirstSuccessfulLookup_RestartKeepsThem) {
    global->WinPCap = 1;
    global->Incremtotal = 1;
    table.rows = {InterfaceRow{"wlan0", 7, 7, 0}}; // our adapter is not in the table yet
    capture.rx = 100;
    capture.tx = 50;
    TickView v = tickAfter();
    EXPECT_EQ(sampler->receivedBase(), 0u);
    EXPECT_EQ(v.text(1009), "100 B");

    table.set(5000, 3000, 42);
    v = tickAfter();
    EXPECT_EQ(sampler->receivedBase(), 5000u);
    EXPECT_EQ(sampler->sentBase(), 3000u);
    EXPECT_EQ(v.text(1009), "4.98 KB"); // 5100 / 1024 = 4.98
    EXPECT_EQ(v.text(1010), "2.98 KB"); // 3050 / 1024 = 2.978
    EXPECT_EQ(v.text(1017), "00:00:00:42");
    // The jump by the bases counts as traffic of that tick, as it did in the original program.
    capture.rx = 1124;
    table.set(9000, 9000);
    v = tickAfter();
    EXPECT_EQ(v.text(1009), "5.98 KB"); // 1124 + 5000 = 6124, the later counters do not matter

    global->Incremtotal = 0;
    global->RestartFlag = 1;
    v = tickAfter();
    EXPECT_EQ(global->RestartFlag.load(), 0);
    EXPECT_EQ(v.text(1001), "0 B");     // new period
    EXPECT_EQ(v.text(1009), "1.10 KB"); // capture totals alone
    EXPECT_EQ(v.text(1020), "Traffic during last 0:00:00");

    global->Incremtotal = 1;
    global->RestartFlag = 1;
    v = tickAfter();
    EXPECT_EQ(sampler->receivedBase(), 5000u);
    EXPECT_EQ(v.text(1009), "5.98 KB");
    EXPECT_EQ(v.text(1001), "0 B");
}

TEST_F(TickSamplerTest, LateTick_SpeedOverRealGapAndWarpLogged_OnTimeTickCountsAsOneSecond) {
    table.set(0, 1); // both counters 0 would read as "no previous reading"
    tickAfter();
    table.set(51200, 1);
    TickView v = tickAfter(5000);
    EXPECT_EQ(v.receivedSpeed, 10240u);
    EXPECT_EQ(v.text(1000), "10.00 KB/s");
    EXPECT_NE(log().find("Warp:5000"), std::string::npos);

    table.set(102400, 1);
    v = tickAfter(1500);
    EXPECT_EQ(v.receivedSpeed, 51200u);
    EXPECT_EQ(v.text(1000), "50.00 KB/s");
    table.set(153600, 1);
    v = tickAfter(2000);
    EXPECT_EQ(v.text(1000), "50.00 KB/s"); // exactly two seconds still counts as one
    EXPECT_EQ(log().find("Warp:1500"), std::string::npos);
    EXPECT_EQ(log().find("Warp:2000"), std::string::npos);
}

TEST_F(TickSamplerTest, TickCountWrap_IsHarmless) {
    clock.tick = 0xFFFFFE0Cu; // 500 ms before the 32-bit wrap
    sampler->start();
    table.set(0, 1);
    tickAfter();
    table.set(2048, 1);
    const TickView v = tickAfter();
    EXPECT_EQ(v.text(1000), "2.00 KB/s");
    EXPECT_EQ(log().find("Warp"), std::string::npos);
}

TEST_F(TickSamplerTest, SpeedBarRange_FollowsConSpeed) {
    table.set(0, 0);
    EXPECT_EQ(tickAfter().barMaximum, 16384u); // default 128 kbit/s units
    global->ConSpeed = 1;
    EXPECT_EQ(tickAfter().barMaximum, 128u);
    global->ConSpeed = 10240; // 10 Mbit/s
    EXPECT_EQ(tickAfter().barMaximum, 1310720u);
}

TEST_F(TickSamplerTest, LongPeriod_CaptionWrapsHoursButAveragesUseTheWholeSpan) {
    table.set(1000, 0);
    tickAfter(0);            // the first reading at the period start
    clock.nowValue += 90000; // 25 hours
    table.set(901000, 0);
    const TickView v = tickAfter(0);
    EXPECT_EQ(v.text(1020), "Traffic during last 1:00:00");
    EXPECT_EQ(v.text(1012), "Average Speeds during last 1:00:00");
    EXPECT_EQ(v.text(1001), "878.91 KB"); // 900000 / 1024
    EXPECT_EQ(v.text(1006), "10 B");      // 900000 / 90000
    EXPECT_EQ(v.text(1008), "10 B");
}

TEST_F(TickSamplerTest, ZeroLengthPeriod_AveragesAreZeroNotADivisionByZero) {
    table.set(1000, 0);
    const TickView v = tickAfter(0);
    EXPECT_EQ(v.text(1020), "Traffic during last 0:00:00");
    EXPECT_EQ(v.text(1006), "0 B");
}

TEST_F(TickSamplerTest, AdapterCountChange_GivesIdleTickWithNothingRead) {
    table.set(1000, 1000);
    tickAfter();
    table.count = 2;
    table.set(5000, 5000);
    TickView v = tickAfter();
    EXPECT_TRUE(v.adapterSetChanged);
    EXPECT_TRUE(v.adapterCountWasNonZero);
    EXPECT_EQ(v.text(1000), "");
    EXPECT_EQ(capture.lanOnly.size(), 1u); // the idle tick stops before the LAN-only flag
    EXPECT_EQ(events.calls.size(), 2u);    // and before the outage step

    sampler->setAdapterCount(2); // the window reloaded its list
    v = tickAfter();
    EXPECT_FALSE(v.adapterSetChanged);
    EXPECT_EQ(v.text(1000), "3.91 KB/s"); // 4000 B since the last reading

    sampler->setAdapterCount(0);
    table.count = 1;
    EXPECT_FALSE(tickAfter().adapterCountWasNonZero);
}

TEST_F(TickSamplerTest, CounterGoingBackwards_GivesNoPhantomTraffic) {
    table.set(10000000, 5000000);
    tickAfter();
    table.set(10001024, 5000000);
    tickAfter();
    table.set(4096, 0); // interface re-created: counters start again
    TickView v = tickAfter();
    EXPECT_EQ(v.receivedSpeed, 4096u);
    EXPECT_EQ(v.sentSpeed, 0u);
    EXPECT_EQ(v.text(1001), "5.00 KB"); // 1024 + 4096
    EXPECT_EQ(v.text(1003), "0 B");
    EXPECT_EQ(v.trayIcon, kTrayReceiving);

    table.rows.clear(); // adapter no longer found: zeros, not a wrap
    v = tickAfter();
    EXPECT_EQ(v.text(1000), "0 B/s");
    EXPECT_EQ(v.text(1001), "5.00 KB");
    EXPECT_EQ(v.text(1009), "0 B");
    EXPECT_EQ(v.text(1017), "00:00:00:00");
    table.set(20480, 0); // found again: the first reading is a new start
    v = tickAfter();
    EXPECT_EQ(v.text(1000), "0 B/s");
    EXPECT_EQ(v.text(1001), "5.00 KB");
}

TEST_F(TickSamplerTest, EveryTick_PassesLanOnlyAndRunsOutageThenProbe_SavesEverySixtieth) {
    global->LanOnly = 1;
    table.set(1, 1);
    for (int i = 0; i < 59; ++i)
        tickAfter();
    EXPECT_EQ(capture.saves, 0);
    tickAfter();
    EXPECT_EQ(capture.saves, 1);
    for (int i = 0; i < 60; ++i)
        tickAfter();
    EXPECT_EQ(capture.saves, 2);
    EXPECT_EQ(capture.lanOnly, std::vector<int>(120, 1));
    EXPECT_EQ(capture.addressRefreshes, 120); // temporary IPv6 addresses come and go

    events.calls.clear();
    table.set(301, 1);
    tickAfter();
    EXPECT_EQ(events.calls, (std::vector<std::string>{"outage 300", "probe"}));
}

TEST_F(TickSamplerTest, DurationFallsBackToProgramStart) {
    table.set(0, 0, 0); // the system cannot tell
    clock.nowValue += 86400 + 3600 + 60 + 1;
    EXPECT_EQ(sampler->tick().text(1017), "01:01:01:01");
    global->WinPCap = 1; // capture without Incremtotal never uses the connection time
    table.set(0, 0, 500);
    EXPECT_EQ(sampler->tick().text(1017), "01:01:01:01");
}

TEST_F(TickSamplerTest, NewPeriod_ByRestart_ZeroesTotalsAndFirstReading) {
    table.set(1000, 1000);
    tickAfter();
    table.set(3048, 1000);
    tickAfter();
    EXPECT_EQ(sampler->periodReceived(), 2048u);
    sampler->restartPeriod();
    table.set(5096, 1000);
    const TickView v = tickAfter();
    EXPECT_EQ(v.text(1001), "0 B");
    EXPECT_EQ(v.text(1000), "0 B/s");
}

TEST_F(TickSamplerTest, DroppedFramesReachTheTooltipAndTheLogOnceAMinute) {
    table.set(1000, 2000);
    TickView v = tickAfter();
    EXPECT_EQ(v.framesDropped, 0u);
    EXPECT_EQ(v.tooltip.find("Dropped"), std::string::npos); // nothing said while none
    EXPECT_EQ(log().find("dropped"), std::string::npos);

    capture.dropped = 17;
    v = tickAfter();
    EXPECT_EQ(v.framesDropped, 17u);
    EXPECT_NE(v.tooltip.find("Dropped : 17 frames"), std::string::npos) << v.tooltip;
    EXPECT_NE(log().find("Capture dropped 17 frames since start"), std::string::npos);

    capture.dropped = 30; // grows again within the minute: no second line yet
    for (int i = 0; i < 30; ++i)
        tickAfter();
    EXPECT_EQ(log().find("Capture dropped 30"), std::string::npos);
    for (int i = 0; i < 30; ++i)
        tickAfter();
    EXPECT_NE(log().find("Capture dropped 30 frames since start"), std::string::npos);

    for (int i = 0; i < 120; ++i)
        tickAfter(); // no growth: no line however long
    const std::string text = log();
    std::size_t lines = 0;
    for (std::size_t p = text.find("Capture dropped"); p != std::string::npos;
         p = text.find("Capture dropped", p + 1))
        ++lines;
    EXPECT_EQ(lines, 2u);
}

// The drop lines the log holds, in order, by their count.
std::vector<std::string> dropLines(const std::string& log) {
    std::vector<std::string> out;
    constexpr std::string_view kHead = "Capture dropped ";
    for (std::size_t p = log.find(kHead); p != std::string::npos; p = log.find(kHead, p + 1)) {
        const std::size_t start = p + kHead.size();
        out.push_back(log.substr(start, log.find(' ', start) - start));
    }
    return out;
}

TEST_F(TickSamplerTest, Exit_LogsTheDropTotalWheneverItGrewSinceTheLastLine) {
    struct Case {
        const char* name;
        std::vector<std::uint64_t> perTick; // the capture's count at each tick, one second apart
        std::uint64_t atExit;               // its count once the capture has stopped
        std::vector<std::string> lines;     // the drop counts the log holds afterwards
    };
    const Case cases[] = {
        {"no drops at all", {0, 0, 0}, 0, {}},
        {"told at a tick, no growth after", {0, 17, 17}, 17, {"17"}},
        {"grew within the minute after the line", {17, 30, 45}, 45, {"17", "45"}},
        {"only the last statistics dropped", {0, 0}, 5, {"5"}},
        {"a run too short for a tick", {}, 9, {"9"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(dir / "data/TN.log");
        capture.dropped = 0;
        sampler = std::make_unique<CTickSampler>(*global, clock, *counters, capture, &events);
        sampler->setAdapterCount(1);
        sampler->setAdapterName("eth0");
        sampler->start();
        table.set(1000, 2000);
        for (const std::uint64_t d : c.perTick) {
            capture.dropped = d;
            tickAfter();
        }
        capture.dropped = c.atExit;
        sampler->logFinalDrops();
        EXPECT_EQ(dropLines(log()), c.lines);
        sampler->logFinalDrops(); // a second call (shutdown runs once, but never twice a line)
        EXPECT_EQ(dropLines(log()), c.lines);
    }
}

} // namespace
} // namespace tn

namespace tn {
namespace {

TEST_F(TickSamplerTest, ADataPlanAddsItsLineToTheTooltip_NoPlanAddsNothing) {
    test::TzScope tz("UTC0");
    CDataPlanWatch watch(*global, clock);
    sampler->setTooltipLine([&] { return watch.step(capture.recordsValue); });
    clock.setLocal(2026, 3, 10, 12);
    capture.recordsValue.daysReceived[9][0] = 41ull << 30;
    capture.recordsValue.daysSent[8][0] = 1ull << 28;
    EXPECT_EQ(tickAfter().tooltip, "In : 0 B  Out : 0 B");
    global->PlanBytes = 50ull << 30;
    EXPECT_EQ(tickAfter().tooltip, "In : 0 B  Out : 0 B\nPlan: 41.2 GB of 50.0 GB (82%)");
}

// A move of the connection to another adapter: its counters are taken as they stand, so the
// period goes on without the jump between two adapters' totals; with capture totals added to
// the counters at the start, the new adapter's counters replace the old bases.
TEST_F(TickSamplerTest, SwitchingAdapters_GoesOnWithoutAJump) {
    struct Case {
        int winPCap;
        int incremtotal;
    };
    for (const Case& c : {Case{0, 0}, Case{1, 0}, Case{1, 1}}) {
        SCOPED_TRACE(c.winPCap * 10 + c.incremtotal);
        global->WinPCap = c.winPCap;
        global->Incremtotal = c.incremtotal;
        sampler->setAdapterName("eth0");
        table.rows = {InterfaceRow{"eth0", 1000, 1000, 0}, InterfaceRow{"wlan0", 90000, 90000, 0}};
        capture.rx = capture.tx = 200;
        sampler->restartPeriod();
        tickAfter();
        table.rows[0].inOctets += 300;
        capture.rx += 300;
        tickAfter();
        ASSERT_EQ(sampler->periodReceived(), 300u);
        sampler->switchAdapter("wlan0");
        table.rows[1].inOctets += 700;
        capture.rx += 700;
        const TickView v = tickAfter();
        EXPECT_EQ(v.receivedDelta, 700u);
        EXPECT_EQ(sampler->periodReceived(), 1000u);
    }
}

} // namespace
} // namespace tn

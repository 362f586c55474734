#include "stats/probe.h"

#include "app/global.h"
#include "support/fake_icmp.h"
#include "support/fake_platform.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <future>
#include <set>

namespace tn {
namespace {

class ProbeScheduleTest : public ::testing::Test {
protected:
    test::TzScope tz{"XST-5:30"}; // half-hour offset: the minutes must be local ones
    test::FakeClock clock;

    // Seconds of the local hour 10:00-10:59:59 on which a probe is due.
    std::vector<int> dueSeconds(std::int32_t fallSecs) {
        std::vector<int> due;
        clock.setLocal(2026, 3, 14, 10, 0, 0);
        for (int s = 0; s < 3600; ++s, clock.advance(1))
            if (probeSlotDue(fallSecs, clock))
                due.push_back(s);
        return due;
    }
};

TEST_F(ProbeScheduleTest, Twenty_ProbesOnEveryTenthSecondOfTheMinute) {
    const auto due = dueSeconds(20);
    EXPECT_EQ(due.size(), 360u);
    EXPECT_EQ(std::vector<int>(due.begin(), due.begin() + 7),
              (std::vector<int>{0, 10, 20, 30, 40, 50, 60}));
    EXPECT_EQ(due.back(), 3590);
}

TEST_F(ProbeScheduleTest, Fourteen_EverySevenSecondsWithShortGapBeforeTheHour) {
    const auto due = dueSeconds(14);
    EXPECT_EQ(due.size(), 515u); // 0, 7, ..., 3598
    EXPECT_EQ(std::vector<int>(due.begin(), due.begin() + 4), (std::vector<int>{0, 7, 14, 21}));
    EXPECT_EQ(std::vector<int>(due.end() - 2, due.end()), (std::vector<int>{3591, 3598}));
    clock.setLocal(2026, 3, 14, 11, 0, 0); // 2 seconds after the last slot
    EXPECT_TRUE(probeSlotDue(14, clock));
}

TEST_F(ProbeScheduleTest, ZeroOneAndNegative_ProbeEverySecond) {
    for (std::int32_t g : {0, 1, -1, -2, -3, -20, INT_MIN}) {
        EXPECT_EQ(probeSlotSeconds(g), 1) << g;
        EXPECT_EQ(dueSeconds(g).size(), 3600u) << g;
    }
}

TEST_F(ProbeScheduleTest, IntervalBeyondAnHour_OnlySecondZero) {
    EXPECT_EQ(dueSeconds(8000), std::vector<int>{0});
}

TEST(ProbeText, SuccessAndFailureTexts) {
    EchoReply r;
    r.address = {{198, 18, 3, 40}};
    r.rttMs = 7;
    EXPECT_EQ(probeSuccessText(r, "gw.example"),
              "198.18.3.40 [gw.example], replied in RTT:7ms\n\r");
    EXPECT_EQ(probeFailureText({ETIMEDOUT, "Connection timed out"}),
              "Failed in ping specified host, GetLastError returns: 110 \r\nConnection timed out");
}

class ProbeTest : public ::testing::Test {
protected:
    test::FakeClock clock;
    test::FakeIcmpFactory icmp{clock};
};

TEST_F(ProbeTest, Procedure_SilentReportsNothing_InteractiveReportsText) {
    std::vector<std::string> texts;
    auto collect = [&](std::string t) { texts.push_back(std::move(t)); };
    EXPECT_EQ(runProbe(&icmp, clock, "198.18.0.9", true, collect), 1);
    EXPECT_TRUE(texts.empty());
    EXPECT_EQ(runProbe(&icmp, clock, "198.18.0.9", false, collect), 0);
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0], "Failed in ping specified host, GetLastError returns: 110 \r\n"
                        "Connection timed out");
    // The program's own parameters: 44-byte request, 5000 ms waits.
    EXPECT_EQ(icmp.script.sent.size(), 44u);
    EXPECT_EQ(icmp.script.waitTimeouts.back(), 5000u);
}

TEST_F(ProbeTest, Procedure_WithoutIcmpOnTheSystem_ReportsItsAbsence) {
    std::string text;
    runProbe(nullptr, clock, "198.18.0.9", false, [&](std::string t) { text = std::move(t); });
    EXPECT_EQ(text, "Failed in ping specified host, GetLastError returns: 38 \r\n"
                    "Function not implemented");
}

TEST_F(ProbeTest, Start_RunsOnAWorkerAndDeliversToTheCallback) {
    std::promise<std::pair<std::string, std::thread::id>> result;
    CProbe probe(&icmp, clock);
    probe.start("", false, [&](std::string t) {
        result.set_value({std::move(t), std::this_thread::get_id()});
    });
    const auto [text, thread] = result.get_future().get();
    EXPECT_NE(thread, std::this_thread::get_id());
    EXPECT_EQ(text, "Failed in ping specified host, GetLastError returns: 110 \r\n"
                    "Connection timed out");
    EXPECT_EQ(icmp.resolvedHosts(), std::vector<std::string>{""});
}

TEST_F(ProbeTest, Destruction_CancelsWaitingProbesWithoutReporting) {
    icmp.script.blockUntilStop = true;
    bool called = false;
    {
        CProbe probe(&icmp, clock);
        probe.start("198.18.0.2", false, [&](std::string) { called = true; });
    }
    EXPECT_FALSE(called);
}

class ProbeSchedulerStepTest : public ProbeTest {
protected:
    test::FakePlatform fake;
    CGlobal global{services()};
    PlatformServices services() {
        PlatformServices s = fake.services();
        s.clock = &clock; // the probe's own clock
        return s;
    }
    std::vector<std::string> stepAt(int second) {
        {
            test::TzScope tz{"UTC"};
            clock.setLocal(2026, 1, 1, 5, 0, second);
            CProbe probe(&icmp, clock);
            probeSchedulerStep(global, clock, probe);
        }
        return icmp.resolvedHosts();
    }
};

TEST_F(ProbeSchedulerStepTest, StartsASilentProbeOnlyWhenOnWithAHostAndDue) {
    global.FallSecs = 20;
    global.HostToPing = "198.18.0.5";
    global.PingHost = 0;
    EXPECT_TRUE(stepAt(10).empty());
    global.PingHost = 1;
    global.HostToPing = "";
    EXPECT_TRUE(stepAt(10).empty());
    global.HostToPing = "198.18.0.5";
    EXPECT_TRUE(stepAt(11).empty());
    EXPECT_EQ(stepAt(20), std::vector<std::string>{"198.18.0.5"});
}

} // namespace
} // namespace tn

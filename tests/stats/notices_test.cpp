#include "stats/notices.h"

#include "app/global.h"
#include "platform/notifier.h"
#include "stats/data_plan.h"
#include "stats/outage_detector.h"
#include "support/fake_platform.h"

#include <gtest/gtest.h>

namespace tn {
namespace {

class FakeNotifier final : public INotifier {
public:
    std::vector<std::string> shown;
    bool service = true;
    bool notify(const std::string& summary, const std::string& body) override {
        if (service)
            shown.push_back(summary + ": " + body);
        return service;
    }
};

struct QuietStatus : IOutageStatus {
    void setStatusPicture(int) override {}
    void setStatusText(const std::string&) override {}
    void showFileError(const std::string&) override {}
};

class NoticesTest : public ::testing::Test {
protected:
    test::TzScope tz{"CET-1CEST,M3.5.0,M10.5.0/3"};
    test::FakePlatform fake;
    test::FakeClock& clock = fake.clock;
    CGlobal global{fake.services()};
    QuietStatus status;
    FakeNotifier notifier;
    CNotices notices{global, clock, &notifier};
    COutageDetector detector{global, clock, status};

    void SetUp() override {
        global.LogFalls = 1;
        global.FallSecs = 20;
        global.NotifyFalls = 1;
        detector.setNotices(&notices);
        clock.setLocal(2026, 6, 2, 14, 1, 50);
    }
    void ticks(int n, std::uint64_t incoming) {
        for (int i = 0; i < n; ++i) {
            clock.advance(1);
            detector.step(incoming, 1);
        }
    }
};

TEST_F(NoticesTest, AnOutageIsToldWhenItPassesTheThresholdAndWhenDataComesBack) {
    ticks(3, 500);
    // Silent from 14:01:54; the detector starts the outage with the second silent tick
    // (14:01:55), so 21 ticks reach the threshold and are not yet an outage.
    ticks(21, 0);
    EXPECT_TRUE(notices.outageBeganText(clock, 0).starts_with("No data received since"));
    EXPECT_TRUE(notifier.shown.empty());
    ticks(1, 0);
    ASSERT_EQ(notifier.shown.size(), 1u);
    EXPECT_EQ(notifier.shown[0], "Tallynet: No data received since 14:01");
    ticks(170, 0); // still silent: told once
    EXPECT_EQ(notifier.shown.size(), 1u);
    ticks(1, 700); // at 14:05:06, 191 seconds after the outage's start
    ASSERT_EQ(notifier.shown.size(), 2u);
    EXPECT_EQ(notifier.shown[1], "Tallynet: Data again after 00:03:11");
    ticks(5, 700);
    // A short silence is no outage and tells nothing.
    ticks(10, 0);
    ticks(1, 10);
    EXPECT_EQ(notifier.shown.size(), 2u);
}

TEST_F(NoticesTest, OffByDefault_AndNothingWithoutANotifier) {
    CGlobal fresh{fake.services()};
    fresh.loadSettings();
    EXPECT_EQ(fresh.NotifyFalls, 0);
    EXPECT_EQ(fresh.NotifyPlan, 0);
    global.NotifyFalls = 0;
    ticks(1, 5);
    ticks(30, 0);
    ticks(1, 5);
    EXPECT_TRUE(notifier.shown.empty());
    // No service at all: the detector goes on as before and logs the outage.
    CNotices none(global, clock, nullptr);
    detector.setNotices(&none);
    global.NotifyFalls = 1;
    global.NotifyPlan = 1;
    ticks(30, 0);
    ticks(1, 5);
    none.plan("Data plan at 80%", "x");
    EXPECT_TRUE(notifier.shown.empty());
}

TEST_F(NoticesTest, ThePlansNoticesGoThroughTheSameNotifierWhenSwitchedOn) {
    CDataPlanWatch watch(global, clock);
    watch.setNotify([this](const std::string& s, const std::string& b) { notices.plan(s, b); });
    global.PlanBytes = 1000;
    StatRecords r;
    r.daysReceived[1][0] = 900; // 2 June
    global.NotifyPlan = 1;
    watch.step(r);
    ASSERT_EQ(notifier.shown.size(), 1u);
    EXPECT_EQ(notifier.shown[0], "Data plan at 80%: Plan: 900.0 B of 1000.0 B (90%)");
    global.NotifyPlan = 0;
    r.daysReceived[1][0] = 1000;
    watch.step(r);
    EXPECT_EQ(notifier.shown.size(), 1u);
}

} // namespace
} // namespace tn

#include "stats/data_plan.h"

#include "app/global.h"
#include "stats/report.h"
#include "support/fake_clock.h"
#include "support/fake_platform.h"
#include "support/file_bytes.h"

#include <gtest/gtest.h>

namespace tn {
namespace {

CivilDate date(int y, int m, int d) {
    return CivilDate{y, m, d};
}

std::string text(const CivilDate& d) {
    char b[16];
    std::snprintf(b, sizeof b, "%04d-%02d-%02d", d.year, d.month, d.day);
    return b;
}

TEST(DataPlanTest, PlanMonthsStartOnTheirDayOrOnTheLastDayOfAShorterMonth) {
    struct Case {
        CivilDate today;
        int startDay;
        const char* first;
        const char* next;
    };
    for (const Case& c : {
             Case{date(2026, 1, 31), 31, "2026-01-31", "2026-02-28"},
             Case{date(2026, 2, 27), 31, "2026-01-31", "2026-02-28"},
             Case{date(2026, 2, 28), 31, "2026-02-28", "2026-03-31"},
             Case{date(2026, 3, 30), 31, "2026-02-28", "2026-03-31"},
             Case{date(2026, 3, 31), 31, "2026-03-31", "2026-04-30"},
             Case{date(2026, 4, 30), 31, "2026-04-30", "2026-05-31"},
             Case{date(2024, 2, 28), 31, "2024-01-31", "2024-02-29"}, // a leap year
             Case{date(2024, 2, 29), 30, "2024-02-29", "2024-03-30"},
             Case{date(2026, 12, 31), 31, "2026-12-31", "2027-01-31"},
             Case{date(2027, 1, 5), 31, "2026-12-31", "2027-01-31"},
             Case{date(2026, 1, 1), 1, "2026-01-01", "2026-02-01"},
             Case{date(2026, 1, 14), 15, "2025-12-15", "2026-01-15"},
             Case{date(2026, 3, 1), 29, "2026-02-28", "2026-03-29"},
         }) {
        const PlanPeriod p = planPeriod(c.today, c.startDay);
        EXPECT_EQ(text(p.first), c.first) << text(c.today) << " day " << c.startDay;
        EXPECT_EQ(text(p.next), c.next) << text(c.today) << " day " << c.startDay;
    }
}

class DataPlanStatusTest : public ::testing::Test {
protected:
    test::TzScope tz{"CET-1CEST,M3.5.0,M10.5.0/3"};
    test::FakeClock clock;
    StatRecords records;
    static constexpr std::uint64_t kGB = 1ull << 30;

    void day(int d, std::uint64_t received, std::uint64_t sent = 0) {
        records.daysReceived[static_cast<std::size_t>(d - 1)][0] = received;
        records.daysSent[static_cast<std::size_t>(d - 1)][4] = sent;
    }
    PlanStatus at(int y, int m, int d, int h, const DataPlan& plan, PlanCarry carry = {}) {
        clock.setLocal(y, m, d, h);
        return planStatus(plan, records, clock, clock.now(), carry);
    }
};

TEST_F(DataPlanStatusTest, APlanOnThe31stAcrossFebruary_UseDaysLeftAndProjection) {
    DataPlan plan;
    plan.allowanceBytes = 50 * kGB;
    plan.startDay = 31;
    // The plan month from 31 January to 27 February: 28 days, 1 GB a day up to noon of the
    // 14th, the 14th's own gigabyte counted.
    day(31, kGB);
    for (int d = 1; d <= 14; ++d)
        day(d, kGB);
    day(15, 9 * kGB); // the 15th of last month, in the ring after today: not this plan month's
    const PlanStatus s = at(2026, 2, 14, 12, plan);
    ASSERT_TRUE(s.active);
    EXPECT_EQ(text(s.period.first), "2026-01-31");
    EXPECT_EQ(s.used, 15 * kGB);
    EXPECT_EQ(s.daysLeft, 14); // the 14th to the 27th
    // 15 GB in 14.5 days of 28: 28.97 GB at the end.
    EXPECT_NEAR(static_cast<double>(s.projected) / kGB, 15.0 * 28 / 14.5, 1e-6);
    EXPECT_EQ(s.percent, 30);
    EXPECT_EQ(s.level, PlanLevel::Below);
    EXPECT_EQ(planTooltipLine(s), "Plan: 15.0 GB of 50.0 GB (30%)");
    EXPECT_EQ(planPeriodText(s.period), "2026-01-31 to 2026-02-27");

    // Download only leaves the sent bytes out.
    day(3, kGB, 4 * kGB);
    EXPECT_EQ(at(2026, 2, 14, 12, plan).used, 19 * kGB);
    plan.downloadOnly = true;
    EXPECT_EQ(at(2026, 2, 14, 12, plan).used, 15 * kGB);
}

TEST_F(DataPlanStatusTest, AMonthStartingOnThe28thOfFebruaryKeepsItsFirstDayWhenTheRingReusesIt) {
    DataPlan plan;
    plan.allowanceBytes = 10 * kGB;
    plan.startDay = 31;
    const std::int64_t feb28 = daysFromCivil(date(2026, 2, 28));
    // 28 March: the ring's 28th now holds March's; February's 28th comes from the carry.
    for (int d = 1; d <= 28; ++d)
        day(d, kGB / 4);
    day(28, kGB); // today, 28 March
    const PlanStatus withCarry = at(2026, 3, 28, 23, plan, PlanCarry{feb28, 2 * kGB});
    EXPECT_EQ(text(withCarry.period.first), "2026-02-28");
    EXPECT_EQ(withCarry.used, 27 * (kGB / 4) + kGB + 2 * kGB);
    // A carry of another plan month does not count.
    EXPECT_EQ(at(2026, 3, 28, 23, plan, PlanCarry{feb28 - 28, 2 * kGB}).used, 27 * (kGB / 4) + kGB);
    // Before the 28th comes round, the ring's 28th is February's and the carry plays no part.
    day(28, 2 * kGB);
    EXPECT_EQ(at(2026, 3, 27, 23, plan, PlanCarry{feb28, 5 * kGB}).used, 2 * kGB + 27 * (kGB / 4));
    EXPECT_EQ(at(2026, 3, 27, 23, plan).daysLeft, 4); // 27th to 30th
}

TEST_F(DataPlanStatusTest, WarningAndFullAreReachedOnTheBytesNotOnRoundedPercents) {
    DataPlan plan;
    plan.allowanceBytes = 1000;
    plan.startDay = 1;
    plan.warnPercent = 80;
    struct Case {
        std::uint64_t used;
        PlanLevel level;
        int percent;
    };
    for (const Case& c : {Case{799, PlanLevel::Below, 79}, Case{800, PlanLevel::Warning, 80},
                          Case{999, PlanLevel::Warning, 99}, Case{1000, PlanLevel::Full, 100},
                          Case{2500, PlanLevel::Full, 250}}) {
        records = {};
        day(1, c.used);
        const PlanStatus s = at(2026, 2, 1, 10, plan);
        EXPECT_EQ(s.level, c.level) << c.used;
        EXPECT_EQ(s.percent, c.percent) << c.used;
    }
    // The first hour of a month projects as if an hour had passed, not a flood.
    records = {};
    day(1, 100);
    clock.setLocal(2026, 2, 1, 0, 1);
    EXPECT_EQ(planStatus(plan, records, clock, clock.now(), {}).projected, 100u * 28 * 24);
    plan.allowanceBytes = 0;
    EXPECT_FALSE(at(2026, 2, 1, 10, plan).active);
    EXPECT_EQ(planTooltipLine(at(2026, 2, 1, 10, plan)), "");
}

TEST_F(DataPlanStatusTest, ProjectionAcrossTheDaylightSavingChangeUsesRealSeconds) {
    DataPlan plan;
    plan.allowanceBytes = 100 * kGB;
    plan.startDay = 15;
    day(15, 10 * kGB);
    // 15 March to 14 April: 31 days less the hour summer time takes. Noon of the 15th is
    // 12 hours in.
    const PlanStatus s = at(2026, 3, 15, 12, plan);
    EXPECT_EQ(s.projected, static_cast<std::uint64_t>(10.0L * kGB * (31 * 24 - 1) / 12));
}

TEST(DataPlanFormatTest, OneDecimalInBinaryUnits) {
    struct Case {
        std::uint64_t bytes;
        const char* text;
    };
    for (const Case& c :
         {Case{0, "0.0 B"}, Case{1023, "1023.0 B"}, Case{1024, "1.0 KB"}, Case{1536, "1.5 KB"},
          Case{(41ull << 30) + (1ull << 28), "41.2 GB"}, Case{~0ull, "16.0 EB"}})
        EXPECT_EQ(formatPlanBytes(c.bytes), c.text);
}

class DataPlanWatchTest : public ::testing::Test {
protected:
    test::TzScope tz{"UTC0"};
    test::FakePlatform fake;
    PlatformServices os = fake.services();
    CGlobal global{os};
    CDataPlanWatch watch{global, fake.clock};
    StatRecords records;
    std::vector<std::string> notices;

    void SetUp() override {
        global.loadSettings();
        global.PlanBytes = 1000;
        global.PlanDay = 31;
        global.NotifyPlan = 1;
        watch.setNotify([this](const std::string& summary, const std::string& body) {
            notices.push_back(summary + " | " + body);
        });
    }
    void used(int d, std::uint64_t bytes) {
        records.daysReceived[static_cast<std::size_t>(d - 1)][0] = bytes;
    }
};

TEST_F(DataPlanWatchTest, WarnsAndTellsFullOncePerPlanMonth_AndAgainInTheNext) {
    fake.clock.setLocal(2026, 2, 10, 12);
    used(10, 700);
    EXPECT_EQ(watch.step(records), "Plan: 700.0 B of 1000.0 B (70%)");
    EXPECT_TRUE(notices.empty());
    used(10, 850);
    watch.step(records);
    watch.step(records);
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0], "Data plan at 80% | Plan: 850.0 B of 1000.0 B (85%)");
    used(11, 200);
    fake.clock.setLocal(2026, 2, 11, 9);
    watch.step(records);
    watch.step(records);
    ASSERT_EQ(notices.size(), 2u);
    EXPECT_EQ(notices[1], "Data plan used up | Plan: 1.0 KB of 1000.0 B (105%)");
    // Remembered in the settings: a restart tells nothing again.
    CGlobal again(os);
    again.loadSettings();
    EXPECT_EQ(again.PlanFull, daysFromCivil(CivilDate{2026, 1, 31}));
    // The next plan month, from 28 February.
    records = {};
    used(28, 900);
    fake.clock.setLocal(2026, 2, 28, 20);
    watch.step(records);
    ASSERT_EQ(notices.size(), 3u);
    EXPECT_EQ(notices[2].substr(0, 16), "Data plan at 80%");
}

TEST_F(DataPlanWatchTest, KeepsTheFirstDaysCountBeforeTheRingReusesIt_NoticesOffTellNothing) {
    global.NotifyPlan = 0;
    used(28, 600); // 28 February, the plan month's first day
    fake.clock.setLocal(2026, 2, 28, 23);
    watch.step(records);
    EXPECT_EQ(global.PlanFirst, -1); // the day is not over
    fake.clock.setLocal(2026, 3, 1, 8);
    used(1, 100);
    watch.step(records);
    EXPECT_EQ(global.PlanFirst, daysFromCivil(CivilDate{2026, 2, 28}));
    EXPECT_EQ(global.PlanFirstBytes, 600u);
    // 28 March: the ring's 28th is March's now.
    used(28, 50);
    fake.clock.setLocal(2026, 3, 28, 8);
    EXPECT_EQ(watch.status(records).used, 600u + 100u + 50u);
    EXPECT_EQ(watch.step(records), "Plan: 750.0 B of 1000.0 B (75%)");
    used(2, 300);
    watch.step(records);
    EXPECT_TRUE(notices.empty());
    EXPECT_EQ(global.PlanWarned, -1); // not told, so not marked
}

TEST_F(DataPlanWatchTest, TheReportShowsThePlanOfTheSettingsFile_NoPlanShowsNothing) {
    fake.clock.setLocal(2026, 2, 14, 12);
    StatRecords r;
    r.daysReceived[13][0] = 41ull << 30;
    r.daysSent[12][0] = 1ull << 28;
    r.daysReceived[30][0] = 7ull << 30; // 31 January: before a plan month from the 1st
    const auto bytes = encodeStatFile(r, fake.clock.now());
    std::filesystem::create_directories(fake.dataFile("x").parent_path());
    test::writeText(fake.dataFile("stat.dat"), std::string(bytes.begin(), bytes.end()));
    const auto conf = fake.paths.configDirectory() / "Tallynet.conf";
    std::filesystem::create_directories(conf.parent_path());
    test::writeText(conf, "[SetariGenerale]\nPlanBytes=53687091200\nPlanWarn=80\n");
    std::string out, err;
    ASSERT_EQ(runReport(os, ReportOptions{false, false}, "1", out, err), 0) << err;
    EXPECT_NE(out.find("Data plan               2026-02-01 to 2026-02-28\n"
                       "  Used                  41.2 GB (82%)\n"
                       "  Allowance             50.0 GB\n"
                       "  Days left             15\n"),
              std::string::npos)
        << out;
    ASSERT_EQ(runReport(os, ReportOptions{true, false}, "1", out, err), 0) << err;
    EXPECT_NE(out.find(",\"plan\":{\"first\":\"2026-02-01\",\"last\":\"2026-02-28\","
                       "\"downloadOnly\":false,\"used\":44291850240,\"allowance\":53687091200,"
                       "\"percent\":82,\"daysLeft\":15,"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("\"level\":\"warning\"}}\n"), std::string::npos) << out;
    test::writeText(conf, "[SetariGenerale]\nPlanBytes=0\n");
    ASSERT_EQ(runReport(os, ReportOptions{true, false}, "1", out, err), 0) << err;
    EXPECT_EQ(out.find("plan"), std::string::npos);
    ASSERT_EQ(runReport(os, ReportOptions{false, false}, "1", out, err), 0) << err;
    EXPECT_EQ(out.find("Data plan"), std::string::npos);
}

} // namespace
} // namespace tn

#include "support/file_bytes.h"
#include "support/ip_stat_fixture.h"

#include <set>

namespace tn {
namespace {

// Central European rules, so that one case can cross the spring change (2026-03-29).
class StaleClearingTest : public test::IPStatFixture {
protected:
    StaleClearingTest() : IPStatFixture("CET-1CEST,M3.5.0,M10.5.0/3") {}

    std::int64_t local(int y, int mo, int d, int h, int mi) {
        return clock.fromLocal(LocalTime{y, mo, d, h, mi, 0, -1}).value();
    }

    // Every counter of every record is 1 in a file saved at `saved`; start at `now`.
    void start(std::int64_t saved, std::int64_t now) {
        StatRecords ones;
        for (auto* a : {&ones.daysReceived, &ones.daysSent})
            for (auto& r : *a)
                r.fill(1);
        for (auto* a : {&ones.monthsReceived, &ones.monthsSent})
            for (auto& r : *a)
                r.fill(1);
        const auto bytes = encodeStatFile(ones, saved);
        test::writeText(fake.dataFile("stat.dat"), std::string(bytes.begin(), bytes.end()));
        clock.nowValue = now;
        ASSERT_EQ(stat->initialise(-1), 1);
    }

    void expectCleared(const std::set<int>& days, const std::set<int>& months) {
        for (int d = 1; d <= 31; ++d)
            EXPECT_EQ(stat->dayTotal(d), days.count(d) ? 0u : 22u) << "day " << d;
        for (int m = 1; m <= 12; ++m)
            EXPECT_EQ(stat->monthTotal(m), months.count(m) ? 0u : 22u) << "month " << m;
    }
};

TEST_F(StaleClearingTest, ThirtyThreeHoursLaterOnlyTodayIsCleared) {
    start(local(2026, 6, 3, 23, 0), local(2026, 6, 5, 8, 0));
    expectCleared({5}, {});
}

TEST_F(StaleClearingTest, AMonthAndTwoDaysLaterTheDaysBetweenAndTwoMonthsAreCleared) {
    start(local(2026, 1, 30, 10, 0), local(2026, 3, 2, 10, 0));
    std::set<int> days = {31};
    for (int d = 1; d <= 28; ++d)
        days.insert(d);
    expectCleared(days, {2, 3});
}

TEST_F(StaleClearingTest, SaveTimeAfterNowClearsOnlyADifferentToday) {
    start(local(2026, 6, 10, 12, 0), local(2026, 6, 8, 12, 0));
    expectCleared({8}, {});
    start(local(2026, 6, 8, 18, 0), local(2026, 6, 8, 12, 0));
    expectCleared({}, {});
}

TEST_F(StaleClearingTest, ElapsedTimeAcrossTheSpringChangeIsCountedInRealSeconds) {
    // 23:30 winter time to 00:15 summer time two calendar days later is 23 h 45 min: n = 0, so
    // only the new day itself is cleared and the 29th keeps what it held.
    start(local(2026, 3, 28, 23, 30), local(2026, 3, 30, 0, 15));
    expectCleared({30}, {});
}

TEST_F(StaleClearingTest, NoFileClearsEverythingAndAWildSaveTimeToo) {
    clock.nowValue = local(2026, 6, 8, 12, 0);
    ASSERT_EQ(stat->initialise(-1), 1);
    std::set<int> all;
    for (int d = 1; d <= 31; ++d)
        all.insert(d);
    expectCleared(all, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12});
    start(std::numeric_limits<std::int64_t>::min(), local(2026, 6, 8, 12, 0));
    expectCleared(all, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12});
}

} // namespace
} // namespace tn

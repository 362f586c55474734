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

    // Records in `skip` were counted into and are not looked at.
    void expectCleared(const std::set<int>& days, const std::set<int>& months,
                       const std::set<int>& skipDays = {}, const std::set<int>& skipMonths = {}) {
        for (int d = 1; d <= 31; ++d) {
            if (skipDays.count(d))
                continue;
            EXPECT_EQ(stat->dayTotal(d), days.count(d) ? 0u : 22u) << "day " << d;
        }
        for (int m = 1; m <= 12; ++m) {
            if (skipMonths.count(m))
                continue;
            EXPECT_EQ(stat->monthTotal(m), months.count(m) ? 0u : 22u) << "month " << m;
        }
    }
};

TEST_F(StaleClearingTest, EveryCalendarDayAfterTheSaveIsClearedHoweverFewHoursPassed) {
    // 33 hours, but two dates later: the 4th went by without being counted.
    start(local(2026, 6, 3, 23, 0), local(2026, 6, 5, 8, 0));
    expectCleared({4, 5}, {});
    // Nine hours, across the end of a month: the new month starts empty.
    start(local(2026, 1, 31, 23, 0), local(2026, 2, 1, 8, 0));
    expectCleared({1}, {2});
    // And across the end of a year.
    start(local(2026, 12, 31, 23, 0), local(2027, 1, 1, 8, 0));
    expectCleared({1}, {1});
}

TEST_F(StaleClearingTest, AMonthAndTwoDaysLaterTheDaysBetweenAndTwoMonthsAreCleared) {
    start(local(2026, 1, 30, 10, 0), local(2026, 3, 2, 10, 0));
    std::set<int> days = {31};
    for (int d = 1; d <= 28; ++d)
        days.insert(d);
    expectCleared(days, {2, 3});
}

TEST_F(StaleClearingTest, SaveTimeAfterNowClearsNothing) {
    // The clock was set back since the save: the 8th and June hold this cycle's counts.
    start(local(2026, 6, 10, 12, 0), local(2026, 6, 8, 12, 0));
    expectCleared({}, {});
    start(local(2026, 6, 8, 18, 0), local(2026, 6, 8, 12, 0));
    expectCleared({}, {});
    start(local(2026, 7, 2, 1, 0), local(2026, 6, 30, 23, 0));
    expectCleared({}, {});
}

TEST_F(StaleClearingTest, AYearOrMoreLaterEveryRecordIsCleared) {
    std::set<int> all;
    for (int d = 1; d <= 31; ++d)
        all.insert(d);
    // Less than 365 days in seconds, but the same month of the next year.
    start(local(2025, 6, 20, 12, 0), local(2026, 6, 1, 8, 0));
    expectCleared(all, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12});
    // Eleven months later: the month of the save keeps its counts.
    start(local(2025, 7, 20, 12, 0), local(2026, 6, 1, 8, 0));
    expectCleared(all, {1, 2, 3, 4, 5, 6, 8, 9, 10, 11, 12});
}

TEST_F(StaleClearingTest, ElapsedTimeAcrossTheSpringChangeIsCountedInRealSeconds) {
    // 23:30 winter time to 00:15 summer time two calendar days later is only 23 h 45 min, but
    // the 29th was not counted: it is cleared with the 30th.
    start(local(2026, 3, 28, 23, 30), local(2026, 3, 30, 0, 15));
    expectCleared({29, 30}, {});
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

// The resume after sleep: a save on the way into sleep, Initialise on the way out.
TEST_F(StaleClearingTest, InitialiseAfterSleepClearsTheDaysSleptThroughDespiteItsOwnSave) {
    start(local(2026, 6, 5, 10, 0), local(2026, 6, 5, 22, 0));
    select();
    clock.nowValue = local(2026, 6, 5, 22, 30);
    feed(test::ethernetFrame(tcp(kSelf, 5000, kRemote, 80, 100)));
    clock.nowValue = local(2026, 6, 5, 23, 0);
    stat->save();
    clock.nowValue = local(2026, 6, 9, 8, 0);
    stat->stopCapture();
    ASSERT_EQ(stat->initialise(-1), 1);
    EXPECT_EQ(stat->dayRecord(Direction::Sent, 5, kWeb), 101u);
    expectCleared({6, 7, 8, 9}, {}, {5}, {6});

    // The counts of the 9th survive another Initialise on the same day: nothing is cleared twice.
    select();
    feed(test::ethernetFrame(tcp(kSelf, 5000, kRemote, 80, 40)));
    clock.nowValue = local(2026, 6, 9, 20, 0);
    stat->stopCapture();
    ASSERT_EQ(stat->initialise(-1), 1);
    EXPECT_EQ(stat->dayRecord(Direction::Sent, 9, kWeb), 40u);
}

// A save on a day without any frame yet must not make that day look counted.
TEST_F(StaleClearingTest, SaveBeforeTheFirstFrameOfTheDayDoesNotProtectItsStaleRecord) {
    start(local(2026, 6, 5, 10, 0), local(2026, 6, 5, 22, 0));
    select();
    clock.nowValue = local(2026, 6, 5, 23, 0);
    feed(test::ethernetFrame(tcp(kSelf, 5000, kRemote, 80, 100)));
    clock.nowValue = local(2026, 6, 6, 0, 30);
    stat->save(); // a minute-save after midnight on an idle line
    clock.nowValue = local(2026, 6, 6, 9, 0);
    stat->stopCapture();
    ASSERT_EQ(stat->initialise(-1), 1);
    expectCleared({6}, {}, {5}, {6});
}

} // namespace
} // namespace tn

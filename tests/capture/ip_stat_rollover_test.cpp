#include "support/ip_stat_fixture.h"

namespace tn {
namespace {

using test::ethernetFrame;

class RollOverTest : public test::IPStatFixture {
protected:
    explicit RollOverTest(const char* tz = "UTC0") : IPStatFixture(tz) {}
    void SetUp() override {
        IPStatFixture::SetUp();
        select();
    }
    // Counts go in units of one 40-byte segment, which the frame really carries.
    static constexpr std::uint16_t kUnit = 40;
    void sendWeb(std::uint16_t units) {
        feed(ethernetFrame(
            tcp(kSelf, 5000, kRemote, 80, static_cast<std::uint16_t>(units * kUnit))));
    }
    std::uint64_t day(int d) const { return stat->dayRecord(Direction::Sent, d, kWeb) / kUnit; }
    std::uint64_t month(int m) const { return stat->monthRecord(Direction::Sent, m, kWeb) / kUnit; }
    // Old counts in every day and month record, as an earlier cycle leaves them.
    void fill(std::uint64_t v) {
        StatRecords r = stat->snapshot();
        for (auto& rec : r.daysSent)
            rec[kWeb] = v * kUnit;
        for (auto& rec : r.monthsSent)
            rec[kWeb] = v * kUnit;
        stat->restore(r);
    }
};

TEST_F(RollOverTest, FirstFrameAfterMidnightOnTheFirstClearsDayAndMonth) {
    clock.setLocal(2027, 1, 31, 23, 59, 59);
    sendWeb(10);
    fill(1000); // last year's 1st and February
    sendWeb(10);
    ASSERT_EQ(day(1), 1000u);
    ASSERT_EQ(month(2), 1000u);
    ASSERT_EQ(day(31), 1010u);

    clock.advance(1);
    sendWeb(7);
    EXPECT_EQ(day(1), 7u);
    EXPECT_EQ(month(2), 7u);
    EXPECT_EQ(day(31), 1010u);
    EXPECT_EQ(month(1), 1010u);
    clock.advance(3600);
    sendWeb(1);
    EXPECT_EQ(day(1), 8u);
    EXPECT_EQ(month(2), 8u);
}

TEST_F(RollOverTest, ClockSetBackOrForward) {
    clock.setLocal(2026, 3, 17, 10, 0, 0);
    sendWeb(5);
    clock.setLocal(2026, 3, 17, 8, 0, 0); // back within the day: nothing is cleared
    sendWeb(3);
    EXPECT_EQ(day(17), 8u);

    clock.setLocal(2026, 3, 18, 8, 0, 0);
    sendWeb(4);
    EXPECT_EQ(day(18), 4u);
    clock.setLocal(2026, 3, 17, 23, 0, 0); // back into the day before: it keeps its counts
    sendWeb(2);
    EXPECT_EQ(day(17), 10u);
    EXPECT_EQ(month(3), 14u);
    clock.setLocal(2026, 3, 18, 0, 0, 30); // forward again: the 18th was started already
    sendWeb(1);
    EXPECT_EQ(day(18), 5u);
    EXPECT_EQ(day(17), 10u);

    clock.setLocal(2026, 5, 2, 9, 0, 0); // forward by weeks
    sendWeb(6);
    EXPECT_EQ(day(2), 6u);
    EXPECT_EQ(month(5), 6u);
    EXPECT_EQ(month(3), 15u);
}

TEST_F(RollOverTest, ClockSetBackAcrossAMonthEndClearsNeitherDayNorMonth) {
    clock.setLocal(2026, 3, 31, 12, 0, 0);
    sendWeb(5);
    clock.setLocal(2026, 4, 1, 0, 10, 0);
    sendWeb(7);
    clock.setLocal(2026, 3, 31, 23, 55, 0); // a synchronisation step back over midnight
    sendWeb(3);
    EXPECT_EQ(day(31), 8u);
    EXPECT_EQ(month(3), 8u);
    EXPECT_EQ(day(1), 7u);
    EXPECT_EQ(month(4), 7u);
    clock.setLocal(2026, 4, 1, 0, 0, 5);
    sendWeb(1);
    EXPECT_EQ(day(1), 8u);
    EXPECT_EQ(month(4), 8u);
    clock.setLocal(2026, 4, 2, 0, 0, 5); // the next new day is cleared as usual
    sendWeb(2);
    EXPECT_EQ(day(2), 2u);
    EXPECT_EQ(month(4), 10u);
}

TEST_F(RollOverTest, ClockSetBackByMonthsStartsTheCycleAgainFromTheDateShown) {
    clock.setLocal(2026, 10, 10, 12, 0, 0);
    sendWeb(5);
    clock.setLocal(2026, 10, 11, 12, 0, 0);
    sendWeb(50);
    clock.setLocal(2026, 8, 10, 12, 0, 0); // two months back: nothing is cleared now
    sendWeb(3);
    EXPECT_EQ(day(10), 8u);
    EXPECT_EQ(month(8), 3u);
    EXPECT_EQ(month(10), 55u);
    clock.setLocal(2026, 8, 11, 0, 0, 1); // but from here on every new day starts empty
    sendWeb(4);
    EXPECT_EQ(day(11), 4u);
    EXPECT_EQ(month(8), 7u);
    EXPECT_EQ(month(10), 55u);
}

TEST_F(RollOverTest, DaysAndMonthsSleptThroughAreAllCleared) {
    clock.setLocal(2027, 3, 5, 22, 0, 0);
    sendWeb(1);
    fill(100);
    sendWeb(1);
    clock.setLocal(2027, 3, 9, 8, 0, 0); // asleep from the 5th to the 9th
    sendWeb(2);
    EXPECT_EQ(day(5), 101u);
    EXPECT_EQ(day(6), 0u);
    EXPECT_EQ(day(7), 0u);
    EXPECT_EQ(day(8), 0u);
    EXPECT_EQ(day(9), 2u);
    EXPECT_EQ(day(10), 100u);
    EXPECT_EQ(month(3), 103u);

    // Over a year end: from December 30 to January 2.
    clock.setLocal(2027, 12, 30, 22, 0, 0);
    sendWeb(1);
    fill(100);
    sendWeb(1);
    clock.setLocal(2028, 1, 2, 8, 0, 0);
    sendWeb(2);
    EXPECT_EQ(day(30), 101u);
    EXPECT_EQ(day(31), 0u);
    EXPECT_EQ(day(1), 0u);
    EXPECT_EQ(day(2), 2u);
    EXPECT_EQ(month(12), 101u);
    EXPECT_EQ(month(1), 2u);
    EXPECT_EQ(month(2), 100u); // a month not reached yet keeps last year's count

    // A year asleep, a few hours short of 365 days: everything is cleared.
    clock.setLocal(2029, 1, 2, 7, 0, 0);
    sendWeb(3);
    for (int d = 1; d <= 31; ++d)
        EXPECT_EQ(day(d), d == 2 ? 3u : 0u) << d;
    for (int m = 1; m <= 12; ++m)
        EXPECT_EQ(month(m), m == 1 ? 3u : 0u) << m;
}

// Central European rules: 2026-03-29 has 23 hours, 2026-10-25 has 25.
class RollOverCetTest : public RollOverTest {
protected:
    RollOverCetTest() : RollOverTest("CET-1CEST,M3.5.0,M10.5.0/3") {}
};

TEST_F(RollOverCetTest, ShortAndLongDaysEndAtLocalMidnight) {
    clock.setLocal(2026, 1, 30, 12, 0, 0);
    sendWeb(100); // an old 30th
    clock.setLocal(2026, 3, 29, 0, 30, 0);
    sendWeb(1);
    clock.setLocal(2026, 3, 29, 23, 59, 59);
    sendWeb(1);
    EXPECT_EQ(day(29), 2u);
    EXPECT_EQ(day(30), 100u);
    clock.advance(1);
    sendWeb(5);
    EXPECT_EQ(day(30), 5u);

    clock.setLocal(2026, 9, 26, 12, 0, 0);
    sendWeb(100); // an old 26th
    clock.setLocal(2026, 10, 25, 0, 30, 0);
    sendWeb(1);
    clock.setLocal(2026, 10, 25, 23, 30, 0); // 24 hours after 00:30 and still the 25th
    sendWeb(1);
    EXPECT_EQ(day(25), 2u);
    EXPECT_EQ(day(26), 100u);
    clock.setLocal(2026, 10, 25, 23, 59, 59);
    clock.advance(1);
    sendWeb(3);
    EXPECT_EQ(day(26), 3u);
}

TEST_F(RollOverCetTest, SleepAcrossTheSpringChangeClearsEveryDaySkipped) {
    clock.setLocal(2026, 3, 28, 23, 30, 0);
    sendWeb(1);
    fill(100);
    sendWeb(1);
    clock.setLocal(2026, 3, 30, 0, 15, 0); // less than 24 hours later, two dates on
    sendWeb(2);
    EXPECT_EQ(day(28), 101u);
    EXPECT_EQ(day(29), 0u);
    EXPECT_EQ(day(30), 2u);
    EXPECT_EQ(day(31), 100u);
    EXPECT_EQ(month(3), 103u);
}

// Rules where the clock jumps from 00:00 to 01:00: 2026-10-18 has no midnight.
class RollOverNoMidnightTest : public RollOverTest {
protected:
    RollOverNoMidnightTest() : RollOverTest("BRT3BRST,M10.3.0/0,M2.3.0/0") {}
};

TEST_F(RollOverNoMidnightTest, DayWithoutMidnightStillRollsOverOnItsFirstSecond) {
    clock.setLocal(2026, 9, 18, 12, 0, 0);
    sendWeb(100); // an old 18th
    clock.setLocal(2026, 10, 17, 12, 0, 0);
    sendWeb(1);
    clock.setLocal(2026, 10, 17, 23, 59, 59);
    sendWeb(1);
    EXPECT_EQ(day(17), 2u);
    EXPECT_EQ(day(18), 100u);
    clock.advance(1); // 01:00 summer time on the 18th
    sendWeb(9);
    EXPECT_EQ(day(18), 9u);
    EXPECT_EQ(day(17), 2u);
}

// A calendar that places midnight an hour off, as some do for a midnight that does not exist.
class SkewedMidnightClock : public test::FakeClock {
public:
    std::int64_t skew = 0;
    std::optional<std::int64_t> fromLocal(const LocalTime& lt) const override {
        const auto t = FakeClock::fromLocal(lt);
        return t ? std::optional<std::int64_t>(*t + skew) : std::nullopt;
    }
};

TEST(RollOverCalendar, MisplacedMidnightStillRollsOverOnTheFirstSecondOfTheDay) {
    test::TzScope tz("UTC0");
    test::FakePlatform fake;
    test::FakeCaptureFactory& capture = fake.capture;
    for (std::int64_t skew : {3600, -3600}) {
        SkewedMidnightClock clock;
        clock.nowValue = 1773748800; // 2026-03-17 12:00:00 UTC
        PlatformServices os = fake.services();
        os.clock = &clock;
        CGlobal global(os);
        CIPStat stat(global, clock);
        ASSERT_EQ(stat.initialise(-1), 1);
        capture.next = std::make_unique<test::FakeDevice>();
        ASSERT_EQ(stat.open(0, 524288, 524288, 1), 1);
        stat.waitForExit();
        clock.skew = skew;
        const auto frame = ethernetFrame(test::IPStatFixture::tcp(
            test::Ip4{{198, 18, 0, 10}}, 5000, test::Ip4{{198, 19, 7, 7}}, 80, 100));
        const auto feed = [&] {
            stat.batchStarting();
            CaptureHeader h;
            h.capturedLength = h.wireLength = static_cast<std::uint32_t>(frame.size());
            stat.packetHandler(h, frame.data());
        };
        feed();
        clock.nowValue = 1773791999; // 23:59:59
        feed();
        EXPECT_EQ(stat.dayRecord(Direction::Sent, 17, kWeb), 200u) << skew;
        clock.nowValue += 1;
        feed();
        EXPECT_EQ(stat.dayRecord(Direction::Sent, 18, kWeb), 100u) << skew;
        EXPECT_EQ(stat.dayRecord(Direction::Sent, 17, kWeb), 200u) << skew;
    }
}

} // namespace
} // namespace tn

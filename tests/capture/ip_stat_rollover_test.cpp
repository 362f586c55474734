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
    void sendWeb(std::uint16_t len) { feed(ethernetFrame(tcp(kSelf, 5000, kRemote, 80, len))); }
    std::uint64_t day(int d) const { return stat->dayRecord(Direction::Sent, d, kWeb); }
    std::uint64_t month(int m) const { return stat->monthRecord(Direction::Sent, m, kWeb); }
};

TEST_F(RollOverTest, FirstFrameAfterMidnightOnTheFirstClearsDayAndMonth) {
    clock.setLocal(2025, 2, 1, 12, 0, 0); // leaves old counts in day 1 and February
    sendWeb(1000);
    clock.setLocal(2026, 1, 31, 23, 59, 59);
    sendWeb(10);
    ASSERT_EQ(day(1), 1000u);
    ASSERT_EQ(month(2), 1000u);
    ASSERT_EQ(day(31), 10u);

    clock.advance(1);
    sendWeb(7);
    EXPECT_EQ(day(1), 7u);
    EXPECT_EQ(month(2), 7u);
    EXPECT_EQ(day(31), 10u);
    EXPECT_EQ(month(1), 10u);
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
    clock.setLocal(2026, 3, 17, 23, 0, 0); // back into another day: that day starts afresh
    sendWeb(2);
    EXPECT_EQ(day(17), 2u);
    EXPECT_EQ(month(3), 14u);

    clock.setLocal(2026, 5, 2, 9, 0, 0); // forward by weeks
    sendWeb(6);
    EXPECT_EQ(day(2), 6u);
    EXPECT_EQ(month(5), 6u);
    EXPECT_EQ(month(3), 14u);
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
            test::Ip4{{198, 18, 0, 10}}, 5000, test::Ip4{{198, 19, 7, 7}}, 80, 10));
        const auto feed = [&] {
            stat.batchStarting();
            CaptureHeader h;
            h.capturedLength = h.wireLength = static_cast<std::uint32_t>(frame.size());
            stat.packetHandler(h, frame.data());
        };
        feed();
        clock.nowValue = 1773791999; // 23:59:59
        feed();
        EXPECT_EQ(stat.dayRecord(Direction::Sent, 17, kWeb), 20u) << skew;
        clock.nowValue += 1;
        feed();
        EXPECT_EQ(stat.dayRecord(Direction::Sent, 18, kWeb), 10u) << skew;
        EXPECT_EQ(stat.dayRecord(Direction::Sent, 17, kWeb), 20u) << skew;
    }
}

} // namespace
} // namespace tn

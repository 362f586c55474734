#include "stats/hour_file.h"

#include "support/fake_clock.h"

#include <gtest/gtest.h>

namespace tn {
namespace {

// An hours.dat written offset by offset, apart from the program's encoder.
std::vector<std::uint8_t> image(const std::vector<std::pair<int, std::int64_t>>& starts) {
    std::vector<std::uint8_t> b(8 + 48 * 184, 0);
    b[0] = 'T';
    b[1] = 'N';
    b[2] = 'H';
    b[3] = 'R';
    b[4] = 1;
    const auto u64 = [&b](std::size_t at, std::uint64_t v) {
        for (int i = 0; i < 8; ++i)
            b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
    };
    for (const auto& [slot, start] : starts) {
        const std::size_t at = 8 + static_cast<std::size_t>(slot) * 184;
        u64(at, static_cast<std::uint64_t>(start));
        for (int k = 0; k < 22; ++k) // sent 0..10, then received 0..10
            u64(at + 8 + static_cast<std::size_t>(k) * 8,
                static_cast<std::uint64_t>(start) * 100 + static_cast<std::uint64_t>(k));
    }
    return b;
}

// 2026-03-17 10:00:00 UTC falls in slot (1773741600 / 3600) % 48 = 492706 % 48 = 34.
constexpr std::int64_t kTen = 1773741600;
constexpr int kTenSlot = 34;

TEST(HourFileTest, ReadsTheLayoutAndWritesItBackByteForByte) {
    ASSERT_EQ(hourSlot(kTen), kTenSlot);
    const auto bytes = image({{kTenSlot, kTen}, {kTenSlot - 1, kTen - 3600}});
    HourRecords h;
    ASSERT_TRUE(decodeHourFile(bytes, h));
    EXPECT_EQ(h[kTenSlot].start, kTen);
    EXPECT_EQ(h[kTenSlot].sent[0], static_cast<std::uint64_t>(kTen) * 100);
    EXPECT_EQ(h[kTenSlot].received[10], static_cast<std::uint64_t>(kTen) * 100 + 21);
    EXPECT_EQ(h[kTenSlot - 1].sent[3], static_cast<std::uint64_t>(kTen - 3600) * 100 + 3);
    EXPECT_EQ(h[0].start, 0);
    EXPECT_EQ(encodeHourFile(h), bytes);
}

TEST(HourFileTest, DamagedFilesAreRefusedWithTheirReason) {
    struct Case {
        const char* what;
        std::vector<std::uint8_t> bytes;
        const char* why;
    };
    auto cut = image({});
    cut.pop_back();
    auto longer = image({});
    longer.push_back(0);
    auto magic = image({});
    magic[2] = 'X';
    auto version = image({});
    version[4] = 2;
    // A slot holding an hour that belongs in the next slot.
    const auto misplaced = image({{kTenSlot, kTen + 3600}});
    const auto negative = image({{hourSlot(-7200), -7200}});
    const auto unaligned = image({{kTenSlot, kTen + 600}});
    for (const Case& c :
         {Case{"empty", {}, "has 0 bytes"}, Case{"cut", cut, "has 8839 bytes"},
          Case{"longer", longer, "has 8841 bytes"}, Case{"magic", magic, "not an hours file"},
          Case{"version", version, "unknown version 2"},
          Case{"misplaced", misplaced, "out of its place"},
          Case{"before 1970", negative, "outside the years"}}) {
        SCOPED_TRACE(c.what);
        EXPECT_NE(hourFileProblem(c.bytes).find(c.why), std::string::npos)
            << hourFileProblem(c.bytes);
        HourRecords h;
        h[5].start = 42;
        EXPECT_FALSE(decodeHourFile(c.bytes, h));
        EXPECT_EQ(h[5].start, 42); // untouched
    }
}

TEST(HourFileTest, LastHoursAreTheFortyEightUpToNowAndSkipStaleSlots) {
    test::TzScope tz("UTC0");
    test::FakeClock clock;
    clock.nowValue = kTen + 1799; // 10:29:59
    HourRecords h;
    h[kTenSlot].start = kTen;
    h[kTenSlot].sent[0] = 5;
    // The slot of today's 09:00 still holds 09:00 two days ago, outside the window: it must
    // not show as today's.
    h[static_cast<std::size_t>(hourSlot(kTen - 3600))].start = kTen - 3600 - 48 * 3600;
    h[static_cast<std::size_t>(hourSlot(kTen - 3600))].received[0] = 99;
    // The oldest hour of the window: 11:00 two days ago.
    const std::int64_t oldest = kTen - 47 * 3600;
    h[static_cast<std::size_t>(hourSlot(oldest))].start = oldest;
    h[static_cast<std::size_t>(hourSlot(oldest))].received[4] = 7;
    const auto rows = lastHours(h, clock, clock.now());
    ASSERT_EQ(rows.size(), 48u);
    EXPECT_EQ(rows.back().start, kTen);
    EXPECT_EQ(rows.back().local.hour, 10);
    EXPECT_EQ(rows.back().sent[0], 5u);
    EXPECT_EQ(rows[46].received[0], 0u); // the stale 09:00
    EXPECT_EQ(rows[0].start, oldest);
    EXPECT_EQ(rows[0].local.hour, 11);
    EXPECT_EQ(rows[0].local.day, 15);
    EXPECT_EQ(rows[0].received[4], 7u);
}

TEST(HourFileTest, HalfHourZonesStartHoursOnTheirLocalHour) {
    test::TzScope tz("IST-5:30");
    test::FakeClock clock;
    clock.nowValue = kTen + 1799; // 15:59:59 in a UTC+5:30 zone
    const auto start = localHourStart(clock, clock.now());
    ASSERT_TRUE(start);
    EXPECT_EQ(*start, kTen - 1800); // 15:00 there is 09:30 UTC
}

} // namespace
} // namespace tn

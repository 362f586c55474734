#include "app/formats.h"

#include <gtest/gtest.h>

namespace tn {
namespace {

TEST(FormatBytes, UnitBoundaries_NoCarryIntoNextUnit) {
    EXPECT_EQ(formatBytes64(0), "0 B");
    EXPECT_EQ(formatBytes64(1023), "1023 B");
    EXPECT_EQ(formatBytes64(1024), "1.00 KB");
    EXPECT_EQ(formatBytes64(1536), "1.50 KB");
    EXPECT_EQ(formatBytes64(1048575), "1024.00 KB"); // 1023.999 KB stays in KB
    EXPECT_EQ(formatBytes64(1048576), "1.00 MB");
    EXPECT_EQ(formatBytes64(1073741824), "1.00 GB");
    EXPECT_EQ(formatBytes64(1099511627776ull), "1.00 TB");
    EXPECT_EQ(formatBytes64(1125899906842624ull), "1.00 PB");
    EXPECT_EQ(formatBytes64(1152921504606846976ull), "1.00 EB");
    EXPECT_EQ(formatBytes64(UINT64_MAX), "16.00 EB");
}

TEST(FormatBytes, SinglePrecisionRoundsLargeCounts) {
    // 16777217 is not representable in a float: it becomes 16777216 = 16.00 MB exactly.
    EXPECT_EQ(formatBytes64(16777217), "16.00 MB");
    // 1 GiB - 1 rounds up to 2^30 in single precision, which is a whole GB.
    EXPECT_EQ(formatBytes64(1073741823), "1.00 GB");
    EXPECT_EQ(formatBytes32(4294967295u), "4.00 GB");
}

TEST(FormatBytes, TwoDecimalsRoundLikePrintf) {
    EXPECT_EQ(formatBytes64(1029), "1.00 KB");   // 1.0048828125 -> 1.00
    EXPECT_EQ(formatBytes64(1030), "1.01 KB");   // 1.005859375 -> 1.01
    EXPECT_EQ(formatBytes64(10485), "10.24 KB"); // 10.2392578125
    EXPECT_EQ(formatBytes(512.5f), "512 B");     // %.f rounds half to even
    EXPECT_EQ(formatBytes(513.5f), "514 B");
}

TEST(FormatSpeed, AppendsPerSecond) {
    EXPECT_EQ(formatSpeed(0), "0 B/s");
    EXPECT_EQ(formatSpeed(1536), "1.50 KB/s");
    EXPECT_EQ(formatSpeed(10240), "10.00 KB/s");
}

TEST(FormatDuration, DaysHoursMinutesSeconds) {
    EXPECT_EQ(formatDuration(0), "00:00:00:00");
    EXPECT_EQ(formatDuration(86399), "00:23:59:59");
    EXPECT_EQ(formatDuration(86400), "01:00:00:00");
    EXPECT_EQ(formatDuration(86400 + 2 * 3600 + 3 * 60 + 4), "01:02:03:04");
    EXPECT_EQ(formatDuration(100LL * 86400), "100:00:00:00");
}

TEST(FormatPeriodLength, RoundsToSecondsAndWrapsHours) {
    const double second = 1.0 / 86400.0;
    EXPECT_EQ(formatPeriodLength(0.4 * second), "0:00:00");
    EXPECT_EQ(formatPeriodLength(0.6 * second), "0:00:01");
    EXPECT_EQ(formatPeriodLength(1.0), "0:00:00"); // 24 hours
    EXPECT_EQ(formatPeriodLength(3661 * second), "1:01:01");
    EXPECT_EQ(formatPeriodLength((25 * 3600 + 180) * second), "1:03:00");
    EXPECT_EQ(formatPeriodLength(59.6 * second), "0:01:00");
}

TEST(PeriodSeconds, RoundsHalfAwayFromZero) {
    const double second = 1.0 / 86400.0;
    EXPECT_EQ(periodSeconds(0.4 * second), 0);
    EXPECT_EQ(periodSeconds(0.5 * second), 1);
    EXPECT_EQ(periodSeconds(90000 * second), 90000);
}

TEST(FormatTimeSpan, Placeholders) {
    EXPECT_EQ(formatTimeSpan("%H:%M:%S", 21), "00:00:21");
    EXPECT_EQ(formatTimeSpan("%H:%M:%S", 25 * 3600), "01:00:00");
    EXPECT_EQ(formatTimeSpan("%D days %H:%M:%S", 3 * 86400 + 4 * 3600 + 5 * 60 + 6),
              "3 days 04:05:06");
    EXPECT_EQ(formatTimeSpan("%D", 1234 * 86400LL), "1234");
    EXPECT_EQ(formatTimeSpan("100%% %x", 0), "100% %x");
    EXPECT_EQ(formatTimeSpan("end%", 0), "end%");
}

TEST(FormatTimeSpan, NegativeSpansTruncateEachUnit) {
    EXPECT_EQ(formatTimeSpan("%H:%M:%S", -65), "00:-1:-5");
    EXPECT_EQ(formatTimeSpan("%D %H:%M:%S", -90061), "-1 -1:-1:-1");
}

} // namespace
} // namespace tn

#include "stats/history_table.h"

#include "support/fake_clock.h"

#include <gtest/gtest.h>
#include <limits>

namespace tn {
namespace {

// Central European rules without the time-zone database.
constexpr const char* kTz = "CET-1CEST,M3.5.0,M10.5.0/3";

class HistoryTableTest : public ::testing::Test {
protected:
    test::TzScope tz{kTz};
    test::FakeClock clock;
    StatRecords records;

    // Sent and received bytes of one category on a day; the total is their sum.
    void day(int d, int category, std::uint64_t sent, std::uint64_t received) {
        records.daysSent[static_cast<std::size_t>(d - 1)][static_cast<std::size_t>(category)] =
            sent;
        records.daysReceived[static_cast<std::size_t>(d - 1)][static_cast<std::size_t>(category)] =
            received;
    }
    void month(int m, int category, std::uint64_t sent, std::uint64_t received) {
        records.monthsSent[static_cast<std::size_t>(m - 1)][static_cast<std::size_t>(category)] =
            sent;
        records
            .monthsReceived[static_cast<std::size_t>(m - 1)][static_cast<std::size_t>(category)] =
            received;
    }
};

TEST_F(HistoryTableTest, OnThe3rdAfterA30DayMonthLaterBarsBelongToThePreviousMonth) {
    clock.setLocal(2026, 5, 3, 23, 30); // April has 30 days, May 31
    for (int d = 1; d <= 31; ++d)
        if (d != 20)
            day(d, 0, 1000u * static_cast<unsigned>(d), 1);
    HistoryTable t(clock);
    const HistoryChartFill fill = t.fillChart(&records);
    ASSERT_EQ(fill.values.size(), 31u);
    EXPECT_EQ(fill.values[14].value, 15001.0);
    EXPECT_EQ(fill.values[19].value, 0.0);
    EXPECT_EQ(fill.values[30].label, "31");
    EXPECT_EQ(fill.selected, 2);
    EXPECT_TRUE(t.previousMonthShown());
    EXPECT_EQ(t.title(), "Today");

    t.fillTable(&records, 0, "");
    EXPECT_EQ(t.cell(0, 0), "2.93 KB"); // 3000 bytes of web upload today
    t.selectBar(14, &records, 0, "");
    EXPECT_EQ(t.title(), "Wednesday, April 15, 2026");
    EXPECT_EQ(t.selectedDay(), 15);
    EXPECT_EQ(t.cell(0, 0), "14.65 KB");
    EXPECT_EQ(t.cell(0, 1), "1 B");
    EXPECT_EQ(t.cell(0, 2), "14.65 KB");
    t.selectBar(30, &records, 0, ""); // April has no 31st: it is this month's
    EXPECT_EQ(t.title(), "Sunday, May 31, 2026");
    t.selectBar(1, &records, 0, "");
    EXPECT_EQ(t.title(), "Saturday, May 02, 2026");
    const std::string before = t.title();
    t.selectBar(-1, &records, 0, ""); // no bar: nothing changes
    EXPECT_EQ(t.title(), before);
    EXPECT_EQ(t.selectedDay(), 2);
}

TEST_F(HistoryTableTest, BeforeAnyLaterDayHeldTrafficALaterBarHasNoTitle) {
    clock.setLocal(2026, 5, 3, 12);
    day(1, 0, 10, 10);
    day(3, 0, 10, 10);
    HistoryTable t(clock);
    t.fillChart(&records);
    EXPECT_FALSE(t.previousMonthShown());
    t.selectBar(14, &records, 0, "");
    EXPECT_EQ(t.title(), "");
    t.selectBar(2, &records, 0, "");
    EXPECT_EQ(t.title(), "Sunday, May 03, 2026");
}

TEST_F(HistoryTableTest, JanuaryLooksBackToDecemberOfThePreviousYear) {
    clock.setLocal(2027, 1, 3, 8);
    day(28, 1, 5, 5);
    HistoryTable t(clock);
    t.fillChart(&records);
    t.selectBar(27, &records, 0, "");
    EXPECT_EQ(t.title(), "Monday, December 28, 2026");
}

TEST_F(HistoryTableTest, MonthViewTitlesWithTwoBlanksBeforeTheCommaAndNaForNoMonth) {
    clock.setLocal(2015, 3, 3, 10);
    month(3, 2, 1024, 2048);
    month(11, 0, 7, 0); // last year's November, shown under this year's title
    HistoryTable t(clock);
    t.fillChart(&records);
    t.fillTable(&records, 0, "");
    const std::string dayCell = t.cell(4, 0);
    t.setDayView(false);
    const HistoryChartFill fill = t.fillChart(&records);
    ASSERT_EQ(fill.values.size(), 12u);
    EXPECT_EQ(fill.values[2].value, 3072.0);
    EXPECT_EQ(fill.selected, 2);
    t.fillTable(&records, 0, "");
    EXPECT_EQ(t.title(), "March  , 2015");
    EXPECT_EQ(t.cell(4, 0), "1.00 KB"); // News upload
    EXPECT_EQ(t.cell(4, 2), "3.00 KB");
    t.selectBar(10, &records, 0, "");
    EXPECT_EQ(t.title(), "November  , 2015");
    EXPECT_EQ(t.cell(0, 0), "7 B");
    // No bar chosen: month 0 is "n/a", the cells stay as they were, the TOTAL row reads 0.
    t.selectBar(-1, &records, 0, "");
    EXPECT_EQ(t.title(), "n/a");
    EXPECT_EQ(t.cell(0, 0), "7 B");
    EXPECT_EQ(t.cell(kHistoryTotalRow, 0), "0 B");
    // Back to the days: the month text stays until a bar is chosen.
    t.setDayView(true);
    t.fillChart(&records);
    t.fillTable(&records, 0, "");
    EXPECT_EQ(t.title(), "n/a");
    EXPECT_EQ(t.cell(4, 0), dayCell);
    EXPECT_EQ(t.selectedDay(), 3);
}

TEST_F(HistoryTableTest, CustomRowFollowsTheSettingAndTotalCountsEveryIndex) {
    clock.setLocal(2026, 7, 9, 9);
    day(9, kHistoryRows[kHistoryCustomRow].category, 100, 200);
    day(9, 8, 1000, 0); // reserved indices have no row but count in TOTAL
    day(9, 10, 0, 24);
    HistoryTable t(clock);
    t.fillChart(&records);
    t.fillTable(&records, 0, "Games");
    EXPECT_EQ(t.customLabel(), "Custom");
    for (int c = 0; c < 3; ++c)
        EXPECT_EQ(t.cell(kHistoryCustomRow, c), "...");
    EXPECT_EQ(t.cell(kHistoryTotalRow, 0), "1.07 KB"); // 1100
    EXPECT_EQ(t.cell(kHistoryTotalRow, 1), "224 B");
    EXPECT_EQ(t.cell(kHistoryTotalRow, 2), "1.29 KB"); // 1324
    for (int r = 0; r < kHistoryCustomRow; ++r)
        EXPECT_EQ(t.cell(r, 2), "0 B") << kHistoryRows[static_cast<std::size_t>(r)].label;

    t.fillTable(&records, 1, "Games");
    EXPECT_EQ(t.customLabel(), "Games");
    EXPECT_EQ(t.cell(kHistoryCustomRow, 0), "100 B");
    EXPECT_EQ(t.cell(kHistoryCustomRow, 1), "200 B");
    EXPECT_EQ(t.cell(kHistoryCustomRow, 2), "300 B");
}

TEST_F(HistoryTableTest, RowsShowTheirOwnCategoryInTheirOrder) {
    clock.setLocal(2026, 7, 9, 9);
    for (int k = 0; k < 8; ++k)
        day(9, k, static_cast<std::uint64_t>(k + 1), 0);
    HistoryTable t(clock);
    t.fillChart(&records);
    t.fillTable(&records, 1, "Mine");
    const char* expected[] = {"1 B", "2 B", "7 B", "4 B", "3 B", "5 B", "6 B", "8 B"};
    for (int r = 0; r < 8; ++r)
        EXPECT_EQ(t.cell(r, 0), expected[r]) << kHistoryRows[static_cast<std::size_t>(r)].label;
}

TEST_F(HistoryTableTest, SumsWrapAbove64Bits) {
    clock.setLocal(2026, 7, 9, 9);
    const std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
    day(9, 0, max, 5);
    day(9, 1, 3, 0);
    HistoryTable t(clock);
    const HistoryChartFill fill = t.fillChart(&records);
    EXPECT_EQ(fill.values[8].value, 7.0); // max + 3 + 5 wraps to 7
    t.fillTable(&records, 0, "");
    EXPECT_EQ(t.cell(kHistoryTotalRow, 0), "2 B");
    EXPECT_EQ(t.cell(kHistoryTotalRow, 2), "7 B");
    EXPECT_EQ(t.cell(0, 2), "4 B"); // max + 5 in the web row
}

TEST_F(HistoryTableTest, WithoutRecordsNothingIsFilled) {
    clock.setLocal(2026, 7, 9, 9);
    HistoryTable t(clock);
    EXPECT_TRUE(t.fillChart(nullptr).values.empty());
    t.fillTable(nullptr, 1, "Mine");
    t.setDayView(false);
    t.selectBar(-1, nullptr, 1, "Mine");
    for (std::size_t r = 0; r < kHistoryRows.size(); ++r)
        for (int c = 0; c < 3; ++c)
            EXPECT_EQ(t.cell(static_cast<int>(r), c), "...");
    EXPECT_EQ(t.title(), "Today");
    EXPECT_EQ(t.customLabel(), "Custom");
}

TEST(HistoryCalendar, MonthLengthsAndDatesInEnglish) {
    EXPECT_EQ(daysInMonth(2024, 2), 29);
    EXPECT_EQ(daysInMonth(2100, 2), 28);
    EXPECT_EQ(daysInMonth(2000, 2), 29);
    EXPECT_EQ(daysInMonth(2026, 4), 30);
    EXPECT_EQ(daysInMonth(2026, 13), 0);
    EXPECT_EQ(formatLongDate(2015, 3, 3), "Tuesday, March 03, 2015");
    EXPECT_EQ(formatLongDate(2024, 2, 29), "Thursday, February 29, 2024");
    EXPECT_EQ(formatLongDate(1900, 1, 1), "Monday, January 01, 1900");
    EXPECT_EQ(formatLongDate(2026, 2, 29), "");
    EXPECT_EQ(formatMonthTitle(2026, 12), "December  , 2026");
    EXPECT_EQ(formatMonthTitle(2026, 0), "");
}

} // namespace
} // namespace tn

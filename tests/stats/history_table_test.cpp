#include "stats/history_table.h"

#include "support/fake_clock.h"

#include <gtest/gtest.h>
#include <limits>

namespace tn {
namespace {

class HistoryTableTest : public ::testing::Test {
protected:
    test::TzScope tz{"CET-1CEST,M3.5.0,M10.5.0/3"}; // no time-zone database needed
    test::FakeClock clock;
    StatRecords records;
    HistoryTable t{clock};

    void day(int d, int category, std::uint64_t sent, std::uint64_t received) {
        const auto i = static_cast<std::size_t>(d - 1);
        records.daysSent[i][static_cast<std::size_t>(category)] = sent;
        records.daysReceived[i][static_cast<std::size_t>(category)] = received;
    }
    void select(int index, int customField = 0, const std::string& name = "") {
        t.selectBar(index, &records, customField, name);
    }
};

TEST_F(HistoryTableTest, OnThe3rdAfterA30DayMonthLaterBarsBelongToThePreviousMonth) {
    clock.setLocal(2026, 5, 3, 23, 30);
    for (int d = 1; d <= 31; ++d)
        day(d, 0, 1000u * static_cast<unsigned>(d), 1);
    const HistoryChartFill fill = t.fillChart(&records);
    ASSERT_EQ(fill.values.size(), 31u);
    EXPECT_EQ(fill.values[14].value, 15001.0);
    EXPECT_EQ(fill.values[30].label, "31");
    EXPECT_EQ(fill.selected, 2);
    EXPECT_TRUE(t.previousMonthShown());
    EXPECT_EQ(t.title(), "Today");
    select(14);
    EXPECT_EQ(t.title(), "Wednesday, April 15, 2026");
    EXPECT_EQ(t.cell(0, 0), "14.65 KB");
    EXPECT_EQ(t.cell(0, 1), "1 B");
    select(30); // April has no 31st: it is this month's
    EXPECT_EQ(t.title(), "Sunday, May 31, 2026");
    select(1);
    EXPECT_EQ(t.title(), "Saturday, May 02, 2026");
    select(-1); // no bar: nothing changes
    EXPECT_EQ(t.title(), "Saturday, May 02, 2026");
}

TEST_F(HistoryTableTest, ALaterBarHasNoTitleUntilALaterDayHeldTrafficAndJanuaryLooksBack) {
    clock.setLocal(2027, 1, 3, 12);
    day(3, 0, 10, 10);
    t.fillChart(&records);
    EXPECT_FALSE(t.previousMonthShown());
    select(27);
    EXPECT_EQ(t.title(), "");
    day(28, 1, 5, 5);
    t.fillChart(&records);
    select(27);
    EXPECT_EQ(t.title(), "Monday, December 28, 2026");
}

TEST_F(HistoryTableTest, MonthViewTitlesWithTwoBlanksBeforeTheCommaAndNaForNoMonth) {
    clock.setLocal(2015, 3, 3, 10);
    records.monthsSent[2][2] = 1024;
    records.monthsReceived[2][2] = 2048;
    records.monthsSent[10][0] = 7; // last year's November, under this year's title
    t.fillChart(&records);
    t.fillTable(&records, 0, "");
    t.setDayView(false);
    const HistoryChartFill fill = t.fillChart(&records);
    ASSERT_EQ(fill.values.size(), 12u);
    EXPECT_EQ(fill.values[2].value, 3072.0);
    t.fillTable(&records, 0, "");
    EXPECT_EQ(t.title(), "March  , 2015");
    EXPECT_EQ(t.cell(4, 2), "3.00 KB"); // the News row
    select(10);
    EXPECT_EQ(t.title(), "November  , 2015");
    select(-1); // month 0: "n/a", the cells as they were, a TOTAL of 0
    EXPECT_EQ(t.title(), "n/a");
    EXPECT_EQ(t.cell(0, 0), "7 B");
    EXPECT_EQ(t.cell(kHistoryTotalRow, 0), "0 B");
    t.setDayView(true); // back to the days: the month text stays until a bar is chosen
    t.fillChart(&records);
    t.fillTable(&records, 0, "");
    EXPECT_EQ(t.title(), "n/a");
    EXPECT_EQ(t.cell(4, 2), "0 B");
}

TEST_F(HistoryTableTest, RowsInTheirOrderCustomRowFollowsTheSettingTotalCountsEveryIndex) {
    clock.setLocal(2026, 7, 9, 9);
    for (int k = 0; k < 8; ++k)
        day(9, k, static_cast<std::uint64_t>(k + 1), 0);
    day(9, 8, 1000, 0); // reserved indices have no row but count in TOTAL
    day(9, 10, 0, 24);
    t.fillChart(&records);
    t.fillTable(&records, 0, "Games");
    EXPECT_EQ(t.customLabel(), "Custom");
    EXPECT_EQ(t.cell(kHistoryCustomRow, 0), "...");
    EXPECT_EQ(t.cell(kHistoryTotalRow, 0), "1.01 KB"); // 1036
    EXPECT_EQ(t.cell(kHistoryTotalRow, 1), "24 B");
    EXPECT_EQ(t.cell(kHistoryTotalRow, 2), "1.04 KB"); // 1060 / 1024 = 1.035
    t.fillTable(&records, 1, "Games");
    EXPECT_EQ(t.customLabel(), "Games");
    const char* expected[] = {"1 B", "2 B", "7 B", "4 B", "3 B", "5 B", "6 B", "8 B"};
    for (int r = 0; r < 8; ++r)
        EXPECT_EQ(t.cell(r, 0), expected[r]) << kHistoryRows[static_cast<std::size_t>(r)].label;
}

TEST_F(HistoryTableTest, SumsWrapAbove64BitsAndNothingIsFilledWithoutRecords) {
    clock.setLocal(2026, 7, 9, 9);
    t.fillTable(nullptr, 1, "Mine");
    EXPECT_TRUE(t.fillChart(nullptr).values.empty());
    EXPECT_EQ(t.cell(kHistoryTotalRow, 2), "...");
    day(9, 0, std::numeric_limits<std::uint64_t>::max(), 5);
    day(9, 1, 3, 0);
    EXPECT_EQ(t.fillChart(&records).values[8].value, 7.0); // max + 3 + 5
    t.fillTable(&records, 0, "");
    EXPECT_EQ(t.cell(kHistoryTotalRow, 0), "2 B");
    EXPECT_EQ(t.cell(kHistoryTotalRow, 2), "7 B");
    EXPECT_EQ(t.cell(0, 2), "4 B");
}

TEST(HistoryCalendar, LeapYearsAndEnglishNamesWhateverTheLocale) {
    EXPECT_EQ(daysInMonth(2100, 2), 28);
    EXPECT_EQ(daysInMonth(2000, 2), 29);
    EXPECT_EQ(formatLongDate(2015, 3, 3), "Tuesday, March 03, 2015");
    EXPECT_EQ(formatLongDate(2024, 2, 29), "Thursday, February 29, 2024");
    EXPECT_EQ(formatLongDate(2026, 2, 29), "");
    EXPECT_EQ(formatMonthTitle(2026, 12), "December  , 2026");
}

} // namespace
} // namespace tn

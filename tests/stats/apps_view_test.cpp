#include "stats/apps_view.h"

#include <gtest/gtest.h>

namespace tn {
namespace {

std::vector<std::string> names(const std::vector<AppsRow>& rows) {
    std::vector<std::string> n;
    for (const AppsRow& r : rows)
        n.push_back(r.name);
    return n;
}

TEST(AppsViewTest, EachViewShowsItsRecordBiggestFirst) {
    AppRecords r;
    r.days[2] = {{"small", 1, 1}, {"big", 10, 5000}};
    r.days[14] = {{"chosen day", 7, 7}};
    r.months[4] = {{"month", 3, 3}, {"bigger month", 1, 100}};
    r.months[6] = {{"chosen month", 1, 1}};
    AppsTable t;
    EXPECT_EQ(names(t.rows(AppsView::Today, r, 3, 5, {})),
              (std::vector<std::string>{"big", "small"}));
    EXPECT_EQ(names(t.rows(AppsView::ThisMonth, r, 3, 5, {})),
              (std::vector<std::string>{"bigger month", "month"}));
    EXPECT_EQ(names(t.rows(AppsView::Selected, r, 3, 5, {false, 15, "x"})),
              (std::vector<std::string>{"chosen day"}));
    EXPECT_EQ(names(t.rows(AppsView::Selected, r, 3, 5, {true, 7, "x"})),
              (std::vector<std::string>{"chosen month"}));
    EXPECT_TRUE(t.rows(AppsView::Selected, r, 3, 5, {}).empty()); // nothing chosen
    const AppsRow big = t.rows(AppsView::Today, r, 3, 5, {})[0];
    EXPECT_EQ(big.download, "4.88 KB");
    EXPECT_EQ(big.upload, "10 B");
    EXPECT_EQ(big.totalBytes, 5010u);
}

TEST(AppsViewTest, NowIsTheLastSecondsDifference) {
    AppsTable t;
    const AppRecords none;
    t.takeSecond({{"curl", 100, 1000}});
    EXPECT_TRUE(t.rows(AppsView::Now, none, 1, 1, {}).empty()); // no second to compare yet
    t.takeSecond({{"curl", 100, 3048}, {"ssh", 10, 10}});
    auto rows = t.rows(AppsView::Now, none, 1, 1, {});
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].name, "curl");
    EXPECT_EQ(rows[0].download, "2.00 KB/s");
    EXPECT_EQ(rows[0].upload, "0 B/s");
    EXPECT_EQ(rows[1].name, "ssh"); // new this second: all of it is this second's
    // A program silent for a second drops out; totals that went back (a new capture) start
    // again from zero rather than wrapping.
    t.takeSecond({{"curl", 100, 3048}, {"ssh", 5, 5}});
    rows = t.rows(AppsView::Now, none, 1, 1, {});
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].name, "ssh");
    EXPECT_EQ(rows[0].total, "10 B/s");
}

} // namespace
} // namespace tn

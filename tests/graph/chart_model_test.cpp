#include "graph/chart_model.h"

#include <gtest/gtest.h>
#include <limits>
#include <string>

namespace tn {
namespace {

// The viewer's chart at 96 dpi: the plot spans x 50..388 and y 30..162 (h = 132) and each of
// 31 bars gets 338 / 31 = 10 pixels.
constexpr int kW = 408;
constexpr int kH = 182;

ChartModel daysWithOnlyThe12th(double value) {
    ChartModel m;
    m.setPalette(2);
    m.setChartKind(ChartModel::kDrawBars);
    for (int d = 1; d <= 31; ++d)
        EXPECT_TRUE(m.addValue(d == 12 ? value : 0.0, std::to_string(d)));
    return m;
}

TEST(ChartScale, FirstDigitPlusOneBelowTenTheMaximumAboveAndLabelsWithoutUnit) {
    EXPECT_EQ(ChartModel::scaleMaximum(0.99), 1.0);
    EXPECT_EQ(ChartModel::scaleMaximum(1.4), 2.0);
    EXPECT_EQ(ChartModel::scaleMaximum(5.0), 6.0);
    EXPECT_EQ(ChartModel::scaleMaximum(9.6), 9.6); // prints "10": 1 + 1 is not above 9.6
    EXPECT_EQ(ChartModel::scaleMaximum(5000.0), 5000.0);
    EXPECT_EQ(ChartModel::scaleMaximum(1e300), 1e300);

    ChartModel m;
    m.setPalette(2);
    m.setChartKind(ChartModel::kDrawBars);
    ASSERT_TRUE(m.addValue(5.0, "1"));
    ASSERT_TRUE(m.addValue(2.0, "2"));
    m.setSelectedIndex(1);
    const ChartLayout lay = m.layout(kW, kH);
    EXPECT_EQ(lay.scaleTexts, (std::vector<std::string>{"6 ", "3 "}));
    EXPECT_EQ(lay.bars[0].bar.top, 162 - 110); // 132 * 5 / 6
    EXPECT_FALSE(lay.bars[0].selected);
    EXPECT_TRUE(lay.bars[1].selected);
}

TEST(ChartLayout, ThirtyOneDaysWithOnlyThe12thFillTheScaleWithIt) {
    const ChartLayout lay = daysWithOnlyThe12th(5000.0).layout(kW, kH);
    EXPECT_EQ(lay.plot, (ChartRect{50, 30, 388, 162}));
    ASSERT_EQ(lay.bars.size(), 31u);
    for (int i = 0; i < 31; ++i) {
        const ChartBar& b = lay.bars[static_cast<std::size_t>(i)];
        const int x0 = 52 + 10 * i;
        SCOPED_TRACE(i);
        EXPECT_EQ(b.bar, (ChartRect{x0, i == 11 ? 30 : 160, x0 + 9, 162})); // others 2 pixels
        EXPECT_EQ(b.labelRect, (ChartRect{x0, 164, x0 + 9, 179}));
    }
    EXPECT_EQ(lay.bars[12].colour, lay.bars[0].colour); // twelve colours in turn
    EXPECT_EQ(lay.bars[1].colour, (ChartRgb{0, 0, 255}));
    EXPECT_EQ(lay.scaleTexts, (std::vector<std::string>{"4.88 ", "2.44 "}));
    EXPECT_EQ(lay.scaleRects[1], (ChartRect{5, 91, 47, 106}));
    EXPECT_EQ(lay.ticks,
              (std::vector<ChartLine>{
                  {47, 30, 53, 30}, {48, 63, 52, 63}, {47, 96, 53, 96}, {48, 129, 52, 129}}));
}

TEST(ChartLayout, MessagesReplaceTheChartValuesTestedFirst) {
    ChartModel m;
    m.setPalette(0);
    EXPECT_EQ(m.layout(kW, kH).message, "Values count must be > 0");
    ASSERT_TRUE(m.addValue(3.0, "1"));
    const ChartLayout lay = m.layout(kW, kH);
    EXPECT_EQ(lay.message, "Color count mus be > 1");
    EXPECT_EQ(lay.messageRect, (ChartRect{0, 50, kW, kH}));
    EXPECT_TRUE(lay.bars.empty());
    m.setPalette(2);
    EXPECT_TRUE(m.layout(kW, kH).message.empty());
    EXPECT_TRUE(m.layout(kW, kH).bars.empty()); // kind 2, a new chart's, draws no bars
}

TEST(ChartHitTest, BarAndLabelUnderItButNotTheGapTheAirAboveASliverOrAnEmptyChart) {
    ChartModel m = daysWithOnlyThe12th(5000.0);
    EXPECT_EQ(m.hitTest(165, 40, kW, kH), 11);  // inside the tall bar
    EXPECT_EQ(m.hitTest(165, 170, kW, kH), 11); // on its label below the plot
    EXPECT_EQ(m.hitTest(55, 170, kW, kH), 0);   // on the label of an empty day
    EXPECT_EQ(m.hitTest(55, 100, kW, kH), -1);  // above that day's sliver
    EXPECT_EQ(m.hitTest(61, 170, kW, kH), -1);  // the gap between bars 0 and 1
    EXPECT_EQ(m.hitTest(165, 178, kW, kH), -1); // the last four rows are outside
    m.setChartKind(2);
    EXPECT_EQ(m.hitTest(165, 40, kW, kH), -1);
    EXPECT_EQ(daysWithOnlyThe12th(0.0).hitTest(165, 170, kW, kH), -1);
}

TEST(ChartValues, ClearThenAddKeepsOnlyTheNewTotalsAndRefusesBadValues) {
    ChartModel m = daysWithOnlyThe12th(5000.0);
    m.clearValues();
    ASSERT_TRUE(m.addValue(2.0, "1"));
    ASSERT_TRUE(m.addValue(7.5, "2"));
    EXPECT_EQ(m.total(), 9.5);
    EXPECT_EQ(m.maximum(), 7.5);
    m.setSelectedIndex(1);
    EXPECT_FALSE(m.addValue(-1.0, "x"));
    EXPECT_FALSE(m.addValue(std::numeric_limits<double>::quiet_NaN(), "x"));
    EXPECT_FALSE(m.addValue(std::numeric_limits<double>::infinity(), "x"));
    EXPECT_EQ(m.count(), 2u);
    EXPECT_EQ(m.selectedIndex(), 1); // a refused value changes nothing...
    ASSERT_TRUE(m.addValue(1.0, "3"));
    EXPECT_EQ(m.selectedIndex(), -1); // ...an accepted one drops the selection
}

TEST(ChartClick, CarriesIndexLabelCutTo59CharactersAndValue) {
    ChartModel m;
    ASSERT_TRUE(m.addValue(4.0, "\xC3\xA9" + std::string(70, 'b'))); // starts with a 2-byte é
    m.setSelectedIndex(0);
    ChartClick c = m.click();
    EXPECT_EQ(c.index, 0);
    EXPECT_EQ(c.label, "\xC3\xA9" + std::string(58, 'b')); // 59 characters, none cut in two
    EXPECT_EQ(c.value, 4.0);
    m.setSelectedIndex(1);
    c = m.click();
    EXPECT_EQ(c.index, 1);
    EXPECT_TRUE(c.label.empty());
    EXPECT_EQ(c.value, 0.0);
}

} // namespace
} // namespace tn

#include "graph/traffic_graph_model.h"

#include "app/global.h"
#include "support/fake_platform.h"

#include <gtest/gtest.h>

#include <memory>

namespace tn {
namespace {

class TrafficGraphModelTest : public ::testing::Test {
protected:
    test::FakePlatform fake;
    test::FakeSettingsStore& store = fake.settings;
    std::unique_ptr<CGlobal> global;

    // Loads the settings from a configuration text (empty: first run).
    CGlobal& load(const std::string& conf = "") {
        if (!conf.empty())
            store.text = "[SetariGenerale]\n" + conf;
        global = std::make_unique<CGlobal>(fake.services());
        global->loadSettings();
        return *global;
    }

    // The host's configuration steps after attachment.
    static void configure(CTrafficGraphModel& m, const CGlobal& g) {
        m.setTimerPeriods(1000, 100);
        m.setScalingMode(g.TMaxScale);
        m.restorePinPoint(g.PinPoint);
        m.setFixedMaximum(static_cast<double>((g.ConSpeed << 10) >> 3));
    }

    static void tick(CTrafficGraphModel& m, std::uint32_t in, std::uint32_t out) {
        m.setCurrentIncoming(in);
        m.setCurrentOutgoing(out);
        m.sampleTick();
    }

    static const GraphMenuItem* findCommand(const std::vector<GraphMenuItem>& menu, int command) {
        for (const auto& item : menu) {
            if (item.command == command)
                return &item;
            if (const auto* sub = findCommand(item.submenu, command))
                return sub;
        }
        return nullptr;
    }
};

TEST_F(TrafficGraphModelTest, Minute_FirstCompletedMinuteHoldsFiftyNineSamples) {
    CGlobal& g = load();
    CTrafficGraphModel m(g);
    m.attach(30, 40); // n = 10
    configure(m, g);
    m.selectTimeBase(1);
    // Sample k carries k bytes in and 1 byte out.
    for (std::uint32_t k = 1; k <= 59; ++k)
        tick(m, k, 1);
    EXPECT_EQ(m.valueAt(9), 0.0) << "no minute is complete after 59 samples";
    EXPECT_EQ(m.valueAt(10), 1770.0 + 59); // 1 + ... + 59 = 1770, plus 59 outgoing bytes
    tick(m, 60, 1);
    EXPECT_EQ(m.valueAt(9), 1829.0);
    EXPECT_EQ(m.valueAt(10), 61.0) << "the 60th sample opens the next minute";
    for (std::uint32_t k = 61; k <= 120; ++k)
        tick(m, k, 1);
    EXPECT_EQ(m.valueAt(8), 1829.0);
    EXPECT_EQ(m.valueAt(9), 5370.0 + 60); // 60 + ... + 119 = 5370
    EXPECT_EQ(m.valueAt(11), 0.0) << "beyond n reads 0";
}

TEST_F(TrafficGraphModelTest, Hour_FirstCompletedHourHolds3599Samples_AllSeriesAdvanceTogether) {
    CGlobal& g = load();
    CTrafficGraphModel m(g);
    m.attach(30, 40);
    configure(m, g);
    for (int k = 0; k < 3600; ++k)
        tick(m, 2, 1);
    // Shown per second all along; the other series were filled in the background.
    EXPECT_EQ(m.valueAt(9), 3.0);
    m.selectTimeBase(2);
    EXPECT_EQ(m.valueAt(9), 3599.0 * 3);
    EXPECT_EQ(m.valueAt(10), 3.0);
    EXPECT_EQ(m.valueAt(8), 0.0);
    m.selectTimeBase(1);
    EXPECT_EQ(m.valueAt(9), 180.0) << "samples 3540..3599";
    EXPECT_EQ(m.valueAt(0), 180.0);
    EXPECT_EQ(std::string(m.suffix()), "/m");
}

TEST_F(TrafficGraphModelTest, MinuteOrHour_TurnsAdaptiveOnAtOnce_AndHidesTheScalingItem) {
    CGlobal& g = load("TMaxScale=0\n");
    CTrafficGraphModel m(g);
    m.attach(30, 40);
    configure(m, g);
    ASSERT_EQ(m.adaptive(), 0);
    auto menu = m.contextMenu();
    const auto* scaling = findCommand(menu, kCmdToggleScaling);
    ASSERT_NE(scaling, nullptr);
    EXPECT_EQ(scaling->text, "Toggle scaling to Adaptative");

    m.executeCommand(kCmdMinute);
    EXPECT_EQ(m.adaptive(), 1);
    EXPECT_EQ(m.currentMaximum(), 0.0) << "the empty history is the new maximum";
    EXPECT_EQ(findCommand(m.contextMenu(), kCmdToggleScaling), nullptr);
    EXPECT_TRUE(findCommand(m.contextMenu(), kCmdMinute)->checked);
    EXPECT_FALSE(findCommand(m.contextMenu(), kCmdSecond)->checked);
    EXPECT_EQ(m.repaintIntervalMs(), 200);
    m.executeCommand(kCmdHour);
    EXPECT_EQ(findCommand(m.contextMenu(), kCmdToggleScaling), nullptr);
    EXPECT_EQ(m.repaintIntervalMs(), 1000);

    m.executeCommand(kCmdSecond);
    EXPECT_EQ(m.repaintIntervalMs(), 100);
    EXPECT_EQ(m.adaptive(), 1) << "adaptive stays on after the return to Second";
    menu = m.contextMenu();
    scaling = findCommand(menu, kCmdToggleScaling);
    ASSERT_NE(scaling, nullptr);
    EXPECT_EQ(scaling->text, "Toggle scaling to 16.00 KB/s"); // ConSpeed 128 -> 16384 B/s
    EXPECT_EQ(store.getInt("TMaxScale"), 0) << "switching the time base stores nothing";
}

TEST_F(TrafficGraphModelTest, ToggleScaling_AndInfoMode_AreWrittenAtOnce) {
    CGlobal& g = load();
    CTrafficGraphModel m(g);
    m.attach(30, 40);
    configure(m, g);
    ASSERT_EQ(m.adaptive(), 1);
    tick(m, 40000, 0);
    tick(m, 0, 0);
    EXPECT_EQ(m.currentMaximum(), 40000.0);

    m.executeCommand(kCmdToggleScaling);
    EXPECT_EQ(m.adaptive(), 0);
    EXPECT_EQ(m.currentMaximum(), 16384.0);
    EXPECT_EQ(g.TMaxScale, 0);
    EXPECT_EQ(store.getInt("TMaxScale"), 0);
    m.executeCommand(kCmdToggleScaling);
    EXPECT_EQ(m.currentMaximum(), 40000.0);
    EXPECT_EQ(store.getInt("TMaxScale"), 1);

    EXPECT_TRUE(findCommand(m.contextMenu(), kCmdInfoMode)->checked);
    m.executeCommand(kCmdInfoMode);
    EXPECT_EQ(g.GNfoMode, 0);
    EXPECT_EQ(store.getInt("GNfoMode"), 0);
    EXPECT_FALSE(findCommand(m.contextMenu(), kCmdInfoMode)->checked);
    m.executeCommand(kCmdInfoMode);
    EXPECT_EQ(store.getInt("GNfoMode"), 1);
    EXPECT_EQ(m.executeCommand(0), GraphCommandEffect::None);
}

TEST_F(TrafficGraphModelTest, TraffTpeOut_ShowsOutgoingOnly_AndTotalWritesZero) {
    CGlobal& g = load("TraffTpe=2\n");
    CTrafficGraphModel m(g);
    m.attach(30, 40);
    configure(m, g);
    EXPECT_TRUE(findCommand(m.contextMenu(), kCmdTrafficOut)->checked);
    EXPECT_FALSE(findCommand(m.contextMenu(), kCmdTrafficTotal)->checked);
    tick(m, 500, 70);
    tick(m, 0, 0);
    EXPECT_EQ(m.valueAt(9), 70.0);
    EXPECT_EQ(m.currentMaximum(), 70.0);

    m.executeCommand(kCmdTrafficTotal);
    EXPECT_EQ(g.TraffTpe, 0);
    EXPECT_EQ(store.getInt("TraffTpe"), 0);
    EXPECT_EQ(m.valueAt(9), 570.0);
    EXPECT_EQ(m.currentMaximum(), 570.0) << "the scale follows the new traffic type";
    m.executeCommand(kCmdTrafficIn);
    EXPECT_EQ(m.valueAt(9), 500.0);
    EXPECT_EQ(store.getInt("TraffTpe"), 1);
}

TEST_F(TrafficGraphModelTest, InfoText_FirstValueIsTheRightmostBar_SecondValueTheMaximum) {
    CGlobal& g = load();
    CTrafficGraphModel m(g);
    m.attach(30, 40);
    configure(m, g);
    EXPECT_EQ(m.infoText(), "") << "empty until the first sample";
    tick(m, 1536, 0);
    EXPECT_EQ(m.infoText(), " 0 B/s  /  0 B/s ");
    tick(m, 100, 0);
    EXPECT_EQ(m.valueAt(9), 1536.0);
    EXPECT_EQ(m.infoText(), " 1.50 KB/s  /  1.50 KB/s ");
    tick(m, 0, 0);
    EXPECT_EQ(m.infoText(), " 100 B/s  /  1.50 KB/s ");

    m.executeCommand(kCmdToggleScaling); // fixed: 16384 B/s
    tick(m, 0, 0);
    EXPECT_EQ(m.infoText(), " 0 B/s  /  16.00 KB/s ");
    m.selectTimeBase(1);
    tick(m, 0, 0);
    EXPECT_EQ(m.infoText(), " 1.60 KB/m  /  0 B/m ") << "1536 + 100 in the minute so far";
}

TEST_F(TrafficGraphModelTest, AdaptiveMaximum_FollowsTheVisibleBarsOnly) {
    CGlobal& g = load();
    CTrafficGraphModel m(g);
    m.attach(9, 40); // n = 3
    configure(m, g);
    const std::uint32_t samples[] = {100, 50, 0, 0, 0, 0};
    const double expectedMax[] = {0, 100, 100, 100, 50, 0};
    for (int k = 0; k < 6; ++k) {
        tick(m, samples[k], 0);
        EXPECT_EQ(m.currentMaximum(), expectedMax[k]) << "after sample " << k + 1;
    }
}

TEST_F(TrafficGraphModelTest, NarrowControl_HasNoColumns_ButStillAnInfoText) {
    CGlobal& g = load();
    CTrafficGraphModel m(g);
    m.attach(2, 40);
    configure(m, g);
    EXPECT_EQ(m.columns(), 0u);
    tick(m, 1024, 0);
    tick(m, 2048, 0);
    EXPECT_EQ(m.infoText(), " 1.00 KB/s  /  0 B/s ");
    EXPECT_EQ(m.valueAt(0), 2048.0);
    GraphFrame f;
    m.snapshot(f);
    EXPECT_TRUE(f.barTop.empty());

    m.selectTimeBase(1);
    for (int k = 0; k < 57; ++k)
        tick(m, 1, 0);
    EXPECT_EQ(m.valueAt(0), 1024.0 + 2048 + 57);
    tick(m, 1, 0);
    EXPECT_EQ(m.valueAt(0), 1.0) << "the minute in progress restarts on the 60th sample";
}

TEST_F(TrafficGraphModelTest, PinPoint_SavedOnlyWithInfoModeOn_AndZeroWhenUnpinnedOrAtOrigin) {
    {
        CGlobal& g = load();
        auto m = std::make_unique<CTrafficGraphModel>(g);
        m->attach(30, 40);
        configure(*m, g);
        EXPECT_EQ(m->pinX(), 15);
        EXPECT_EQ(m->pinY(), 20);
        EXPECT_TRUE(m->mouseMove(5, 7));
        m->leftButtonDown();
        EXPECT_FALSE(m->mouseMove(5, 7)) << "same position: no repaint";
        EXPECT_TRUE(m->mouseMove(12, 3));
        EXPECT_EQ(m->pinX(), 5) << "a pinned crosshair stays";
        m.reset();
        EXPECT_EQ(store.getInt("PinPoint"), 5 * 65536 + 7);
        EXPECT_EQ(g.PinPoint, 5 * 65536 + 7);
    }
    {
        CGlobal& g = load();
        ASSERT_EQ(g.PinPoint, 5 * 65536 + 7);
        auto m = std::make_unique<CTrafficGraphModel>(g);
        m->attach(30, 40);
        configure(*m, g);
        EXPECT_TRUE(m->pinLocked());
        EXPECT_EQ(m->pinX(), 5);
        EXPECT_EQ(m->pinY(), 7);
        m->leftButtonDown(); // unpin
        m.reset();
        EXPECT_EQ(store.getInt("PinPoint"), 0);
    }
    {
        CGlobal& g = load("PinPoint=1234\n");
        auto m = std::make_unique<CTrafficGraphModel>(g);
        m->attach(30, 40);
        m->mouseMove(0, 0); // the first move to the origin still moves the pin
        m->leftButtonDown();
        EXPECT_EQ(m->pinX(), 0);
        EXPECT_EQ(m->pinY(), 0);
        m.reset();
        EXPECT_EQ(store.getInt("PinPoint"), 0) << "a pin at the origin reads as no pin";
    }
    {
        CGlobal& g = load("PinPoint=1234\nGNfoMode=0\n");
        auto m = std::make_unique<CTrafficGraphModel>(g);
        m->attach(30, 40);
        m->mouseMove(9, 9);
        m->leftButtonDown();
        m.reset();
        EXPECT_EQ(store.getInt("PinPoint"), 1234) << "info mode off leaves PinPoint alone";
    }
}

TEST_F(TrafficGraphModelTest, RestorePinPoint_ReadsBothHalvesUnsigned) {
    CGlobal& g = load("GNfoMode=0\n");
    CTrafficGraphModel m(g);
    m.attach(30, 40);
    m.restorePinPoint(0);
    EXPECT_FALSE(m.pinLocked());
    EXPECT_EQ(m.pinX(), 15);
    m.restorePinPoint(static_cast<std::int32_t>(0xFFFF8001u));
    EXPECT_TRUE(m.pinLocked());
    EXPECT_EQ(m.pinX(), 65535);
    EXPECT_EQ(m.pinY(), 32769);
    // Far outside the control: the column reads 0 with a negative count.
    const CrosshairLabels labels = m.crosshairLabels();
    EXPECT_EQ(labels.valueLabel, " 0 B");
    EXPECT_EQ(labels.timeLabel, "-21835 /s ago"); // 10 - 65535 / 3
}

TEST_F(TrafficGraphModelTest, ConSpeedChange_MovesFixedMaximumAtOnce_BarsOnlyUnderFixedScale) {
    CGlobal& g = load();
    CTrafficGraphModel m(g);
    m.attach(30, 40);
    configure(m, g);
    tick(m, 8192, 0);
    tick(m, 0, 0);
    tick(m, 4096, 0);
    tick(m, 0, 0);
    // Adaptive: 8192 is the largest bar, full height; 4096 half of 40 pixels.
    EXPECT_EQ(m.barTop(m.valueAt(7)), 0);
    EXPECT_EQ(m.barTop(m.valueAt(9)), 20);
    m.setFixedMaximum(32768); // ConSpeed 256
    EXPECT_EQ(m.fixedMaximum(), 32768.0);
    EXPECT_EQ(findCommand(m.contextMenu(), kCmdToggleScaling)->text,
              "Toggle scaling to 32.00 KB/s");
    EXPECT_EQ(m.barTop(m.valueAt(7)), 0) << "adaptive bars do not move";

    m.executeCommand(kCmdToggleScaling);
    EXPECT_EQ(m.barTop(m.valueAt(7)), 30); // 8192 of 32768 is 10 of 40 pixels
    m.setFixedMaximum(16384);
    EXPECT_EQ(m.barTop(m.valueAt(7)), 20);
    EXPECT_EQ(m.barTop(m.valueAt(9)), 30);
}

TEST_F(TrafficGraphModelTest, BarTop_CutsAboveTheMaximum_AndZeroMaximumMeansFullHeight) {
    CGlobal& g = load("TMaxScale=0\nConSpeed=0\n");
    CTrafficGraphModel m(g);
    m.attach(30, 40);
    configure(m, g);
    EXPECT_EQ(m.currentMaximum(), 0.0);
    EXPECT_EQ(m.barTop(0), 40) << "no bar for zero";
    EXPECT_EQ(m.barTop(1), 0);
    EXPECT_EQ(m.barTop(4e9), 0);

    m.setFixedMaximum(1024); // 40 pixels per 1024 bytes
    EXPECT_EQ(m.barTop(1024), 0);
    EXPECT_EQ(m.barTop(500), 21); // 19.53 pixels, truncated to 19
    EXPECT_EQ(m.barTop(1040), 0); // 40.6 pixels still ends at the top row
    EXPECT_LT(m.barTop(1050), 0); // 41.02 pixels: taller than the control, cut at the top
    EXPECT_LT(m.barTop(4.0e300), 0);
    EXPECT_EQ(m.barTop(25), 40) << "less than a pixel draws nothing above the bottom";
}

TEST_F(TrafficGraphModelTest, Grid_StepsOnePixelLeftPerPaint_AndWraps) {
    CGlobal& g = load();
    CTrafficGraphModel m(g);
    m.attach(30, 40);
    const int expected[] = {10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 10, 9};
    EXPECT_EQ(m.gridOffsetX(), 0);
    for (int e : expected) {
        m.advanceGrid();
        EXPECT_EQ(m.gridOffsetX(), e);
        EXPECT_EQ(m.gridOffsetY(), 0);
    }
}

TEST_F(TrafficGraphModelTest, CrosshairLabels_TextsAndPlacement) {
    CGlobal& g = load();
    CTrafficGraphModel m(g);
    m.attach(30, 40);
    configure(m, g);
    tick(m, 3072, 0);
    tick(m, 0, 0);
    m.restorePinPoint((29 << 16) + 12);
    CrosshairLabels l = m.crosshairLabels();
    EXPECT_EQ(l.timeLabel, " 1 /s ago");
    EXPECT_EQ(l.valueLabel, " 3.00 KB");
    tick(m, 0, 0); // the 3 KB move on under the pin, which stays
    EXPECT_EQ(m.crosshairLabels().valueLabel, " 0 B");
    m.restorePinPoint((0 << 16) + 1);
    EXPECT_EQ(m.crosshairLabels().timeLabel, " 10 /s ago");
    m.selectTimeBase(2);
    EXPECT_EQ(m.crosshairLabels().timeLabel, " 10 /h ago");

    // Width 100, height 40, labels 12 high, value label 30 wide, info text 50 wide.
    placeCrosshairLabels(l, 20, 10, 100, 40, 12, 30, 50);
    EXPECT_EQ(l.timeX, 1);
    EXPECT_EQ(l.timeY, 11);
    EXPECT_EQ(l.valueX, 21);
    EXPECT_EQ(l.valueY, 18) << "left of the info text's end: below it";
    placeCrosshairLabels(l, 70, 28, 100, 40, 12, 30, 50);
    EXPECT_EQ(l.timeY, 16) << "28 + 12 reaches the bottom: above the line";
    EXPECT_EQ(l.valueX, 40) << "70 + 30 reaches the right edge: left of the line";
    EXPECT_EQ(l.valueY, 1);
    placeCrosshairLabels(l, 56, 27, 100, 40, 12, 30, 50);
    EXPECT_EQ(l.timeY, 28);
    EXPECT_EQ(l.valueX, 57);
    EXPECT_EQ(l.valueY, 1);
}

TEST_F(TrafficGraphModelTest, FirstRun_TotalAdaptiveInfoModeAndCentredPin) {
    CGlobal& g = load();
    CTrafficGraphModel m(g);
    m.attach(441, 66);
    configure(m, g);
    EXPECT_EQ(m.columns(), 147u);
    EXPECT_EQ(m.trafficType(), TrafficType::Total);
    EXPECT_EQ(m.timeBase(), TimeBase::Second);
    EXPECT_EQ(m.adaptive(), 1);
    EXPECT_TRUE(m.infoMode());
    EXPECT_FALSE(m.pinLocked());
    EXPECT_EQ(m.pinX(), 220);
    EXPECT_EQ(m.pinY(), 33);
    EXPECT_TRUE(m.mouseMove(100, 10));
    EXPECT_EQ(m.pinX(), 100);
    const auto menu = m.contextMenu();
    ASSERT_EQ(menu.size(), 4u);
    EXPECT_EQ(menu[0].text, "Select Traffic");
    EXPECT_EQ(menu[1].text, "Toggle scaling to 16.00 KB/s");
    EXPECT_EQ(menu[2].text, "Switch speeds");
    EXPECT_EQ(menu[3].text, "Info Mode");
    EXPECT_TRUE(menu[0].submenu[2].checked);
    EXPECT_EQ(menu[0].submenu[2].text, "Total");
}

} // namespace
} // namespace tn

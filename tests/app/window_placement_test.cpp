#include "app/window_placement.h"

#include <gtest/gtest.h>

namespace tn {
namespace {

// One 1280 x 800 screen with a 32-pixel panel at the top, and a second screen of 1920 x 1080 to
// its right, as their usable areas.
const ScreenRect kLeft{0, 32, 1280, 768};
const ScreenRect kRight{1280, 0, 1920, 1080};

struct Case {
    const char* what;
    ScreenRect frame;
    std::vector<ScreenRect> screens;
    ScreenPoint expected;
};

// The faults: a window restored where a scale factor or a removed monitor leaves it off every
// screen (a frameless one can then never be reached); a title bar above the top; a window moved
// although the user had put it somewhere visible.
TEST(WindowPlacementTest, PlaceOnScreens_OffScreenComesBack_OnScreenStays) {
    const Case cases[] = {
        {"on the screen: kept", {100, 100, 453, 283}, {kLeft}, {100, 100}},
        {"across two screens, wholly on them: kept",
         {1100, 100, 453, 283},
         {kLeft, kRight},
         {1100, 100}},
        {"1x position at scale 2 (screen 640 x 384): back inside",
         {1500, 700, 453, 283},
         {{0, 16, 640, 384}},
         {187, 117}},
        {"right edge over the screen: moved the least", {1000, 100, 453, 283}, {kLeft}, {827, 100}},
        {"title bar above the top (y = -20): moved down", {400, -20, 240, 520}, {kLeft}, {400, 32}},
        {"in the panel: moved below it", {400, 10, 240, 300}, {kLeft}, {400, 32}},
        {"monitor gone: onto the nearest remaining", {2500, 500, 453, 283}, {kLeft}, {827, 500}},
        {"mostly on the right screen: onto it",
         {1200, 900, 453, 283},
         {kLeft, kRight},
         {1280, 797}},
        {"in the gap under a lower screen: onto the nearer",
         {100, 900, 200, 100},
         {kLeft, kRight},
         {100, 700}},
        {"taller than the screen: its top shown", {100, 100, 222, 900}, {kLeft}, {100, 32}},
        {"no screen known: kept", {-5000, -5000, 100, 100}, {}, {-5000, -5000}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(placeOnScreens(c.frame, c.screens), c.expected) << c.what;
}

TEST(WindowPlacementTest, VisibleContentHeight_ShrinksOnlyWhenTheScreenIsTooSmall) {
    EXPECT_EQ(visibleContentHeight(496, 30, 768), 496);
    EXPECT_EQ(visibleContentHeight(496, 30, 526), 496); // exactly fits
    EXPECT_EQ(visibleContentHeight(496, 30, 525), 495);
    EXPECT_EQ(visibleContentHeight(496, 30, 384), 354);
    EXPECT_EQ(visibleContentHeight(496, 0, 20), 20);
    EXPECT_EQ(visibleContentHeight(496, 30, 10), 1);
}

} // namespace
} // namespace tn

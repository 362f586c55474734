#pragma once
#include <vector>

namespace tn {

// A rectangle in the desktop's coordinates (logical pixels), as the toolkit reports screens.
struct ScreenRect {
    int x = 0, y = 0, width = 0, height = 0;
    bool operator==(const ScreenRect&) const = default;
};

struct ScreenPoint {
    int x = 0, y = 0;
    bool operator==(const ScreenPoint&) const = default;
};

// Where a window opens, given its frame at the place it would open and the screens' usable
// areas. A frame that lies wholly on the screens keeps its place (across two screens too);
// otherwise it moves the least distance that puts it wholly on the screen it overlaps most, or,
// off every screen, the nearest one. A frame larger than that screen shows its top-left part,
// where the title bar and the first controls are. No screens: the place is kept.
ScreenPoint placeOnScreens(const ScreenRect& frame, const std::vector<ScreenRect>& screens);

// The height a dialog's content may take on a screen: all of it when it fits, else what is left
// of the usable height beside the frame, and a scroll bar then reaches the rest.
int visibleContentHeight(int contentHeight, int frameExtra, int availableHeight);

} // namespace tn

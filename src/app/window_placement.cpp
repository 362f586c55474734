#include "app/window_placement.h"

#include <algorithm>
#include <cstdint>
#include <limits>

namespace tn {

namespace {

bool contains(const ScreenRect& s, int x, int y) {
    return x >= s.x && y >= s.y && x < s.x + s.width && y < s.y + s.height;
}

std::int64_t overlap(const ScreenRect& a, const ScreenRect& b) {
    const std::int64_t w = std::min(a.x + a.width, b.x + b.width) - std::max(a.x, b.x);
    const std::int64_t h = std::min(a.y + a.height, b.y + b.height) - std::max(a.y, b.y);
    return w > 0 && h > 0 ? w * h : 0;
}

// Squared distance from the frame's centre to the screen (0 inside it).
std::int64_t distance(const ScreenRect& frame, const ScreenRect& s) {
    const std::int64_t cx = frame.x + frame.width / 2, cy = frame.y + frame.height / 2;
    const std::int64_t dx = std::max<std::int64_t>({s.x - cx, 0, cx - (s.x + s.width - 1)});
    const std::int64_t dy = std::max<std::int64_t>({s.y - cy, 0, cy - (s.y + s.height - 1)});
    return dx * dx + dy * dy;
}

bool onSomeScreen(const std::vector<ScreenRect>& screens, int x, int y) {
    return std::any_of(screens.begin(), screens.end(),
                       [&](const ScreenRect& s) { return contains(s, x, y); });
}

int clampInto(int start, int length, int lo, int size) {
    if (length >= size || start < lo)
        return lo;
    return std::min(start, lo + size - length);
}

} // namespace

ScreenPoint placeOnScreens(const ScreenRect& frame, const std::vector<ScreenRect>& screens) {
    std::vector<ScreenRect> usable;
    std::copy_if(screens.begin(), screens.end(), std::back_inserter(usable),
                 [](const ScreenRect& s) { return s.width > 0 && s.height > 0; });
    if (usable.empty())
        return {frame.x, frame.y};
    const int right = frame.x + std::max(frame.width, 1) - 1;
    const int bottom = frame.y + std::max(frame.height, 1) - 1;
    if (onSomeScreen(usable, frame.x, frame.y) && onSomeScreen(usable, right, frame.y) &&
        onSomeScreen(usable, frame.x, bottom) && onSomeScreen(usable, right, bottom))
        return {frame.x, frame.y};

    const ScreenRect* best = nullptr;
    std::int64_t bestOverlap = 0;
    std::int64_t bestDistance = std::numeric_limits<std::int64_t>::max();
    for (const ScreenRect& s : usable) {
        const std::int64_t o = overlap(frame, s);
        const std::int64_t d = distance(frame, s);
        if (o > bestOverlap || (o == bestOverlap && bestOverlap == 0 && d < bestDistance)) {
            best = &s;
            bestOverlap = o;
            bestDistance = d;
        }
    }
    return {clampInto(frame.x, frame.width, best->x, best->width),
            clampInto(frame.y, frame.height, best->y, best->height)};
}

int visibleContentHeight(int contentHeight, int frameExtra, int availableHeight) {
    const int room = availableHeight - std::max(frameExtra, 0);
    if (contentHeight <= room)
        return contentHeight;
    return std::max(room, 1);
}

} // namespace tn

#include "CompositeSize.h"

#include <algorithm>
#include <cmath>

namespace lagwell {

CompositeSize compositeSizeFor(const std::vector<PanelRect>& panelRects, int32_t resolutionTier,
                               int32_t maxCaptureHeight)
{
    double boxWidth = 16;
    double boxHeight = 9;
    bool any = false;
    int64_t left = 0, top = 0, right = 0, bottom = 0;
    for (const PanelRect& r : panelRects) {
        if (r.width <= 0 || r.height <= 0)
            continue;
        const int64_t rRight = int64_t {r.x} + r.width;
        const int64_t rBottom = int64_t {r.y} + r.height;
        left = any ? std::min<int64_t>(left, r.x) : r.x;
        top = any ? std::min<int64_t>(top, r.y) : r.y;
        right = any ? std::max(right, rRight) : rRight;
        bottom = any ? std::max(bottom, rBottom) : rBottom;
        any = true;
    }
    if (any) {
        boxWidth = static_cast<double>(right - left);
        boxHeight = static_cast<double>(bottom - top);
    }

    // Short side (base) and long-side limit (cap) from the tier and the
    // highest height the cameras can deliver.
    double base = 720;
    double cap = 1440;
    if (resolutionTier == 1) {
        base = maxCaptureHeight >= 1080 ? 1080 : std::max(maxCaptureHeight, 720);
        cap = maxCaptureHeight >= 1080 ? 2160 : 2 * base;
    } else if (resolutionTier == 2) {
        base = maxCaptureHeight >= 2160 ? 2160 : std::max(maxCaptureHeight, 720);
        cap = maxCaptureHeight >= 2160 ? 4320 : 2 * base;
    }

    long width = 0;
    long height = 0;
    if (boxWidth >= boxHeight) {
        width = std::lround(base * boxWidth / boxHeight);
        height = std::lround(base);
        if (width > cap) {
            height = std::lround(cap * boxHeight / boxWidth);
            width = std::lround(cap);
        }
    } else {
        height = std::lround(base * boxHeight / boxWidth);
        width = std::lround(base);
        if (height > cap) {
            width = std::lround(cap * boxWidth / boxHeight);
            height = std::lround(cap);
        }
    }
    CompositeSize size;
    size.width = static_cast<int32_t>(std::max(16L, width / 16 * 16));
    size.height = static_cast<int32_t>(std::max(16L, height / 16 * 16));
    return size;
}

}  // namespace lagwell

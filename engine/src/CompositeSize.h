#pragma once

#include "EngineTypes.h"

#include <cstdint>
#include <vector>

namespace lagwell {

// The size of the composite picture for a recording or a share: the bounding
// box of the panels' on-screen rectangles (16:9 when none has an area),
// scaled to the capture tier's short side, capped on the long side, and
// rounded down to multiples of 16 (at least 16).
struct CompositeSize {
    int32_t width = 0;
    int32_t height = 0;
};

CompositeSize compositeSizeFor(const std::vector<PanelRect>& panelRects, int32_t resolutionTier,
                               int32_t maxCaptureHeight);

}  // namespace lagwell

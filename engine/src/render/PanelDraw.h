#pragma once

#include "DecodedFrame.h"
#include "EngineTypes.h"

#include <cstdint>
#include <memory>

namespace lagwell {

// One panel as the compositor sees it, built by the engine after each window
// frame in ascending panel id. frame is the panel's current picture (null
// when it has none yet); picture holds the same picture, so it stays alive
// until the list goes, even if the panel is destroyed meanwhile.
struct PanelDraw {
    int32_t panelId = 0;
    const DecodedFrame* frame = nullptr;
    PanelParams params;
    PanelRect rect;  // last on-screen rectangle, device pixels, top-left origin
    std::shared_ptr<const DecodedFrame> picture;
};

}  // namespace lagwell

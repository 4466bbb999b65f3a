#pragma once

#include "EngineTypes.h"

#include <cstdint>
#include <map>
#include <optional>

namespace lagwell {

// What the compositor burns into a recording: the title band, the closing
// card and each panel's delay badge. The engine keeps one; the renderer draws
// from its own copy, replaced whole at each hand-over.
struct OverlayState {
    int64_t elapsedMs = 0;  // recording clock
    std::optional<TitleCardLabels> labels;  // empty: no title band
    bool closing = false;
    int64_t closingStartMs = 0;   // steady clock, when the closing card began
    int64_t finalDurationMs = 0;  // printed on the closing card
    std::map<int32_t, int32_t> panelDelayMs;  // panel id -> badge delay
};

}  // namespace lagwell

#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace lagwell {

// One decoded picture: 8-bit samples, rows top-down, packed planes (each
// stride equals its row length). Immutable once published.
struct DecodedFrame {
    enum class Layout : int32_t {
        I420 = 0,  // Y, U, V; chroma ((w + 1) / 2) x ((h + 1) / 2)
        // Y, interleaved UV pairs; third plane empty. The UV stride is
        // 2 * ((w + 1) / 2): w, or w + 1 for odd widths so the last pair fits.
        NV12 = 1,
    };

    Layout layout = Layout::I420;
    int32_t width = 0;
    int32_t height = 0;
    std::array<std::vector<uint8_t>, 3> planes;
    std::array<int32_t, 3> strides {0, 0, 0};
    int64_t wallMs = 0;     // of the EncodedFrame it came from
    uint64_t seq = 0;       // of that EncodedFrame; the renderer uploads only when it changes
    int32_t rotationDeg = 0;  // source rotation, added to the panel's own
};

}  // namespace lagwell

#pragma once

// Known pictures for drawing tests and what to look for in a read-back.

#include "DecodedFrame.h"
#include "GlTestContext.h"

#include <cstdint>
#include <vector>

namespace lagwell::testpictures {

// A solid I420 picture, packed strides.
DecodedFrame solidI420(int width, int height, uint8_t y, uint8_t u, uint8_t v, uint64_t seq = 1);

// A solid NV12 picture laid out as the decoder hands it over: the chroma
// plane is width bytes per row (one byte short of the pairs for odd widths).
DecodedFrame solidNv12(int width, int height, uint8_t y, uint8_t u, uint8_t v, uint64_t seq = 1);

// Sets the luma samples of columns [x0, x1) and rows [y0, y1).
void fillLuma(DecodedFrame& frame, int x0, int y0, int x1, int y1, uint8_t value);

// Luma = 16 + 2 x row (clamped to 255): a vertical gradient.
void verticalLumaGradient(DecodedFrame& frame);

// Where the bright pixels (red channel >= threshold) of a top-down read-back
// are: their count and centroid in pixel-centre coordinates.
struct BrightArea {
    int count = 0;
    double centreX = 0.0;
    double centreY = 0.0;
};
BrightArea findBright(const std::vector<uint8_t>& rgba, int width, int height, uint8_t threshold = 128);

}  // namespace lagwell::testpictures

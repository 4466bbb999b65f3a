#include "TestPictures.h"

#include <algorithm>

namespace lagwell::testpictures {

DecodedFrame solidI420(int width, int height, uint8_t y, uint8_t u, uint8_t v, uint64_t seq)
{
    DecodedFrame frame;
    frame.layout = DecodedFrame::Layout::I420;
    frame.width = width;
    frame.height = height;
    const int chromaWidth = (width + 1) / 2;
    const int chromaHeight = (height + 1) / 2;
    frame.planes[0].assign(static_cast<size_t>(width) * height, y);
    frame.planes[1].assign(static_cast<size_t>(chromaWidth) * chromaHeight, u);
    frame.planes[2].assign(static_cast<size_t>(chromaWidth) * chromaHeight, v);
    frame.strides = {width, chromaWidth, chromaWidth};
    frame.seq = seq;
    return frame;
}

DecodedFrame solidNv12(int width, int height, uint8_t y, uint8_t u, uint8_t v, uint64_t seq)
{
    DecodedFrame frame;
    frame.layout = DecodedFrame::Layout::NV12;
    frame.width = width;
    frame.height = height;
    const int chromaHeight = (height + 1) / 2;
    frame.planes[0].assign(static_cast<size_t>(width) * height, y);
    frame.planes[1].resize(static_cast<size_t>(width) * chromaHeight);
    for (size_t i = 0; i < frame.planes[1].size(); ++i)
        frame.planes[1][i] = (i % static_cast<size_t>(width)) % 2 == 0 ? u : v;
    frame.strides = {width, width, 0};
    frame.seq = seq;
    return frame;
}

void fillLuma(DecodedFrame& frame, int x0, int y0, int x1, int y1, uint8_t value)
{
    for (int row = std::max(0, y0); row < std::min(frame.height, y1); ++row)
        for (int column = std::max(0, x0); column < std::min(frame.width, x1); ++column)
            frame.planes[0][static_cast<size_t>(row) * frame.strides[0] + column] = value;
}

void verticalLumaGradient(DecodedFrame& frame)
{
    for (int row = 0; row < frame.height; ++row)
        fillLuma(frame, 0, row, frame.width, row + 1, static_cast<uint8_t>(std::min(255, 16 + 2 * row)));
}

BrightArea findBright(const std::vector<uint8_t>& rgba, int width, int height, uint8_t threshold)
{
    BrightArea area;
    double sumX = 0.0;
    double sumY = 0.0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            if (rgba[(static_cast<size_t>(y) * width + x) * 4] >= threshold) {
                ++area.count;
                sumX += x + 0.5;
                sumY += y + 0.5;
            }
        }
    }
    if (area.count > 0) {
        area.centreX = sumX / area.count;
        area.centreY = sumY / area.count;
    }
    return area;
}

}  // namespace lagwell::testpictures

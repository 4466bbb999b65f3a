#pragma once

#include <cstdint>

namespace lagwell {

// A consumer of composite pictures (the recorder, the share encoder).
// Every operation is called on the render thread, at every composite.
class CompositeSink {
public:
    virtual ~CompositeSink() = default;

    // The picture size this sink wants, in pixels.
    virtual int width() const = 0;
    virtual int height() const = 0;

    // One composite picture: rows bottom-up, four bytes (RGBA) per pixel.
    // `rgba` is valid only during the call; the sink copies what it keeps.
    // `ptsUs` counts the compositor's slots of this size in 33,333 us steps
    // (even, rising: a stream's times; a stall leaves a gap); `slotNs` is the
    // steady-clock moment of the slot, 30 a second, whose picture this is
    // (drawn at the window frame nearest it), whatever the latency since.
    virtual void submitRgba(const uint8_t* rgba, int strideBytes, int64_t ptsUs, int64_t slotNs) = 0;

    // False once the sink wants no more pictures.
    virtual bool active() const = 0;
};

}  // namespace lagwell

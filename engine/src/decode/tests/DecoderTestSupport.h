#pragma once

// Helpers shared by the decoder tests: a settable wall clock, frame makers
// that go through the real TurboJPEG and libx264 encoders, and polling waits
// with generous deadlines.

#include "DecodedFrame.h"
#include "EngineTypes.h"
#include "FrameRing.h"
#include "TripleBuffer.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace decodetest {

constexpr auto kDeadline = std::chrono::seconds(20);
constexpr int64_t kBaseWallMs = 1'700'000'000'000;  // a plausible epoch time
// A ring window no test outlives.
constexpr int64_t kLongWindowMs = 1'000'000;

// Wall time of frame `index` of a 30 fps stream starting at kBaseWallMs.
inline int64_t frameWallMs(int index)
{
    return kBaseWallMs + index * 1000 / 30;
}

// A wall clock that only moves when told to.
class FakeClock {
public:
    explicit FakeClock(int64_t nowMs) : m_nowMs(nowMs) {}
    void set(int64_t nowMs) { m_nowMs.store(nowMs); }
    int64_t now() const { return m_nowMs.load(); }
    std::function<int64_t()> function() const
    {
        return [this] { return m_nowMs.load(); };
    }

private:
    std::atomic<int64_t> m_nowMs;
};

// Planes of a picture at a JPEG subsampling's own chroma size. TurboJPEG
// reads whole MCUs, so the luma plane is padded to its plane size (the edge
// repeated) and `lumaStride` may exceed `width`.
struct YuvPicture {
    int width = 0;
    int height = 0;
    int subsampling = 0;  // TJSAMP_*
    int lumaStride = 0;
    std::vector<uint8_t> y;
    std::vector<uint8_t> u;  // empty for greyscale
    std::vector<uint8_t> v;
    int chromaWidth = 0;
    int chromaHeight = 0;
};

// Smooth luma and chroma gradients: luma over x + y, U over x, V over y.
// Chroma samples take the value at the centre of the luma block they cover.
YuvPicture makeGradientPicture(int width, int height, int subsampling);
int gradientU(double lumaX, int width);
int gradientV(double lumaY, int height);
int gradientY(int x, int y, int width, int height);

std::vector<uint8_t> encodeYuvJpeg(const YuvPicture& picture, int quality = 100);
// A flat picture (every luma sample `luma`) in 4:2:0.
std::vector<uint8_t> encodeFlatJpeg(int width, int height, uint8_t luma);

lagwell::EncodedFrame jpegFrame(std::vector<uint8_t> data, int64_t wallMs);

struct H264Options {
    int width = 160;
    int height = 96;
    int frames = 90;
    int gop = 15;
    bool globalHeader = false;  // parameter sets out of band (returned in extradata)
    bool yuv444 = false;
    int bFrames = 0;  // consecutive B frames (no pyramid); 0 = no reordering at all
    // Interlaced coding (no B frames only): picture order counts are then
    // written in every slice header, as shiftPictureOrder needs.
    bool interlaced = false;
};

struct H264Stream {
    std::vector<lagwell::EncodedFrame> frames;  // sending order; wallMs and seq left 0
    std::vector<int> displayIndex;              // per frame: the picture index it carries (its luma)
    std::vector<uint8_t> extradata;             // Annex-B SPS and PPS when globalHeader
};

// Picture i is flat with luma lumaForIndex(i) (chroma 90 and 170). With B
// frames the frames come in sending order, which is not picture order.
H264Stream encodeH264(const H264Options& options);

// The access unit with every SPS rewritten without the VUI's bitstream
// restriction, so the stream no longer states its reorder depth and
// libavcodec has to guess it (as for many camera streams). Throws on an SPS
// it cannot rewrite (scaling lists, HRD parameters, no VUI).
std::vector<uint8_t> withoutReorderLimit(const std::vector<uint8_t>& accessUnit);

// Moves the picture order count in the slice headers of a non-IDR frame by
// `delta` (modulo the field's width), so the picture claims another place in
// display order and still decodes cleanly. `spsAccessUnit` holds the stream's
// SPS, which must write the counts in slice headers (type 0). False, the frame
// untouched, when it has no non-IDR slice.
bool shiftPictureOrder(std::vector<uint8_t>& accessUnit, const std::vector<uint8_t>& spsAccessUnit, int delta);

// For each frame k: the frame (by index in sending order) whose picture a
// fresh libavcodec decoder shows last after frames 0..k; -1 before any.
std::vector<int> referenceLatestPictures(const H264Stream& stream);
uint8_t lumaForIndex(int index);
// The index (modulo the cycle of lumaForIndex) a decoded luma value stands for.
int indexForLuma(int luma);
constexpr int kLumaCycle = 40;

// Mean of a plane's samples.
double planeMean(const std::vector<uint8_t>& plane);

// Polls until `done` is true or the deadline passes; returns done().
bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds deadline = kDeadline);

// Polls the buffer until it hands out a picture with this sequence number.
std::shared_ptr<const lagwell::DecodedFrame> waitForSeq(lagwell::TripleBuffer& buffer, uint64_t seq);

// Counts lines of `text` containing `needle`.
int countLines(const std::string& text, const std::string& needle);

}  // namespace decodetest

// Replay-buffer costs at the sizes a session sees: appends with eviction, and
// the copies a decoder takes per frame.

#include "FrameRing.h"

#include <chrono>
#include <cstdio>

using Clock = std::chrono::steady_clock;

namespace {

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void benchAppend(const char* name, size_t frameBytes, int gop)
{
    lagwell::FrameRing ring(60000);
    const int frames = 30 * 240;  // four minutes at 30 fps
    const auto start = Clock::now();
    for (int i = 0; i < frames; ++i) {
        lagwell::EncodedFrame frame;
        frame.data.resize(frameBytes);
        frame.wallMs = int64_t {i} * 1000 / 30;
        frame.keyframe = i % gop == 0;
        ring.add(std::move(frame));
    }
    const double s = secondsSince(start);
    std::printf("%-28s %8.2f us/add  held %llu frames, %.1f MiB\n", name, s * 1e6 / frames,
                static_cast<unsigned long long>(ring.count()), ring.bytes() / 1048576.0);

    const int reads = 2000;
    const uint64_t newest = ring.newest()->seq;
    const auto readStart = Clock::now();
    for (int i = 0; i < reads; ++i)
        (void)ring.bySequence(newest - static_cast<uint64_t>(i % 1000));
    std::printf("%-28s %8.2f us/bySequence copy\n", name, secondsSince(readStart) * 1e6 / reads);
}

}  // namespace

int main()
{
    benchAppend("MJPEG 720p (~150 KiB)", 150 * 1024, 1);
    benchAppend("H.264 1080p (~40 KiB, GOP 30)", 40 * 1024, 30);
    return 0;
}

#pragma once

// Shared by the panel decoder benchmarks: the test-pattern camera feeding a
// ring, the decode threads' CPU time, and a bare TurboJPEG decode paced like
// a panel as the baseline.

#include "FrameRing.h"
#include "PanelDecoder.h"
#include "TestPatternSource.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace bench {

int64_t wallNowMs();

// Thread ids of this process whose name starts with "tvx-dec".
std::set<int> decoderThreads();

// Starts `decoder` and returns the id of the decode thread it made (0 when
// none showed up within about 200 ms).
int startDecoderAndFindThread(lagwell::PanelDecoder& decoder);

// CPU time of one thread in nanoseconds (0 when it cannot be read).
uint64_t threadCpuNs(int tid);

// CPU time of the calling thread in nanoseconds.
int64_t threadCpuNsSelf();

// The first frames the camera delivered, kept for the baselines.
struct KeptFrames {
    std::mutex mutex;  // guards: frames
    std::vector<std::vector<uint8_t>> frames;
};

// Starts `camera` at width x height, 30 fps, adding every frame to `ring`
// and keeping the first 150 in `kept`; sets the ring's stream once started.
bool feedRingFromTestPattern(lagwell::TestPatternSource& camera, const std::shared_ptr<lagwell::FrameRing>& ring,
                             int width, int height, KeptFrames& kept, std::string* error);

// A copy of the frames kept so far.
std::vector<std::vector<uint8_t>> keptFrames(KeptFrames& kept);

// Mean milliseconds per frame of tjDecompressToYUVPlanes into packed I420
// planes, the way the decoder's 4:2:0 path calls it, in a tight loop.
double bareTurboJpegMs(const std::vector<std::vector<uint8_t>>& frames, int width, int height);

// Decodes the frames one every 33 ms, like a panel at 30 fps, into packed
// I420 planes the way the decoder's 4:2:0 path does, until told to stop;
// reports its CPU time per frame.
class PacedBaseline {
public:
    PacedBaseline(std::vector<std::vector<uint8_t>> frames, int width, int height);
    PacedBaseline(const PacedBaseline&) = delete;
    PacedBaseline& operator=(const PacedBaseline&) = delete;
    ~PacedBaseline();
    double stopAndReportMs();

private:
    void loop();

    std::vector<std::vector<uint8_t>> m_frames;
    int m_width;
    int m_height;
    std::atomic<bool> m_running {true};
    std::thread m_thread;
    int64_t m_cpuNs = 0;  // the thread's own, read after join
    int m_decoded = 0;
};

}  // namespace bench

// Panel decoder cost against the bare codec. One ring is fed by the
// test-pattern camera at 30 fps (1280x720, then 1920x1080); 1, 2 and 4
// panels follow it at different delays. Per panel: frames decoded, the
// decode thread's CPU time and its CPU time per frame; then a bare TurboJPEG
// loop decodes the same frames into the same planes as the baseline, and the
// ratio of the two is printed (target: at most 1.1). A second baseline runs
// the same bare decode paced at 30 fps on its own thread beside the panels,
// so it pays the same cold caches and wake-ups as a panel does.

#include "FrameRing.h"
#include "PanelDecoder.h"
#include "TestPatternSource.h"
#include "TripleBuffer.h"

#include <turbojpeg.h>

#include <dirent.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

using SteadyClock = std::chrono::steady_clock;

// Thread ids of this process whose name starts with "tvx-dec".
std::set<int> decoderThreads()
{
    std::set<int> tids;
    DIR* dir = opendir("/proc/self/task");
    if (!dir)
        return tids;
    while (dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.')
            continue;
        std::ifstream comm(std::string("/proc/self/task/") + entry->d_name + "/comm");
        std::string name;
        std::getline(comm, name);
        if (name.rfind("tvx-dec", 0) == 0)
            tids.insert(std::atoi(entry->d_name));
    }
    closedir(dir);
    return tids;
}

// CPU time of one thread in nanoseconds (0 when it cannot be read).
uint64_t threadCpuNs(int tid)
{
    std::ifstream stat("/proc/self/task/" + std::to_string(tid) + "/schedstat");
    uint64_t ns = 0;
    stat >> ns;
    return ns;
}

int64_t wallNowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// Mean milliseconds per frame of tjDecompressToYUVPlanes into packed I420
// planes, the way the decoder's 4:2:0 path calls it.
double bareTurboJpegMs(const std::vector<std::vector<uint8_t>>& frames, int width, int height)
{
    tjhandle handle = tjInitDecompress();
    std::vector<uint8_t> y(static_cast<size_t>(width) * height);
    const int chromaWidth = (width + 1) / 2;
    std::vector<uint8_t> u(static_cast<size_t>(chromaWidth) * ((height + 1) / 2));
    std::vector<uint8_t> v(u.size());
    unsigned char* planes[3] = {y.data(), u.data(), v.data()};
    int strides[3] = {width, chromaWidth, chromaWidth};
    const int rounds = 3;
    const auto start = SteadyClock::now();
    int decoded = 0;
    for (int round = 0; round < rounds; ++round) {
        for (const auto& jpeg : frames) {
            if (tjDecompressToYUVPlanes(handle, jpeg.data(), jpeg.size(), planes, width, strides, height, 0) == 0)
                ++decoded;
        }
    }
    const double ms = std::chrono::duration<double, std::milli>(SteadyClock::now() - start).count();
    tjDestroy(handle);
    return decoded ? ms / decoded : 0.0;
}

int64_t threadCpuNsSelf()
{
    timespec ts {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

// Decodes the frames one every 33 ms, like a panel at 30 fps, until told to
// stop; reports its CPU time per frame.
class PacedBaseline {
public:
    PacedBaseline(std::vector<std::vector<uint8_t>> frames, int width, int height)
        : m_frames(std::move(frames)), m_width(width), m_height(height)
    {
        m_thread = std::thread([this] { loop(); });
    }
    double stopAndReportMs()
    {
        m_running.store(false);
        m_thread.join();
        return m_decoded ? m_cpuNs / 1e6 / m_decoded : 0.0;
    }

private:
    void loop()
    {
        tjhandle handle = tjInitDecompress();
        std::vector<uint8_t> y(static_cast<size_t>(m_width) * m_height);
        const int chromaWidth = (m_width + 1) / 2;
        std::vector<uint8_t> u(static_cast<size_t>(chromaWidth) * ((m_height + 1) / 2));
        std::vector<uint8_t> v(u.size());
        unsigned char* planes[3] = {y.data(), u.data(), v.data()};
        int strides[3] = {m_width, chromaWidth, chromaWidth};
        auto next = SteadyClock::now();
        for (size_t i = 0; m_running.load() && !m_frames.empty(); ++i) {
            const auto& jpeg = m_frames[i % m_frames.size()];
            const int64_t before = threadCpuNsSelf();
            if (tjDecompressToYUVPlanes(handle, jpeg.data(), jpeg.size(), planes, m_width, strides, m_height, 0) == 0)
                ++m_decoded;
            m_cpuNs += threadCpuNsSelf() - before;
            next += std::chrono::microseconds(33333);
            std::this_thread::sleep_until(next);
        }
        tjDestroy(handle);
    }

    std::vector<std::vector<uint8_t>> m_frames;
    int m_width;
    int m_height;
    std::atomic<bool> m_running {true};
    std::thread m_thread;
    int64_t m_cpuNs = 0;  // the thread's own, read after join
    int m_decoded = 0;
};

// CPU milliseconds per second a decoder spends polling a ring that has
// nothing new for it (its 8 ms passes and wake-ups).
double idlePollCpuMsPerSecond()
{
    auto ring = std::make_shared<lagwell::FrameRing>(10000);
    lagwell::EncodedFrame frame;
    frame.data.assign(64, 0);
    frame.wallMs = wallNowMs() - 100000;  // long past, and not a JPEG: nothing decodes
    frame.keyframe = true;
    ring->add(std::move(frame));
    lagwell::TripleBuffer out;
    const std::set<int> before = decoderThreads();
    lagwell::PanelDecoder decoder(ring, out);
    decoder.start();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    int tid = 0;
    for (int candidate : decoderThreads()) {
        if (!before.count(candidate))
            tid = candidate;
    }
    const uint64_t start = threadCpuNs(tid);
    std::this_thread::sleep_for(std::chrono::seconds(3));
    const uint64_t end = threadCpuNs(tid);
    decoder.stop();
    return (end - start) / 1e6 / 3.0;
}

struct Panel {
    int32_t delayMs = 0;
    lagwell::TripleBuffer out;
    std::unique_ptr<lagwell::PanelDecoder> decoder;
    int tid = 0;
};

void run(int width, int height, int panelCount, double pollMsPerSecond)
{
    auto ring = std::make_shared<lagwell::FrameRing>(10000);
    std::mutex keptMutex;
    std::vector<std::vector<uint8_t>> kept;  // the frames, for the baseline
    lagwell::TestPatternSource camera;
    lagwell::CaptureRequest request;
    request.deviceId = "test";
    request.width = width;
    request.height = height;
    request.fps = 30;
    camera.start(request, [&](lagwell::EncodedFrame&& frame) {
        {
            std::lock_guard lock(keptMutex);
            if (kept.size() < 150)
                kept.push_back(frame.data);
        }
        ring->add(std::move(frame));
    }, nullptr);
    ring->setStream(camera.negotiatedFourcc(), camera.negotiatedWidth(), camera.negotiatedHeight(), {});

    // Enough history for the longest delay.
    const int32_t delays[] = {0, 500, 1000, 1500};
    while (ring->count() == 0 || ring->oldestWallMs() > wallNowMs() - 1700)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));

    std::vector<std::unique_ptr<Panel>> panels;
    for (int i = 0; i < panelCount; ++i) {
        auto panel = std::make_unique<Panel>();
        panel->delayMs = delays[i];
        const std::set<int> before = decoderThreads();
        panel->decoder = std::make_unique<lagwell::PanelDecoder>(ring, panel->out);
        panel->decoder->setDelayMs(panel->delayMs);
        panel->decoder->start();
        for (int attempt = 0; attempt < 200 && panel->tid == 0; ++attempt) {
            for (int tid : decoderThreads()) {
                if (!before.count(tid))
                    panel->tid = tid;
            }
            if (panel->tid == 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        panels.push_back(std::move(panel));
    }

    std::vector<std::vector<uint8_t>> frames;
    {
        std::lock_guard lock(keptMutex);
        frames = kept;
    }
    PacedBaseline paced(frames, width, height);

    std::this_thread::sleep_for(std::chrono::milliseconds(700));  // seek and catch up
    std::vector<uint64_t> cpuStart;
    std::vector<uint64_t> seqStart;
    for (auto& panel : panels) {
        cpuStart.push_back(threadCpuNs(panel->tid));
        const auto picture = panel->out.acquire();
        seqStart.push_back(picture ? picture->seq : 0);
    }
    const double seconds = 4.0;
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    std::vector<uint64_t> cpuEnd;
    std::vector<uint64_t> seqEnd;
    for (auto& panel : panels) {
        cpuEnd.push_back(threadCpuNs(panel->tid));
        const auto picture = panel->out.acquire();
        seqEnd.push_back(picture ? picture->seq : 0);
    }
    const double fps = camera.measuredFps();
    const double pacedMs = paced.stopAndReportMs();
    for (auto& panel : panels)
        panel->decoder->stop();
    camera.stop();

    {
        std::lock_guard lock(keptMutex);
        frames = kept;
    }
    const double baselineMs = bareTurboJpegMs(frames, width, height);

    std::printf("%dx%d, %d panel(s), camera %.1f fps; bare TurboJPEG over %zu of its frames: tight loop %.3f "
                "ms/frame, paced at 30 fps %.3f ms/frame\n",
                width, height, panelCount, fps, frames.size(), baselineMs, pacedMs);
    for (size_t i = 0; i < panels.size(); ++i) {
        const uint64_t decoded = seqEnd[i] - seqStart[i];
        const double cpuMs = (cpuEnd[i] - cpuStart[i]) / 1e6;
        const double perFrameMs = decoded ? cpuMs / decoded : 0.0;
        const double netPerFrameMs = decoded ? (cpuMs - pollMsPerSecond * seconds) / decoded : 0.0;
        std::printf("  panel %zu delay %4d ms: %3llu frames in %.1f s, thread CPU %7.1f ms, %.3f ms/frame, "
                    "ratio %.3f to the tight loop, %.3f to the paced one; without idle polling %.3f ms/frame, "
                    "ratios %.3f and %.3f\n",
                    i, panels[i]->delayMs, static_cast<unsigned long long>(decoded), seconds, cpuMs, perFrameMs,
                    baselineMs > 0 ? perFrameMs / baselineMs : 0.0, pacedMs > 0 ? perFrameMs / pacedMs : 0.0,
                    netPerFrameMs, baselineMs > 0 ? netPerFrameMs / baselineMs : 0.0,
                    pacedMs > 0 ? netPerFrameMs / pacedMs : 0.0);
    }
}

}  // namespace

int main()
{
    const double pollMsPerSecond = idlePollCpuMsPerSecond();
    std::printf("idle decoder (8 ms passes, nothing to decode): %.2f ms CPU per second\n", pollMsPerSecond);
    const int sizes[][2] = {{1280, 720}, {1920, 1080}};
    for (const auto& size : sizes) {
        for (int panels : {1, 2, 4})
            run(size[0], size[1], panels, pollMsPerSecond);
    }
    return 0;
}

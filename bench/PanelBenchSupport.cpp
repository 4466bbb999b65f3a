#include "PanelBenchSupport.h"

#include <turbojpeg.h>

#include <dirent.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <fstream>

namespace bench {

namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr size_t kKeptFrames = 150;

// Packed I420 planes for one picture, as the decoder's 4:2:0 path fills them.
struct I420Planes {
    I420Planes(int width, int height)
        : y(static_cast<size_t>(width) * height),
          u(static_cast<size_t>((width + 1) / 2) * ((height + 1) / 2)),
          v(u.size()),
          pointers {y.data(), u.data(), v.data()},
          strides {width, (width + 1) / 2, (width + 1) / 2}
    {
    }
    std::vector<uint8_t> y;
    std::vector<uint8_t> u;
    std::vector<uint8_t> v;
    unsigned char* pointers[3];
    int strides[3];
};

}  // namespace

int64_t wallNowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

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

int startDecoderAndFindThread(lagwell::PanelDecoder& decoder)
{
    const std::set<int> before = decoderThreads();
    decoder.start();
    int found = 0;
    for (int attempt = 0; attempt < 200 && found == 0; ++attempt) {
        for (int tid : decoderThreads()) {
            if (!before.count(tid))
                found = tid;
        }
        if (found == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return found;
}

uint64_t threadCpuNs(int tid)
{
    std::ifstream stat("/proc/self/task/" + std::to_string(tid) + "/schedstat");
    uint64_t ns = 0;
    stat >> ns;
    return ns;
}

int64_t threadCpuNsSelf()
{
    timespec ts {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

bool feedRingFromTestPattern(lagwell::TestPatternSource& camera, const std::shared_ptr<lagwell::FrameRing>& ring,
                             int width, int height, KeptFrames& kept, std::string* error)
{
    lagwell::CaptureRequest request;
    request.deviceId = "test";
    request.width = width;
    request.height = height;
    request.fps = 30;
    const bool started = camera.start(request, [ring, &kept](lagwell::EncodedFrame&& frame) {
        {
            std::lock_guard lock(kept.mutex);
            if (kept.frames.size() < kKeptFrames)
                kept.frames.push_back(frame.data);
        }
        ring->add(std::move(frame));
    }, error);
    if (started)
        ring->setStream(camera.negotiatedFourcc(), camera.negotiatedWidth(), camera.negotiatedHeight(), {});
    return started;
}

std::vector<std::vector<uint8_t>> keptFrames(KeptFrames& kept)
{
    std::lock_guard lock(kept.mutex);
    return kept.frames;
}

double bareTurboJpegMs(const std::vector<std::vector<uint8_t>>& frames, int width, int height)
{
    tjhandle handle = tjInitDecompress();
    I420Planes planes(width, height);
    const int rounds = 3;
    const auto start = SteadyClock::now();
    int decoded = 0;
    for (int round = 0; round < rounds; ++round) {
        for (const auto& jpeg : frames) {
            if (tjDecompressToYUVPlanes(handle, jpeg.data(), jpeg.size(), planes.pointers, width, planes.strides,
                                        height, 0) == 0)
                ++decoded;
        }
    }
    const double ms = std::chrono::duration<double, std::milli>(SteadyClock::now() - start).count();
    tjDestroy(handle);
    return decoded ? ms / decoded : 0.0;
}

PacedBaseline::PacedBaseline(std::vector<std::vector<uint8_t>> frames, int width, int height)
    : m_frames(std::move(frames)), m_width(width), m_height(height)
{
    m_thread = std::thread([this] { loop(); });
}

PacedBaseline::~PacedBaseline()
{
    if (m_thread.joinable())
        stopAndReportMs();
}

double PacedBaseline::stopAndReportMs()
{
    m_running.store(false);
    if (m_thread.joinable())
        m_thread.join();
    return m_decoded ? m_cpuNs / 1e6 / m_decoded : 0.0;
}

void PacedBaseline::loop()
{
    tjhandle handle = tjInitDecompress();
    I420Planes planes(m_width, m_height);
    auto next = SteadyClock::now();
    for (size_t i = 0; m_running.load() && !m_frames.empty(); ++i) {
        const auto& jpeg = m_frames[i % m_frames.size()];
        const int64_t before = threadCpuNsSelf();
        if (tjDecompressToYUVPlanes(handle, jpeg.data(), jpeg.size(), planes.pointers, m_width, planes.strides,
                                    m_height, 0) == 0)
            ++m_decoded;
        m_cpuNs += threadCpuNsSelf() - before;
        next += std::chrono::microseconds(33333);
        std::this_thread::sleep_until(next);
    }
    tjDestroy(handle);
}

}  // namespace bench

// What handing one composite picture to a sink costs the render thread: the
// composite recorder and the share encoder, each running with its real
// encoder, against a bare memcpy of the same 1920x1080 RGBA picture into a
// buffer that already exists. Pictures come 30 times a second, as the
// compositor hands them over; the memcpy and the hand-over alternate which
// goes first, so neither finds the picture warmer in the cache.

#include "CompositeRecorder.h"
#include "ShareEncoder.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <sys/resource.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kFps = 30;
constexpr int kWarmUpPictures = 30;
constexpr int kPictures = 300;
constexpr int64_t kFrameUs = 33333;

struct Figures {
    double medianMs = 0;
    double meanMs = 0;
    double p90Ms = 0;
};

Figures summarise(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    Figures figures;
    figures.medianMs = values[values.size() / 2];
    figures.p90Ms = values[values.size() * 9 / 10];
    double sum = 0;
    for (double value : values)
        sum += value;
    figures.meanMs = sum / double(values.size());
    return figures;
}

long threadMinorFaults()
{
    rusage usage {};
    getrusage(RUSAGE_THREAD, &usage);
    return usage.ru_minflt;
}

// Page faults taken inside the timed calls: a fresh buffer shows up here.
long g_faults = 0;

double timeMs(const std::function<void()>& work)
{
    const long faultsBefore = threadMinorFaults();
    const auto start = Clock::now();
    work();
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    g_faults += threadMinorFaults() - faultsBefore;
    return ms;
}

// A moving picture, so the encoder has real work.
void paint(std::vector<uint8_t>& rgba, int index)
{
    for (int y = 0; y < kHeight; y += 8) {
        uint8_t* row = rgba.data() + size_t(y) * kWidth * 4;
        std::memset(row, (y + index * 7) & 0xff, size_t(kWidth) * 4);
    }
}

// Hands kPictures to `sink` at 30 a second; returns the hand-over's and the
// memcpy's times.
void measure(lagwell::CompositeSink& sink, std::vector<double>* handOver, std::vector<double>* copy, long* faults)
{
    std::vector<uint8_t> picture(size_t(kWidth) * kHeight * 4);
    std::vector<uint8_t> copyTarget(picture.size(), 1);
    auto next = Clock::now();
    for (int i = 0; i < kWarmUpPictures + kPictures; ++i) {
        std::this_thread::sleep_until(next);
        // The compositor's slot: the moment this picture was due.
        const int64_t slotNs = std::chrono::duration_cast<std::chrono::nanoseconds>(next.time_since_epoch()).count();
        next += std::chrono::microseconds(kFrameUs);
        paint(picture, i);
        const int64_t ptsUs = int64_t(i + 2) * kFrameUs;
        double handOverMs = 0;
        double copyMs = 0;
        const auto submit = [&] {
            const long faultsBefore = g_faults;
            handOverMs = timeMs([&] { sink.submitRgba(picture.data(), kWidth * 4, ptsUs, slotNs); });
            if (i >= kWarmUpPictures)
                *faults += g_faults - faultsBefore;
        };
        const auto memcpyOnce = [&] {
            copyMs = timeMs([&] { std::memcpy(copyTarget.data(), picture.data(), picture.size()); });
        };
        if (i % 2 == 0) {
            submit();
            memcpyOnce();
        } else {
            memcpyOnce();
            submit();
        }
        if (i >= kWarmUpPictures) {
            handOver->push_back(handOverMs);
            copy->push_back(copyMs);
        }
    }
}

void print(const char* name, const std::vector<double>& handOver, const std::vector<double>& copy, long faults)
{
    const Figures sink = summarise(handOver);
    const Figures bare = summarise(copy);
    std::printf("%-20s %8.3f %8.3f %8.3f   %8.3f %8.3f %8.3f   %6.2fx %6.2fx %8ld\n", name, sink.medianMs,
                sink.meanMs, sink.p90Ms, bare.medianMs, bare.meanMs, bare.p90Ms, sink.medianMs / bare.medianMs,
                sink.meanMs / bare.meanMs, faults);
}

}  // namespace

int main()
{
    char directory[] = "/tmp/tvx-handover-XXXXXX";
    if (!mkdtemp(directory)) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string path = std::string(directory) + "/handover.mp4";

    std::vector<double> recorderHandOver;
    std::vector<double> recorderCopy;
    long recorderFaults = 0;
    {
        lagwell::CompositeRecorder recorder;
        std::string error;
        if (!recorder.start(path, kWidth, kHeight, kFps, &error)) {
            std::fprintf(stderr, "bench_sink_hand_over: %s\n", error.c_str());
            return 1;
        }
        measure(recorder, &recorderHandOver, &recorderCopy, &recorderFaults);
        recorder.stop();
    }
    std::remove(path.c_str());
    rmdir(directory);

    std::vector<double> shareHandOver;
    std::vector<double> shareCopy;
    long shareFaults = 0;
    {
        lagwell::ShareEncoder encoder;
        std::string error;
        if (!encoder.start(kWidth, kHeight, kFps, &error)) {
            std::fprintf(stderr, "bench_sink_hand_over: %s\n", error.c_str());
            return 1;
        }
        measure(encoder, &shareHandOver, &shareCopy, &shareFaults);
        encoder.stop();
    }

    std::printf("hand-over of one %dx%d RGBA picture on the calling thread, %d pictures at %d/s (ms)\n", kWidth,
                kHeight, kPictures, kFps);
    std::printf("%-20s %8s %8s %8s   %8s %8s %8s   %7s %7s %8s\n", "sink", "median", "mean", "p90", "memcpy",
                "mean", "p90", "x med.", "x mean", "faults");
    print("composite recorder", recorderHandOver, recorderCopy, recorderFaults);
    print("share encoder", shareHandOver, shareCopy, shareFaults);
    return 0;
}

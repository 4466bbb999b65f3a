// The composite recorder at 1920x1080, 30 fps, 20 s of synthetic pictures
// handed over in real time, then the ffmpeg tool encoding the same pictures
// with the same settings from a pipe as fast as it can. Prints the encode
// cost per media second of each, their ratio, frames dropped and peak memory.

#include "CompositeRecorder.h"

#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kFps = 30;
constexpr int kSeconds = 20;
constexpr int kFrames = kFps * kSeconds;
constexpr int64_t kFrameUs = 33333;
constexpr int kBox = 240;

double cpuSeconds(const rusage& usage)
{
    return double(usage.ru_utime.tv_sec) + usage.ru_utime.tv_usec / 1e6 + double(usage.ru_stime.tv_sec) +
           usage.ru_stime.tv_usec / 1e6;
}

double selfCpuSeconds()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return cpuSeconds(usage);
}

long peakRssKib()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

double threadCpuSeconds()
{
    timespec now {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + now.tv_nsec / 1e9;
}

// Synthetic composites: a fixed gradient with a moving box and a moving bar,
// rows bottom-up as read back from OpenGL.
class Pictures {
public:
    Pictures() : m_background(size_t(kWidth) * kHeight * 4), m_picture(m_background.size())
    {
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                uint8_t* p = &m_background[(size_t(y) * kWidth + size_t(x)) * 4];
                p[0] = uint8_t(x * 255 / kWidth);
                p[1] = uint8_t(y * 255 / kHeight);
                p[2] = uint8_t((x + y) / 16);
                p[3] = 255;
            }
        }
    }

    const uint8_t* make(int index)
    {
        std::memcpy(m_picture.data(), m_background.data(), m_picture.size());
        const int boxX = (index * 12) % (kWidth - kBox);
        const int boxY = (index * 7) % (kHeight - kBox);
        for (int y = boxY; y < boxY + kBox; ++y) {
            for (int x = boxX; x < boxX + kBox; ++x) {
                uint8_t* p = &m_picture[(size_t(y) * kWidth + size_t(x)) * 4];
                p[0] = uint8_t(255 - index % 256);
                p[1] = uint8_t(index * 3);
                p[2] = 40;
            }
        }
        const int barY = (index * 5) % kHeight;
        std::memset(&m_picture[size_t(barY) * kWidth * 4], 0xFF, size_t(kWidth) * 4);
        return m_picture.data();
    }

    size_t bytes() const { return m_picture.size(); }

private:
    std::vector<uint8_t> m_background;
    std::vector<uint8_t> m_picture;
};

struct RecorderFigures {
    double cpuSeconds = 0;
    double wallSeconds = 0;
    int64_t encoded = 0;
    int64_t dropped = 0;
    bool ok = false;
    std::string text;
};

RecorderFigures benchRecorder(const std::string& path, Pictures& pictures)
{
    RecorderFigures figures;
    lagwell::CompositeRecorder recorder;
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    std::string error;
    const double cpuBefore = selfCpuSeconds();
    const auto wallBefore = Clock::now();
    const bool started = recorder.start(
        path, kWidth, kHeight, kFps,
        [&](bool ok, std::string text) {
            std::lock_guard<std::mutex> lock(mutex);
            figures.ok = ok;
            figures.text = std::move(text);
            finished = true;
            done.notify_all();
        },
        &error);
    if (!started) {
        figures.text = error;
        return figures;
    }

    double makingSeconds = 0;  // the stand-in compositor's own drawing
    auto next = Clock::now();
    for (int i = 0; i < kFrames; ++i) {
        std::this_thread::sleep_until(next);
        next += std::chrono::microseconds(kFrameUs);
        const double before = threadCpuSeconds();
        const uint8_t* picture = pictures.make(i);
        makingSeconds += threadCpuSeconds() - before;
        recorder.submitRgba(picture, kWidth * 4, 66666 + i * kFrameUs,
                            std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count());
    }
    recorder.stop();
    {
        std::unique_lock<std::mutex> lock(mutex);
        done.wait(lock, [&] { return finished; });
    }
    figures.wallSeconds = std::chrono::duration<double>(Clock::now() - wallBefore).count();
    figures.cpuSeconds = selfCpuSeconds() - cpuBefore - makingSeconds;
    figures.encoded = recorder.framesEncoded();
    figures.dropped = recorder.framesDropped();
    return figures;
}

struct ToolFigures {
    double cpuSeconds = 0;
    double wallSeconds = 0;
    int exitCode = -1;
};

ToolFigures benchTool(const std::string& path, Pictures& pictures)
{
    ToolFigures figures;
    const std::string size = std::to_string(kWidth) + "x" + std::to_string(kHeight);
    const std::string bitRate = std::to_string(int64_t(double(int64_t(kWidth) * kHeight * kFps) * 0.2));
    const std::string gop = std::to_string(kFps);
    const std::string fps = std::to_string(kFps);
    std::vector<std::string> args = {"ffmpeg", "-hide_banner", "-loglevel", "error", "-y", "-f", "rawvideo",
                                     "-pix_fmt", "rgba", "-s", size, "-framerate", fps, "-i", "-", "-vf", "vflip",
                                     "-sws_flags", "bilinear", "-pix_fmt", "yuv420p", "-c:v", "libx264", "-preset",
                                     "veryfast", "-tune", "zerolatency", "-g", gop, "-bf", "0", "-b:v", bitRate,
                                     "-threads", "0", "-an", "-f", "mp4", "-movflags", "+faststart", path};
    std::string line;
    for (const std::string& arg : args)
        line += arg + " ";
    std::printf("ffmpeg command: %s\n", line.c_str());

    int pipeFds[2];
    if (pipe(pipeFds) != 0)
        return figures;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[0], STDIN_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeFds[1]);
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    const auto wallBefore = Clock::now();
    const int spawnRc = posix_spawnp(&pid, "ffmpeg", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[0]);
    if (spawnRc != 0) {
        close(pipeFds[1]);
        std::printf("ffmpeg could not be started (%s)\n", std::strerror(spawnRc));
        return figures;
    }
    for (int i = 0; i < kFrames; ++i) {
        const uint8_t* picture = pictures.make(i);
        size_t written = 0;
        while (written < pictures.bytes()) {
            const ssize_t n = write(pipeFds[1], picture + written, pictures.bytes() - written);
            if (n <= 0)
                break;
            written += size_t(n);
        }
    }
    close(pipeFds[1]);
    int status = 0;
    rusage usage {};
    wait4(pid, &status, 0, &usage);
    figures.wallSeconds = std::chrono::duration<double>(Clock::now() - wallBefore).count();
    figures.cpuSeconds = cpuSeconds(usage);
    figures.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return figures;
}

}  // namespace

int main()
{
    std::signal(SIGPIPE, SIG_IGN);
    char pattern[] = "/tmp/tvx-recbench-XXXXXX";
    if (!mkdtemp(pattern))
        return 1;
    const std::string dir = pattern;
    // No sound: the comparison is of the picture path.
    const std::string alsaConfig = dir + "/asound.conf";
    if (FILE* f = std::fopen(alsaConfig.c_str(), "w")) {
        std::fputs("pcm.!default { type hw card 29 }\n", f);
        std::fclose(f);
    }
    setenv("ALSA_CONFIG_PATH", alsaConfig.c_str(), 1);

    Pictures pictures;
    const long rssBeforeKib = peakRssKib();
    std::printf("CompositeRecorder: %dx%d, %d fps, %d s of synthetic pictures in real time\n", kWidth, kHeight, kFps,
                kSeconds);
    const RecorderFigures recorder = benchRecorder(dir + "/recorder.mp4", pictures);
    const long rssAfterKib = peakRssKib();
    std::printf("  outcome              %s (%s)\n", recorder.ok ? "saved" : "failed", recorder.text.c_str());
    std::printf("  frames               %lld encoded, %lld dropped of %d\n", static_cast<long long>(recorder.encoded),
                static_cast<long long>(recorder.dropped), kFrames);
    std::printf("  wall                 %.2f s (pictures, 3 s tail, finishing)\n", recorder.wallSeconds);
    std::printf("  encode real-time     %.3f CPU s per media s (%.2f CPU s for %d s)\n",
                recorder.cpuSeconds / kSeconds, recorder.cpuSeconds, kSeconds);
    std::printf("  peak memory          %.1f MiB (%.1f MiB before the recording)\n", rssAfterKib / 1024.0,
                rssBeforeKib / 1024.0);

    const ToolFigures tool = benchTool(dir + "/tool.mp4", pictures);
    std::printf("ffmpeg tool, same pictures through a pipe, as fast as it goes\n");
    std::printf("  exit code            %d\n", tool.exitCode);
    std::printf("  wall                 %.2f s (%.2fx real time)\n", tool.wallSeconds, kSeconds / tool.wallSeconds);
    std::printf("  encode real-time     %.3f CPU s per media s (%.2f CPU s for %d s)\n", tool.cpuSeconds / kSeconds,
                tool.cpuSeconds, kSeconds);

    struct stat recorderFile {};
    struct stat toolFile {};
    stat((dir + "/recorder.mp4").c_str(), &recorderFile);
    stat((dir + "/tool.mp4").c_str(), &toolFile);
    std::printf("file sizes             recorder %.1f MiB, ffmpeg %.1f MiB\n", recorderFile.st_size / 1048576.0,
                toolFile.st_size / 1048576.0);
    if (tool.cpuSeconds > 0) {
        const double ratio = recorder.cpuSeconds / tool.cpuSeconds;
        std::printf("ratio recorder/ffmpeg  %.2f (target at most 1.10, 0 frames dropped): %s\n", ratio,
                    ratio <= 1.10 && recorder.dropped == 0 ? "met" : "NOT met");
    }
    std::filesystem::remove_all(dir);
    return 0;
}

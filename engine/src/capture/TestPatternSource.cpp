#include "TestPatternSource.h"

#include "CHandles.h"
#include "Log.h"
#include "SteadyClock.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace lagwell {
namespace {

struct Rgb {
    uint8_t r, g, b;
};

constexpr Rgb kBarColors[8] = {
    {235, 235, 235},  // white
    {235, 235, 16},   // yellow
    {16, 235, 235},   // cyan
    {16, 235, 16},    // green
    {235, 16, 235},   // magenta
    {235, 16, 16},    // red
    {16, 16, 235},    // blue
    {16, 16, 16},     // black
};

constexpr Rgb kCameraTextColor {255, 255, 255};
constexpr Rgb kCounterTextColor {255, 255, 0};
constexpr Rgb kClockTextColor {0, 255, 255};

constexpr int kDefaultWidth = 1280;
constexpr int kDefaultHeight = 720;
constexpr int kDefaultFps = 30;
// Keeps one picture buffer bounded whatever a caller asks for.
constexpr int kMaxSide = 8192;
constexpr int kJpegQuality = 80;
// Longest single sleep, so stop() is answered quickly even at low rates.
constexpr int64_t kMaxSleepSliceNs = 50'000'000;

using Glyph = std::array<uint8_t, 7>;  // seven rows, bit 4 = leftmost column

const Glyph* glyphFor(char c)
{
    static const Glyph digits[10] = {
        {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E},  // 0
        {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E},  // 1
        {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F},  // 2
        {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E},  // 3
        {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02},  // 4
        {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E},  // 5
        {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E},  // 6
        {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08},  // 7
        {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E},  // 8
        {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C},  // 9
    };
    static const Glyph colon {0x00, 0x04, 0x00, 0x00, 0x04, 0x00, 0x00};
    static const Glyph dot {0x00, 0x00, 0x00, 0x00, 0x00, 0x06, 0x06};
    static const Glyph dash {0x00, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00};
    static const Glyph letterA {0x0E, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11};
    static const Glyph letterC {0x0F, 0x10, 0x10, 0x10, 0x10, 0x10, 0x0F};
    static const Glyph letterF {0x1F, 0x10, 0x1E, 0x10, 0x10, 0x10, 0x10};
    static const Glyph letterM {0x11, 0x1B, 0x15, 0x15, 0x11, 0x11, 0x11};

    if (c >= '0' && c <= '9')
        return &digits[c - '0'];
    switch (c) {
    case ':': return &colon;
    case '.': return &dot;
    case '-': return &dash;
    case 'A': return &letterA;
    case 'C': return &letterC;
    case 'F': return &letterF;
    case 'M': return &letterM;
    default: return nullptr;
    }
}

void fillRect(uint8_t* rgb, int width, int height, int x0, int y0, int w, int h, Rgb color)
{
    const int xBegin = std::max(0, x0);
    const int yBegin = std::max(0, y0);
    const int xEnd = static_cast<int>(std::min<int64_t>(width, int64_t {x0} + w));
    const int yEnd = static_cast<int>(std::min<int64_t>(height, int64_t {y0} + h));
    for (int y = yBegin; y < yEnd; ++y) {
        uint8_t* row = rgb + (static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(xBegin)) * 3;
        for (int x = xBegin; x < xEnd; ++x) {
            *row++ = color.r;
            *row++ = color.g;
            *row++ = color.b;
        }
    }
}

void drawText(uint8_t* rgb, int width, int height, int x, int y, const std::string& text, int scale, Rgb color)
{
    for (char c : text) {
        if (const Glyph* glyph = glyphFor(c)) {
            for (int r = 0; r < 7; ++r) {
                for (int col = 0; col < 5; ++col) {
                    if ((*glyph)[static_cast<size_t>(r)] & (0x10 >> col))
                        fillRect(rgb, width, height, x + col * scale, y + r * scale, scale, scale, color);
                }
            }
        }
        x += 6 * scale;
    }
}

std::string localClockText()
{
    const auto now = std::chrono::system_clock::now();
    const time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    tm local {};
    localtime_r(&seconds, &local);
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min, local.tm_sec,
                  static_cast<int>(ms));
    return text;
}

int adjustSide(int requested, int fallback)
{
    if (requested < 1)
        return fallback;
    // Even sizes, as a camera would give; never 0 and never unbounded.
    return std::clamp(requested & ~1, 2, kMaxSide);
}

void sleepNs(int64_t ns)
{
    timespec request {static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
    timespec remaining {};
    while (nanosleep(&request, &remaining) != 0 && errno == EINTR)
        request = remaining;
}

}  // namespace

TestPatternSource::~TestPatternSource()
{
    stop();
    m_onLost = nullptr;
}

int TestPatternSource::cameraNumberFromId(const std::string& deviceId)
{
    const size_t colon = deviceId.find(':');
    if (colon == std::string::npos)
        return 1;
    const std::string rest = deviceId.substr(colon + 1);
    errno = 0;
    char* end = nullptr;
    const long value = std::strtol(rest.c_str(), &end, 10);
    if (end == rest.c_str() || errno == ERANGE || value < INT32_MIN || value > INT32_MAX)
        return 1;
    return value < 1 ? 1 : static_cast<int>(value);
}

bool TestPatternSource::start(const CaptureRequest& request, std::function<void(EncodedFrame&&)> onFrame,
                              std::string* error)
{
    if (m_running.load()) {
        if (error)
            *error = "Capture already running";
        return false;
    }
    // A generator that ended by itself still holds its finished thread.
    if (m_thread.joinable())
        m_thread.join();

    CaptureRequest adjusted = request;
    adjusted.width = adjustSide(request.width, kDefaultWidth);
    adjusted.height = adjustSide(request.height, kDefaultHeight);
    adjusted.fps = request.fps < 1 ? kDefaultFps : request.fps;
    const int camera = cameraNumberFromId(request.deviceId);

    m_width.store(adjusted.width);
    m_height.store(adjusted.height);
    m_fourcc.store(kFourccMjpeg);
    m_measuredFps.store(0.0);
    m_lastFrameWallMs.store(0);
    m_onFrame = std::move(onFrame);

    m_running.store(true);
    m_thread = std::thread(&TestPatternSource::generateLoop, this, std::move(adjusted), camera);
    return true;
}

void TestPatternSource::stop()
{
    m_running.store(false);
    if (m_thread.joinable())
        m_thread.join();
    m_onFrame = nullptr;
    m_measuredFps.store(0.0);
}

void TestPatternSource::drawTestPattern(uint8_t* rgb, int width, int height, int camera, int64_t frameIndex, int fps)
{
    // Colour bars over every pixel.
    for (int k = 0; k < 8; ++k) {
        const int x0 = static_cast<int>(int64_t {k} * width / 8);
        const int x1 = static_cast<int>(int64_t {k + 1} * width / 8);
        const Rgb color = kBarColors[static_cast<size_t>((k + camera - 1) % 8)];
        fillRect(rgb, width, height, x0, 0, x1 - x0, height, color);
    }

    // The square sweeps right and back once per period, timed by the frame counter.
    const int minSide = std::min(width, height);
    const int side = minSide < 168 ? 20 : minSide / 8;
    const int top = static_cast<int>(int64_t {2} * height / 3);
    const int travel = std::max(0, width - side);
    const double period = (camera - 1) * 1.5 + 4.0;
    const double t = static_cast<double>(frameIndex) / static_cast<double>(fps);
    const double q = std::fmod(t, period) / period;
    const double v = q < 0.5 ? 2.0 * q : 2.0 - 2.0 * q;
    const int left = static_cast<int>(travel * v);
    const Rgb squareColor = (camera % 2 == 1) ? Rgb {255, 140, 0} : Rgb {40, 200, 255};
    fillRect(rgb, width, height, left, top, side, side, squareColor);

    const int scale = width < 1200 ? 4 : width / 240;
    const int x = 4 * scale;
    const int y0 = std::max(0, height - 31 * scale);
    drawText(rgb, width, height, x, y0, "CAM " + std::to_string(camera), scale, kCameraTextColor);
    drawText(rgb, width, height, x, y0 + 9 * scale, "F" + std::to_string(frameIndex), scale, kCounterTextColor);
    drawText(rgb, width, height, x, y0 + 18 * scale, localClockText(), scale, kClockTextColor);
}

void TestPatternSource::generateLoop(CaptureRequest request, int camera)
{
    const int width = request.width;
    const int height = request.height;
    const int fps = request.fps;
    const int64_t intervalNs = 1'000'000'000 / fps;
    std::vector<uint8_t> rgb(static_cast<size_t>(width) * static_cast<size_t>(height) * 3, 0);

    TjHandlePtr compressor(tjInitCompress());
    if (!compressor) {
        LW_LOG_ERROR("TestPatternSource: tjInitCompress failed");
        m_running.store(false);
        return;
    }

    int64_t windowStartNs = steadyNowNs();
    int64_t deadlineNs = windowStartNs;
    int64_t frameIndex = 0;
    int64_t delivered = 0;

    while (m_running.load()) {
        drawTestPattern(rgb.data(), width, height, camera, frameIndex, fps);

        unsigned char* jpeg = nullptr;
        unsigned long jpegSize = 0;
        const int rc = tjCompress2(compressor.get(), rgb.data(), width, width * 3, height, TJPF_RGB, &jpeg,
                                   &jpegSize, TJSAMP_420, kJpegQuality, TJFLAG_FASTDCT);
        TjBufferPtr jpegOwner(jpeg);
        if (rc != 0 || !jpeg) {
            LW_LOG_WARN("TestPatternSource: tjCompress2 failed (%d)", rc);
        } else {
            EncodedFrame frame;
            frame.data.assign(jpeg, jpeg + jpegSize);
            frame.ptsUs = steadyNowNs() / 1000;
            frame.wallMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                               std::chrono::system_clock::now().time_since_epoch())
                               .count();
            frame.keyframe = true;
            frame.seq = 0;
            m_lastFrameWallMs.store(frame.wallMs);
            if (m_onFrame)
                m_onFrame(std::move(frame));
            ++delivered;
        }
        jpegOwner.reset();

        const int64_t nowNs = steadyNowNs();
        if (nowNs - windowStartNs > 999'999'999) {
            m_measuredFps.store(static_cast<double>(delivered) * 1e9 / static_cast<double>(nowNs - windowStartNs));
            windowStartNs = nowNs;
            delivered = 0;
        }

        deadlineNs += intervalNs;
        ++frameIndex;
        int64_t remainingNs = deadlineNs - steadyNowNs();
        if (remainingNs <= 0) {
            // Late: go on at once, and never catch up in a burst.
            deadlineNs = steadyNowNs();
            continue;
        }
        while (remainingNs > 0 && m_running.load()) {
            sleepNs(std::min(remainingNs, kMaxSleepSliceNs));
            remainingNs = deadlineNs - steadyNowNs();
        }
    }
}

}  // namespace lagwell

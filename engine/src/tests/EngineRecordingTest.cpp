// Recording end to end: test-pattern camera, panels drawn on a headless GL
// context, the compositor feeding the recorder, a real-time microphone through
// libasound, and the MP4 read back with ffprobe and ffmpeg.

#include "Engine.h"

#include "AlsaTestDevices.h"
#include "EngineMediaSupport.h"
#include "GlTestContext.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <sstream>
#include <cstdlib>
#include <filesystem>
#include <sys/resource.h>

using lagwell::Engine;
using lagwell::EngineEvent;
using lagwell::GlTestContext;
using lagwell::test::commandOutput;
using lagwell::test::EventRecorder;
using lagwell::test::pumpFrames;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

class EngineRecordingTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_dir = fs::temp_directory_path() / ("tvx-engine-rec-" + std::to_string(::getpid()) + "-" +
                                             ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(m_dir);
        fs::create_directories(m_dir);
        m_alsa = std::make_unique<lagwell::testing::AlsaTestDevices>(m_dir.string());
        const auto tone = lagwell::testing::AlsaTestDevices::tone(440, 8000, 48000 * 30);
        m_alsa->useRealTimeToneDevice(m_alsa->writeRaw("tone.raw", tone));
        std::string error;
        ASSERT_TRUE(m_gl.create(1280, 720, GlTestContext::Api::PreferDesktop, &error)) << error;
    }

    void TearDown() override
    {
        m_alsa.reset();
        fs::remove_all(m_dir);
    }

    // An engine with one test camera and one full-window panel.
    std::unique_ptr<Engine> startEngine(EventRecorder& events)
    {
        auto engine = std::make_unique<Engine>();
        engine->setCapabilities(lagwell::Capabilities {});
        engine->setEventHandler(events.handler());
        engine->setGlResolver(m_gl.resolver());
        m_panels = {engine->createPanel()};
        lagwell::PanelParams params;
        params.delayMs = 500;
        engine->setPanelParams(m_panels[0], params);
        lagwell::SessionConfig config;
        config.cameraIds = {"test"};
        engine->startSession(config);
        pumpFrames(*engine, m_gl, m_panels, 800ms);
        return engine;
    }

    // Pumps frames until `kind` arrives (or the deadline passes), on a timer
    // or, given one, at a display's frames.
    std::optional<EngineEvent> pumpUntil(Engine& engine, EventRecorder& events, EngineEvent::Kind kind,
                                         std::chrono::seconds deadline = 20s,
                                         std::vector<std::chrono::steady_clock::time_point>* composites = nullptr,
                                         lagwell::test::DisplayFrames* display = nullptr)
    {
        const auto end = std::chrono::steady_clock::now() + deadline;
        while (std::chrono::steady_clock::now() < end) {
            if (auto event = events.waitFor(kind, 0ms))
                return event;
            if (display)
                lagwell::test::pumpDisplay(engine, m_gl, m_panels, 100ms, *display);
            else
                pumpFrames(engine, m_gl, m_panels, 100ms, composites);
        }
        return events.waitFor(kind, 0ms);
    }

    // One decoded picture of the file at `seconds`, as RGB rows top-down.
    std::vector<uint8_t> frameAt(const std::string& file, double seconds)
    {
        const std::string out = commandOutput("ffmpeg -v error -ss " + std::to_string(seconds) + " -i '" + file +
                                              "' -frames:v 1 -f rawvideo -pix_fmt rgb24 - 2>/dev/null");
        return std::vector<uint8_t>(out.begin(), out.end());
    }

    static std::array<int, 3> pixel(const std::vector<uint8_t>& rgb, int width, int x, int y)
    {
        const size_t i = (static_cast<size_t>(y) * width + x) * 3;
        return {rgb[i], rgb[i + 1], rgb[i + 2]};
    }

    fs::path m_dir;
    std::unique_ptr<lagwell::testing::AlsaTestDevices> m_alsa;
    GlTestContext m_gl;
    std::vector<int> m_panels;
};

}  // namespace

TEST_F(EngineRecordingTest, recordsTitleBandPanelsAndClosingCardWithSound)
{
    EventRecorder events;
    auto engine = startEngine(events);
    const std::string file = (m_dir / "session.mp4").string();
    lagwell::TitleCardLabels labels;
    labels.title = "Morning drills";
    labels.player = "Alex";
    labels.coach = "Sam";
    engine->startRecording(file, &labels);
    const auto startedAt = std::chrono::steady_clock::now();
    ASSERT_TRUE(events.waitFor(EngineEvent::Kind::RecordingStarted, 0ms));
    EXPECT_EQ(engine->recordingState(), 2);
    std::vector<std::chrono::steady_clock::time_point> composites;
    pumpFrames(*engine, m_gl, m_panels, 3s, &composites);
    engine->stopRecording();
    const auto stoppedAt = std::chrono::steady_clock::now();
    EXPECT_EQ(engine->recordingState(), 3);
    engine->stopRecording();  // a second stop changes nothing
    const auto saved = pumpUntil(*engine, events, EngineEvent::Kind::RecordingSaved, 20s, &composites);
    const auto savedAt = std::chrono::steady_clock::now();
    ASSERT_TRUE(saved) << "failed: " << events.count(EngineEvent::Kind::RecordingFailed);
    EXPECT_EQ(saved->text, file);
    EXPECT_EQ(engine->recordingState(), 0);
    EXPECT_EQ(events.count(EngineEvent::Kind::RecordingFailed), 0);

    const std::string probe = commandOutput(
        "ffprobe -v error -show_entries stream=codec_name,width,height,start_time,duration -of csv=p=0 '" + file +
        "'");
    ASSERT_NE(probe.find("h264,1280,720"), std::string::npos) << probe;
    ASSERT_NE(probe.find("aac"), std::string::npos) << probe;
    // Both streams start together and last the recorded time plus the 3 s tail.
    double videoStart = -1, videoDuration = -1, audioStart = -1, audioDuration = -1;
    for (const std::string& line : {probe.substr(0, probe.find('\n')), probe.substr(probe.find('\n') + 1)}) {
        double start = 0, duration = 0;
        if (line.rfind("h264", 0) == 0 && std::sscanf(line.c_str(), "h264,%*d,%*d,%lf,%lf", &start, &duration) == 2) {
            videoStart = start;
            videoDuration = duration;
        } else if (line.rfind("aac", 0) == 0 && std::sscanf(line.c_str(), "aac,%lf,%lf", &start, &duration) == 2) {
            audioStart = start;
            audioDuration = duration;
        }
    }
    EXPECT_NEAR(videoStart, 0.0, 0.1) << probe;
    EXPECT_NEAR(audioStart, 0.0, 0.1) << probe;
    // The pictures run from the first composite to the last one drawn before
    // the tail ended (a picture is read back two composites after it is
    // drawn): as long as the test kept drawing, however slowly a loaded
    // machine let it.
    const auto seconds = [](auto from, auto to) { return std::chrono::duration<double>(to - from).count(); };
    const auto tailEnd = stoppedAt + 3s;
    const size_t drawnInTail =
        size_t(std::lower_bound(composites.begin(), composites.end(), tailEnd) - composites.begin());
    ASSERT_GE(drawnInTail, 3u);
    EXPECT_GE(videoStart + videoDuration, seconds(composites.front(), composites[drawnInTail - 3]) - 0.1) << probe;
    EXPECT_LE(videoStart + videoDuration, seconds(startedAt, savedAt) + 0.1) << probe;
    // The sound, clocked by the microphone, runs the recorded time plus the tail.
    EXPECT_GE(audioStart + audioDuration, seconds(startedAt, tailEnd) - 0.3) << probe;
    EXPECT_LE(audioStart + audioDuration, seconds(startedAt, savedAt) + 0.1) << probe;

    // Early on, the title band's accent line runs across the top.
    const auto early = frameAt(file, 1.0);
    ASSERT_EQ(early.size(), 1280u * 720 * 3);
    const auto accent = pixel(early, 1280, 640, 2);
    EXPECT_GT(accent[0], 200);
    EXPECT_GT(accent[1], 120);
    EXPECT_LT(accent[2], 90);
    // Near the end the closing card covers the picture with its dark background.
    const auto late = frameAt(file, videoDuration - 0.5);
    ASSERT_EQ(late.size(), 1280u * 720 * 3);
    for (const auto& [x, y] : {std::pair {30, 30}, std::pair {1250, 690}, std::pair {30, 690}}) {
        const auto dark = pixel(late, 1280, x, y);
        EXPECT_LT(dark[0] + dark[1] + dark[2], 60) << x << "," << y;
    }
    // In between (after the band, before the card) the camera shows: the test
    // pattern's bars are bright.
    const auto middle = frameAt(file, 2.5);
    ASSERT_EQ(middle.size(), 1280u * 720 * 3);
    const auto bar = pixel(middle, 1280, 80, 300);
    EXPECT_GT(bar[0] + bar[1] + bar[2], 450);
    engine->releaseGl();
}

// The file's brightness at each picture time: the luma as coded (no range
// conversion, which clips) of the left three eighths of the picture, its top
// eighth aside: bars the closing card covers evenly, without its text or
// the panel's badge.
std::vector<std::pair<double, double>> brightnessOverTime(const std::string& file)
{
    const std::string luma = commandOutput("ffmpeg -v error -i '" + file +
                                           "' -map 0:v:0 -fps_mode passthrough "
                                           "-vf scale=8:8,format=yuv420p,extractplanes=y -f rawvideo - 2>/dev/null");
    std::istringstream times(commandOutput(
        "ffprobe -v error -select_streams v -show_entries frame=pts_time -of csv=p=0 '" + file + "'"));
    std::vector<std::pair<double, double>> out;
    size_t frame = 0;
    for (std::string line; std::getline(times, line) && (frame + 1) * 64 <= luma.size();) {
        line = line.substr(0, line.find(','));
        if (line.empty())
            continue;
        double sum = 0;
        for (size_t row = 1; row < 8; ++row) {
            for (size_t column = 0; column < 3; ++column)
                sum += uint8_t(luma[frame * 64 + row * 8 + column]);
        }
        out.push_back({std::stod(line), sum / 21});
        ++frame;
    }
    return out;
}

// Frames of the file's frame grid with no picture of their own.
int64_t framesHeld(const std::string& file)
{
    std::istringstream times(commandOutput("ffprobe -v error -select_streams v -show_entries packet=pts_time -of "
                                           "csv=p=0 '" + file + "'"));
    std::vector<int64_t> frames;
    for (std::string line; std::getline(times, line);)
        frames.push_back(std::llround(std::stod(line) * 30));
    std::sort(frames.begin(), frames.end());
    return frames.empty() ? 0 : frames.back() - frames.front() + 1 - int64_t(frames.size());
}

// Where the tone turns on and off in the file's sound (s).
std::vector<double> toneEdgesSeconds(const std::string& file)
{
    const std::string pcm = commandOutput("ffmpeg -v error -i '" + file +
                                          "' -map 0:a:0 -f s16le -acodec pcm_s16le -ac 1 -ar 48000 - 2>/dev/null");
    return lagwell::testing::AlsaTestDevices::toneEdgesSeconds(reinterpret_cast<const int16_t*>(pcm.data()),
                                                               int64_t(pcm.size() / 2));
}

class EngineSyncTest : public EngineRecordingTest, public ::testing::WithParamInterface<lagwell::test::DisplayMode> {
};

TEST_P(EngineSyncTest, soundMeetsTheCompositeDrawnAtTheSameMomentAtItsOwnPitch)
{
    // The microphone's tone turns on and off every 250 ms of the clock, and
    // its frames are held 30 ms before they can be read; the closing card
    // fades in over 600 ms from the moment of the stop. Each picture of the
    // fade says, by its brightness, how long after the stop it was drawn, so
    // it places the stop in the file's picture time; each edge of the tone
    // in the file's sound time must then sit where the clock put it. The
    // window draws as a real screen does (the display's refresh, late by the
    // frame's work, a stall now and then). A busy machine drops pictures and
    // may lose sound to an overrun (silence, whose ends are no edges of the
    // tone): the judge takes what is there.
    using Clock = std::chrono::steady_clock;
    constexpr double kPeriodSeconds = 0.25;
    constexpr double kFadeSeconds = 0.6;
    constexpr size_t kPicturesToPlaceTheStop = 8;
    // A small window: a loaded machine still draws most composites (the
    // recording itself is 720p, and a loaded machine drops many of those).
    std::string glError;
    ASSERT_TRUE(m_gl.create(480, 270, GlTestContext::Api::PreferDesktop, &glError)) << glError;
    EventRecorder events;
    auto engine = startEngine(events);
    const auto toneAt = Clock::now() + 3s;
    m_alsa->useFakeDevice("mode \"paced\" latency_ms 30 tone_period_ms 250 tone_at " +
                          std::to_string(std::chrono::nanoseconds(toneAt.time_since_epoch()).count()));
    const std::string file = (m_dir / "sync.mp4").string();
    lagwell::test::DisplayFrames display(GetParam(), std::chrono::nanoseconds(Clock::now().time_since_epoch()).count());
    engine->startRecording(file, nullptr);
    ASSERT_TRUE(events.waitFor(EngineEvent::Kind::RecordingStarted, 0ms));
    lagwell::test::pumpDisplay(*engine, m_gl, m_panels, 5s, display);
    const auto beforeStop = Clock::now();
    engine->stopRecording();
    const auto afterStop = Clock::now();
    ASSERT_TRUE(pumpUntil(*engine, events, EngineEvent::Kind::RecordingSaved, 20s, nullptr, &display));
    engine->releaseGl();

    // The picture's level before the card (a median, which a passing square
    // cannot move), the card's at the end.
    const auto frames = brightnessOverTime(file);
    ASSERT_GT(frames.size(), 10u);
    const double cardLevel = frames.back().second;
    std::vector<double> levels;
    for (const auto& [pts, level] : frames) {
        if (pts < frames.back().first - 3.5 && pts > frames.back().first - 5.0)
            levels.push_back(level);
    }
    ASSERT_FALSE(levels.empty());
    std::nth_element(levels.begin(), levels.begin() + long(levels.size() / 2), levels.end());
    const double pictureLevel = levels[levels.size() / 2];
    ASSERT_GT(pictureLevel - cardLevel, 30.0) << "no fade to measure";
    // Each picture inside the fade places the stop by how far it has faded;
    // pictures at either end bound it.
    std::vector<double> stopEstimates;
    double stopAfter = 0;     // the stop lies after this file time...
    double stopBefore = 1e9;  // ...and before this one
    for (const auto& [pts, level] : frames) {
        const double fade = (pictureLevel - level) / (pictureLevel - cardLevel);
        if (fade <= 0.03)
            stopAfter = std::max(stopAfter, pts - 0.03 * kFadeSeconds);
        else if (fade >= 0.97)
            stopBefore = std::min(stopBefore, pts - 0.97 * kFadeSeconds);
        else
            stopEstimates.push_back(pts - fade * kFadeSeconds);
    }
    double stopSeconds = 0.5 * (stopAfter + stopBefore);
    double stopTolerance = 0.5 * (stopBefore - stopAfter);
    if (!stopEstimates.empty()) {
        std::nth_element(stopEstimates.begin(), stopEstimates.begin() + long(stopEstimates.size() / 2),
                         stopEstimates.end());
        stopSeconds = stopEstimates[stopEstimates.size() / 2];
        // A picture sits on its slot, drawn up to a refresh either side of it
        // (a slot whose refresh went undrawn, up to a slot after): many of
        // them place the stop to a few ms, the few a loaded machine leaves
        // only to that slot.
        stopTolerance = stopEstimates.size() >= kPicturesToPlaceTheStop ? 0.005 : 1.0 / 30;
    }
    ASSERT_LT(stopTolerance, 0.3) << "the fade left no mark in the pictures";

    // Each tone edge within two seconds of the stop against the moment it
    // had on the clock, put in the file's time through the stop.
    const double stopOnClock = std::chrono::duration<double>(beforeStop - toneAt).count();
    const double stopUncertainty = std::chrono::duration<double>(afterStop - beforeStop).count();
    std::vector<double> offsets;
    for (const double edge : toneEdgesSeconds(file)) {
        const double sinceTone = edge - stopSeconds + stopOnClock;
        if (sinceTone < -0.1 || std::abs(edge - stopSeconds) > 2.0)
            continue;
        offsets.push_back(sinceTone - std::round(sinceTone / kPeriodSeconds) * kPeriodSeconds);
    }
    ASSERT_GE(offsets.size(), 8u) << "too few tone edges in the file";
    std::vector<double> sorted = offsets;
    std::sort(sorted.begin(), sorted.end());
    const double median = sorted[sorted.size() / 2];
    const size_t close = size_t(std::count_if(offsets.begin(), offsets.end(), [&](double offset) {
        return std::abs(offset) < 0.020 + stopTolerance + stopUncertainty;
    }));
    // The tone at its own pitch in every tenth of a second it sounds, from the first second.
    const std::string lowPassed = commandOutput("ffmpeg -v error -i '" + file +
                                                "' -map 0:a:0 -af lowpass=f=1500,lowpass=f=1500 -f s16le -acodec "
                                                "pcm_s16le -ac 1 -ar 48000 - 2>/dev/null");
    const auto hertz = lagwell::testing::AlsaTestDevices::hertzByTenths(
        reinterpret_cast<const int16_t*>(lowPassed.data()), int64_t(lowPassed.size() / 2), toneEdgesSeconds(file), 1.0);
    ASSERT_GE(hertz.size(), 10u);
    double worstPitch = 0;
    for (const auto& [at, measured] : hertz) {
        EXPECT_NEAR(measured, 1000.0, 1.0) << "at " << at << " s";
        worstPitch = std::abs(measured / 1000 - 1) > std::abs(worstPitch) ? measured / 1000 - 1 : worstPitch;
    }
    std::printf("%s: sound minus pictures: median %+.1f ms over %zu edges, %zu within 20 ms (stop placed to %.1f ms "
                "by %zu pictures); %lld frames held; worst pitch %+.3f %% in %zu tenths\n",
                GetParam().name, median * 1000, offsets.size(), close, stopTolerance * 1000, stopEstimates.size(),
                static_cast<long long>(framesHeld(file)), worstPitch * 100, hertz.size());
    EXPECT_LT(std::abs(median), 0.020 + stopTolerance + stopUncertainty);
    // Only the ends of lost sound may stray.
    EXPECT_GE(close * 4, offsets.size() * 3);
}

constexpr int64_t kMs = 1000000;
INSTANTIATE_TEST_SUITE_P(
    Screens, EngineSyncTest,
    ::testing::Values(lagwell::test::DisplayMode {"hz60", 60, 2 * kMs, 3000 * kMs, 100 * kMs},
                      lagwell::test::DisplayMode {"hz60jitter4", 60, 4 * kMs, 3000 * kMs, 100 * kMs},
                      lagwell::test::DisplayMode {"hz59_94", 59.94, 2 * kMs, 3000 * kMs, 100 * kMs},
                      lagwell::test::DisplayMode {"hz50", 50, 2 * kMs, 3000 * kMs, 100 * kMs},
                      lagwell::test::DisplayMode {"hz75", 75, 2 * kMs, 3000 * kMs, 100 * kMs},
                      lagwell::test::DisplayMode {"hz144", 144, 2 * kMs, 3000 * kMs, 100 * kMs},
                      lagwell::test::DisplayMode {"timer16ms", 0, 2 * kMs, 3000 * kMs, 100 * kMs}),
    [](const ::testing::TestParamInfo<lagwell::test::DisplayMode>& info) { return std::string(info.param.name); });

TEST_F(EngineRecordingTest, startFailureThrowsAndRaisesNothingAndALaterRecordingWorks)
{
    EventRecorder events;
    auto engine = startEngine(events);
    try {
        engine->startRecording((m_dir / "missing" / "dir" / "x.mp4").string(), nullptr);
        FAIL() << "expected a throw";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("for writing"), std::string::npos) << e.what();
    }
    EXPECT_EQ(engine->recordingState(), 0);
    pumpFrames(*engine, m_gl, m_panels, 300ms);
    EXPECT_EQ(events.count(EngineEvent::Kind::RecordingStarted), 0);
    EXPECT_EQ(events.count(EngineEvent::Kind::RecordingFailed), 0);

    const std::string file = (m_dir / "good.mp4").string();
    engine->startRecording(file, nullptr);
    EXPECT_EQ(engine->recordingState(), 2);
    pumpFrames(*engine, m_gl, m_panels, 500ms);
    engine->stopRecording();
    const auto saved = pumpUntil(*engine, events, EngineEvent::Kind::RecordingSaved);
    ASSERT_TRUE(saved);
    EXPECT_EQ(saved->text, file);
    EXPECT_EQ(events.count(EngineEvent::Kind::RecordingFailed), 0);
    EXPECT_TRUE(fs::exists(file));
    engine->releaseGl();
}

TEST_F(EngineRecordingTest, fullDiskEndsInExactlyOneFailure)
{
    EventRecorder events;
    auto engine = startEngine(events);
    // Files of this process may not grow past 64 KiB for the rest of the test.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit previous {};
    getrlimit(RLIMIT_FSIZE, &previous);
    rlimit limit = previous;
    limit.rlim_cur = 64 * 1024;
    setrlimit(RLIMIT_FSIZE, &limit);
    engine->startRecording((m_dir / "full.mp4").string(), nullptr);
    const auto failed = pumpUntil(*engine, events, EngineEvent::Kind::RecordingFailed, 30s);
    setrlimit(RLIMIT_FSIZE, &previous);
    ASSERT_TRUE(failed);
    EXPECT_FALSE(failed->text.empty());
    EXPECT_EQ(engine->recordingState(), 0);
    pumpFrames(*engine, m_gl, m_panels, 500ms);
    EXPECT_EQ(events.count(EngineEvent::Kind::RecordingFailed), 1);
    EXPECT_EQ(events.count(EngineEvent::Kind::RecordingSaved), 0);
    // A new recording can start at once.
    engine->startRecording((m_dir / "after.mp4").string(), nullptr);
    EXPECT_EQ(engine->recordingState(), 2);
    engine->stopRecording();
    ASSERT_TRUE(pumpUntil(*engine, events, EngineEvent::Kind::RecordingSaved));
    engine->releaseGl();
}

TEST_F(EngineRecordingTest, teardownDuringTheTailReportsOnceAndLeavesAFile)
{
    EventRecorder events;
    auto engine = startEngine(events);
    const std::string file = (m_dir / "tail.mp4").string();
    engine->startRecording(file, nullptr);
    pumpFrames(*engine, m_gl, m_panels, 1s);
    engine->stopRecording();
    pumpFrames(*engine, m_gl, m_panels, 300ms);
    engine->releaseGl();
    engine.reset();
    EXPECT_EQ(events.count(EngineEvent::Kind::RecordingSaved) + events.count(EngineEvent::Kind::RecordingFailed), 1);
    EXPECT_TRUE(fs::exists(file));
}

TEST_F(EngineRecordingTest, newRecordingRightAfterTheLastGoesIdleStartsCleanly)
{
    EventRecorder events;
    auto engine = startEngine(events);
    engine->startRecording((m_dir / "first.mp4").string(), nullptr);
    pumpFrames(*engine, m_gl, m_panels, 500ms);
    engine->stopRecording();
    // Start again the moment the state reads idle: the first recording's
    // completion may still be running then.
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (engine->recordingState() != 0 && std::chrono::steady_clock::now() < deadline)
        pumpFrames(*engine, m_gl, m_panels, 5ms);
    ASSERT_EQ(engine->recordingState(), 0);
    engine->startRecording((m_dir / "second.mp4").string(), nullptr);
    EXPECT_EQ(engine->recordingState(), 2);
    ASSERT_TRUE(pumpUntil(*engine, events, EngineEvent::Kind::RecordingSaved));
    const auto first = events.waitFor(EngineEvent::Kind::RecordingSaved, 0ms);
    EXPECT_EQ(first->text, (m_dir / "first.mp4").string()) << "the outcome names its own file";
    pumpFrames(*engine, m_gl, m_panels, 300ms);
    engine->stopRecording();
    const auto end = std::chrono::steady_clock::now() + 20s;
    while (events.count(EngineEvent::Kind::RecordingSaved) < 2 && std::chrono::steady_clock::now() < end)
        pumpFrames(*engine, m_gl, m_panels, 100ms);
    EXPECT_EQ(events.count(EngineEvent::Kind::RecordingSaved), 2);
    EXPECT_EQ(events.count(EngineEvent::Kind::RecordingStarted), 2);
    engine->releaseGl();
}

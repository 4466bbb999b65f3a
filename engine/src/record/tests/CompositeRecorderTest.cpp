#include "CompositeRecorder.h"
#include "ThreadPriority.h"

#include "AlsaTestDevices.h"
#include "CompositePacer.h"
#include "DisplayFrames.h"
#include "ThreadScheduling.h"

#include <gtest/gtest.h>

#include <sched.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace lagwell {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using test::prioritiesOfThreadsNamed;
using test::ThreadScheduling;

constexpr int kWidth = 320;
constexpr int kHeight = 240;
constexpr int kFps = 30;
constexpr int64_t kFrameUs = 33333;
constexpr int64_t kFreshTargetPtsUs = 66666;
constexpr double kTailSeconds = 3.0;
constexpr auto kDeadline = 60s;

double secondsBetween(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration<double>(to - from).count();
}

Clock::duration secondsDuration(double seconds)
{
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

std::string run(const std::string& command)
{
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return out;
    char buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        out.append(buffer, n);
    pclose(pipe);
    return out;
}

// What ffprobe says about one stream of a file.
struct StreamInfo {
    std::string codec;
    double startSeconds = -1;
    double durationSeconds = -1;
    int64_t frames = -1;
};

std::map<std::string, StreamInfo> probeStreams(const std::string& path)
{
    std::map<std::string, StreamInfo> streams;
    std::istringstream lines(run("ffprobe -v error -show_entries stream=codec_type,codec_name,start_time,duration,"
                                 "nb_frames -of compact=p=0 '" + path + "'"));
    std::string line;
    while (std::getline(lines, line)) {
        std::map<std::string, std::string> fields;
        std::istringstream parts(line);
        std::string part;
        while (std::getline(parts, part, '|')) {
            const size_t eq = part.find('=');
            if (eq != std::string::npos)
                fields[part.substr(0, eq)] = part.substr(eq + 1);
        }
        StreamInfo info;
        info.codec = fields["codec_name"];
        auto number = [&](const char* key, double fallback) {
            const std::string& text = fields[key];
            return text.empty() || text == "N/A" ? fallback : std::stod(text);
        };
        info.startSeconds = number("start_time", -1);
        info.durationSeconds = number("duration", -1);
        info.frames = int64_t(number("nb_frames", -1));
        streams[fields["codec_type"]] = info;
    }
    return streams;
}

// Every completion call, in order.
class Outcomes {
public:
    struct Outcome {
        bool ok;
        std::string text;
        Clock::time_point at;
    };

    CompositeRecorder::Completion callback(int tag = 0)
    {
        return [this, tag](bool ok, std::string text) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_outcomes.push_back({ok, std::move(text), Clock::now()});
            m_tags.push_back(tag);
            m_cv.notify_all();
        };
    }

    bool waitFor(size_t count, std::chrono::milliseconds timeout = kDeadline)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_cv.wait_for(lock, timeout, [&] { return m_outcomes.size() >= count; });
    }

    std::vector<Outcome> all()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_outcomes;
    }
    std::vector<int> tags()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_tags;
    }

private:
    std::mutex m_mutex;
    // guards: everything below
    std::condition_variable m_cv;
    std::vector<Outcome> m_outcomes;
    std::vector<int> m_tags;
};

// A bottom-up RGBA picture of one grey level.
std::vector<uint8_t> greyPicture(int width, int height, uint8_t level, int strideBytes = 0)
{
    const int stride = strideBytes > 0 ? strideBytes : width * 4;
    std::vector<uint8_t> picture(size_t(stride) * size_t(height), 0);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            uint8_t* p = &picture[size_t(y) * size_t(stride) + size_t(x) * 4];
            p[0] = p[1] = p[2] = level;
            p[3] = 255;
        }
    }
    return picture;
}

// Upright: red above, blue below. Rows in memory run bottom-up, so the blue
// rows come first. Bytes past a row's pixels are left as garbage; a stride
// shorter than a row makes the rows overlap.
std::vector<uint8_t> redOverBluePicture(int width, int height, int strideBytes)
{
    std::vector<uint8_t> picture(size_t(strideBytes) * size_t(height - 1) + size_t(width) * 4, 0x5A);
    for (int y = 0; y < height; ++y) {
        const bool upperHalf = y >= height / 2;
        for (int x = 0; x < width; ++x) {
            uint8_t* p = &picture[size_t(y) * size_t(strideBytes) + size_t(x) * 4];
            p[0] = upperHalf ? 255 : 0;
            p[1] = 0;
            p[2] = upperHalf ? 0 : 255;
            p[3] = 255;
        }
    }
    return picture;
}

int64_t steadyNs(Clock::time_point at)
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(at.time_since_epoch()).count();
}

// Slot times for pictures handed over in a burst: one slot apart.
int64_t slotAtNs(int64_t index)
{
    static const int64_t originNs = steadyNs(Clock::now());
    return originNs + index * kFrameUs * 1000;
}

// The compositor's side: pictures at 30 per second in real time, with the
// compositor's stream count continuing from `firstPtsUs`, each handed over
// with its slot's moment. Like the compositor, a late thread skips slots; a
// picture's content is what the moment it is drawn calls for.
class Feeder {
public:
    using PictureFor = std::function<const std::vector<uint8_t>&(int64_t drawnNs)>;

    Feeder(CompositeRecorder& recorder, int64_t firstPtsUs, PictureFor pictureFor)
        : m_recorder(recorder), m_firstPtsUs(firstPtsUs), m_pictureFor(std::move(pictureFor))
    {
        m_thread = std::thread([this] { run(); });
    }
    ~Feeder() { stop(); }

    void stop()
    {
        m_stop.store(true);
        if (m_thread.joinable())
            m_thread.join();
    }

    // Steady time of the first picture's slot: the file's time 0.
    Clock::time_point firstAt()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_firstAt;
    }

    int64_t submitted() const { return m_submitted.load(); }
    // Slots passed over because this thread ran late.
    int64_t skipped() const { return m_skipped.load(); }

    // After stop(): seconds from the first slot to the latest one handed over
    // by `at` (a thread the machine held hands over fewer).
    double lastSlotSecondsBy(Clock::time_point at) const
    {
        double seconds = 0;
        for (const Handed& handed : m_handed) {
            if (handed.at <= at)
                seconds = double(handed.slot) * kFrameUs / 1e6;
        }
        return seconds;
    }
    // After stop(): how long after its slot the picture of slot `slot` was
    // drawn, in seconds (0: none was).
    double drawnLateSeconds(int64_t slot) const
    {
        for (const Handed& handed : m_handed) {
            if (handed.slot == slot)
                return double(handed.lateNs) / 1e9;
        }
        return 0;
    }

private:
    void run()
    {
        const auto frame = std::chrono::microseconds(kFrameUs);
        const auto origin = Clock::now();
        for (int64_t slot = 0; !m_stop.load();) {
            const auto slotAt = origin + slot * frame;
            if (slot == 0) {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_firstAt = slotAt;
            }
            const int64_t drawnNs = steadyNs(Clock::now());
            m_recorder.submitRgba(m_pictureFor(drawnNs).data(), 0, m_firstPtsUs + slot * kFrameUs, steadyNs(slotAt));
            m_handed.push_back({slot, drawnNs - steadyNs(slotAt), Clock::now()});
            m_submitted.fetch_add(1);
            std::this_thread::sleep_until(origin + (slot + 1) * frame);
            const int64_t next = std::max(slot + 1, int64_t((Clock::now() - origin) / frame));
            m_skipped.fetch_add(next - (slot + 1));
            slot = next;
        }
    }

    CompositeRecorder& m_recorder;
    const int64_t m_firstPtsUs;
    const PictureFor m_pictureFor;
    std::atomic<bool> m_stop {false};
    std::atomic<int64_t> m_submitted {0};
    std::atomic<int64_t> m_skipped {0};
    std::mutex m_mutex;
    // guards: m_firstAt
    Clock::time_point m_firstAt;
    struct Handed {
        int64_t slot;
        int64_t lateNs;  // drawn this long after its slot
        Clock::time_point at;
    };
    std::vector<Handed> m_handed;  // feeder thread until stop()
    std::thread m_thread;
};

class CompositeRecorderTest : public ::testing::Test {
protected:
    static constexpr double kToneOnsetSeconds = 1.0;

    void SetUp() override
    {
        char pattern[] = "/tmp/tvx-recorder-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_dir = pattern;
        m_devices = std::make_unique<testing::AlsaTestDevices>(m_dir);
        // One second of silence, then a tone: its onset marks the audio clock.
        std::vector<int16_t> samples(size_t(kToneOnsetSeconds * testing::AlsaTestDevices::kRate), 0);
        const std::vector<int16_t> tone = testing::AlsaTestDevices::tone(1000, 8000, 20 * 48000);
        samples.insert(samples.end(), tone.begin(), tone.end());
        m_devices->useRealTimeToneDevice(m_devices->writeRaw("mic.raw", samples));
    }

    void TearDown() override
    {
        m_devices.reset();
        fs::remove_all(m_dir);
    }

    std::string path(const std::string& name) const { return m_dir + "/" + name; }

    std::string m_dir;
    std::unique_ptr<testing::AlsaTestDevices> m_devices;
};

// Seconds from the start of the decoded sound to its first loud sample.
double soundOnsetSeconds(const std::string& file)
{
    const std::string pcm =
        run("ffmpeg -v error -i '" + file + "' -map 0:a:0 -f s16le -acodec pcm_s16le -ac 1 -ar 48000 -");
    const auto* samples = reinterpret_cast<const int16_t*>(pcm.data());
    for (size_t i = 0; i < pcm.size() / 2; ++i) {
        if (std::abs(int(samples[i])) > 2000)
            return double(i) / 48000;
    }
    return -1;
}

// Picture edges in the file: the times of the last picture before each
// change of brightness and of the first one after it.
std::vector<std::pair<double, double>> pictureEdgesSeconds(const std::string& file)
{
    const std::string grey = run("ffmpeg -v error -i '" + file +
                                 "' -map 0:v:0 -fps_mode passthrough -vf scale=8:8 -pix_fmt gray -f rawvideo -");
    std::istringstream times(run("ffprobe -v error -select_streams v -show_entries frame=pts_time -of csv=p=0 '" +
                                 file + "'"));
    std::vector<double> pts;
    for (std::string line; std::getline(times, line);) {
        line = line.substr(0, line.find(','));
        if (!line.empty())
            pts.push_back(std::stod(line));
    }
    std::vector<std::pair<double, double>> edges;
    int previous = -1;
    for (size_t frame = 0; (frame + 1) * 64 <= grey.size() && frame < pts.size(); ++frame) {
        int sum = 0;
        for (size_t i = 0; i < 64; ++i)
            sum += uint8_t(grey[frame * 64 + i]);
        const int bright = sum / 64 > 128 ? 1 : 0;
        if (previous >= 0 && bright != previous)
            edges.push_back({pts[frame - 1], pts[frame]});
        previous = bright;
    }
    return edges;
}

// File times of the last dark picture and of the first bright one after it
// (the pictures start dark); -1 when the pictures never change.
std::pair<double, double> darkToBright(const std::string& file)
{
    const std::vector<std::pair<double, double>> edges = pictureEdgesSeconds(file);
    return edges.empty() ? std::pair<double, double> {-1, -1} : edges.front();
}

TEST_F(CompositeRecorderTest, recordsPicturesAndSoundThatStartTogetherWithTheTailAfterStop)
{
    // A recording that joins a composite count the share stream began an
    // hour ago starts its pictures at 0 like one on a fresh target.
    // The sound is matched to the pictures also when the microphone opens
    // late (silence comes first) or the first picture comes late (the sound
    // from before it goes).
    struct Case {
        int64_t firstPtsUs;
        int micOpenDelayMs;
        int firstPictureDelayMs;
    };
    const Case cases[] = {{kFreshTargetPtsUs, 0, 0},
                          {kFreshTargetPtsUs + 3600LL * 1000000, 300, 0},
                          {kFreshTargetPtsUs, 0, 400}};
    for (const Case& take : cases) {
        const int64_t firstPtsUs = take.firstPtsUs;
        const std::string name = "take-" + std::to_string(firstPtsUs) + "-" + std::to_string(take.micOpenDelayMs) +
            "-" + std::to_string(take.firstPictureDelayMs);
        SCOPED_TRACE(name);
        const std::string file = path(name + ".mp4");
        const std::vector<uint8_t> dark = greyPicture(kWidth, kHeight, 16);
        const std::vector<uint8_t> bright = greyPicture(kWidth, kHeight, 235);
        Outcomes outcomes;
        CompositeRecorder recorder;

        // The microphone hears a tone from a moment on the clock; the
        // pictures due from that moment on are bright.
        const auto toneAt = Clock::now() + std::chrono::milliseconds(int(kToneOnsetSeconds * 1000));
        m_devices->useFakeDevice("mode \"paced\" open_delay_ms " + std::to_string(take.micOpenDelayMs) + " tone_at " +
                                 std::to_string(std::chrono::nanoseconds(toneAt.time_since_epoch()).count()));
        std::string error;
        ASSERT_TRUE(recorder.start(file, kWidth, kHeight, kFps, outcomes.callback(), &error)) << error;
        EXPECT_EQ(recorder.state(), CompositeRecorder::kRecording);
        EXPECT_EQ(recorder.width(), kWidth);
        EXPECT_EQ(recorder.height(), kHeight);
        EXPECT_TRUE(recorder.active());
        std::this_thread::sleep_for(std::chrono::milliseconds(take.firstPictureDelayMs));
        Feeder feeder(recorder, firstPtsUs, [&](int64_t drawnNs) -> const std::vector<uint8_t>& {
            return drawnNs < steadyNs(toneAt) ? dark : bright;
        });
        std::this_thread::sleep_for(2500ms);
        EXPECT_GT(recorder.elapsedMs(), 1000);
        const auto stopAt = Clock::now();
        recorder.stop();
        EXPECT_EQ(recorder.state(), CompositeRecorder::kStopping);
        EXPECT_TRUE(recorder.active());

        ASSERT_TRUE(outcomes.waitFor(1));
        feeder.stop();
        EXPECT_EQ(recorder.state(), CompositeRecorder::kIdle);
        EXPECT_FALSE(recorder.active());
        const std::vector<Outcomes::Outcome> all = outcomes.all();
        ASSERT_EQ(all.size(), 1u);
        EXPECT_TRUE(all[0].ok) << all[0].text;
        EXPECT_EQ(all[0].text, file);
        EXPECT_GE(secondsBetween(stopAt, all[0].at), kTailSeconds);
        // Every picture taken is encoded or counted as dropped: an encoder
        // below a loaded machine's other work may drop some.
        EXPECT_GT(recorder.framesEncoded(), 0);
        EXPECT_LE(recorder.framesEncoded() + recorder.framesDropped(), feeder.submitted());

        // Complete at once: H.264 and AAC, each the recorded time plus the
        // tail, ending no later than the recording did.
        const std::map<std::string, StreamInfo> streams = probeStreams(file);
        ASSERT_EQ(streams.count("video"), 1u);
        ASSERT_EQ(streams.count("audio"), 1u);
        const StreamInfo& video = streams.at("video");
        const StreamInfo& audio = streams.at("audio");
        EXPECT_EQ(video.codec, "h264");
        EXPECT_EQ(audio.codec, "aac");
        EXPECT_EQ(video.frames, recorder.framesEncoded());
        const double videoEnd = video.startSeconds + video.durationSeconds;
        const double audioEnd = audio.startSeconds + audio.durationSeconds;
        // (The last picture: the last slot handed over in the tail.)
        EXPECT_GE(videoEnd, feeder.lastSlotSecondsBy(stopAt + secondsDuration(kTailSeconds)) - 1.0 / kFps - 0.005);
        EXPECT_LE(videoEnd, secondsBetween(feeder.firstAt(), all[0].at) + 1.0 / kFps);
        EXPECT_GE(audioEnd, secondsBetween(feeder.firstAt(), stopAt) + kTailSeconds - 0.1);
        EXPECT_LE(audioEnd, secondsBetween(feeder.firstAt(), all[0].at) + 0.1);
        EXPECT_NEAR(audioEnd, videoEnd, 0.1);
        // At 0, unless the first pictures were dropped: then at the first kept.
        EXPECT_GE(video.startSeconds, -0.001);
        EXPECT_LE(video.startSeconds, (recorder.framesDropped() + 1.0) / kFps);
        EXPECT_NEAR(audio.startSeconds, 0.0, 1.0 / kFps);

        // One clock: the tone begins where the pictures turn bright. Each
        // picture is on its slot's frame and shows what the moment it was
        // drawn calls for, so the moment lies between the last dark one and
        // the first bright one, to half a frame and the bright one's lateness.
        const double toneSeconds = secondsBetween(feeder.firstAt(), toneAt);
        const double soundOnset = soundOnsetSeconds(file);
        const auto [lastDark, firstBright] = darkToBright(file);
        ASSERT_GE(soundOnset, 0.0);
        ASSERT_GE(lastDark, 0.0);
        ASSERT_GE(firstBright, 0.0);
        EXPECT_NEAR(soundOnset, toneSeconds, 0.02);
        EXPECT_LT(lastDark, toneSeconds + 0.5 / kFps + 0.001);
        EXPECT_GE(firstBright, toneSeconds - 0.5 / kFps - 0.001 -
                                   feeder.drawnLateSeconds(std::llround(firstBright * kFps)));
    }
}

// The compositor's side on a real screen: the host wakes at each refresh of
// a display (or tick of a timer), late by its work and now and then stalled;
// the compositor's pacer picks the frames that composite, and each picture
// goes to the recorder with its slot's moment, its content what the moment
// it was drawn calls for.
class DisplayFeeder {
public:
    using PictureFor = std::function<const std::vector<uint8_t>&(int64_t drawnNs)>;

    DisplayFeeder(CompositeRecorder& recorder, const test::DisplayMode& mode, PictureFor pictureFor)
        : m_recorder(recorder), m_mode(mode), m_pictureFor(std::move(pictureFor))
    {
        m_thread = std::thread([this] { run(); });
    }
    ~DisplayFeeder() { stop(); }

    void stop()
    {
        m_stop.store(true);
        if (m_thread.joinable())
            m_thread.join();
    }

    // The first picture's slot on the steady clock: the file's time 0.
    int64_t firstSlotNs() const { return m_firstSlotNs.load(); }
    // After stop(): the slots handed over, counted from the first, and how
    // many of those let pass went while the machine kept the host waiting (a
    // refresh passed undrawn, or a frame came later than its jitter allows):
    // the machine's, not the pacer's.
    const std::vector<int64_t>& slots() const { return m_slots; }
    int64_t slotsMissedByALateHost() const { return m_lateMisses; }
    // After stop(): how long after its slot the picture of the file's frame
    // `frame` was drawn, in seconds (0: none was).
    double drawnAfterSlotSeconds(int64_t frame) const
    {
        for (const TracedFrame& f : m_frames) {
            if (f.slot == frame)
                return double(f.nowNs - (firstSlotNs() + frame * CompositePacer::kSlotNs)) / 1e9;
        }
        return 0;
    }

    // After stop(): the frames around each run of slots let pass, one a line
    // (for a failure's message).
    std::string passedSlotsTrace() const
    {
        std::ostringstream out;
        for (size_t i = 1; i < m_frames.size(); ++i) {
            if (m_frames[i].slot < 0 || m_frames[i].slot <= m_frames[i].previousSlot + 1)
                continue;
            out << "slots " << m_frames[i].previousSlot + 1 << ".." << m_frames[i].slot - 1 << " passed:\n";
            for (size_t k = i > 6 ? i - 6 : 0; k <= i; ++k) {
                const TracedFrame& f = m_frames[k];
                out << "  refresh " << (f.refreshNs - m_frames[0].refreshNs) / 1e6 << " ms, drawn +"
                    << (f.drawnNs - f.refreshNs) / 1e6 << ", woke +" << (f.nowNs - f.refreshNs) / 1e6 << ", slot "
                    << f.slot << ", interval " << f.intervalNs / 1e6 << (f.hostLate ? " (host late)" : "") << "\n";
            }
        }
        return out.str();
    }

private:
    void run()
    {
        test::DisplayFrames display(m_mode, steadyNs(Clock::now()) + 20000000, 5);
        CompositePacer pacer;
        int64_t firstSlot = -1;
        bool hostLate = false;  // since the last picture: a refresh passed undrawn, or a frame came late
        // A frame drawn later than its jitter allows by more than this is
        // the machine's doing: past half a refresh from the others' mean it
        // counts for the next refresh.
        const int64_t lateNs =
            std::min<int64_t>(4000000, display.refreshIntervalNs() / 2 - m_mode.jitterNs / 2 - 500000);
        while (!m_stop.load()) {
            // A host that fell a refresh behind waits for the next one, as a swap does.
            test::DisplayFrames::Frame frame = display.next();
            while (frame.refreshNs + display.refreshIntervalNs() < steadyNs(Clock::now())) {
                frame = display.next();
                hostLate = true;
            }
            std::this_thread::sleep_until(Clock::time_point(std::chrono::nanoseconds(frame.drawnNs)));
            const int64_t nowNs = steadyNs(Clock::now());
            hostLate = hostLate || nowNs - frame.drawnNs > lateNs;
            const int64_t slot = pacer.onFrame(nowNs);
            m_frames.push_back({frame.refreshNs, frame.drawnNs, nowNs, -1, m_slots.empty() ? -1 : m_slots.back(),
                                pacer.refreshIntervalNs(), hostLate});
            if (slot < 0)
                continue;
            if (firstSlot < 0) {
                firstSlot = slot;
                m_firstSlotNs.store(pacer.slotNs(slot));
            } else if (slot - firstSlot > m_slots.back() + 1 && hostLate) {
                m_lateMisses += slot - firstSlot - m_slots.back() - 1;
            }
            hostLate = false;
            m_slots.push_back(slot - firstSlot);
            m_frames.back().slot = m_slots.back();
            m_recorder.submitRgba(m_pictureFor(nowNs).data(), 0, kFreshTargetPtsUs + slot * kFrameUs,
                                  pacer.slotNs(slot));
        }
    }

    CompositeRecorder& m_recorder;
    const test::DisplayMode m_mode;
    const PictureFor m_pictureFor;
    std::atomic<bool> m_stop {false};
    std::atomic<int64_t> m_firstSlotNs {0};
    std::vector<int64_t> m_slots;  // feeder thread until stop()
    int64_t m_lateMisses = 0;      // likewise
    struct TracedFrame {
        int64_t refreshNs, drawnNs, nowNs;
        int64_t slot;  // counted from the first; -1: none
        int64_t previousSlot;
        int64_t intervalNs;  // the pacer's learnt refresh
        bool hostLate;
    };
    std::vector<TracedFrame> m_frames;  // likewise
    std::thread m_thread;
};

// A microphone that behaves as sound hardware does, and pictures drawn on the
// same clock by a host at a display's refresh: from a moment on, the tone
// sounds and the pictures are bright for one second, then both go quiet and
// dark for one, and so on.
struct SyncCase {
    const char* name;
    int ppm;           // the microphone's crystal, off nominal
    int stallMs;       // its thread starved once, this long (0: never)
    int latencyMs;     // its frames become ready this long after they are taken
    int recordSeconds;
    test::DisplayMode display;
};

void PrintTo(const SyncCase& c, std::ostream* out)
{
    *out << c.name;
}

class SoundSyncTest : public CompositeRecorderTest, public ::testing::WithParamInterface<SyncCase> {};

std::string decodeSound(const std::string& file, const std::string& filters = "")
{
    return run("ffmpeg -v error -i '" + file + "' -map 0:a:0 " + (filters.empty() ? "" : "-af " + filters + " ") +
               "-f s16le -acodec pcm_s16le -ac 1 -ar 48000 -");
}

// Sound edges in the file (s): where the tone starts and where it stops.
std::vector<double> soundEdgesSeconds(const std::string& pcm)
{
    return testing::AlsaTestDevices::toneEdgesSeconds(reinterpret_cast<const int16_t*>(pcm.data()),
                                                      int64_t(pcm.size() / 2));
}

// The tone's frequency in each 100 ms of the file inside a stretch it sounds.
std::vector<std::pair<double, double>> toneHertzByTenths(const std::string& file, const std::vector<double>& edges,
                                                         double fromSeconds)
{
    const std::string pcm = decodeSound(file, "lowpass=f=1500,lowpass=f=1500");
    return testing::AlsaTestDevices::hertzByTenths(reinterpret_cast<const int16_t*>(pcm.data()),
                                                   int64_t(pcm.size() / 2), edges, fromSeconds);
}

// The file's pictures as frames of its grid, in order.
std::vector<int64_t> fileFrames(const std::string& file)
{
    std::istringstream times(
        run("ffprobe -v error -select_streams v -show_entries packet=pts_time -of csv=p=0 '" + file + "'"));
    std::vector<int64_t> frames;
    for (std::string line; std::getline(times, line);)
        frames.push_back(std::llround(std::stod(line) * kFps));
    std::sort(frames.begin(), frames.end());
    return frames;
}

TEST_P(SoundSyncTest, soundMeetsThePicturesAtEveryEdgeAtItsOwnPitch)
{
    const SyncCase& c = GetParam();
    constexpr int64_t kPeriodNs = 1000000000;
    const std::vector<uint8_t> dark = greyPicture(kWidth, kHeight, 16);
    const std::vector<uint8_t> bright = greyPicture(kWidth, kHeight, 235);
    const int64_t toneAtNs = steadyNs(Clock::now()) + 1000000000;
    // The starvation begins 100 ms into a quiet second and, at 800 ms, ends
    // 100 ms before it: an overrun loses what was not yet read as well (a
    // loaded machine's microphone thread runs tens of ms behind) and what
    // comes before the restart, and that is quiet sound too.
    const int64_t stallAtNs = toneAtNs + 5 * kPeriodNs + 100000000;
    std::string fields = "mode \"paced\" ppm " + std::to_string(c.ppm) + " tone_at " + std::to_string(toneAtNs) +
        " tone_period_ms 1000 latency_ms " + std::to_string(c.latencyMs);
    if (c.stallMs > 0)
        fields += " stall_at " + std::to_string(stallAtNs) + " stall_ms " + std::to_string(c.stallMs);
    m_devices->useFakeDevice(fields);
    const auto isBright = [&](int64_t ns) { return ns >= toneAtNs && ((ns - toneAtNs) / kPeriodNs) % 2 == 0; };

    const std::string file = path(std::string(c.name) + ".mp4");
    Outcomes outcomes;
    CompositeRecorder recorder;
    std::string error;
    ASSERT_TRUE(recorder.start(file, kWidth, kHeight, kFps, outcomes.callback(), &error)) << error;
    DisplayFeeder feeder(recorder, c.display, [&](int64_t drawnNs) -> const std::vector<uint8_t>& {
        return isBright(drawnNs) ? bright : dark;
    });
    std::this_thread::sleep_until(Clock::time_point(std::chrono::nanoseconds(toneAtNs)) +
                                  std::chrono::seconds(c.recordSeconds));
    recorder.stop();
    ASSERT_TRUE(outcomes.waitFor(1));
    feeder.stop();
    ASSERT_TRUE(outcomes.all()[0].ok) << outcomes.all()[0].text;

    // The edges as they happened on the clock, in the file's time.
    const double toneSeconds = double(toneAtNs - feeder.firstSlotNs()) / 1e9;
    const std::map<std::string, StreamInfo> streams = probeStreams(file);
    ASSERT_EQ(streams.count("audio"), 1u);
    const double audioEnd = streams.at("audio").startSeconds + streams.at("audio").durationSeconds;
    std::vector<double> truth;
    for (double t = toneSeconds; t < audioEnd - 0.1; t += 1.0)
        truth.push_back(t);
    ASSERT_GE(truth.size(), size_t(c.recordSeconds));

    // Every slot a frame of its own: each picture on its slot's frame, and
    // the frames held are slots the pacer let pass (a stall's own, or a host
    // the machine kept waiting) or pictures a loaded machine's encoder dropped.
    const std::vector<int64_t> frames = fileFrames(file);
    ASSERT_FALSE(frames.empty());
    const std::vector<int64_t>& slots = feeder.slots();
    int64_t droppedInside = 0;
    int64_t passedInside = 0;
    for (int64_t frame = frames.front(), at = 0; frame <= frames.back(); ++frame) {
        const bool handedOver = std::binary_search(slots.begin(), slots.end(), frame);
        const bool inFile = size_t(at) < frames.size() && frames[size_t(at)] == frame;
        EXPECT_TRUE(handedOver || !inFile) << "frame " << frame << " has a picture of no slot";
        at += inFile;
        droppedInside += handedOver && !inFile;
        passedInside += !handedOver;
    }
    const int64_t held = droppedInside + passedInside;
    EXPECT_LE(droppedInside, recorder.framesDropped());
    const int64_t stalls =
        c.display.stallEveryNs > 0 ? int64_t(c.recordSeconds + 4) * 1000000000 / c.display.stallEveryNs : 0;
    EXPECT_LE(passedInside, stalls * (c.display.stallNs / (kFrameUs * 1000)) + feeder.slotsMissedByALateHost())
        << feeder.passedSlotsTrace();

    // Each picture sits on its slot's frame and shows what the moment it was
    // drawn calls for (a frame near its slot; a host the machine kept waiting
    // draws later): the last picture before every change was drawn before a
    // true edge and the first after it at or after the edge.
    for (const auto& [before, after] : pictureEdgesSeconds(file)) {
        const double k = std::round(after - toneSeconds);
        const double beforeDrawn = before + feeder.drawnAfterSlotSeconds(std::llround(before * kFps));
        const double afterDrawn = after + feeder.drawnAfterSlotSeconds(std::llround(after * kFps));
        const bool bracketed =
            k >= 0 && beforeDrawn < toneSeconds + k + 0.002 && afterDrawn > toneSeconds + k - 0.002;
        EXPECT_TRUE(bracketed) << "pictures change between " << before << " and " << after << " s, drawn at "
                               << beforeDrawn << " and " << afterDrawn << " s";
    }
    // The sound meets every edge within 20 ms, to the end of the file.
    std::vector<double> sound = soundEdgesSeconds(decodeSound(file));
    sound.erase(std::remove_if(sound.begin(), sound.end(), [&](double t) { return t >= audioEnd - 0.1; }), sound.end());
    double worst = 0;
    for (const double t : truth) {
        double nearest = 1e9;
        for (const double edge : sound)
            nearest = std::abs(edge - t) < std::abs(nearest) ? edge - t : nearest;
        EXPECT_LT(std::abs(nearest), 0.020) << "the edge at " << t << " s sounds at " << t + nearest << " s";
        worst = std::abs(nearest) > std::abs(worst) ? nearest : worst;
    }
    EXPECT_EQ(sound.size(), truth.size());
    // The tone at its own pitch in every tenth of a second: from the first
    // second, or once an off crystal's rate is learnt.
    const double fromSeconds = toneSeconds + (c.ppm != 0 ? 2.0 : 0.0);
    const std::vector<std::pair<double, double>> hertz = toneHertzByTenths(file, sound, fromSeconds);
    ASSERT_GE(hertz.size(), size_t(c.recordSeconds) * 2);
    double worstPitch = 0;
    for (const auto& [at, measured] : hertz) {
        EXPECT_NEAR(measured, 1000.0, 1.0) << "at " << at << " s";
        worstPitch = std::abs(measured / 1000 - 1) > std::abs(worstPitch) ? measured / 1000 - 1 : worstPitch;
    }
    std::printf("%s: %zu edges, worst sound minus pictures %+.1f ms; %lld frames held (%lld slots passed, %lld of "
                "them after a late host); worst pitch %+.3f %% in %zu tenths\n",
                c.name, truth.size(), worst * 1000, static_cast<long long>(held), static_cast<long long>(passedInside),
                static_cast<long long>(feeder.slotsMissedByALateHost()), worstPitch * 100, hertz.size());
}

constexpr int64_t kMs = 1000000;
const test::DisplayMode kSteady60 {"hz60", 60, 2 * kMs, 0, 0};

INSTANTIATE_TEST_SUITE_P(
    Microphones, SoundSyncTest,
    ::testing::Values(SyncCase {"steady", 0, 0, 0, 10, kSteady60}, SyncCase {"starved300ms", 0, 300, 0, 15, kSteady60},
                      SyncCase {"overrun800ms", 0, 800, 0, 15, kSteady60},
                      SyncCase {"fast5000ppm", 5000, 0, 0, 16, kSteady60},
                      SyncCase {"slow5000ppm", -5000, 0, 0, 16, kSteady60}),
    [](const ::testing::TestParamInfo<SyncCase>& info) { return std::string(info.param.name); });

// Screens: each display's refresh, its frames 0-2 (or 0-4) ms late, a 100 ms
// stall every 3 s, and a microphone behind a sound server that holds 30 ms.
INSTANTIATE_TEST_SUITE_P(
    Screens, SoundSyncTest,
    ::testing::Values(
        SyncCase {"hz60", 0, 0, 30, 12, {"hz60", 60, 2 * kMs, 3000 * kMs, 100 * kMs}},
        SyncCase {"hz60jitter4", 0, 0, 30, 12, {"hz60jitter4", 60, 4 * kMs, 3000 * kMs, 100 * kMs}},
        SyncCase {"hz59_94", 0, 0, 30, 12, {"hz59_94", 59.94, 2 * kMs, 3000 * kMs, 100 * kMs}},
        SyncCase {"hz50", 0, 0, 30, 12, {"hz50", 50, 2 * kMs, 3000 * kMs, 100 * kMs}},
        SyncCase {"hz75", 0, 0, 30, 12, {"hz75", 75, 2 * kMs, 3000 * kMs, 100 * kMs}},
        SyncCase {"hz144", 0, 0, 30, 12, {"hz144", 144, 2 * kMs, 3000 * kMs, 100 * kMs}},
        SyncCase {"timer16ms", 0, 0, 30, 12, {"timer16ms", 0, 2 * kMs, 3000 * kMs, 100 * kMs}}),
    [](const ::testing::TestParamInfo<SyncCase>& info) { return std::string(info.param.name); });

TEST_F(CompositeRecorderTest, refusesAndIgnoresCallsOutsideTheirStates)
{
    const std::vector<uint8_t> picture = greyPicture(kWidth, kHeight, 128);
    Outcomes outcomes;
    CompositeRecorder recorder;
    EXPECT_EQ(recorder.state(), CompositeRecorder::kIdle);
    EXPECT_EQ(recorder.width(), 0);

    // Idle: stop drops its callback; pictures are ignored and start no clock.
    recorder.stop(outcomes.callback(99));
    recorder.submitRgba(picture.data(), 0, kFreshTargetPtsUs, slotAtNs(0));
    EXPECT_EQ(recorder.elapsedMs(), 0);

    const std::string first = path("first.mp4");
    std::string error;
    ASSERT_TRUE(recorder.start(first, kWidth, kHeight, kFps, outcomes.callback(1), &error)) << error;
    EXPECT_EQ(recorder.elapsedMs(), 0);
    error = "earlier text";
    EXPECT_FALSE(recorder.start(path("intruder.mp4"), kWidth, kHeight, kFps, outcomes.callback(98), &error));
    EXPECT_EQ(error, "A recording is already in progress.");

    Feeder feeder(recorder, kFreshTargetPtsUs, [&](int64_t) -> const std::vector<uint8_t>& { return picture; });
    std::this_thread::sleep_for(1000ms);
    const auto firstStopAt = Clock::now();
    recorder.stop(outcomes.callback(2));
    EXPECT_FALSE(recorder.start(path("intruder.mp4"), kWidth, kHeight, kFps, &error));
    EXPECT_EQ(error, "A recording is already in progress.");
    // A second stop while stopping moves nothing and replaces nothing.
    std::this_thread::sleep_for(1500ms);
    recorder.stop(outcomes.callback(3));

    ASSERT_TRUE(outcomes.waitFor(1));
    const Clock::time_point firstEndAt = outcomes.all()[0].at;
    EXPECT_LT(secondsBetween(firstStopAt, firstEndAt), kTailSeconds + 1.2);

    // The next recording starts at once; its completion comes from stop().
    const std::string second = path("second.mp4");
    ASSERT_TRUE(recorder.start(second, kWidth, kHeight, kFps, &error)) << error;
    std::this_thread::sleep_for(500ms);
    recorder.stop(outcomes.callback(4));
    recorder.stop(outcomes.callback(5));
    ASSERT_TRUE(outcomes.waitFor(2));
    feeder.stop();
    std::this_thread::sleep_for(200ms);

    const std::vector<Outcomes::Outcome> all = outcomes.all();
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(outcomes.tags(), (std::vector<int> {1, 4}));
    EXPECT_TRUE(all[0].ok);
    EXPECT_EQ(all[0].text, first);
    EXPECT_TRUE(all[1].ok);
    EXPECT_EQ(all[1].text, second);
    // The first file holds the pictures from the start to the end of its tail.
    const StreamInfo video = probeStreams(first)["video"];
    const double videoEnd = video.startSeconds + video.durationSeconds;
    EXPECT_GE(videoEnd, feeder.lastSlotSecondsBy(firstStopAt + secondsDuration(kTailSeconds)) - 1.0 / kFps - 0.005);
    EXPECT_LE(videoEnd, secondsBetween(feeder.firstAt(), firstEndAt) + 1.0 / kFps);
    EXPECT_GT(recorder.elapsedMs(), 0);  // keeps counting after the end
    EXPECT_FALSE(fs::exists(path("intruder.mp4")));
}

TEST_F(CompositeRecorderTest, anEncoderThatWillNotOpenEndsTheRecordingThroughItsCompletion)
{
    // start() leaves the encoder to the worker; its refusal comes back as
    // the outcome, and the file goes.
    Outcomes outcomes;
    CompositeRecorder recorder;
    std::string error;
    const std::string file = path("one-pixel.mp4");
    ASSERT_TRUE(recorder.start(file, 1, 1, kFps, outcomes.callback(), &error)) << error;
    ASSERT_TRUE(outcomes.waitFor(1));
    const std::vector<Outcomes::Outcome> all = outcomes.all();
    ASSERT_EQ(all.size(), 1u);
    EXPECT_FALSE(all[0].ok);
    const std::string prefix = "Could not open a video encoder: The picture size 1x1 cannot be encoded";
    EXPECT_EQ(all[0].text.rfind(prefix, 0), 0u) << all[0].text;
    EXPECT_EQ(recorder.state(), CompositeRecorder::kIdle);
    EXPECT_FALSE(fs::exists(file));

    // The next recording starts and is reported as usual.
    ASSERT_TRUE(recorder.start(path("after.mp4"), kWidth, kHeight, kFps, outcomes.callback(), &error)) << error;
    recorder.stop();
    ASSERT_TRUE(outcomes.waitFor(2));
    EXPECT_EQ(outcomes.all().size(), 2u);
}

TEST_F(CompositeRecorderTest, anOutcomeNamesItsOwnFileWhenTheNextRecordingStartsAtOnce)
{
    m_devices->useMissingDevice();
    const std::vector<uint8_t> picture = greyPicture(kWidth, kHeight, 100);
    const std::string first = path("first.mp4");
    const std::string second = path("second.mp4");
    Outcomes outcomes;
    const auto record = outcomes.callback();
    std::atomic<bool> idleInCompletion {false};
    CompositeRecorder recorder;
    std::string error;
    // The first completion lingers, so the next start lands while it runs.
    ASSERT_TRUE(recorder.start(first, kWidth, kHeight, kFps,
                               [&](bool ok, std::string text) {
                                   idleInCompletion = recorder.state() == CompositeRecorder::kIdle;
                                   std::this_thread::sleep_for(300ms);
                                   record(ok, std::move(text));
                               },
                               &error))
        << error;
    Feeder feeder(recorder, kFreshTargetPtsUs, [&](int64_t) -> const std::vector<uint8_t>& { return picture; });
    std::this_thread::sleep_for(300ms);
    recorder.stop();
    const auto giveUp = Clock::now() + kDeadline;
    while (recorder.state() != CompositeRecorder::kIdle && Clock::now() < giveUp)
        std::this_thread::sleep_for(1ms);
    ASSERT_TRUE(recorder.start(second, kWidth, kHeight, kFps, outcomes.callback(), &error)) << error;
    std::this_thread::sleep_for(300ms);
    recorder.stop();
    ASSERT_TRUE(outcomes.waitFor(2));
    feeder.stop();

    EXPECT_TRUE(idleInCompletion.load());
    const std::vector<Outcomes::Outcome> all = outcomes.all();
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].text, first);
    EXPECT_EQ(all[1].text, second);
}

TEST_F(CompositeRecorderTest, keepsPicturesUprightWhateverTheStrideAndRefusesShortOnes)
{
    struct StrideCase {
        const char* name;
        int strideBytes;  // as handed to submitRgba
        int count;
        bool kept;
    };
    const StrideCase cases[] = {
        {"packed rows", kWidth * 4, 10, true},
        {"padded rows", kWidth * 4 + 64, 10, true},
        {"no stride given", 0, 10, true},
        {"rows overlap", kWidth * 4 - 4, 5, false},
    };
    const std::string file = path("strides.mp4");
    Outcomes outcomes;
    CompositeRecorder recorder;
    std::string error;
    ASSERT_TRUE(recorder.start(file, kWidth, kHeight, kFps, outcomes.callback(), &error)) << error;

    int64_t index = 0;
    int kept = 0;
    int refused = 0;
    auto next = Clock::now();
    for (const StrideCase& c : cases) {
        const std::vector<uint8_t> picture =
            redOverBluePicture(kWidth, kHeight, c.strideBytes > 0 ? c.strideBytes : kWidth * 4);
        for (int i = 0; i < c.count; ++i, ++index) {
            std::this_thread::sleep_until(next);
            next += std::chrono::microseconds(kFrameUs);
            recorder.submitRgba(picture.data(), c.strideBytes, kFreshTargetPtsUs + index * kFrameUs, slotAtNs(index));
        }
        (c.kept ? kept : refused) += c.count;
    }
    recorder.stop();
    ASSERT_TRUE(outcomes.waitFor(1));
    ASSERT_TRUE(outcomes.all()[0].ok) << outcomes.all()[0].text;
    EXPECT_EQ(recorder.framesEncoded() + recorder.framesDropped(), kept + refused);
    EXPECT_GE(recorder.framesDropped(), refused);

    // Every picture in the file is upright: red on top, blue below.
    const std::string rgb = run("ffmpeg -v error -i '" + file +
                                "' -map 0:v:0 -fps_mode passthrough -vf scale=2:2 -pix_fmt rgb24 -f rawvideo -");
    const size_t pictures = rgb.size() / 12;
    EXPECT_EQ(int64_t(pictures), recorder.framesEncoded());
    for (size_t p = 0; p < pictures; ++p) {
        const auto* px = reinterpret_cast<const uint8_t*>(rgb.data() + p * 12);
        SCOPED_TRACE("picture " + std::to_string(p));
        EXPECT_GT(px[0], 200);  // top left red
        EXPECT_LT(px[2], 60);
        EXPECT_LT(px[6], 60);   // bottom left blue
        EXPECT_GT(px[8], 200);
    }
}

TEST_F(CompositeRecorderTest, fullQueuePushesOutTheOldestAndEncodesTheNewest)
{
    constexpr int kBigWidth = 1280;
    constexpr int kBigHeight = 720;
    constexpr int kBurst = 40;
    m_devices->useMissingDevice();
    const std::vector<uint8_t> picture = greyPicture(kBigWidth, kBigHeight, 90);
    const std::string file = path("burst.mp4");
    Outcomes outcomes;
    CompositeRecorder recorder;
    std::string error;
    ASSERT_TRUE(recorder.start(file, kBigWidth, kBigHeight, kFps, outcomes.callback(), &error)) << error;
    for (int i = 0; i < kBurst; ++i)
        recorder.submitRgba(picture.data(), kBigWidth * 4, kFreshTargetPtsUs + i * kFrameUs, slotAtNs(i));
    recorder.stop();
    ASSERT_TRUE(outcomes.waitFor(1));
    ASSERT_TRUE(outcomes.all()[0].ok) << outcomes.all()[0].text;
    EXPECT_EQ(recorder.framesEncoded() + recorder.framesDropped(), kBurst);
    EXPECT_GE(recorder.framesEncoded(), int64_t(CompositeRecorder::kMaxQueuedFrames));

    // The newest picture is in the file, at its slot's time.
    std::istringstream times(run("ffprobe -v error -select_streams v -show_entries packet=pts_time -of csv=p=0 '" +
                                 file + "'"));
    std::vector<double> pts;
    for (std::string line; std::getline(times, line);)
        pts.push_back(std::stod(line));
    ASSERT_EQ(int64_t(pts.size()), recorder.framesEncoded());
    std::sort(pts.begin(), pts.end());
    EXPECT_NEAR(pts.back(), (kBurst - 1) * kFrameUs / 1e6, 0.002);
}

TEST_F(CompositeRecorderTest, eachSlotGoesOnItsOwnFrameAndAStallLeavesItsFramesHeld)
{
    m_devices->useMissingDevice();
    const std::vector<uint8_t> picture = greyPicture(kWidth, kHeight, 70);
    const std::string file = path("slots.mp4");
    Outcomes outcomes;
    CompositeRecorder recorder;
    std::string error;
    ASSERT_TRUE(recorder.start(file, kWidth, kHeight, kFps, outcomes.callback(), &error)) << error;
    // Slots from a stream count far along, drawn late by up to half a frame;
    // a stall that skips three; one slot handed over twice (dropped).
    constexpr int kPictures = 60;
    std::vector<int64_t> frames;
    auto next = Clock::now();
    for (int i = 0, slot = 0; i < kPictures; ++i, ++slot) {
        if (i == 30)
            slot += 3;
        if (i == 45)
            --slot;
        std::this_thread::sleep_until(next);
        next += std::chrono::microseconds(kFrameUs);
        recorder.submitRgba(picture.data(), 0, 5000000 + slot * kFrameUs, slotAtNs(slot));
        if (frames.empty() || slot > frames.back())
            frames.push_back(slot);
    }
    recorder.stop();
    ASSERT_TRUE(outcomes.waitFor(1));
    ASSERT_TRUE(outcomes.all()[0].ok) << outcomes.all()[0].text;
    EXPECT_EQ(recorder.framesEncoded() + recorder.framesDropped(), kPictures);
    EXPECT_GE(recorder.framesDropped(), 1);

    std::istringstream times(run("ffprobe -v error -select_streams v -show_entries packet=pts_time -of csv=p=0 '" +
                                 file + "'"));
    std::vector<double> pts;
    for (std::string line; std::getline(times, line);)
        pts.push_back(std::stod(line));
    EXPECT_EQ(int64_t(pts.size()), recorder.framesEncoded());
    std::sort(pts.begin(), pts.end());
    // Every picture on its slot's frame: those a loaded machine dropped
    // leave theirs out, none moves. (A file whose first pictures were
    // dropped starts with an empty edit, which the MP4 writer keeps in whole
    // milliseconds: the pictures sit up to 1 ms early.)
    size_t at = 0;
    for (const double t : pts) {
        const int64_t frame = std::llround(t * kFps);
        EXPECT_NEAR(t * kFps, double(frame), 0.001 * kFps + 0.001) << t;
        while (at < frames.size() && frames[at] < frame)
            ++at;
        EXPECT_TRUE(at < frames.size() && frames[at] == frame) << "a picture on frame " << frame;
    }
}

TEST_F(CompositeRecorderTest, refusesPathsItCannotWriteAndLeavesNothingBehind)
{
    const std::string regularFile = path("plain-file");
    std::ofstream(regularFile) << "x";
    const std::string cases[] = {
        path("missing-directory/take.mp4"),
        regularFile + "/take.mp4",
        "/proc/tvx-take.mp4",
    };
    for (const std::string& file : cases) {
        SCOPED_TRACE(file);
        Outcomes outcomes;
        CompositeRecorder recorder;
        std::string error;
        EXPECT_FALSE(recorder.start(file, kWidth, kHeight, kFps, outcomes.callback(), &error));
        const std::string prefix = "Could not open '" + file + "' for writing (";
        EXPECT_EQ(error.rfind(prefix, 0), 0u) << error;
        EXPECT_GT(error.size(), prefix.size() + 2);
        EXPECT_EQ(error.substr(error.size() - 2), ").");
        EXPECT_EQ(recorder.state(), CompositeRecorder::kIdle);
        EXPECT_FALSE(recorder.active());
        EXPECT_FALSE(fs::exists(file));
        // Nothing started, so nothing will ever be reported; a later start works.
        ASSERT_TRUE(recorder.start(path("fine.mp4"), kWidth, kHeight, kFps, &error)) << error;
        recorder.stop();
        EXPECT_TRUE(outcomes.all().empty());
    }
}

// Lowers the soft file-size limit, with SIGXFSZ ignored so a write past it
// fails with EFBIG instead of killing the process; restores both.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &m_saved);
        m_savedHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = m_saved;
        limit.rlim_cur = bytes;
        m_active = setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, m_savedHandler);
    }
    bool active() const { return m_active; }

private:
    rlimit m_saved {};
    void (*m_savedHandler)(int) = SIG_DFL;
    bool m_active = false;
};

TEST_F(CompositeRecorderTest, aFullDiskEndsTheRecordingWithOneFailureAndNoStop)
{
    constexpr int kNoisyWidth = 640;
    constexpr int kNoisyHeight = 360;
    // Noise does not compress: the file grows at the full bit rate.
    std::vector<std::vector<uint8_t>> noise(4, std::vector<uint8_t>(size_t(kNoisyWidth) * kNoisyHeight * 4));
    std::mt19937 random(7);
    for (std::vector<uint8_t>& picture : noise) {
        for (uint8_t& byte : picture)
            byte = uint8_t(random());
    }
    const std::string file = path("full.mp4");
    Outcomes outcomes;
    {
        CompositeRecorder recorder;
        FileSizeLimit limit(128 * 1024);
        ASSERT_TRUE(limit.active());
        std::string error;
        ASSERT_TRUE(recorder.start(file, kNoisyWidth, kNoisyHeight, kFps, outcomes.callback(), &error)) << error;
        Feeder feeder(recorder, kFreshTargetPtsUs,
                      [&](int64_t index) -> const std::vector<uint8_t>& { return noise[size_t(index) % noise.size()]; });
        ASSERT_TRUE(outcomes.waitFor(1));
        feeder.stop();
        EXPECT_EQ(recorder.state(), CompositeRecorder::kIdle);
        recorder.stop(outcomes.callback());  // too late: nothing more is reported
    }
    const std::vector<Outcomes::Outcome> all = outcomes.all();
    ASSERT_EQ(all.size(), 1u);
    EXPECT_FALSE(all[0].ok);
    EXPECT_EQ(all[0].text, "Could not write a sample to the recording (File too large).");
}

TEST_F(CompositeRecorderTest, aRecordingWithoutPicturesFailsAndLeavesNoFile)
{
    const std::string file = path("empty.mp4");
    Outcomes outcomes;
    CompositeRecorder recorder;
    std::string error;
    ASSERT_TRUE(recorder.start(file, kWidth, kHeight, kFps, outcomes.callback(), &error)) << error;
    EXPECT_TRUE(fs::exists(file));
    recorder.stop();
    ASSERT_TRUE(outcomes.waitFor(1));
    const std::vector<Outcomes::Outcome> all = outcomes.all();
    ASSERT_EQ(all.size(), 1u);
    EXPECT_FALSE(all[0].ok);
    EXPECT_EQ(all[0].text, "Recording failed.");
    EXPECT_FALSE(fs::exists(file));
}

TEST_F(CompositeRecorderTest, destroyingTheRecorderFinishesTheFileAndReportsOnce)
{
    struct Case {
        const char* name;
        bool stopFirst;
    };
    const Case cases[] = {{"during the tail", true}, {"while recording", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string file = path(std::string(c.stopFirst ? "tail" : "running") + ".mp4");
        const std::vector<uint8_t> picture = greyPicture(kWidth, kHeight, 200);
        Outcomes outcomes;
        {
            CompositeRecorder recorder;
            std::string error;
            ASSERT_TRUE(recorder.start(file, kWidth, kHeight, kFps, outcomes.callback(), &error)) << error;
            Feeder feeder(recorder, kFreshTargetPtsUs,
                          [&](int64_t) -> const std::vector<uint8_t>& { return picture; });
            std::this_thread::sleep_for(1000ms);
            if (c.stopFirst) {
                recorder.stop();
                std::this_thread::sleep_for(500ms);
            }
            feeder.stop();
        }
        const std::vector<Outcomes::Outcome> all = outcomes.all();
        ASSERT_EQ(all.size(), 1u);
        EXPECT_TRUE(all[0].ok) << all[0].text;
        EXPECT_EQ(all[0].text, file);
        const std::map<std::string, StreamInfo> streams = probeStreams(file);
        ASSERT_EQ(streams.count("video"), 1u);
        EXPECT_EQ(streams.at("video").codec, "h264");
        EXPECT_GT(streams.at("video").frames, 0);
    }
}

TEST_F(CompositeRecorderTest, aRecordingWithoutMicrophoneIsVideoOnlyAndSaved)
{
    m_devices->useMissingDevice();
    const std::string file = path("silent.mp4");
    const std::vector<uint8_t> picture = greyPicture(kWidth, kHeight, 60);
    Outcomes outcomes;
    CompositeRecorder recorder;
    std::string error;
    ASSERT_TRUE(recorder.start(file, kWidth, kHeight, kFps, outcomes.callback(), &error)) << error;
    Feeder feeder(recorder, kFreshTargetPtsUs, [&](int64_t) -> const std::vector<uint8_t>& { return picture; });
    std::this_thread::sleep_for(300ms);
    recorder.stop();
    ASSERT_TRUE(outcomes.waitFor(1));
    feeder.stop();
    ASSERT_TRUE(outcomes.all()[0].ok) << outcomes.all()[0].text;
    const std::map<std::string, StreamInfo> streams = probeStreams(file);
    EXPECT_EQ(streams.count("video"), 1u);
    EXPECT_EQ(streams.count("audio"), 0u);
}

TEST_F(CompositeRecorderTest, startFromInsideACompletionIsRefusedWithoutHanging)
{
    m_devices->useMissingDevice();
    CompositeRecorder recorder;
    std::atomic<bool> nestedStarted {true};
    std::string nestedError;
    Outcomes outcomes;
    const auto record = outcomes.callback();
    std::string error;
    ASSERT_TRUE(recorder.start(path("outer.mp4"), kWidth, kHeight, kFps,
                               [&](bool ok, std::string text) {
                                   nestedStarted = recorder.start(path("inner.mp4"), kWidth, kHeight, kFps,
                                                                  &nestedError);
                                   record(ok, std::move(text));
                               },
                               &error))
        << error;
    recorder.stop();
    ASSERT_TRUE(outcomes.waitFor(1));
    EXPECT_FALSE(nestedStarted.load());
    EXPECT_EQ(nestedError, "A recording is already in progress.");
    EXPECT_FALSE(fs::exists(path("inner.mp4")));
}

TEST_F(CompositeRecorderTest, theEncoderRunsBelowTheCallerWhichLosesPicturesNeverTime)
{
    constexpr int kBigWidth = 1280;
    constexpr int kBigHeight = 720;
    const int callerNice = getpriority(PRIO_PROCESS, 0);
    const int expectedNice = std::min(callerNice + kEncoderNiceIncrement, 19);
    std::vector<std::vector<uint8_t>> pictures;
    for (int i = 0; i < 4; ++i)
        pictures.push_back(greyPicture(kBigWidth, kBigHeight, uint8_t(40 + 50 * i)));
    const std::string file = path("loaded.mp4");
    Outcomes outcomes;
    CompositeRecorder recorder;
    std::string error;
    ASSERT_TRUE(recorder.start(file, kBigWidth, kBigHeight, kFps, outcomes.callback(), &error)) << error;

    int64_t submitted = 0;
    {
        // Pictures far faster than the encoder can take them, until it has
        // made some: the caller never waits for it.
        const auto deadline = Clock::now() + kDeadline;
        while ((recorder.framesEncoded() < 3 || submitted < 60) && Clock::now() < deadline) {
            recorder.submitRgba(pictures[size_t(submitted % 4)].data(), kBigWidth * 4,
                                kFreshTargetPtsUs + submitted * kFrameUs, slotAtNs(submitted));
            ++submitted;
            std::this_thread::sleep_for(2ms);
        }
        ASSERT_GE(recorder.framesEncoded(), 3);

        // The worker and the encoder's threads it made run below the caller;
        // the microphone's thread does not.
        const std::vector<ThreadScheduling> encoder = prioritiesOfThreadsNamed("tvx-rec");
        ASSERT_FALSE(encoder.empty());
        for (const ThreadScheduling& priority : encoder) {
            EXPECT_EQ(priority.nice, expectedNice);
            EXPECT_EQ(priority.policy, SCHED_BATCH);
        }
        const std::vector<ThreadScheduling> mic = prioritiesOfThreadsNamed("tvx-mic");
        ASSERT_EQ(mic.size(), 1u);
        EXPECT_EQ(mic[0].nice, callerNice);
        EXPECT_EQ(mic[0].policy, SCHED_OTHER);
        EXPECT_EQ(getpriority(PRIO_PROCESS, 0), callerNice);
    }
    recorder.stop();
    ASSERT_TRUE(outcomes.waitFor(1));
    ASSERT_TRUE(outcomes.all()[0].ok) << outcomes.all()[0].text;
    EXPECT_GT(recorder.framesDropped(), 0);
    EXPECT_EQ(recorder.framesEncoded() + recorder.framesDropped(), submitted);

    // What was encoded is a whole file whose times rise.
    const std::map<std::string, StreamInfo> streams = probeStreams(file);
    ASSERT_EQ(streams.count("video"), 1u);
    EXPECT_EQ(streams.at("video").frames, recorder.framesEncoded());
    std::istringstream times(run("ffprobe -v error -select_streams v -show_entries packet=pts_time -of csv=p=0 '" +
                                 file + "'"));
    std::vector<double> pts;
    for (std::string line; std::getline(times, line);)
        pts.push_back(std::stod(line));
    std::sort(pts.begin(), pts.end());
    EXPECT_EQ(std::adjacent_find(pts.begin(), pts.end()), pts.end()) << "two pictures at one time";
}

}  // namespace
}  // namespace lagwell

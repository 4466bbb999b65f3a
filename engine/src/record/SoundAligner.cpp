#include "SoundAligner.h"

#include "FfmpegError.h"
#include "LineFit.h"
#include "Log.h"

extern "C" {
#include <libavutil/channel_layout.h>
}

#include <algorithm>
#include <cmath>

namespace lagwell {
namespace {

constexpr double kNsPerSecond = 1e9;
// The device's rate is fitted to the capture times of this many seconds...
constexpr int64_t kFitWindowSeconds = 30;
// ...once they span this many; until then the last estimate (or the nominal
// rate) stands and only the line's offset is fitted.
constexpr int64_t kMinFitSeconds = 1;
// A crystal further off than this is not believed: the estimate stops there.
constexpr double kMaxRateDeviation = 0.025;
// A block whose time is off its run's line by more than this, plus 2 % of
// the time since the last block, follows a jump: no crystal explains it.
constexpr double kJumpNs = 50e6;
constexpr double kJumpFraction = 0.02;
// A time is read late, never early (the device counts its frames a period
// at a time, the thread may be held up): the line runs along the earliest
// times, this low a share of them below it.
constexpr double kLineQuantile = 0.05;
constexpr size_t kRefitEveryBlocks = 10;
// What is left of the error is eased out over this long, within
// kMaxEaseDeviation of the crystal's rate.
constexpr double kEaseSeconds = 2.0;
// The resampler's compensation is given as a count of frames over this span.
constexpr int kCompensationSeconds = 10;
constexpr int64_t kSilenceChunkFrames = 4800;

}  // namespace

SoundAligner::SoundAligner() = default;

bool SoundAligner::reset(int32_t rate, int32_t channels, std::string* error)
{
    m_rate = rate;
    m_channels = channels;
    m_swr.reset();
    m_planes.clear();
    m_planePointers.clear();
    m_hasOrigin = false;
    m_originNs = 0;
    m_cutNs = 0;
    m_early.clear();
    m_earlyFrames = 0;
    m_points.clear();
    m_segmentFrames = 0;
    m_lastCapturedNs = 0;
    m_nsPerFrame = kNsPerSecond / rate;
    m_outputFrames = 0;
    m_skipFrames = 0;
    m_compensating = false;
    m_hardCorrections = 0;
    m_silenceFrames = 0;
    m_droppedFrames = 0;
    if (channels < 1)
        return true;

    AVChannelLayout layout;
    av_channel_layout_default(&layout, channels);
    SwrContext* raw = nullptr;
    int rc = swr_alloc_set_opts2(&raw, &layout, AV_SAMPLE_FMT_FLTP, rate, &layout, AV_SAMPLE_FMT_S16, rate, 0, nullptr);
    SwrContextPtr swr(raw);
    if (rc >= 0)
        rc = swr_init(swr.get());
    av_channel_layout_uninit(&layout);
    if (rc < 0) {
        if (error)
            *error = "Could not make the sound resampler (" + ffmpegError(rc) + ").";
        return false;
    }
    m_swr = std::move(swr);
    m_planes.assign(size_t(channels), {});
    m_planePointers.assign(size_t(channels), nullptr);
    return true;
}

void SoundAligner::setOrigin(int64_t originNs, const Output& output)
{
    if (m_hasOrigin || !m_swr)
        return;
    m_hasOrigin = true;
    m_originNs = originNs;
    std::deque<EarlyBlock> early;
    early.swap(m_early);
    m_earlyFrames = 0;
    for (EarlyBlock& kept : early) {
        kept.block.samples = kept.samples.data();
        place(kept.block, output);
    }
}

void SoundAligner::push(const AudioCapture::Block& block, const Output& output)
{
    if (!m_swr || block.frames <= 0 || block.channels != m_channels)
        return;
    if (m_hasOrigin) {
        place(block, output);
        return;
    }
    EarlyBlock kept;
    kept.samples.assign(block.samples, block.samples + int64_t(block.frames) * block.channels);
    kept.block = block;
    kept.block.samples = nullptr;
    m_earlyFrames += block.frames;
    m_early.push_back(std::move(kept));
    const int64_t maxFrames = kMaxEarlyMs * m_rate / 1000;
    while (m_earlyFrames - m_early.front().block.frames >= maxFrames) {
        m_earlyFrames -= m_early.front().block.frames;
        m_early.pop_front();
    }
}

double SoundAligner::estimatedPpm() const
{
    return (kNsPerSecond / m_rate / m_nsPerFrame - 1.0) * 1e6;
}

void SoundAligner::place(const AudioCapture::Block& block, const Output& output)
{
    const bool isStart = m_outputFrames == 0 && m_points.empty();
    const bool newSegment = startsSegment(block);
    if (newSegment) {
        m_blocksSinceFit = 0;
        m_points.clear();
        m_segmentFrames = 0;
        m_skipFrames = 0;
    }
    m_points.push_back({m_segmentFrames, block.capturedNs});
    while (m_points.front().frame < m_segmentFrames - kFitWindowSeconds * m_rate)
        m_points.pop_front();
    // The line settles over seconds: once it has a few points, a fit every
    // tenth block is enough.
    if (m_points.size() < kRefitEveryBlocks || ++m_blocksSinceFit >= kRefitEveryBlocks) {
        m_blocksSinceFit = 0;
        refitRate();
        refitLine();
    }
    const double firstNs = lineNs(m_segmentFrames);
    m_segmentFrames += block.frames;
    m_lastCapturedNs = block.capturedNs;

    // Where the block's first frame would sound, against where it belongs.
    const double target = (firstNs - double(m_originNs + m_cutNs)) * m_rate / kNsPerSecond;
    const double landing = double(m_outputFrames + swr_get_delay(m_swr.get(), m_rate) - m_skipFrames);
    double error = landing - target;  // > 0: late
    if (newSegment || std::abs(error) > double(kHardErrorMs * m_rate / 1000)) {
        const int64_t frames = std::llround(error);
        if (!isStart) {
            if (m_hardCorrections++ == 0)
                LW_LOG_WARN("SoundAligner: the microphone's sound moved %+.1f ms at once (%s)",
                            -error * 1000.0 / m_rate, newSegment ? "a gap in its times" : "drift");
        }
        if (frames < 0)
            insertSilence(-frames, output);
        else
            m_skipFrames += std::llround(double(frames) / (m_nsPerFrame * m_rate / kNsPerSecond));
        error = 0;
    }

    // Follow the device's crystal and ease out what is left, the pitch
    // hardly bent.
    const double ease = std::clamp(-error / (kEaseSeconds * m_rate), -kMaxEaseDeviation, kMaxEaseDeviation);
    setCompensation(m_nsPerFrame * m_rate / kNsPerSecond + ease);

    const int64_t drop = std::min<int64_t>(m_skipFrames, block.frames);
    m_skipFrames -= drop;
    m_droppedFrames += drop;
    convert(block.samples + drop * block.channels, int32_t(block.frames - drop), output);
}

bool SoundAligner::startsSegment(const AudioCapture::Block& block)
{
    if (m_points.empty() || block.followsGap)
        return true;
    const double residual = double(block.capturedNs) - lineNs(m_segmentFrames);
    const double sinceLast = std::abs(double(block.capturedNs - m_lastCapturedNs));
    if (std::abs(residual) <= kJumpNs + kJumpFraction * sinceLast)
        return false;
    LW_LOG_DEBUG("SoundAligner: the microphone's time jumped %+.1f ms", residual / 1e6);
    return true;
}

// The run's line through its points: the estimated spacing as slope, a low
// quantile of the points' offsets from it as intercept.
void SoundAligner::refitLine()
{
    const Point& first = m_points.front();
    m_offsets.clear();
    for (const Point& point : m_points)
        m_offsets.push_back(double(point.capturedNs - first.capturedNs) - m_nsPerFrame * double(point.frame - first.frame));
    const auto at = m_offsets.begin() + std::ptrdiff_t(double(m_offsets.size() - 1) * kLineQuantile);
    std::nth_element(m_offsets.begin(), at, m_offsets.end());
    m_line = {first.frame, first.capturedNs, *at};
}

double SoundAligner::lineNs(int64_t frame) const
{
    return double(m_line.capturedNs) + m_line.offsetNs + m_nsPerFrame * double(frame - m_line.frame);
}

void SoundAligner::refitRate()
{
    if (m_points.size() < 2 || m_points.back().frame - m_points.front().frame < kMinFitSeconds * m_rate)
        return;
    double slope = 0;
    if (!leastSquaresSlope(
            m_points, [](const Point& p) { return p.frame; }, [](const Point& p) { return p.capturedNs; }, &slope))
        return;
    const double nominal = kNsPerSecond / m_rate;
    m_nsPerFrame = std::clamp(slope, nominal * (1.0 - kMaxRateDeviation), nominal * (1.0 + kMaxRateDeviation));
}

// The resampler gives `delta` frames more per span of output frames, so
// output / input = span / (span - delta).
void SoundAligner::setCompensation(double outPerIn)
{
    const int span = kCompensationSeconds * m_rate;
    const int delta = int(std::lround(span * (1.0 - 1.0 / outPerIn)));
    // A device on time is passed through untouched until it drifts.
    if (delta == 0 && !m_compensating)
        return;
    // Given again each block: the compensation lapses after its span.
    if (swr_set_compensation(m_swr.get(), delta, span) >= 0)
        m_compensating = true;
}

void SoundAligner::flush(const Output& output)
{
    if (m_swr && m_hasOrigin)
        convert(nullptr, 0, output);
}

// No samples: drains the resampler.
void SoundAligner::convert(const int16_t* samples, int32_t frames, const Output& output)
{
    if (samples && frames <= 0)
        return;
    const int capacity = swr_get_out_samples(m_swr.get(), frames);
    if (capacity <= 0)
        return;
    for (size_t k = 0; k < m_planes.size(); ++k) {
        if (m_planes[k].size() < size_t(capacity))
            m_planes[k].resize(size_t(capacity));
        m_planePointers[k] = m_planes[k].data();
    }
    const uint8_t* in[1] = {reinterpret_cast<const uint8_t*>(samples)};
    const int produced = swr_convert(m_swr.get(), reinterpret_cast<uint8_t**>(m_planePointers.data()), capacity,
                                     samples ? in : nullptr, frames);
    if (produced <= 0)
        return;
    m_outputFrames += produced;
    output(m_planePointers.data(), produced);
}

void SoundAligner::insertSilence(int64_t frames, const Output& output)
{
    const int64_t maxFrames = kMaxSilenceMs * m_rate / 1000;
    if (frames > maxFrames) {
        // A gap this long is the machine asleep, not the microphone: the
        // sound's clock moves on rather than encoding minutes of nothing.
        LW_LOG_WARN("SoundAligner: a gap of %lld s in the sound is cut to %lld s",
                    static_cast<long long>(frames / m_rate), static_cast<long long>(maxFrames / m_rate));
        m_cutNs += (frames - maxFrames) * int64_t(kNsPerSecond) / m_rate;
        frames = maxFrames;
    }
    m_silenceFrames += frames;
    // Silence goes in frame for frame, not bent to the device's rate.
    setCompensation(1.0);
    const std::vector<int16_t> zeros(size_t(kSilenceChunkFrames) * size_t(m_channels), 0);
    while (frames > 0) {
        const int32_t chunk = int32_t(std::min(frames, kSilenceChunkFrames));
        convert(zeros.data(), chunk, output);
        frames -= chunk;
    }
}

}  // namespace lagwell

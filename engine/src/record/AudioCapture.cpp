#include "AudioCapture.h"

#include "AlsaLogBridge.h"
#include "Log.h"
#include "SteadyClock.h"

#include <pthread.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <vector>

namespace lagwell {
namespace {

constexpr int kMaxConsecutiveErrors = 50;
constexpr auto kErrorRetryDelay = std::chrono::milliseconds(5);
constexpr auto kResumeRetryDelay = std::chrono::milliseconds(10);
// Longest wait for data before the running flag is looked at again.
constexpr int kWaitSliceMs = 100;
// A device that holds less than this loses sound whenever the thread waits
// that long for a core.
constexpr unsigned long kShortBufferUs = 250000;
// The clock is read around the device's count; a wider spread (the thread
// was preempted there) is read again.
constexpr int64_t kStampSpreadNs = 1000000;
constexpr int kStampAttempts = 3;
// A device stamp older than this is no stamp of the moment just read.
constexpr int64_t kMaxStampAgeNs = 100000000;
constexpr int64_t kNsPerSecond = 1000000000;

// A long buffer and short periods: steady blocks, and room for a starved
// thread. 0 or ALSA's error code.
int configureDevice(snd_pcm_t* pcm, unsigned channels, unsigned rate)
{
    snd_pcm_hw_params_t* hw = nullptr;
    snd_pcm_hw_params_alloca(&hw);
    int rc = snd_pcm_hw_params_any(pcm, hw);
    if (rc < 0)
        return rc;
    snd_pcm_hw_params_set_rate_resample(pcm, hw, 1);
    if ((rc = snd_pcm_hw_params_set_access(pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED)) < 0 ||
        (rc = snd_pcm_hw_params_set_format(pcm, hw, SND_PCM_FORMAT_S16_LE)) < 0 ||
        (rc = snd_pcm_hw_params_set_channels(pcm, hw, channels)) < 0)
        return rc;
    unsigned actualRate = rate;
    if ((rc = snd_pcm_hw_params_set_rate_near(pcm, hw, &actualRate, nullptr)) < 0)
        return rc;
    if (actualRate != rate)
        return -EINVAL;
    // Either may be refused; the device's own choice then stands.
    unsigned bufferUs = AudioCapture::kBufferUs;
    snd_pcm_hw_params_set_buffer_time_near(pcm, hw, &bufferUs, nullptr);
    unsigned periodUs = AudioCapture::kPeriodUs;
    snd_pcm_hw_params_set_period_time_near(pcm, hw, &periodUs, nullptr);
    if ((rc = snd_pcm_hw_params(pcm, hw)) < 0)
        return rc;

    snd_pcm_uframes_t periodFrames = 0;
    snd_pcm_hw_params_get_period_size(hw, &periodFrames, nullptr);
    snd_pcm_sw_params_t* sw = nullptr;
    snd_pcm_sw_params_alloca(&sw);
    if ((rc = snd_pcm_sw_params_current(pcm, sw)) < 0 || (rc = snd_pcm_sw_params_set_start_threshold(pcm, sw, 1)) < 0 ||
        (rc = snd_pcm_sw_params_set_avail_min(pcm, sw, std::max<snd_pcm_uframes_t>(periodFrames, 1))) < 0)
        return rc;
    // Status stamps on the steady clock, where the device can give them.
    snd_pcm_sw_params_set_tstamp_mode(pcm, sw, SND_PCM_TSTAMP_ENABLE);
    snd_pcm_sw_params_set_tstamp_type(pcm, sw, SND_PCM_TSTAMP_TYPE_MONOTONIC);
    return snd_pcm_sw_params(pcm, sw);
}

}  // namespace

AudioCapture::AudioCapture() = default;

AudioCapture::~AudioCapture()
{
    stop();
}

bool AudioCapture::start(Callback callback, std::string* error)
{
    if (m_running.load()) {
        if (error)
            *error = "AudioCapture already started.";
        return false;
    }

    // ALSA's own lines (a missing card, say) go to the debug log: the error
    // text below says what failed.
    AlsaLogBridge::install();
    snd_pcm_t* raw = nullptr;
    const int openRc = snd_pcm_open(&raw, "default", SND_PCM_STREAM_CAPTURE, 0);
    if (openRc < 0) {
        if (error)
            *error = std::string("Could not open microphone: ") + snd_strerror(openRc);
        return false;
    }
    SndPcmPtr handle(raw);

    int channels = 1;
    int paramsRc = configureDevice(handle.get(), 1, unsigned(m_rate));
    if (paramsRc < 0) {
        channels = 2;
        paramsRc = configureDevice(handle.get(), 2, unsigned(m_rate));
    }
    if (paramsRc < 0) {
        if (error)
            *error = std::string("Microphone refused mono and stereo capture: ") + snd_strerror(paramsRc);
        return false;
    }

    snd_pcm_uframes_t bufferFrames = 0;
    snd_pcm_uframes_t periodFrames = 0;
    if (snd_pcm_get_params(handle.get(), &bufferFrames, &periodFrames) < 0 || periodFrames == 0)
        periodFrames = static_cast<snd_pcm_uframes_t>(m_rate / 25);
    if (bufferFrames < periodFrames)
        bufferFrames = periodFrames;

    const int prepareRc = snd_pcm_prepare(handle.get());
    if (prepareRc < 0) {
        if (error)
            *error = std::string("Microphone prepare failed: ") + snd_strerror(prepareRc);
        return false;
    }
    // Reads never block: the thread waits in bounded slices so stop() is
    // answered even when the device stops delivering.
    const int nonblockRc = snd_pcm_nonblock(handle.get(), 1);
    if (nonblockRc < 0)
        LW_LOG_WARN("AudioCapture: reads stay blocking (%s)", snd_strerror(nonblockRc));

    const unsigned long bufferUs = static_cast<unsigned long>(bufferFrames * 1000000 / unsigned(m_rate));
    if (bufferUs < kShortBufferUs) {
        LW_LOG_WARN("AudioCapture: the microphone holds only %lu ms; a busy machine may lose sound", bufferUs / 1000);
    } else {
        LW_LOG_INFO("AudioCapture: %d channel(s), %lu-frame periods, %lu ms buffer", channels,
                    static_cast<unsigned long>(periodFrames), bufferUs / 1000);
    }

    m_channels = channels;
    m_periodFrames = periodFrames;
    m_bufferFrames = bufferFrames;
    m_framesCaptured = 0;
    m_handle = std::move(handle);
    m_callback = std::move(callback);
    m_running.store(true);
    m_thread = std::thread([this] { run(); });
    return true;
}

void AudioCapture::stop()
{
    if (!m_running.exchange(false))
        return;
    if (m_thread.joinable())
        m_thread.join();
    if (m_handle) {
        snd_pcm_drop(m_handle.get());
        m_handle.reset();
    }
}

// The block's frames were the oldest taken; the device's delay counts those
// taken after them: waiting to be read, and held by the device or a sound
// server before they become readable. So the first was taken (block + delay)
// frames before the moment the delay was read, which the device stamps where
// it can.
int64_t AudioCapture::stampFirstFrameNs(snd_pcm_t* pcm, snd_pcm_sframes_t framesRead) const
{
    snd_pcm_status_t* status = nullptr;
    snd_pcm_status_alloca(&status);
    int64_t before = 0;
    int64_t after = 0;
    int rc = 0;
    for (int attempt = 0; attempt < kStampAttempts; ++attempt) {
        before = steadyNowNs();
        rc = snd_pcm_status(pcm, status);
        after = steadyNowNs();
        if (after - before < kStampSpreadNs)
            break;
    }
    int64_t atNs = before + (after - before) / 2;
    snd_pcm_sframes_t delay = 0;
    if (rc >= 0 && snd_pcm_status_get_state(status) == SND_PCM_STATE_RUNNING) {
        delay = snd_pcm_status_get_delay(status);
        snd_htimestamp_t stamp {};
        snd_pcm_status_get_htstamp(status, &stamp);
        const int64_t stampNs = int64_t(stamp.tv_sec) * kNsPerSecond + stamp.tv_nsec;
        // The device's own stamp of that moment, when it is on this clock.
        if (stampNs <= after && stampNs > before - kMaxStampAgeNs)
            atNs = stampNs;
    } else {
        // Overrun since the read (the next read says so): the buffer was full.
        delay = std::max<snd_pcm_sframes_t>(snd_pcm_sframes_t(m_bufferFrames) - framesRead, 0);
    }
    delay = std::max<snd_pcm_sframes_t>(delay, 0);
    return atNs - (int64_t(framesRead) + int64_t(delay)) * kNsPerSecond / m_rate;
}

void AudioCapture::run()
{
    pthread_setname_np(pthread_self(), "tvx-mic");
    snd_pcm_t* pcm = m_handle.get();
    std::vector<int16_t> buffer(m_periodFrames * static_cast<unsigned long>(m_channels), 0);
    int consecutiveErrors = 0;
    int lastError = 0;
    int64_t overruns = 0;
    int64_t suspends = 0;
    bool followsGap = true;

    // Started here rather than by the first read: the device runs from now.
    snd_pcm_start(pcm);

    while (m_running.load()) {
        snd_pcm_sframes_t n = snd_pcm_readi(pcm, buffer.data(), m_periodFrames);
        if (n == -EAGAIN || n == 0) {
            const int waitRc = snd_pcm_wait(pcm, kWaitSliceMs);
            if (waitRc >= 0)
                continue;
            n = waitRc;
        }

        // Frames are lost either way; the next block's time shows how many.
        if (n == -EPIPE) {
            if (overruns++ == 0)
                LW_LOG_WARN("AudioCapture: overrun: the capture thread fell %lu ms behind; sound was lost",
                            static_cast<unsigned long>(m_bufferFrames * 1000 / unsigned(m_rate)));
            snd_pcm_prepare(pcm);
            snd_pcm_start(pcm);
            followsGap = true;
            continue;
        }
        if (n == -ESTRPIPE) {
            ++suspends;
            while (m_running.load() && snd_pcm_resume(pcm) == -EAGAIN)
                std::this_thread::sleep_for(kResumeRetryDelay);
            snd_pcm_prepare(pcm);
            snd_pcm_start(pcm);
            followsGap = true;
            continue;
        }
        if (n > 0) {
            Block block;
            block.samples = buffer.data();
            block.frames = static_cast<int32_t>(n);
            block.channels = m_channels;
            block.capturedNs = stampFirstFrameNs(pcm, n);
            block.followsGap = followsGap;
            followsGap = false;
            if (m_callback)
                m_callback(block);
            m_framesCaptured += n;
            consecutiveErrors = 0;
            continue;
        }

        lastError = static_cast<int>(n);
        if (++consecutiveErrors > kMaxConsecutiveErrors)
            break;
        std::this_thread::sleep_for(kErrorRetryDelay);
    }

    if (consecutiveErrors > kMaxConsecutiveErrors) {
        LW_LOG_WARN("AudioCapture: capture ended after %d read errors in a row (%s); %lld frames captured",
                    consecutiveErrors, snd_strerror(lastError), static_cast<long long>(m_framesCaptured));
    } else {
        LW_LOG_INFO("AudioCapture: capture stopped; %lld frames captured, %lld overrun(s), %lld suspend(s)",
                    static_cast<long long>(m_framesCaptured), static_cast<long long>(overruns),
                    static_cast<long long>(suspends));
    }
}

}  // namespace lagwell

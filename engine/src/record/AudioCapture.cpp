#include "AudioCapture.h"

#include "AlsaLogBridge.h"
#include "Log.h"

#include <pthread.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <vector>

namespace lagwell {
namespace {

constexpr unsigned kLatencyUs = 40000;
constexpr int kMaxConsecutiveErrors = 50;
constexpr auto kErrorRetryDelay = std::chrono::milliseconds(5);
constexpr auto kResumeRetryDelay = std::chrono::milliseconds(10);
// Longest wait for data before the running flag is looked at again.
constexpr int kWaitSliceMs = 100;

int64_t steadyNowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
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
    int paramsRc = snd_pcm_set_params(handle.get(), SND_PCM_FORMAT_S16_LE, SND_PCM_ACCESS_RW_INTERLEAVED, 1,
                                      m_rate, 1, kLatencyUs);
    if (paramsRc < 0) {
        channels = 2;
        paramsRc = snd_pcm_set_params(handle.get(), SND_PCM_FORMAT_S16_LE, SND_PCM_ACCESS_RW_INTERLEAVED, 2,
                                      m_rate, 1, kLatencyUs);
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

    m_channels = channels;
    m_periodFrames = periodFrames;
    m_framesCaptured = 0;
    m_firstFrameNs.store(0);
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

void AudioCapture::run()
{
    pthread_setname_np(pthread_self(), "tvx-mic");
    snd_pcm_t* pcm = m_handle.get();
    std::vector<int16_t> buffer(m_periodFrames * static_cast<unsigned long>(m_channels), 0);
    int consecutiveErrors = 0;
    int lastError = 0;

    // Started here rather than by the first read, so the first frame's time
    // is known however late this thread got to run.
    if (snd_pcm_start(pcm) >= 0)
        m_firstFrameNs.store(steadyNowNs());

    while (m_running.load()) {
        snd_pcm_sframes_t n = snd_pcm_readi(pcm, buffer.data(), m_periodFrames);
        if (n == -EAGAIN || n == 0) {
            const int waitRc = snd_pcm_wait(pcm, kWaitSliceMs);
            if (waitRc >= 0)
                continue;
            n = waitRc;
        }

        if (n == -EPIPE) {
            snd_pcm_prepare(pcm);
            continue;
        }
        if (n == -ESTRPIPE) {
            while (m_running.load() && snd_pcm_resume(pcm) == -EAGAIN)
                std::this_thread::sleep_for(kResumeRetryDelay);
            snd_pcm_prepare(pcm);
            continue;
        }
        if (n > 0) {
            if (m_firstFrameNs.load() == 0) {
                // Started by the read: the block and what still waits came since.
                const snd_pcm_sframes_t waiting = std::max<snd_pcm_sframes_t>(snd_pcm_avail_update(pcm), 0);
                m_firstFrameNs.store(steadyNowNs() - (int64_t(n) + waiting) * 1000000000 / m_rate);
            }
            if (m_callback)
                m_callback(buffer.data(), static_cast<int32_t>(n), m_channels, m_framesCaptured * 1000000 / m_rate);
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
        LW_LOG_INFO("AudioCapture: capture stopped; %lld frames captured", static_cast<long long>(m_framesCaptured));
    }
}

}  // namespace lagwell

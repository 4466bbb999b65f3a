#include "CompositeRecorder.h"

#include "FfmpegError.h"
#include "Log.h"
#include "SteadyClock.h"
#include "ThreadPriority.h"

extern "C" {
#include <libavutil/channel_layout.h>
}

#include <pthread.h>

#include <algorithm>
#include <chrono>

// Lock order: m_audioMutex before the writer's lock. The picture queue's lock
// and m_controlMutex are never held while another lock is taken.

namespace lagwell {
namespace {

constexpr auto kWorkerWait = std::chrono::milliseconds(50);
constexpr int64_t kNsPerMs = 1000000;
constexpr int64_t kNsPerSecond = 1000000000;
constexpr int kAacBitRate = 128000;
constexpr int kDefaultAacFrameSamples = 1024;
// Aligned sound waiting while the AAC encoder opens: two seconds.
constexpr int kMaxWaitingSoundSeconds = 2;
constexpr int32_t kDefaultFps = 30;
constexpr double kBitsPerPixel = 0.2;
// Picture buffers made ahead by the worker: enough for an encoder that keeps up.
constexpr size_t kPreparedPictures = 2;

}  // namespace

CompositeRecorder::CompositeRecorder() = default;

CompositeRecorder::~CompositeRecorder()
{
    stop();
    if (m_worker.joinable())
        m_worker.join();
}

int CompositeRecorder::width() const
{
    return m_width.load();
}

int CompositeRecorder::height() const
{
    return m_height.load();
}

bool CompositeRecorder::active() const
{
    const int32_t state = m_state.load();
    return state == kRecording || state == kStopping;
}

int64_t CompositeRecorder::elapsedMs() const
{
    if (!m_firstFrameSeen.load(std::memory_order_acquire))
        return 0;
    return (steadyNowNs() - m_firstFrameTimeNs.load()) / kNsPerMs;
}

bool CompositeRecorder::start(const std::string& path, int32_t width, int32_t height, int32_t fps, std::string* error)
{
    return start(path, width, height, fps, Completion {}, error);
}

bool CompositeRecorder::start(const std::string& path, int32_t width, int32_t height, int32_t fps,
                              Completion onFinished, std::string* error)
{
    // A completion that starts the next recording runs on the worker, which
    // cannot wait for itself.
    const bool onOwnWorker = m_worker.joinable() && m_worker.get_id() == std::this_thread::get_id();
    if (m_state.load() != kIdle || onOwnWorker) {
        if (error)
            *error = "A recording is already in progress.";
        return false;
    }
    // The previous worker has finished its work; it may still be in its completion.
    if (m_worker.joinable())
        m_worker.join();

    // A rate below 1 is encoded as 30 fps, and its bit rate follows.
    const int32_t effectiveFps = fps >= 1 ? fps : kDefaultFps;
    m_width.store(width);
    m_height.store(height);
    m_firstFrameSeen.store(false);
    m_firstFrameTimeNs.store(0);
    m_framesEncoded.store(0);
    m_framesDropped.store(0);
    m_fps.store(effectiveFps);
    m_pictures.clear();
    m_takingPictures.store(true);

    // Creates the container and the file; on failure nothing is left open.
    std::string writerError;
    if (!m_writer.open(path, width, height, &writerError)) {
        if (error)
            *error = writerError;
        return false;
    }

    Encoder::Config config;
    config.width = width;
    config.height = height;
    config.fps = fps;
    config.bitRate =
        static_cast<int64_t>(static_cast<double>(int64_t(width) * height * effectiveFps) * kBitsPerPixel);
    config.gopSize = effectiveFps;
    config.lowLatency = true;
    {
        std::lock_guard<std::mutex> lock(m_controlMutex);
        m_onFinished = std::move(onFinished);
        m_stopDeadlineNs = 0;
        m_state.store(kRecording);
    }
    m_worker = std::thread([this, path, config] { run(path, config); });
    return true;
}

void CompositeRecorder::stop(Completion onFinished)
{
    std::lock_guard<std::mutex> lock(m_controlMutex);
    const int32_t state = m_state.load();
    if (state == kRecording) {
        m_stopDeadlineNs = steadyNowNs() + kTailMs * kNsPerMs;
        m_state.store(kStopping);
    } else if (state != kStopping) {
        return;
    }
    // A stop that comes while Stopping changes neither the deadline nor a
    // completion already in force; it only fills in a missing one.
    if (!m_onFinished)
        m_onFinished = std::move(onFinished);
}

void CompositeRecorder::submitRgba(const uint8_t* rgba, int strideBytes, int64_t /*ptsUs*/, int64_t slotNs)
{
    if (!active() || !m_takingPictures.load() || !rgba)
        return;
    const int32_t width = m_width.load();
    const int32_t height = m_height.load();
    if (width <= 0 || height <= 0)
        return;
    const int64_t rowBytes = int64_t(width) * 4;
    const int64_t sourceStride = strideBytes > 0 ? strideBytes : rowBytes;
    if (sourceStride < rowBytes) {
        // Rows would overlap and the last one would run past the picture.
        m_framesDropped.fetch_add(1);
        return;
    }

    if (!m_firstFrameSeen.load(std::memory_order_acquire)) {
        m_lastFrameIndex = -1;
        m_firstFrameTimeNs.store(slotNs);
        m_firstFrameSeen.store(true, std::memory_order_release);
    }
    // The slot's frame: the compositor's slots are the file's frames, so
    // tools that read the file at its frame rate find every picture, and a
    // stall leaves the frames it missed held.
    const int64_t fps = m_fps.load();
    const int64_t sinceFirstNs = slotNs - m_firstFrameTimeNs.load();
    const int64_t frameIndex = (sinceFirstNs * fps + kNsPerSecond / 2) / kNsPerSecond;
    if (frameIndex <= m_lastFrameIndex) {
        m_framesDropped.fetch_add(1);  // a slot already taken, or one from before the first
        return;
    }
    m_lastFrameIndex = frameIndex;
    const int64_t fileUs = frameIndex * 1000000 / fps;

    // One copy into a pooled buffer; rows are stored packed.
    if (m_pictures.push(rgba, width, height, sourceStride, fileUs) != PictureQueue::PushOutcome::Queued)
        m_framesDropped.fetch_add(1);
}

void CompositeRecorder::run(std::string path, Encoder::Config config)
{
    pthread_setname_np(pthread_self(), "tvx-rec");
    const Encoder::AuCallback onAu = [this](const Encoder::EncodedAU& au) { onVideoAu(au); };

    // The slow parts of a start (the sound device, trying the encoders) happen
    // here, not on the caller's thread; pictures queue meanwhile. The
    // microphone's thread starts before this one is lowered, the encoder's
    // threads after, so they inherit the lower priority.
    const bool hasSound = startAudio();
    m_pictures.prepare(config.width, config.height, kPreparedPictures);
    std::string priorityError;
    if (!lowerThisThreadPriority(kEncoderNiceIncrement, &priorityError))
        LW_LOG_WARN("CompositeRecorder: %s", priorityError.c_str());
    std::string encoderError;
    if (m_encoder.open(config, &encoderError)) {
        LW_LOG_INFO("CompositeRecorder: recording %dx%d at %d fps with %s%s into '%s'", config.width, config.height,
                    config.fps, m_encoder.name().c_str(), hasSound ? " and sound" : ", no sound", path.c_str());
    } else {
        m_writer.keepError("Could not open a video encoder: " + encoderError);  // ends the recording below
    }

    bool failed = false;
    for (;;) {
        PictureQueue::Picture picture;
        if (m_pictures.take(std::chrono::steady_clock::now() + kWorkerWait, &picture)) {
            encodePicture(picture, onAu);
            m_pictures.release(picture);
        }

        m_writer.checkLateAudio();

        // The first error (encoder, file, disk) ends the recording at once.
        failed = !m_writer.firstError().empty();
        std::lock_guard<std::mutex> lock(m_controlMutex);
        if (failed && m_state.load() == kRecording)
            endNowLocked();
        if (failed && m_state.load() == kStopping)
            m_stopDeadlineNs = std::min(m_stopDeadlineNs, steadyNowNs());
        if (m_state.load() == kStopping && steadyNowNs() >= m_stopDeadlineNs)
            break;
    }

    // The recording ends here: later pictures and sound are not taken. An
    // encoder starved by its lower priority still owes the pictures queued by
    // now; without them the file would lose the end of its closing card.
    m_takingPictures.store(false);
    m_audio.stop();
    for (size_t owed = failed ? 0 : m_pictures.queuedCount(); owed > 0; --owed) {
        PictureQueue::Picture picture;
        if (!m_pictures.take(std::chrono::steady_clock::now(), &picture))
            break;
        encodePicture(picture, onAu);
        m_pictures.release(picture);
        if (!m_writer.firstError().empty())
            break;
    }
    finish(path);
}

void CompositeRecorder::encodePicture(const PictureQueue::Picture& picture, const Encoder::AuCallback& onAu)
{
    if (picture.width != m_width.load() || picture.height != m_height.load()) {
        m_framesDropped.fetch_add(1);  // queued for an earlier recording's size
        return;
    }
    std::string encodeError;
    if (m_encoder.encodeFrame(picture.rgba, picture.strideBytes, picture.ptsUs, onAu, &encodeError))
        m_framesEncoded.fetch_add(1);
    else
        m_writer.keepError("Video encoder failed: " + encodeError);
}

void CompositeRecorder::endNowLocked()
{
    m_stopDeadlineNs = steadyNowNs();
    m_state.store(kStopping);
}

void CompositeRecorder::finish(const std::string& path)
{
    const Encoder::AuCallback onAu = [this](const Encoder::EncodedAU& au) { onVideoAu(au); };
    std::string flushError;
    if (!m_encoder.flush(onAu, &flushError))
        m_writer.keepError("Video encoder failed while finishing: " + flushError);

    m_audio.stop();
    {
        std::lock_guard<std::mutex> lock(m_audioMutex);
        // The sound to the end: what the resampler holds and a last short frame.
        m_aligner.flush([this](const float* const* planes, int32_t frames) { takeSoundLocked(planes, frames); });
        encodeLastSoundLocked();
        if (m_aac && avcodec_send_frame(m_aac.get(), nullptr) >= 0)
            drainAacLocked();
        if (m_aac) {
            LW_LOG_INFO("CompositeRecorder: sound: microphone %+.0f ppm, %lld correction(s) at once, %.3f s of "
                        "silence put in, %.3f s dropped",
                        m_aligner.estimatedPpm(), static_cast<long long>(m_aligner.hardCorrections()),
                        double(m_aligner.silenceFrames()) / m_audio.rate(),
                        double(m_aligner.droppedFrames()) / m_audio.rate());
        }
    }

    // The outcome is settled here, before the state lets another recording in.
    const bool hasHeader = m_writer.finish();
    std::string firstError = m_writer.firstError();
    bool ok = false;
    std::string text;
    if (hasHeader && firstError.empty()) {
        ok = true;
        text = path;
    } else {
        text = firstError.empty() ? "Recording failed." : firstError;
    }

    {
        std::lock_guard<std::mutex> lock(m_audioMutex);
        freeAacLocked();
    }
    m_encoder.close();

    if (ok) {
        LW_LOG_INFO("CompositeRecorder: saved '%s' (%lld pictures encoded, %lld dropped)", path.c_str(),
                    static_cast<long long>(m_framesEncoded.load()), static_cast<long long>(m_framesDropped.load()));
    } else {
        LW_LOG_WARN("CompositeRecorder: recording '%s' failed: %s (%lld pictures encoded, %lld dropped)%s",
                    path.c_str(), text.c_str(), static_cast<long long>(m_framesEncoded.load()),
                    static_cast<long long>(m_framesDropped.load()), hasHeader ? "" : "; file removed");
    }

    Completion completion;
    {
        std::lock_guard<std::mutex> lock(m_controlMutex);
        completion = std::move(m_onFinished);
        m_onFinished = nullptr;
        m_state.store(kIdle);
    }
    // Pictures left over are never encoded; their memory goes now.
    m_framesDropped.fetch_add(static_cast<int64_t>(m_pictures.freeBuffers()));
    if (completion)
        completion(ok, std::move(text));
}

void CompositeRecorder::onVideoAu(const Encoder::EncodedAU& au)
{
    m_writer.onVideoAu(au, m_encoder.codecConfig());
}

bool CompositeRecorder::startAudio()
{
    {
        // Sound that comes while the AAC encoder opens is kept for it.
        std::lock_guard<std::mutex> lock(m_audioMutex);
        m_aligner.reset(AudioCapture::kRate, 0);
        m_sound.reset();
        m_samplesSent = 0;
    }
    std::string micError;
    const bool micStarted =
        m_audio.start([this](const AudioCapture::Block& block) { onPcm(block); }, &micError);
    if (!micStarted) {
        LW_LOG_INFO("CompositeRecorder: recording without sound: no microphone (%s)", micError.c_str());
        return false;
    }

    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_AAC);
    if (!codec) {
        m_audio.stop();
        LW_LOG_WARN("CompositeRecorder: recording without sound (no AAC encoder)");
        return false;
    }
    AvCodecContextPtr context(avcodec_alloc_context3(codec));
    if (!context) {
        m_audio.stop();
        return false;
    }
    context->sample_rate = m_audio.rate();
    av_channel_layout_default(&context->ch_layout, m_audio.channels());
    context->sample_fmt = AV_SAMPLE_FMT_FLTP;
    context->bit_rate = kAacBitRate;
    context->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    context->time_base = AVRational {1, m_audio.rate()};
    const int openRc = avcodec_open2(context.get(), codec, nullptr);
    if (openRc < 0) {
        m_audio.stop();
        LW_LOG_WARN("CompositeRecorder: recording without sound (AAC encoder: %s)", ffmpegError(openRc).c_str());
        return false;
    }

    AvFramePtr frame(av_frame_alloc());
    if (!frame) {
        m_audio.stop();
        return false;
    }
    frame->format = AV_SAMPLE_FMT_FLTP;
    av_channel_layout_copy(&frame->ch_layout, &context->ch_layout);
    frame->nb_samples = context->frame_size >= 1 ? context->frame_size : kDefaultAacFrameSamples;
    frame->sample_rate = context->sample_rate;
    if (av_frame_get_buffer(frame.get(), 0) < 0) {
        m_audio.stop();
        return false;
    }
    AvPacketPtr packet(av_packet_alloc());
    if (!packet) {
        m_audio.stop();
        return false;
    }

    std::lock_guard<std::mutex> lock(m_audioMutex);
    m_writer.expectAudio(context->sample_rate);
    m_aac = std::move(context);
    m_aacFrame = std::move(frame);
    m_aacPacket = std::move(packet);
    encodeSoundLocked();
    return true;
}

void CompositeRecorder::onPcm(const AudioCapture::Block& block)
{
    std::lock_guard<std::mutex> lock(m_audioMutex);
    if (block.frames <= 0)
        return;
    if (m_aligner.channels() == 0) {
        std::string error;
        if (!m_aligner.reset(m_audio.rate(), block.channels, &error)) {
            LW_LOG_WARN("CompositeRecorder: %s", error.c_str());
            return;
        }
    }
    const auto take = [this](const float* const* planes, int32_t frames) { takeSoundLocked(planes, frames); };
    // File time 0 is the first picture's slot on the steady clock; the sound
    // follows only the microphone's own crystal from there.
    if (!m_aligner.hasOrigin() && m_firstFrameSeen.load(std::memory_order_acquire))
        m_aligner.setOrigin(m_firstFrameTimeNs.load(), take);
    m_aligner.push(block, take);
}

void CompositeRecorder::takeSoundLocked(const float* const* planes, int32_t frames)
{
    if (!m_sound) {
        m_sound.reset(av_audio_fifo_alloc(AV_SAMPLE_FMT_FLTP, m_aligner.channels(), frames));
        if (!m_sound)
            return;
    }
    // Only while the encoder opens can much wait here, the newest of it; what
    // goes still counts, so the sound after it keeps its place in the file.
    const int maxWaiting = kMaxWaitingSoundSeconds * m_audio.rate();
    if (!m_aac && av_audio_fifo_size(m_sound.get()) + frames > maxWaiting) {
        const int excess = std::min(av_audio_fifo_size(m_sound.get()) + frames - maxWaiting,
                                    av_audio_fifo_size(m_sound.get()));
        av_audio_fifo_drain(m_sound.get(), excess);
        m_samplesSent += excess;
    }
    if (av_audio_fifo_write(m_sound.get(), const_cast<void**>(reinterpret_cast<const void* const*>(planes)), frames) <
        frames)
        return;
    if (m_aac)
        encodeSoundLocked();
}

// Whole AAC frames of the aligned sound, timed by their count.
void CompositeRecorder::encodeSoundLocked()
{
    if (!m_sound || !m_aac || m_aac->ch_layout.nb_channels != m_aligner.channels())
        return;
    AVFrame* frame = m_aacFrame.get();
    while (av_audio_fifo_size(m_sound.get()) >= frame->nb_samples) {
        if (av_frame_make_writable(frame) < 0)
            return;
        if (av_audio_fifo_read(m_sound.get(), reinterpret_cast<void**>(frame->extended_data), frame->nb_samples) <
            frame->nb_samples)
            return;
        frame->pts = m_samplesSent;
        m_samplesSent += frame->nb_samples;
        // A frame the encoder refuses loses only its own sound.
        if (avcodec_send_frame(m_aac.get(), frame) >= 0)
            drainAacLocked();
    }
}

// The sound short of a whole AAC frame: a short last frame where the encoder
// takes one, else padded with silence.
void CompositeRecorder::encodeLastSoundLocked()
{
    if (!m_sound || !m_aac || m_aac->ch_layout.nb_channels != m_aligner.channels())
        return;
    const int left = av_audio_fifo_size(m_sound.get());
    if (left <= 0)
        return;
    AVFrame* frame = m_aacFrame.get();
    const int full = frame->nb_samples;
    if (av_frame_make_writable(frame) < 0)
        return;
    if (av_audio_fifo_read(m_sound.get(), reinterpret_cast<void**>(frame->extended_data), left) < left)
        return;
    if (m_aac->codec->capabilities & AV_CODEC_CAP_SMALL_LAST_FRAME) {
        frame->nb_samples = left;
    } else {
        for (int k = 0; k < m_aligner.channels(); ++k)
            std::fill_n(reinterpret_cast<float*>(frame->extended_data[k]) + left, full - left, 0.0f);
    }
    frame->pts = m_samplesSent;
    m_samplesSent += frame->nb_samples;
    if (avcodec_send_frame(m_aac.get(), frame) >= 0)
        drainAacLocked();
    frame->nb_samples = full;
}

void CompositeRecorder::drainAacLocked()
{
    AVPacket* packet = m_aacPacket.get();
    while (avcodec_receive_packet(m_aac.get(), packet) >= 0) {
        m_writer.onAudioPacket(*packet, *m_aac);
        av_packet_unref(packet);
    }
}

void CompositeRecorder::freeAacLocked()
{
    m_aacPacket.reset();
    m_aacFrame.reset();
    m_aac.reset();
    m_sound.reset();
}

}  // namespace lagwell

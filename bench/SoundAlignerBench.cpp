// The microphone thread's CPU per second of 48 kHz stereo sound: the AAC
// encoding alone (the sound taken as it comes, converted by hand), then the
// same behind the aligner, for a device on time (nothing to follow) and one
// whose crystal runs 0.5 % fast (resampling with compensation). 60 s of
// blocks of 10 ms each, as fast as the thread can take them.

#include "AudioCapture.h"
#include "CHandles.h"
#include "SoundAligner.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/log.h>
}

#include <cmath>
#include <cstdio>
#include <ctime>
#include <vector>

namespace {

using lagwell::AudioCapture;
using lagwell::SoundAligner;

constexpr int kRate = 48000;
constexpr int kChannels = 2;
constexpr int kBlockFrames = 480;
constexpr int kSeconds = 60;

double threadCpuSeconds()
{
    timespec now {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// A stereo tone with some noise, as a microphone hears a room.
std::vector<int16_t> makeSound()
{
    std::vector<int16_t> samples(size_t(kRate) * kChannels);
    unsigned noise = 1;
    for (int i = 0; i < kRate; ++i) {
        noise = noise * 1103515245u + 12345u;
        const double value = 6000 * std::sin(2 * M_PI * 440 * i / kRate) + double(noise >> 20) - 2048;
        samples[size_t(i) * 2] = int16_t(value);
        samples[size_t(i) * 2 + 1] = int16_t(-value);
    }
    return samples;
}

class AacSink {
public:
    AacSink()
    {
        const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_AAC);
        m_context.reset(avcodec_alloc_context3(codec));
        m_context->sample_rate = kRate;
        av_channel_layout_default(&m_context->ch_layout, kChannels);
        m_context->sample_fmt = AV_SAMPLE_FMT_FLTP;
        m_context->bit_rate = 128000;
        m_context->time_base = AVRational {1, kRate};
        avcodec_open2(m_context.get(), codec, nullptr);
        m_frame.reset(av_frame_alloc());
        m_frame->format = AV_SAMPLE_FMT_FLTP;
        av_channel_layout_copy(&m_frame->ch_layout, &m_context->ch_layout);
        m_frame->nb_samples = m_context->frame_size;
        av_frame_get_buffer(m_frame.get(), 0);
        m_packet.reset(av_packet_alloc());
        m_fifo.reset(av_audio_fifo_alloc(AV_SAMPLE_FMT_FLTP, kChannels, kRate));
    }

    void take(const float* const* planes, int frames)
    {
        av_audio_fifo_write(m_fifo.get(), const_cast<void**>(reinterpret_cast<const void* const*>(planes)), frames);
        while (av_audio_fifo_size(m_fifo.get()) >= m_frame->nb_samples) {
            av_frame_make_writable(m_frame.get());
            av_audio_fifo_read(m_fifo.get(), reinterpret_cast<void**>(m_frame->extended_data), m_frame->nb_samples);
            m_frame->pts = m_pts;
            m_pts += m_frame->nb_samples;
            if (avcodec_send_frame(m_context.get(), m_frame.get()) < 0)
                continue;
            while (avcodec_receive_packet(m_context.get(), m_packet.get()) >= 0) {
                m_bytes += m_packet->size;
                av_packet_unref(m_packet.get());
            }
        }
    }

    int64_t bytes() const { return m_bytes; }

private:
    lagwell::AvCodecContextPtr m_context;
    lagwell::AvFramePtr m_frame;
    lagwell::AvPacketPtr m_packet;
    lagwell::AvAudioFifoPtr m_fifo;
    int64_t m_pts = 0;
    int64_t m_bytes = 0;
};

// CPU seconds per second of sound. ppm < 0: no aligner, converted by hand.
double run(const std::vector<int16_t>& sound, int ppm, bool encode, double* estimatedPpm)
{
    AacSink aac;
    SoundAligner aligner;
    aligner.reset(kRate, kChannels);
    const auto take = [&](const float* const* planes, int32_t frames) {
        if (encode)
            aac.take(planes, frames);
    };
    aligner.setOrigin(0, take);
    std::vector<float> left(kBlockFrames), right(kBlockFrames);
    const float* planes[2] = {left.data(), right.data()};
    const double nsPerFrame = 1e9 / (kRate * (1.0 + ppm * 1e-6));

    const double before = threadCpuSeconds();
    const int blocks = kSeconds * kRate / kBlockFrames;
    for (int i = 0; i < blocks; ++i) {
        const int16_t* samples = sound.data() + size_t(i % (kRate / kBlockFrames)) * kBlockFrames * kChannels;
        if (ppm < 0) {
            for (int f = 0; f < kBlockFrames; ++f) {
                left[size_t(f)] = float(samples[f * 2]) / 32768.0f;
                right[size_t(f)] = float(samples[f * 2 + 1]) / 32768.0f;
            }
            aac.take(planes, kBlockFrames);
            continue;
        }
        AudioCapture::Block block;
        block.samples = samples;
        block.frames = kBlockFrames;
        block.channels = kChannels;
        block.capturedNs = int64_t(std::llround(double(i) * kBlockFrames * nsPerFrame));
        block.followsGap = i == 0;
        aligner.push(block, take);
    }
    const double cpu = threadCpuSeconds() - before;
    if (estimatedPpm)
        *estimatedPpm = aligner.estimatedPpm();
    return cpu / kSeconds;
}

}  // namespace

int main()
{
    av_log_set_level(AV_LOG_ERROR);
    const std::vector<int16_t> sound = makeSound();
    double steadyPpm = 0;
    double fastPpm = 0;
    const double aacAlone = run(sound, -1, true, nullptr);
    const double alignOnTime = run(sound, 0, false, &steadyPpm);
    const double alignFast = run(sound, 5000, false, &fastPpm);
    const double bothOnTime = run(sound, 0, true, nullptr);
    const double bothFast = run(sound, 5000, true, nullptr);
    std::printf("microphone thread, %% of one core per second of 48 kHz stereo (%d s in 10 ms blocks):\n", kSeconds);
    std::printf("  AAC encoding alone (baseline)               %6.3f %%\n", aacAlone * 100);
    std::printf("  aligner, device on time (no compensation)   %6.3f %%  (estimated %+.0f ppm)\n", alignOnTime * 100,
                steadyPpm);
    std::printf("  aligner, device 0.5 %% fast (compensating)   %6.3f %%  (estimated %+.0f ppm)\n", alignFast * 100,
                fastPpm);
    std::printf("  aligner + AAC, device on time               %6.3f %%\n", bothOnTime * 100);
    std::printf("  aligner + AAC, device 0.5 %% fast            %6.3f %%\n", bothFast * 100);
    return 0;
}

#pragma once

// One owning pointer type per C library handle. Each deleter only frees; work
// that can fail (writing a trailer, draining an encoder) is done explicitly
// before the handle goes. Only what a target instantiates needs linking.

#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/buffer.h>
#include <libavutil/frame.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}
#include <alsa/asoundlib.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include <turbojpeg.h>

namespace lagwell {

struct AvCodecContextDeleter {
    void operator()(AVCodecContext* p) const { avcodec_free_context(&p); }
};
struct AvFrameDeleter {
    void operator()(AVFrame* p) const { av_frame_free(&p); }
};
struct AvPacketDeleter {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct AvBufferRefDeleter {
    void operator()(AVBufferRef* p) const { av_buffer_unref(&p); }
};
// For a muxing context: closes its output file (when it opened one), then frees.
struct AvOutputFormatContextDeleter {
    void operator()(AVFormatContext* p) const
    {
        if (p->oformat && !(p->oformat->flags & AVFMT_NOFILE) && p->pb)
            avio_closep(&p->pb);
        avformat_free_context(p);
    }
};
struct SwsContextDeleter {
    void operator()(SwsContext* p) const { sws_freeContext(p); }
};
struct SwrContextDeleter {
    void operator()(SwrContext* p) const { swr_free(&p); }
};
struct AvAudioFifoDeleter {
    void operator()(AVAudioFifo* p) const { av_audio_fifo_free(p); }
};
struct TjHandleDeleter {
    void operator()(void* p) const { tjDestroy(p); }
};
struct TjBufferDeleter {
    void operator()(unsigned char* p) const { tjFree(p); }
};
struct SndPcmDeleter {
    void operator()(snd_pcm_t* p) const { snd_pcm_close(p); }
};
struct FtLibraryDeleter {
    void operator()(FT_Library p) const { FT_Done_FreeType(p); }
};
struct FtFaceDeleter {
    void operator()(FT_Face p) const { FT_Done_Face(p); }
};

using AvCodecContextPtr = std::unique_ptr<AVCodecContext, AvCodecContextDeleter>;
using AvFramePtr = std::unique_ptr<AVFrame, AvFrameDeleter>;
using AvPacketPtr = std::unique_ptr<AVPacket, AvPacketDeleter>;
using AvBufferRefPtr = std::unique_ptr<AVBufferRef, AvBufferRefDeleter>;
using AvOutputFormatContextPtr = std::unique_ptr<AVFormatContext, AvOutputFormatContextDeleter>;
using SwsContextPtr = std::unique_ptr<SwsContext, SwsContextDeleter>;
using SwrContextPtr = std::unique_ptr<SwrContext, SwrContextDeleter>;
using AvAudioFifoPtr = std::unique_ptr<AVAudioFifo, AvAudioFifoDeleter>;
using TjHandlePtr = std::unique_ptr<void, TjHandleDeleter>;
using TjBufferPtr = std::unique_ptr<unsigned char, TjBufferDeleter>;
using SndPcmPtr = std::unique_ptr<snd_pcm_t, SndPcmDeleter>;
using FtLibraryPtr = std::unique_ptr<FT_LibraryRec_, FtLibraryDeleter>;
using FtFacePtr = std::unique_ptr<FT_FaceRec_, FtFaceDeleter>;

}  // namespace lagwell

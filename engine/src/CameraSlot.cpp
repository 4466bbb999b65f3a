#include "CameraSlot.h"

#include "FrameRing.h"
#include "Log.h"
#include "TestPatternSource.h"
#include "Transcoder.h"
#include "UvcCapture.h"

#include <utility>

namespace lagwell {
namespace {

bool isTestPatternId(const std::string& id)
{
    return id == "test" || id.rfind("test:", 0) == 0;
}

std::string fourccText(uint32_t fourcc)
{
    std::string text;
    for (int i = 0; i < 4; ++i) {
        const char c = static_cast<char>((fourcc >> (8 * i)) & 0xFF);
        text.push_back(c >= 32 && c < 127 ? c : '?');
    }
    return text;
}

}  // namespace

CameraSlot::CameraSlot() = default;

CameraSlot::~CameraSlot()
{
    release();
}

CameraSlot::CameraSlot(CameraSlot&& other) noexcept = default;

CameraSlot& CameraSlot::operator=(CameraSlot&& other) noexcept
{
    if (this != &other) {
        release();
        m_source = std::move(other.m_source);
        m_transcoder = std::move(other.m_transcoder);
        m_ring = std::move(other.m_ring);
        m_request = std::move(other.m_request);
        m_onFrame = std::move(other.m_onFrame);
        m_delivering = std::move(other.m_delivering);
        m_fourcc = std::exchange(other.m_fourcc, 0);
        m_width = std::exchange(other.m_width, 0);
        m_height = std::exchange(other.m_height, 0);
    }
    return *this;
}

bool CameraSlot::start(const CaptureRequest& request, int64_t windowMs, const Capabilities& capabilities,
                       V4l2Io* v4l2, std::function<void()> onLost, std::string* error)
{
    auto ring = std::make_shared<FrameRing>(windowMs);

    std::unique_ptr<CaptureSource> source;
    if (isTestPatternId(request.deviceId))
        source = std::make_unique<TestPatternSource>();
    else if (v4l2)
        source = std::make_unique<UvcCapture>(*v4l2);
    else
        source = std::make_unique<UvcCapture>();
    CaptureSource* sourcePtr = source.get();

    CaptureRequest working = request;
    std::unique_ptr<Transcoder> transcoder;
    if (capabilities.useH264Transcode) {
        transcoder = std::make_unique<Transcoder>();
        const std::string encoder = capabilities.encoderName.empty() ? "libx264" : capabilities.encoderName;
        Transcoder* transcoderPtr = transcoder.get();
        std::weak_ptr<FrameRing> weakRing = ring;
        auto onEncoded = [weakRing, transcoderPtr](EncodedFrame&& frame) {
            auto target = weakRing.lock();
            if (!target)
                return;
            const bool keyframe = frame.keyframe;
            target->add(std::move(frame));
            if (keyframe) {
                std::vector<uint8_t> config = transcoderPtr->codecConfig();
                if (!config.empty())
                    target->setStream(kFourccH264, target->width(), target->height(), std::move(config));
            }
        };
        std::string transcoderError;
        if (transcoder->start(kFourccMjpeg, request.width, request.height, request.fps, encoder, onEncoded,
                              &transcoderError)) {
            ring->setStream(kFourccH264, request.width, request.height, {});
            working.preferredFourcc = kFourccMjpeg;
        } else {
            // Better a direct stream than no camera at all.
            LW_LOG_WARN("CameraSlot: transcoder failed for '%s' (%s); using the camera's own stream",
                        request.deviceId.c_str(), transcoderError.c_str());
            transcoder.reset();
        }
    }

    // The capture thread routes each frame by what the camera actually
    // delivers: only MJPEG goes through the transcoder.
    Transcoder* transcoderPtr = transcoder.get();
    std::weak_ptr<FrameRing> weakRing = ring;
    auto delivering = std::make_shared<std::atomic<bool>>(true);
    std::function<void(EncodedFrame&&)> onFrame = [weakRing, sourcePtr, transcoderPtr,
                                                   delivering](EncodedFrame&& frame) {
        if (!delivering->load())
            return;
        const uint32_t fourcc = sourcePtr->negotiatedFourcc();
        if (transcoderPtr && fourcc == kFourccMjpeg) {
            transcoderPtr->feed(frame);
            return;
        }
        auto target = weakRing.lock();
        if (!target)
            return;
        const bool keyframe = frame.keyframe;
        target->add(std::move(frame));
        if (fourcc == kFourccH264 && keyframe) {
            std::vector<uint8_t> config = sourcePtr->codecConfig();
            if (!config.empty())
                target->setStream(kFourccH264, sourcePtr->negotiatedWidth(), sourcePtr->negotiatedHeight(),
                                  std::move(config));
        }
    };

    source->setLostHandler(std::move(onLost));
    std::string sourceError;
    if (!source->start(working, onFrame, &sourceError)) {
        if (transcoder)
            transcoder->stop();
        if (error)
            *error = sourceError;
        return false;
    }

    const bool transcoded = transcoder && source->negotiatedFourcc() == kFourccMjpeg;
    if (transcoder && !transcoded) {
        LW_LOG_WARN("CameraSlot: camera '%s' delivers %s, not MJPEG; storing it without transcoding",
                    request.deviceId.c_str(), fourccText(source->negotiatedFourcc()).c_str());
    }
    if (!transcoded) {
        // The capture thread may already have stored the first keyframe's
        // parameter sets: keep whatever the source has seen.
        ring->setStream(source->negotiatedFourcc(), source->negotiatedWidth(), source->negotiatedHeight(),
                        source->codecConfig());
    }

    m_fourcc = source->negotiatedFourcc();
    m_width = source->negotiatedWidth();
    m_height = source->negotiatedHeight();
    m_request = working;
    m_onFrame = std::move(onFrame);
    m_delivering = std::move(delivering);
    m_source = std::move(source);
    m_transcoder = std::move(transcoder);
    m_ring = std::move(ring);
    return true;
}

bool CameraSlot::hasStopped() const
{
    return m_source && !m_source->isRunning();
}

CameraSlot::Restart CameraSlot::restart()
{
    m_delivering->store(false);
    std::string ignored;
    if (!m_source->start(m_request, m_onFrame, &ignored))
        return Restart::StillAway;
    const uint32_t fourcc = m_source->negotiatedFourcc();
    const int32_t width = m_source->negotiatedWidth();
    const int32_t height = m_source->negotiatedHeight();
    if (fourcc == m_fourcc && width == m_width && height == m_height) {
        m_delivering->store(true);
        return Restart::SameStream;
    }
    // Another camera on the same port: its pictures do not fit this ring.
    LW_LOG_INFO("CameraSlot: camera '%s' came back delivering %s %dx%d (was %s %dx%d); it needs a new replay buffer",
                m_request.deviceId.c_str(), fourccText(fourcc).c_str(), width, height, fourccText(m_fourcc).c_str(),
                m_width, m_height);
    m_source->stop();
    return Restart::OtherStream;
}

void CameraSlot::release()
{
    if (m_source)
        m_source->stop();
    if (m_transcoder)
        m_transcoder->stop();
    // The source goes before the transcoder it may feed.
    m_source.reset();
    m_transcoder.reset();
    m_ring.reset();
    m_onFrame = nullptr;
    m_delivering.reset();
    m_request = CaptureRequest {};
    m_fourcc = 0;
    m_width = 0;
    m_height = 0;
}

double CameraSlot::measuredFps() const
{
    return m_source ? m_source->measuredFps() : 0.0;
}

}  // namespace lagwell

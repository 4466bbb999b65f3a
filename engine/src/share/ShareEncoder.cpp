#include "ShareEncoder.h"

#include "Log.h"
#include "ThreadPriority.h"

#include <chrono>
#include <system_error>

#include <pthread.h>

namespace lagwell {

namespace {

constexpr double kBitsPerPixel = 0.12;
constexpr int kDefaultGop = 30;
constexpr auto kWorkerWait = std::chrono::milliseconds(100);
// Picture buffers made ahead by the worker: enough for an encoder that keeps up.
constexpr size_t kPreparedPictures = 2;

}  // namespace

ShareEncoder::~ShareEncoder()
{
    stop();
}

bool ShareEncoder::start(int width, int height, int fps, std::string* error)
{
    if (m_running.load()) {
        if (error)
            *error = "Share encoder already running.";
        return false;
    }
    // A worker that ended after a failure is finished; collect it.
    if (m_worker.joinable()) {
        m_worker.join();
        m_encoder.close();
    }

    Encoder::Config config;
    config.width = width;
    config.height = height;
    config.fps = fps;
    config.bitRate = static_cast<int64_t>(static_cast<double>(int64_t(width) * height * fps) * kBitsPerPixel);
    config.gopSize = fps > 0 ? fps : kDefaultGop;
    config.lowLatency = true;

    m_pictures.clear();
    // The encoder is opened on the worker, whose lowered priority its threads
    // inherit; this waits for the outcome.
    std::promise<OpenOutcome> opened;
    std::future<OpenOutcome> outcome = opened.get_future();
    try {
        m_worker = std::thread([this, config, promise = std::move(opened)]() mutable {
            workerLoop(config, std::move(promise));
        });
    } catch (const std::system_error& e) {
        if (error)
            *error = std::string("Could not start the share encoder's thread (") + e.what() + ").";
        return false;
    }
    OpenOutcome result = outcome.get();
    if (!result.ok) {
        m_worker.join();
        if (error)
            *error = std::move(result.message);
        return false;
    }
    return true;
}

void ShareEncoder::stop()
{
    m_running.store(false);
    m_pictures.interrupt();
    if (!m_worker.joinable())
        return;
    m_worker.join();
    m_pictures.freeBuffers();
    m_encoder.close();
}

void ShareEncoder::setAuSink(AuSink sink)
{
    std::lock_guard<std::mutex> lock(m_sinkMutex);
    m_sink.swap(sink);
}

void ShareEncoder::setFailureHandler(FailureHandler handler)
{
    std::lock_guard<std::mutex> lock(m_sinkMutex);
    m_failureHandler.swap(handler);
}

void ShareEncoder::submitRgba(const uint8_t* rgba, int strideBytes, int64_t ptsUs, int64_t /*slotNs*/)
{
    if (!m_running.load() || !rgba)
        return;
    const int32_t width = m_width.load();
    const int32_t height = m_height.load();
    if (width <= 0 || height <= 0)
        return;
    // A stride of 0 or less means packed rows; a short one reaches the
    // encoder, which refuses it.
    const int64_t sourceStride = strideBytes > 0 ? strideBytes : int64_t(width) * 4;
    m_pictures.push(rgba, width, height, sourceStride, ptsUs);
}

void ShareEncoder::workerLoop(Encoder::Config config, std::promise<OpenOutcome> opened)
{
    pthread_setname_np(pthread_self(), "tvx-share-enc");
    std::string priorityError;
    if (!lowerThisThreadPriority(kEncoderNiceIncrement, &priorityError))
        LW_LOG_WARN("ShareEncoder: %s", priorityError.c_str());
    std::string openError;
    if (!m_encoder.open(config, &openError)) {
        opened.set_value({false, std::move(openError)});
        return;
    }
    m_width.store(config.width);
    m_height.store(config.height);
    m_fps.store(config.fps);
    m_running.store(true);
    opened.set_value({true, {}});
    m_pictures.prepare(config.width, config.height, kPreparedPictures);

    int64_t encodedFrames = 0;
    const Encoder::AuCallback deliver = [this](const Encoder::EncodedAU& au) {
        AuSink sink;
        {
            std::lock_guard<std::mutex> lock(m_sinkMutex);
            sink = m_sink;
        }
        if (sink)
            sink(au.data, au.keyframe, au.ptsUs, m_encoder.codecConfig());
    };

    while (m_running.load()) {
        PictureQueue::Picture picture;
        if (!m_pictures.take(std::chrono::steady_clock::now() + kWorkerWait, &picture))
            continue;
        // A picture copied for an earlier size is stale: never encode it at
        // the new one.
        if (!m_running.load() || picture.width != m_width.load() || picture.height != m_height.load()) {
            m_pictures.release(picture);
            continue;
        }

        std::string message;
        const bool encoded =
            m_encoder.encodeFrame(picture.rgba, picture.strideBytes, picture.ptsUs, deliver, &message);
        m_pictures.release(picture);
        if (!encoded) {
            m_running.store(false);
            LW_LOG_ERROR("ShareEncoder: encoding failed after %lld frames: %s",
                         static_cast<long long>(encodedFrames), message.c_str());
            FailureHandler handler;
            {
                std::lock_guard<std::mutex> lock(m_sinkMutex);
                handler = m_failureHandler;
            }
            if (handler)
                handler("Live sharing stopped because the video encoder failed (" + message + ").");
            return;
        }
        ++encodedFrames;
    }
    LW_LOG_INFO("ShareEncoder: worker ended after %lld frames", static_cast<long long>(encodedFrames));
}

}  // namespace lagwell

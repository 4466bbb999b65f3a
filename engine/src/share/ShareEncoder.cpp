#include "ShareEncoder.h"

#include "Log.h"

#include <chrono>
#include <cstring>
#include <system_error>

#include <pthread.h>

namespace lagwell {

namespace {

constexpr double kBitsPerPixel = 0.12;
constexpr int kDefaultGop = 30;
constexpr auto kWorkerWait = std::chrono::milliseconds(100);

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
    if (m_worker.joinable())
        m_worker.join();

    Encoder::Config config;
    config.width = width;
    config.height = height;
    config.fps = fps;
    config.bitRate = static_cast<int64_t>(static_cast<double>(int64_t(width) * height * fps) * kBitsPerPixel);
    config.gopSize = fps > 0 ? fps : kDefaultGop;
    config.lowLatency = true;
    if (!m_encoder.open(config, error))
        return false;

    {
        std::lock_guard<std::mutex> lock(m_queueMutex);
        m_queue.clear();
    }
    m_width.store(width);
    m_height.store(height);
    m_fps.store(fps);
    m_running.store(true);
    try {
        m_worker = std::thread([this] { workerLoop(); });
    } catch (const std::system_error& e) {
        m_running.store(false);
        m_encoder.close();
        if (error)
            *error = std::string("Could not start the share encoder's thread (") + e.what() + ").";
        return false;
    }
    return true;
}

void ShareEncoder::stop()
{
    m_running.store(false);
    {
        std::lock_guard<std::mutex> lock(m_queueMutex);
        m_queueCv.notify_all();
    }
    if (!m_worker.joinable())
        return;
    m_worker.join();
    {
        std::lock_guard<std::mutex> lock(m_queueMutex);
        m_queue.clear();
    }
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

void ShareEncoder::submitRgba(const uint8_t* rgba, int strideBytes, int64_t ptsUs)
{
    if (!m_running.load() || !rgba)
        return;
    QueuedFrame frame;
    frame.width = m_width.load();
    frame.height = m_height.load();
    if (frame.width <= 0 || frame.height <= 0)
        return;
    // A stride of 0 or less means packed rows: the copy is packed, and the
    // encoder is told so (it cannot read rows with the stride as given).
    frame.strideBytes = strideBytes > 0 ? strideBytes : frame.width * 4;
    const size_t bytes = size_t(frame.strideBytes) * size_t(frame.height);
    frame.rgba.assign(rgba, rgba + bytes);
    frame.ptsUs = ptsUs;

    std::lock_guard<std::mutex> lock(m_queueMutex);
    while (m_queue.size() >= kMaxQueuedFrames)
        m_queue.pop_front();
    m_queue.push_back(std::move(frame));
    m_queueCv.notify_all();
}

void ShareEncoder::workerLoop()
{
    pthread_setname_np(pthread_self(), "tvx-share-enc");
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
        QueuedFrame frame;
        {
            std::unique_lock<std::mutex> lock(m_queueMutex);
            m_queueCv.wait_for(lock, kWorkerWait, [this] { return !m_queue.empty() || !m_running.load(); });
            if (m_queue.empty())
                continue;
            frame = std::move(m_queue.front());
            m_queue.pop_front();
        }
        if (!m_running.load())
            break;
        // A picture copied for an earlier size is stale: never encode it at
        // the new one.
        if (frame.width != m_width.load() || frame.height != m_height.load())
            continue;

        std::string message;
        if (!m_encoder.encodeFrame(frame.rgba.data(), frame.strideBytes, frame.ptsUs, deliver, &message)) {
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

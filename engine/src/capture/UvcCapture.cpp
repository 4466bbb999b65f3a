#include "UvcCapture.h"

#include "AnnexB.h"
#include "Log.h"
#include "SeamFd.h"
#include "SteadyClock.h"
#include "SystemV4l2Io.h"
#include "UvcDiscovery.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <ctime>
#include <utility>

#include <fcntl.h>
#include <linux/videodev2.h>
#include <pthread.h>
#include <sys/mman.h>

namespace lagwell {
namespace {

constexpr uint32_t kBuffersRequested = 6;
constexpr uint32_t kFewestBuffers = 2;
constexpr int kPollTimeoutMs = 2000;
constexpr int kEmptyWaitsPerReport = 5;
constexpr uint32_t kSmallestMjpegBytes = 2048;
constexpr int kDefaultFps = 30;
constexpr int64_t kMeasuringPeriodNs = 999'999'999;
// Persistent poll or dequeue errors: wait longer after each one in a row, and
// after this many in a row (about 3 s of failing) the camera counts as lost.
constexpr int kFirstBackOffMs = 10;
constexpr int kLongestBackOffMs = 1000;
constexpr int kErrorsMeaningLost = 10;
constexpr int kBackOffSliceMs = 20;

const char* const kVideoGroupHint =
    "in the 'video' group; if not, run: sudo usermod -aG video $USER, then log out and back in (or reboot)";

int64_t systemNowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

int backOffMs(int errorsInARow)
{
    const int shift = std::clamp(errorsInARow - 1, 0, 10);
    return std::min(kFirstBackOffMs << shift, kLongestBackOffMs);
}

std::string busyMessage(const std::string& path, int errorNumber)
{
    return "The camera " + path + " is in use by another program (" + UvcDiscovery::errorText(errorNumber) + ").";
}

}  // namespace

std::vector<CameraInfo> UvcCapture::enumerate()
{
    return UvcDiscovery::enumerate(SystemV4l2Io::instance());
}

std::vector<CameraInfo> UvcCapture::enumerate(V4l2Io& io)
{
    return UvcDiscovery::enumerate(io);
}

std::string UvcCapture::resolveDevice(const std::string& id)
{
    return UvcDiscovery::resolveDevice(SystemV4l2Io::instance(), id);
}

std::string UvcCapture::resolveDevice(V4l2Io& io, const std::string& id)
{
    return UvcDiscovery::resolveDevice(io, id);
}

UvcCapture::UvcCapture() : UvcCapture(SystemV4l2Io::instance()) {}

UvcCapture::UvcCapture(V4l2Io& io) : m_io(io) {}

UvcCapture::~UvcCapture()
{
    stop();
    m_onLost = nullptr;
}

std::vector<uint8_t> UvcCapture::codecConfig() const
{
    std::lock_guard lock(m_configMutex);
    return m_codecConfig;
}

bool UvcCapture::start(const CaptureRequest& request, std::function<void(EncodedFrame&&)> onFrame,
                       std::string* error)
{
    if (m_running.load()) {
        if (error)
            *error = "Capture already running";
        return false;
    }
    // A capture that ended by itself (camera lost) is released as stop() would.
    if (m_thread.joinable())
        m_thread.join();
    releaseDevice();

    const std::string path = resolveDevice(m_io, request.deviceId);
    LW_LOG_INFO("UvcCapture::start: opening %s (requested %dx%d @%dfps, preferred fourcc %s)", path.c_str(),
                request.width, request.height, request.fps, UvcDiscovery::fourccName(request.preferredFourcc).c_str());

    SeamFd fd(m_io, m_io.open(path.c_str(), O_RDWR | O_NONBLOCK));
    if (fd.get() < 0) {
        const int e = errno;
        std::string message = "Failed to open " + path + ": " + UvcDiscovery::errorText(e);
        if (e == EACCES)
            message += std::string(" — this user is ") + (UvcDiscovery::isInVideoGroup(m_io) ? "" : "NOT ") + kVideoGroupHint;
        else if (e == EBUSY)
            message += " — another program is using this camera";
        LW_LOG_ERROR("UvcCapture::start: %s", message.c_str());
        if (error)
            *error = message;
        return false;
    }

    CaptureRequest resolved = request;
    resolved.deviceId = path;
    if (!negotiateFormat(fd.get(), resolved, error))
        return false;

    if (!requestAndMapBuffers(fd.get(), error)) {
        LW_LOG_ERROR("UvcCapture::start: %s: %s", path.c_str(), error ? error->c_str() : "?");
        unmapBuffers();
        return false;
    }

    int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (UvcDiscovery::xioctl(m_io, fd.get(), VIDIOC_STREAMON, &type) < 0) {
        const std::string message = "VIDIOC_STREAMON failed: " + UvcDiscovery::errorText(errno);
        LW_LOG_ERROR("UvcCapture::start: %s: %s", path.c_str(), message.c_str());
        if (error)
            *error = message;
        unmapBuffers();
        return false;
    }

    LW_LOG_INFO("UvcCapture::start: %s streaming", path.c_str());
    m_fd = fd.release();
    m_onFrame = std::move(onFrame);
    m_baseTimestampUs = -1;
    m_baseWallMs = 0;
    {
        std::lock_guard lock(m_configMutex);
        m_codecConfig.clear();
    }
    m_measuredFps.store(0.0);
    m_lastFrameWallMs.store(0);
    m_running.store(true);
    m_thread = std::thread(&UvcCapture::captureLoop, this);
    return true;
}

bool UvcCapture::negotiateFormat(int fd, const CaptureRequest& request, std::string* error)
{
    const std::string& path = request.deviceId;
    std::vector<uint32_t> tries;
    if (request.preferredFourcc != 0)
        tries.push_back(request.preferredFourcc);
    for (uint32_t fourcc : {kFourccMjpeg, kFourccH264}) {
        if (std::find(tries.begin(), tries.end(), fourcc) == tries.end())
            tries.push_back(fourcc);
    }

    for (uint32_t fourcc : tries) {
        v4l2_format format {};
        format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        format.fmt.pix.width = static_cast<uint32_t>(request.width);
        format.fmt.pix.height = static_cast<uint32_t>(request.height);
        format.fmt.pix.pixelformat = fourcc;
        format.fmt.pix.field = V4L2_FIELD_NONE;
        if (UvcDiscovery::xioctl(m_io, fd, VIDIOC_S_FMT, &format) < 0) {
            const int e = errno;
            LW_LOG_WARN("UvcCapture::negotiateFormat: %s: VIDIOC_S_FMT(%s, %dx%d) failed: %s", path.c_str(),
                        UvcDiscovery::fourccName(fourcc).c_str(), request.width, request.height, UvcDiscovery::errorText(e).c_str());
            if (e == EBUSY) {
                // Every other format would be refused the same way.
                const std::string message = busyMessage(path, e);
                LW_LOG_ERROR("UvcCapture::negotiateFormat: %s", message.c_str());
                if (error)
                    *error = message;
                return false;
            }
            continue;
        }
        if (format.fmt.pix.pixelformat != fourcc) {
            LW_LOG_WARN("UvcCapture::negotiateFormat: %s: asked for %s, driver substituted %s — rejecting",
                        path.c_str(), UvcDiscovery::fourccName(fourcc).c_str(), UvcDiscovery::fourccName(format.fmt.pix.pixelformat).c_str());
            continue;
        }
        LW_LOG_INFO("UvcCapture::negotiateFormat: %s: negotiated %s %ux%u", path.c_str(), UvcDiscovery::fourccName(fourcc).c_str(),
                    format.fmt.pix.width, format.fmt.pix.height);
        m_fourcc.store(fourcc);
        m_width.store(static_cast<int32_t>(format.fmt.pix.width));
        m_height.store(static_cast<int32_t>(format.fmt.pix.height));

        v4l2_streamparm parm {};
        parm.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        parm.parm.capture.timeperframe.numerator = 1;
        parm.parm.capture.timeperframe.denominator = static_cast<uint32_t>(request.fps < 1 ? kDefaultFps : request.fps);
        UvcDiscovery::xioctl(m_io, fd, VIDIOC_S_PARM, &parm);

        v4l2_control control {};
        control.id = V4L2_CID_EXPOSURE_AUTO_PRIORITY;
        control.value = 0;
        UvcDiscovery::xioctl(m_io, fd, VIDIOC_S_CTRL, &control);
        return true;
    }

    std::vector<uint32_t> offered;
    for (uint32_t index = 0;; ++index) {
        v4l2_fmtdesc desc {};
        desc.index = index;
        desc.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        if (UvcDiscovery::xioctl(m_io, fd, VIDIOC_ENUM_FMT, &desc) < 0)
            break;
        offered.push_back(desc.pixelformat);
    }
    std::string message = "No supported capture format (tried MJPEG and H.264) on " + path +
                          ". This camera offers: " + UvcDiscovery::joinFourccs(offered) + ".";
    const bool compressed = std::find(offered.begin(), offered.end(), kFourccMjpeg) != offered.end() ||
                            std::find(offered.begin(), offered.end(), kFourccH264) != offered.end();
    if (!compressed)
        message += " This app does not yet support raw/uncompressed camera formats — try a different USB camera that "
                   "offers MJPEG.";
    LW_LOG_ERROR("UvcCapture::negotiateFormat: %s", message.c_str());
    if (error)
        *error = message;
    return false;
}

bool UvcCapture::requestAndMapBuffers(int fd, std::string* error)
{
    auto fail = [error](std::string message) {
        if (error)
            *error = std::move(message);
        return false;
    };

    v4l2_requestbuffers request {};
    request.count = kBuffersRequested;
    request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    request.memory = V4L2_MEMORY_MMAP;
    if (UvcDiscovery::xioctl(m_io, fd, VIDIOC_REQBUFS, &request) < 0) {
        const int e = errno;
        return fail("VIDIOC_REQBUFS failed: " + UvcDiscovery::errorText(e));
    }
    if (request.count < kFewestBuffers)
        return fail("Driver granted too few capture buffers");

    m_buffers.assign(request.count, MappedBuffer {});
    for (uint32_t index = 0; index < request.count; ++index) {
        v4l2_buffer buffer {};
        buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buffer.memory = V4L2_MEMORY_MMAP;
        buffer.index = index;
        if (UvcDiscovery::xioctl(m_io, fd, VIDIOC_QUERYBUF, &buffer) < 0)
            return fail("VIDIOC_QUERYBUF failed: " + UvcDiscovery::errorText(errno));
        void* start = m_io.mmap(buffer.length, PROT_READ | PROT_WRITE, MAP_SHARED, fd, buffer.m.offset);
        if (start == MAP_FAILED)
            return fail("mmap failed: " + UvcDiscovery::errorText(errno));
        m_buffers[index] = MappedBuffer {start, buffer.length};
        if (UvcDiscovery::xioctl(m_io, fd, VIDIOC_QBUF, &buffer) < 0)
            return fail("VIDIOC_QBUF failed: " + UvcDiscovery::errorText(errno));
    }
    return true;
}

void UvcCapture::unmapBuffers()
{
    for (const MappedBuffer& buffer : m_buffers) {
        if (buffer.start != nullptr && buffer.start != MAP_FAILED)
            m_io.munmap(buffer.start, buffer.length);
    }
    m_buffers.clear();
}

void UvcCapture::releaseDevice()
{
    if (m_fd < 0)
        return;
    int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    UvcDiscovery::xioctl(m_io, m_fd, VIDIOC_STREAMOFF, &type);
    unmapBuffers();
    v4l2_requestbuffers request {};
    request.count = 0;
    request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    request.memory = V4L2_MEMORY_MMAP;
    UvcDiscovery::xioctl(m_io, m_fd, VIDIOC_REQBUFS, &request);
    m_io.close(m_fd);
    m_fd = -1;
}

void UvcCapture::stop()
{
    m_running.store(false);
    if (m_thread.joinable())
        m_thread.join();
    releaseDevice();
    m_measuredFps.store(0.0);
    m_onFrame = nullptr;
}

void UvcCapture::backOff(int ms) const
{
    const int64_t deadlineNs = steadyNowNs() + int64_t {ms} * 1'000'000;
    while (m_running.load()) {
        const int64_t remainingNs = deadlineNs - steadyNowNs();
        if (remainingNs <= 0)
            return;
        const int64_t sliceNs = std::min<int64_t>(remainingNs, int64_t {kBackOffSliceMs} * 1'000'000);
        timespec request {static_cast<time_t>(sliceNs / 1'000'000'000), static_cast<long>(sliceNs % 1'000'000'000)};
        nanosleep(&request, nullptr);
    }
}

void UvcCapture::reportLost(const char* reason)
{
    LW_LOG_WARN("UvcCapture: camera lost (%s)", reason);
    m_running.store(false);
    if (m_onLost)
        m_onLost();
}

void UvcCapture::handleH264Payload(const uint8_t* data, size_t size, bool* keyframe)
{
    *keyframe = false;
    AnnexBScan scan = scanAnnexB(data, size);
    *keyframe = scan.hasIdrSlice;
    if (!scan.parameterSets.empty()) {
        std::lock_guard lock(m_configMutex);
        m_codecConfig = std::move(scan.parameterSets);
    }
}

void UvcCapture::captureLoop()
{
    pthread_setname_np(pthread_self(), "tvx-cap");
    const uint32_t fourcc = m_fourcc.load();
    const int fd = m_fd;
    int emptyWaits = 0;
    int errorsInARow = 0;   // failed polls and dequeues since the last good answer
    int eagainsInARow = 0;  // "ready" polls followed by nothing to dequeue
    bool firstFrameSeen = false;
    int64_t framesInPeriod = 0;
    int64_t delivered = 0;
    int64_t periodStartNs = steadyNowNs();
    std::string endReason = "stopped";

    while (m_running.load()) {
        pollfd waitFor {fd, POLLIN, 0};
        const int ready = m_io.poll(&waitFor, 1, kPollTimeoutMs);
        const int pollErrno = errno;
        if (!m_running.load())
            break;
        if (ready < 0) {
            if (pollErrno == EINTR)
                continue;
            LW_LOG_WARN("UvcCapture poll() failed: %s", UvcDiscovery::errorText(pollErrno).c_str());
            if (++errorsInARow >= kErrorsMeaningLost) {
                endReason = "lost";
                reportLost(UvcDiscovery::errorText(pollErrno).c_str());
                break;
            }
            backOff(backOffMs(errorsInARow));
            continue;
        }
        if (ready == 0) {
            errorsInARow = 0;
            if (++emptyWaits % kEmptyWaitsPerReport == 0)
                LW_LOG_WARN("UvcCapture: no frame from fd %d for %ds after opening — camera negotiated but is not "
                            "delivering data",
                            fd, emptyWaits * (kPollTimeoutMs / 1000));
            continue;
        }

        v4l2_buffer buffer {};
        buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buffer.memory = V4L2_MEMORY_MMAP;
        if (UvcDiscovery::xioctl(m_io, fd, VIDIOC_DQBUF, &buffer) < 0) {
            const int e = errno;
            if (e == EAGAIN) {
                emptyWaits = 0;
                // A node that keeps saying "ready" with nothing to give must not spin.
                if (++eagainsInARow > 1)
                    backOff(backOffMs(eagainsInARow - 1));
                continue;
            }
            if (e == EIO || e == ENODEV) {
                endReason = "lost";
                reportLost(UvcDiscovery::errorText(e).c_str());
                break;
            }
            LW_LOG_WARN("UvcCapture DQBUF failed: %s", UvcDiscovery::errorText(e).c_str());
            emptyWaits = 0;
            if (++errorsInARow >= kErrorsMeaningLost) {
                endReason = "lost";
                reportLost(UvcDiscovery::errorText(e).c_str());
                break;
            }
            backOff(backOffMs(errorsInARow));
            continue;
        }
        errorsInARow = 0;
        eagainsInARow = 0;
        emptyWaits = 0;

        if (buffer.index >= m_buffers.size()) {
            // Nothing of ours to read or requeue.
            LW_LOG_WARN("UvcCapture: dropping frame on fd %d (buffer index %u out of range)", fd, buffer.index);
            continue;
        }
        const MappedBuffer& mapped = m_buffers[buffer.index];
        const uint32_t bytesUsed = static_cast<uint32_t>(std::min<size_t>(buffer.bytesused, mapped.length));
        const bool errorFlag = (buffer.flags & V4L2_BUF_FLAG_ERROR) != 0;
        // Small H.264 access units are ordinary P-frames; only a JPEG needs a floor.
        const bool tooSmall = fourcc == kFourccH264 ? bytesUsed == 0 : bytesUsed < kSmallestMjpegBytes;
        if (tooSmall || errorFlag) {
            LW_LOG_WARN("UvcCapture: dropping frame on fd %d (bytesused=%u, error flag=%d)", fd, buffer.bytesused,
                        errorFlag ? 1 : 0);
            UvcDiscovery::xioctl(m_io, fd, VIDIOC_QBUF, &buffer);
            continue;
        }
        if (!firstFrameSeen)
            LW_LOG_INFO("UvcCapture: first frame received on fd %d (%u bytes)", fd, bytesUsed);

        const auto* bytes = static_cast<const uint8_t*>(mapped.start);
        bool keyframe = true;
        if (fourcc == kFourccH264)
            handleH264Payload(bytes, bytesUsed, &keyframe);

        const int64_t ptsUs = static_cast<int64_t>(buffer.timestamp.tv_sec) * 1'000'000 + buffer.timestamp.tv_usec;
        if (m_baseTimestampUs < 0) {
            m_baseTimestampUs = ptsUs;
            m_baseWallMs = systemNowMs();
        }
        const int64_t wallMs = m_baseWallMs + (ptsUs - m_baseTimestampUs) / 1000;

        EncodedFrame frame;
        frame.data.assign(bytes, bytes + bytesUsed);
        frame.ptsUs = ptsUs;
        frame.wallMs = wallMs;
        frame.keyframe = keyframe;
        frame.seq = 0;
        if (m_onFrame)
            m_onFrame(std::move(frame));
        UvcDiscovery::xioctl(m_io, fd, VIDIOC_QBUF, &buffer);
        m_lastFrameWallMs.store(wallMs);
        ++delivered;

        ++framesInPeriod;
        const int64_t nowNs = steadyNowNs();
        if (nowNs - periodStartNs > kMeasuringPeriodNs) {
            m_measuredFps.store(static_cast<double>(framesInPeriod) * 1e9 / static_cast<double>(nowNs - periodStartNs));
            periodStartNs = nowNs;
            framesInPeriod = 0;
        }
        firstFrameSeen = true;
    }
    LW_LOG_INFO("UvcCapture: capture on fd %d ended (%s) after %lld frame(s)", fd, endReason.c_str(),
                static_cast<long long>(delivered));
}

}  // namespace lagwell

#include "FakeV4l2.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <utility>

#include <sys/mman.h>

namespace lagwell {
namespace {

constexpr off_t kOffsetStride = 1 << 24;
constexpr int kIdleSliceMs = 10;

int64_t monotonicNowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

timeval monotonicNow()
{
    timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return timeval {now.tv_sec, now.tv_nsec / 1000};
}

void copyText(uint8_t* field, size_t size, const std::string& text)
{
    std::memset(field, 0, size);
    std::memcpy(field, text.data(), std::min(size, text.size()));  // no terminator when full, as the kernel may
}

int fail(int errorNumber)
{
    errno = errorNumber;
    return -1;
}

}  // namespace

FakeV4l2::~FakeV4l2() = default;

void FakeV4l2::addCamera(FakeCameraConfig config)
{
    std::lock_guard lock(m_mutex);
    auto node = std::make_unique<Node>();
    node->config = std::move(config);
    if (!node->config.formats.empty()) {
        node->fourcc = node->config.formats[0].fourcc;
        if (!node->config.formats[0].sizes.empty()) {
            node->width = node->config.formats[0].sizes[0].width;
            node->height = node->config.formats[0].sizes[0].height;
        }
    }
    m_nodes.push_back(std::move(node));
}

void FakeV4l2::addOtherEntry(const std::string& name)
{
    std::lock_guard lock(m_mutex);
    m_otherEntries.push_back(name);
}

void FakeV4l2::setDevUnreadable(int errorNumber)
{
    std::lock_guard lock(m_mutex);
    m_devErrno = errorNumber;
}

void FakeV4l2::setGroups(bool videoGroupExists, gid_t videoGid, gid_t effectiveGid, std::vector<gid_t> supplementary)
{
    std::lock_guard lock(m_mutex);
    m_videoGroupExists = videoGroupExists;
    m_videoGid = videoGid;
    m_effectiveGid = effectiveGid;
    m_supplementary = std::move(supplementary);
}

void FakeV4l2::setEffectiveUserId(uid_t uid)
{
    std::lock_guard lock(m_mutex);
    m_effectiveUid = uid;
}

void FakeV4l2::pushFrame(const std::string& node, std::vector<uint8_t> data, std::optional<timeval> timestamp,
                         uint32_t flags, std::optional<uint32_t> bytesUsed)
{
    std::lock_guard lock(m_mutex);
    Event event {Event::Kind::Frame, std::move(data), timestamp, flags, bytesUsed, 0};
    nodeLocked(node)->script.push_back(std::move(event));
    m_changed.notify_all();
}

void FakeV4l2::pushPollTimeouts(const std::string& node, int count)
{
    std::lock_guard lock(m_mutex);
    for (int i = 0; i < count; ++i)
        nodeLocked(node)->script.push_back(Event {Event::Kind::Timeout, {}, {}, 0, {}, 0});
    m_changed.notify_all();
}

void FakeV4l2::pushPollError(const std::string& node, int errorNumber)
{
    std::lock_guard lock(m_mutex);
    nodeLocked(node)->script.push_back(Event {Event::Kind::PollError, {}, {}, 0, {}, errorNumber});
    m_changed.notify_all();
}

void FakeV4l2::pushDequeueError(const std::string& node, int errorNumber)
{
    std::lock_guard lock(m_mutex);
    nodeLocked(node)->script.push_back(Event {Event::Kind::DequeueError, {}, {}, 0, {}, errorNumber});
    m_changed.notify_all();
}

void FakeV4l2::pushUnplug(const std::string& node)
{
    std::lock_guard lock(m_mutex);
    nodeLocked(node)->script.push_back(Event {Event::Kind::Unplug, {}, {}, 0, {}, 0});
    m_changed.notify_all();
}

void FakeV4l2::setPersistentPollError(const std::string& node, int errorNumber)
{
    std::lock_guard lock(m_mutex);
    nodeLocked(node)->persistentPollErrno = errorNumber;
    m_changed.notify_all();
}

void FakeV4l2::replug(const std::string& node)
{
    std::lock_guard lock(m_mutex);
    Node* n = nodeLocked(node);
    n->present = true;
    n->script.clear();
    n->pendingDequeueErrno = 0;
    m_changed.notify_all();
}

void FakeV4l2::replug(const std::string& node, FakeCameraConfig replacement)
{
    std::lock_guard lock(m_mutex);
    Node* n = nodeLocked(node);
    replacement.node = n->config.node;
    n->config = std::move(replacement);
    n->fourcc = 0;
    n->width = 0;
    n->height = 0;
    if (!n->config.formats.empty()) {
        n->fourcc = n->config.formats[0].fourcc;
        if (!n->config.formats[0].sizes.empty()) {
            n->width = n->config.formats[0].sizes[0].width;
            n->height = n->config.formats[0].sizes[0].height;
        }
    }
    n->present = true;
    n->script.clear();
    n->pendingDequeueErrno = 0;
    n->persistentPollErrno = 0;
    n->nextAutoNs = 0;
    m_changed.notify_all();
}

bool FakeV4l2::waitScriptDone(const std::string& node, int timeoutMs)
{
    std::unique_lock lock(m_mutex);
    Node* n = nodeLocked(node);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [&] { return n->script.empty() && n->done.empty() && n->pendingDequeueErrno == 0; });
}

std::vector<uint32_t> FakeV4l2::askedFourccs(const std::string& node) const
{
    std::lock_guard lock(m_mutex);
    return nodeLocked(node)->askedFourccs;
}

v4l2_fract FakeV4l2::timePerFrame(const std::string& node) const
{
    std::lock_guard lock(m_mutex);
    return nodeLocked(node)->timePerFrame;
}

std::vector<std::pair<uint32_t, int32_t>> FakeV4l2::controls(const std::string& node) const
{
    std::lock_guard lock(m_mutex);
    return nodeLocked(node)->controls;
}

bool FakeV4l2::isStreaming(const std::string& node) const
{
    std::lock_guard lock(m_mutex);
    return nodeLocked(node)->streaming;
}

int FakeV4l2::openDescriptors() const
{
    std::lock_guard lock(m_mutex);
    return static_cast<int>(m_files.size());
}

int FakeV4l2::mappedBuffers() const
{
    std::lock_guard lock(m_mutex);
    int mapped = 0;
    for (const auto& node : m_nodes)
        for (const Buffer& buffer : node->buffers)
            mapped += buffer.mappings;
    for (const Buffer& buffer : m_orphans)
        mapped += buffer.mappings;
    return mapped;
}

int FakeV4l2::dequeuedCount(const std::string& node) const
{
    std::lock_guard lock(m_mutex);
    return nodeLocked(node)->dequeued;
}

FakeV4l2::Node* FakeV4l2::nodeLocked(const std::string& name) const
{
    for (const auto& node : m_nodes)
        if (node->config.node == name)
            return node.get();
    std::abort();  // a test named a node it never added
}

FakeV4l2::Node* FakeV4l2::nodeOfFdLocked(int fd) const
{
    const auto it = m_files.find(fd);
    return it == m_files.end() ? nullptr : it->second.node;
}

int FakeV4l2::open(const char* path, int flags)
{
    std::lock_guard lock(m_mutex);
    const std::string text = path;
    for (const auto& node : m_nodes) {
        if ("/dev/" + node->config.node != text || !node->present)
            continue;
        if (node->config.openErrno != 0)
            return fail(node->config.openErrno);
        const int fd = m_nextFd++;
        m_files[fd] = OpenFile {node.get(), 0};
        return fd;
    }
    return fail(ENOENT);
}

void FakeV4l2::releaseBuffersLocked(Node& node)
{
    for (Buffer& buffer : node.buffers) {
        if (buffer.mappings > 0)
            m_orphans.push_back(std::move(buffer));
    }
    node.buffers.clear();
    node.done.clear();
    node.streaming = false;
    node.bufferOwnerFd = -1;
}

int FakeV4l2::close(int fd)
{
    std::lock_guard lock(m_mutex);
    const auto it = m_files.find(fd);
    if (it == m_files.end())
        return fail(EBADF);
    Node* node = it->second.node;
    if (node->bufferOwnerFd == fd)
        releaseBuffersLocked(*node);
    m_files.erase(it);
    m_changed.notify_all();
    return 0;
}

void* FakeV4l2::mmap(size_t length, int protection, int flags, int fd, off_t offset)
{
    std::lock_guard lock(m_mutex);
    Node* node = nodeOfFdLocked(fd);
    if (!node) {
        errno = EBADF;
        return MAP_FAILED;
    }
    if (node->config.mmapErrno != 0) {
        errno = node->config.mmapErrno;
        return MAP_FAILED;
    }
    if (!(flags & MAP_SHARED) || offset % kOffsetStride != 0) {
        errno = EINVAL;
        return MAP_FAILED;
    }
    const size_t index = static_cast<size_t>(offset / kOffsetStride);
    if (index >= node->buffers.size() || length > node->buffers[index].length) {
        errno = EINVAL;
        return MAP_FAILED;
    }
    ++node->buffers[index].mappings;
    return node->buffers[index].memory.get();
}

int FakeV4l2::munmap(void* address, size_t length)
{
    std::lock_guard lock(m_mutex);
    auto unmap = [&](Buffer& buffer) {
        if (buffer.memory.get() != address || buffer.mappings == 0)
            return false;
        --buffer.mappings;
        return true;
    };
    for (const auto& node : m_nodes)
        for (Buffer& buffer : node->buffers)
            if (unmap(buffer))
                return 0;
    for (auto it = m_orphans.begin(); it != m_orphans.end(); ++it) {
        if (unmap(*it)) {
            if (it->mappings == 0)
                m_orphans.erase(it);
            return 0;
        }
    }
    return fail(EINVAL);
}

bool FakeV4l2::fillNextBufferLocked(Node& node, const uint8_t* data, size_t size, std::optional<timeval> timestamp,
                                    uint32_t flags, std::optional<uint32_t> bytesUsed)
{
    if (!node.streaming)
        return false;
    for (size_t index = 0; index < node.buffers.size(); ++index) {
        Buffer& buffer = node.buffers[index];
        if (buffer.state != Buffer::State::Queued)
            continue;
        const size_t copied = std::min<size_t>(size, buffer.length);
        if (copied > 0)
            std::memcpy(buffer.memory.get(), data, copied);
        buffer.bytesUsed = bytesUsed ? *bytesUsed : static_cast<uint32_t>(copied);
        buffer.flags = flags;
        buffer.timestamp = timestamp ? *timestamp : monotonicNow();
        buffer.sequence = node.sequence++;
        buffer.state = Buffer::State::Done;
        node.done.push_back(index);
        return true;
    }
    return false;
}

int FakeV4l2::poll(pollfd* fds, nfds_t count, int timeoutMs)
{
    std::unique_lock lock(m_mutex);
    if (count != 1)
        return fail(EINVAL);
    pollfd& entry = fds[0];
    entry.revents = 0;
    const auto file = m_files.find(entry.fd);
    if (file == m_files.end()) {
        entry.revents = POLLNVAL;
        return 1;
    }
    Node& node = *file->second.node;
    int64_t& idleMs = file->second.idleMs;
    auto answer = [&](int result, short revents) {
        idleMs = 0;
        entry.revents = revents;
        return result;
    };

    for (;;) {
        if (!node.present)
            return answer(1, POLLERR | POLLHUP);
        if (node.persistentPollErrno != 0) {
            idleMs = 0;
            return fail(node.persistentPollErrno);
        }
        if (!node.done.empty() || node.pendingDequeueErrno != 0)
            return answer(1, POLLIN | POLLRDNORM);
        if (!node.script.empty()) {
            Event& event = node.script.front();
            switch (event.kind) {
            case Event::Kind::Timeout:
                node.script.pop_front();
                m_changed.notify_all();
                return answer(0, 0);
            case Event::Kind::PollError: {
                const int e = event.errorNumber;
                node.script.pop_front();
                m_changed.notify_all();
                idleMs = 0;
                return fail(e);
            }
            case Event::Kind::DequeueError:
                node.pendingDequeueErrno = event.errorNumber;
                node.script.pop_front();
                return answer(1, POLLIN | POLLRDNORM);
            case Event::Kind::Unplug:
                node.present = false;
                node.script.pop_front();
                m_changed.notify_all();
                continue;
            case Event::Kind::Frame:
                if (fillNextBufferLocked(node, event.data.data(), event.data.size(), event.timestamp, event.flags,
                                         event.bytesUsed)) {
                    node.script.pop_front();
                    return answer(1, POLLIN | POLLRDNORM);
                }
                break;  // no queued buffer yet: wait like a driver would
            }
        } else if (node.config.autoFps > 0.0 && node.streaming) {
            const int64_t now = monotonicNowNs();
            const auto intervalNs = static_cast<int64_t>(1e9 / node.config.autoFps);
            if (node.nextAutoNs == 0 || node.nextAutoNs < now - 1'000'000'000)
                node.nextAutoNs = now;
            if (now >= node.nextAutoNs &&
                fillNextBufferLocked(node, node.config.autoFrame.data(), node.config.autoFrame.size(), {}, 0, {})) {
                node.nextAutoNs += intervalNs;
                return answer(1, POLLIN | POLLRDNORM);
            }
        }

        // Idle: wait a slice for news; report it as an interrupted wait, or
        // as a timeout once the caller's whole timeout has been spent idle.
        const int64_t sliceMs = std::min<int64_t>(kIdleSliceMs, std::max<int64_t>(1, timeoutMs - idleMs));
        const auto status = m_changed.wait_for(lock, std::chrono::milliseconds(sliceMs));
        if (status == std::cv_status::no_timeout)
            continue;
        idleMs += sliceMs;
        if (timeoutMs >= 0 && idleMs >= timeoutMs)
            return answer(0, 0);
        return fail(EINTR);
    }
}

int FakeV4l2::ioctl(int fd, unsigned long request, void* argument)
{
    std::lock_guard lock(m_mutex);
    Node* node = nodeOfFdLocked(fd);
    if (!node)
        return fail(EBADF);
    if (!node->present)
        return fail(ENODEV);
    const int rc = handleIoctlLocked(fd, *node, request, argument);
    m_changed.notify_all();
    return rc;
}

int FakeV4l2::handleIoctlLocked(int fd, Node& node, unsigned long request, void* argument)
{
    const FakeCameraConfig& config = node.config;
    auto findFormat = [&](uint32_t fourcc) -> const FakeFormat* {
        for (const FakeFormat& format : config.formats)
            if (format.fourcc == fourcc)
                return &format;
        return nullptr;
    };

    switch (request) {
    case VIDIOC_QUERYCAP: {
        if (config.queryCapErrno != 0)
            return fail(config.queryCapErrno);
        auto* caps = static_cast<v4l2_capability*>(argument);
        std::memset(caps, 0, sizeof *caps);
        copyText(caps->driver, sizeof caps->driver, "fakevideo");
        copyText(caps->card, sizeof caps->card, config.card);
        copyText(caps->bus_info, sizeof caps->bus_info, config.busInfo);
        caps->version = 0x060100;
        caps->capabilities = config.capabilities;
        caps->device_caps = config.deviceCaps;
        return 0;
    }
    case VIDIOC_ENUM_FMT: {
        auto* desc = static_cast<v4l2_fmtdesc*>(argument);
        if (desc->type != V4L2_BUF_TYPE_VIDEO_CAPTURE || desc->index >= config.formats.size())
            return fail(EINVAL);
        const uint32_t index = desc->index;
        std::memset(desc, 0, sizeof *desc);
        desc->index = index;
        desc->type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        desc->pixelformat = config.formats[index].fourcc;
        copyText(desc->description, sizeof desc->description, "fake format");
        return 0;
    }
    case VIDIOC_ENUM_FRAMESIZES: {
        auto* size = static_cast<v4l2_frmsizeenum*>(argument);
        const FakeFormat* format = findFormat(size->pixel_format);
        if (!format)
            return fail(EINVAL);
        if (format->stepwiseSizes) {
            if (size->index != 0)
                return fail(EINVAL);
            size->type = V4L2_FRMSIZE_TYPE_STEPWISE;
            size->stepwise = {16, 1920, 16, 16, 1080, 16};
            return 0;
        }
        if (size->index >= format->sizes.size())
            return fail(EINVAL);
        size->type = V4L2_FRMSIZE_TYPE_DISCRETE;
        size->discrete.width = format->sizes[size->index].width;
        size->discrete.height = format->sizes[size->index].height;
        return 0;
    }
    case VIDIOC_ENUM_FRAMEINTERVALS: {
        auto* interval = static_cast<v4l2_frmivalenum*>(argument);
        const FakeFormat* format = findFormat(interval->pixel_format);
        if (!format)
            return fail(EINVAL);
        for (const FakeFrameSize& size : format->sizes) {
            if (size.width != interval->width || size.height != interval->height)
                continue;
            if (size.stepwiseIntervals) {
                if (interval->index != 0)
                    return fail(EINVAL);
                interval->type = V4L2_FRMIVAL_TYPE_STEPWISE;
                interval->stepwise = {{1, 60}, {1, 5}, {1, 60}};
                return 0;
            }
            if (interval->index >= size.intervals.size())
                return fail(EINVAL);
            interval->type = V4L2_FRMIVAL_TYPE_DISCRETE;
            interval->discrete = size.intervals[interval->index];
            return 0;
        }
        return fail(EINVAL);
    }
    case VIDIOC_S_FMT:
    case VIDIOC_G_FMT: {
        auto* format = static_cast<v4l2_format*>(argument);
        if (format->type != V4L2_BUF_TYPE_VIDEO_CAPTURE)
            return fail(EINVAL);
        if (request == VIDIOC_S_FMT) {
            node.askedFourccs.push_back(format->fmt.pix.pixelformat);
            if (config.setFormatErrno != 0)
                return fail(config.setFormatErrno);
            // The queue belongs to whoever allocated buffers.
            if (node.bufferOwnerFd != -1)
                return fail(EBUSY);
            if (config.formats.empty())
                return fail(EINVAL);
            const FakeFormat* chosen = findFormat(format->fmt.pix.pixelformat);
            if (!chosen)
                chosen = &config.formats[0];  // drivers substitute what they have
            uint32_t width = format->fmt.pix.width;
            uint32_t height = format->fmt.pix.height;
            if (!chosen->sizes.empty()) {
                // Nearest discrete size by area.
                const FakeFrameSize* best = &chosen->sizes[0];
                auto distance = [&](const FakeFrameSize& s) {
                    const int64_t a = int64_t {s.width} * s.height;
                    const int64_t b = int64_t {format->fmt.pix.width} * format->fmt.pix.height;
                    return a > b ? a - b : b - a;
                };
                for (const FakeFrameSize& s : chosen->sizes)
                    if (distance(s) < distance(*best))
                        best = &s;
                width = best->width;
                height = best->height;
            }
            node.fourcc = chosen->fourcc;
            node.width = width;
            node.height = height;
        }
        std::memset(&format->fmt.pix, 0, sizeof format->fmt.pix);
        format->fmt.pix.width = node.width;
        format->fmt.pix.height = node.height;
        format->fmt.pix.pixelformat = node.fourcc;
        format->fmt.pix.field = V4L2_FIELD_NONE;
        format->fmt.pix.sizeimage = config.bufferBytes;
        return 0;
    }
    case VIDIOC_S_PARM: {
        auto* parm = static_cast<v4l2_streamparm*>(argument);
        if (parm->type != V4L2_BUF_TYPE_VIDEO_CAPTURE)
            return fail(EINVAL);
        node.timePerFrame = parm->parm.capture.timeperframe;
        parm->parm.capture.capability = V4L2_CAP_TIMEPERFRAME;
        return 0;
    }
    case VIDIOC_S_CTRL: {
        const auto* control = static_cast<const v4l2_control*>(argument);
        node.controls.emplace_back(control->id, control->value);
        return 0;
    }
    case VIDIOC_REQBUFS: {
        auto* buffers = static_cast<v4l2_requestbuffers*>(argument);
        if (buffers->type != V4L2_BUF_TYPE_VIDEO_CAPTURE || buffers->memory != V4L2_MEMORY_MMAP)
            return fail(EINVAL);
        if (config.requestBuffersErrno != 0 && buffers->count > 0)
            return fail(config.requestBuffersErrno);
        if (node.bufferOwnerFd != -1 && node.bufferOwnerFd != fd)
            return fail(EBUSY);
        if (node.streaming)
            return fail(EBUSY);
        for (const Buffer& buffer : node.buffers)
            if (buffer.mappings > 0)
                return fail(EBUSY);
        node.buffers.clear();
        node.done.clear();
        node.bufferOwnerFd = -1;
        if (buffers->count == 0)
            return 0;
        buffers->count = std::min(buffers->count, config.maxBuffers);
        node.buffers.resize(buffers->count);
        for (Buffer& buffer : node.buffers) {
            buffer.memory = std::make_unique<uint8_t[]>(config.bufferBytes);
            buffer.length = config.bufferBytes;
        }
        node.bufferOwnerFd = buffers->count > 0 ? fd : -1;
        return 0;
    }
    case VIDIOC_QUERYBUF:
    case VIDIOC_QBUF:
    case VIDIOC_DQBUF: {
        auto* buffer = static_cast<v4l2_buffer*>(argument);
        if (buffer->type != V4L2_BUF_TYPE_VIDEO_CAPTURE || buffer->memory != V4L2_MEMORY_MMAP ||
            node.bufferOwnerFd != fd)
            return fail(EINVAL);
        if (request == VIDIOC_DQBUF) {
            if (node.pendingDequeueErrno != 0)
                return fail(std::exchange(node.pendingDequeueErrno, 0));
            if (node.done.empty())
                return fail(EAGAIN);
            buffer->index = static_cast<uint32_t>(node.done.front());
            node.done.pop_front();
            node.buffers[buffer->index].state = Buffer::State::Dequeued;
            ++node.dequeued;
        } else if (buffer->index >= node.buffers.size()) {
            return fail(EINVAL);
        }
        Buffer& slot = node.buffers[buffer->index];
        if (request == VIDIOC_QUERYBUF && config.queryBufferErrno != 0)
            return fail(config.queryBufferErrno);
        if (request == VIDIOC_QBUF) {
            if (config.queueErrno != 0)
                return fail(config.queueErrno);
            if (slot.state != Buffer::State::Dequeued)
                return fail(EINVAL);
            slot.state = Buffer::State::Queued;
        }
        buffer->length = slot.length;
        buffer->m.offset = static_cast<uint32_t>(buffer->index * kOffsetStride);
        buffer->bytesused = slot.bytesUsed;
        buffer->flags = slot.flags | V4L2_BUF_FLAG_MAPPED;
        buffer->timestamp = slot.timestamp;
        buffer->sequence = slot.sequence;
        buffer->field = V4L2_FIELD_NONE;
        return 0;
    }
    case VIDIOC_STREAMON:
    case VIDIOC_STREAMOFF: {
        if (*static_cast<const int*>(argument) != V4L2_BUF_TYPE_VIDEO_CAPTURE || node.bufferOwnerFd != fd)
            return fail(EINVAL);
        if (request == VIDIOC_STREAMON) {
            if (config.streamOnErrno != 0)
                return fail(config.streamOnErrno);
            node.streaming = true;
            node.nextAutoNs = 0;
            return 0;
        }
        node.streaming = false;
        node.done.clear();
        for (Buffer& buffer : node.buffers)
            buffer.state = Buffer::State::Dequeued;
        return 0;
    }
    default:
        return fail(ENOTTY);
    }
}

bool FakeV4l2::listDirectory(const std::string& directory, std::vector<std::string>* names)
{
    std::lock_guard lock(m_mutex);
    if (directory != "/dev" || m_devErrno != 0) {
        errno = directory != "/dev" ? ENOENT : m_devErrno;
        return false;
    }
    names->push_back(".");
    names->push_back("..");
    for (const std::string& other : m_otherEntries)
        names->push_back(other);
    for (const auto& node : m_nodes)
        if (node->present)
            names->push_back(node->config.node);
    return true;
}

uid_t FakeV4l2::effectiveUserId()
{
    std::lock_guard lock(m_mutex);
    return m_effectiveUid;
}

bool FakeV4l2::findGroup(const char* name, gid_t* gid)
{
    std::lock_guard lock(m_mutex);
    if (std::string(name) != "video" || !m_videoGroupExists)
        return false;
    *gid = m_videoGid;
    return true;
}

gid_t FakeV4l2::effectiveGroupId()
{
    std::lock_guard lock(m_mutex);
    return m_effectiveGid;
}

int FakeV4l2::supplementaryGroups(int capacity, gid_t* list)
{
    std::lock_guard lock(m_mutex);
    const int count = static_cast<int>(m_supplementary.size());
    if (capacity == 0)
        return count;
    if (capacity < count)
        return fail(EINVAL);
    std::copy(m_supplementary.begin(), m_supplementary.end(), list);
    return count;
}

}  // namespace lagwell

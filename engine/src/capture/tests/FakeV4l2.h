#pragma once

// A V4L2 stand-in for tests: a /dev listing with capture nodes that answer
// the ioctls the capture code uses (QUERYCAP, ENUM_FMT, ENUM_FRAMESIZES,
// ENUM_FRAMEINTERVALS, S_FMT/G_FMT, S_PARM, S_CTRL, REQBUFS, QUERYBUF, QBUF,
// DQBUF, STREAMON/OFF), memory-mapped buffers, poll readiness, a script of
// frames and faults per node, and unplugging (ENODEV). Thread-safe: one lock.
// An idle poll returns EINTR every few milliseconds (as a signal would) and 0
// once its whole timeout has passed, so a capture thread notices stop() fast.

#include "V4l2Io.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <linux/videodev2.h>
#include <sys/time.h>

namespace lagwell {

struct FakeFrameSize {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<v4l2_fract> intervals;  // time per frame, discrete
    bool stepwiseIntervals = false;
};

struct FakeFormat {
    uint32_t fourcc = 0;
    std::vector<FakeFrameSize> sizes;
    bool stepwiseSizes = false;  // answers one stepwise range instead of the sizes
};

struct FakeCameraConfig {
    std::string node;  // entry name in /dev ("video0")
    std::string card = "Fake Camera";
    std::string busInfo;
    uint32_t capabilities = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING | V4L2_CAP_DEVICE_CAPS;
    uint32_t deviceCaps = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING;
    std::vector<FakeFormat> formats;
    uint32_t bufferBytes = 1u << 20;  // sizeimage
    uint32_t maxBuffers = 8;          // REQBUFS grants at most this many
    // Injected failures: errno of the call, 0 = none.
    int openErrno = 0;
    int queryCapErrno = 0;
    int setFormatErrno = 0;
    int requestBuffersErrno = 0;
    int queryBufferErrno = 0;
    int mmapErrno = 0;
    int queueErrno = 0;
    int streamOnErrno = 0;
    // > 0: while streaming, `autoFrame` arrives at this rate (after the script).
    double autoFps = 0.0;
    std::vector<uint8_t> autoFrame;
};

class FakeV4l2 final : public V4l2Io {
public:
    FakeV4l2() = default;
    ~FakeV4l2() override;

    // Set-up (before the code under test runs).
    void addCamera(FakeCameraConfig config);
    void addOtherEntry(const std::string& name);  // a /dev entry that is not a node
    void setDevUnreadable(int errorNumber);
    void setGroups(bool videoGroupExists, gid_t videoGid, gid_t effectiveGid, std::vector<gid_t> supplementary);
    void setEffectiveUserId(uid_t uid);  // 1000 unless set

    // The script of a node, played by poll in order.
    void pushFrame(const std::string& node, std::vector<uint8_t> data, std::optional<timeval> timestamp = {},
                   uint32_t flags = 0, std::optional<uint32_t> bytesUsed = {});
    void pushPollTimeouts(const std::string& node, int count);
    void pushPollError(const std::string& node, int errorNumber);
    void pushDequeueError(const std::string& node, int errorNumber);
    void pushUnplug(const std::string& node);
    void setPersistentPollError(const std::string& node, int errorNumber);
    void replug(const std::string& node);
    // Another camera appears on the node's port: same node name, the
    // replacement's formats, frames and faults.
    void replug(const std::string& node, FakeCameraConfig replacement);

    // Observations.
    bool waitScriptDone(const std::string& node, int timeoutMs);
    std::vector<uint32_t> askedFourccs(const std::string& node) const;
    v4l2_fract timePerFrame(const std::string& node) const;
    std::vector<std::pair<uint32_t, int32_t>> controls(const std::string& node) const;
    bool isStreaming(const std::string& node) const;
    int openDescriptors() const;
    int mappedBuffers() const;
    int dequeuedCount(const std::string& node) const;

    // V4l2Io
    int open(const char* path, int flags) override;
    int close(int fd) override;
    int ioctl(int fd, unsigned long request, void* argument) override;
    void* mmap(size_t length, int protection, int flags, int fd, off_t offset) override;
    int munmap(void* address, size_t length) override;
    int poll(pollfd* fds, nfds_t count, int timeoutMs) override;
    bool listDirectory(const std::string& directory, std::vector<std::string>* names) override;
    uid_t effectiveUserId() override;
    bool findGroup(const char* name, gid_t* gid) override;
    gid_t effectiveGroupId() override;
    int supplementaryGroups(int capacity, gid_t* list) override;

private:
    struct Event {
        enum class Kind { Frame, Timeout, PollError, DequeueError, Unplug } kind;
        std::vector<uint8_t> data;
        std::optional<timeval> timestamp;
        uint32_t flags = 0;
        std::optional<uint32_t> bytesUsed;
        int errorNumber = 0;
    };
    struct Buffer {
        enum class State { Dequeued, Queued, Done } state = State::Dequeued;
        std::unique_ptr<uint8_t[]> memory;
        uint32_t length = 0;
        uint32_t bytesUsed = 0;
        uint32_t flags = 0;
        timeval timestamp {};
        uint32_t sequence = 0;
        int mappings = 0;
    };
    struct Node {
        FakeCameraConfig config;
        bool present = true;
        int bufferOwnerFd = -1;
        bool streaming = false;
        std::vector<Buffer> buffers;
        std::deque<size_t> done;
        std::deque<Event> script;
        uint32_t fourcc = 0;
        uint32_t width = 0;
        uint32_t height = 0;
        v4l2_fract timePerFrame {0, 0};
        std::vector<std::pair<uint32_t, int32_t>> controls;
        std::vector<uint32_t> askedFourccs;
        int pendingDequeueErrno = 0;
        int persistentPollErrno = 0;
        uint32_t sequence = 0;
        int64_t nextAutoNs = 0;
        int dequeued = 0;
    };
    struct OpenFile {
        Node* node = nullptr;
        int64_t idleMs = 0;  // time an idle poll has waited towards its timeout
    };

    Node* nodeLocked(const std::string& name) const;
    Node* nodeOfFdLocked(int fd) const;
    bool fillNextBufferLocked(Node& node, const uint8_t* data, size_t size, std::optional<timeval> timestamp,
                              uint32_t flags, std::optional<uint32_t> bytesUsed);
    void releaseBuffersLocked(Node& node);
    int handleIoctlLocked(int fd, Node& node, unsigned long request, void* argument);

    mutable std::mutex m_mutex;  // guards: everything below
    std::condition_variable m_changed;
    std::vector<std::unique_ptr<Node>> m_nodes;
    std::vector<std::string> m_otherEntries;
    std::map<int, OpenFile> m_files;
    // Buffers still mapped when their node let them go; freed at destruction.
    std::vector<Buffer> m_orphans;
    int m_nextFd = 1000;
    int m_devErrno = 0;
    uid_t m_effectiveUid = 1000;
    bool m_videoGroupExists = true;
    gid_t m_videoGid = 44;
    gid_t m_effectiveGid = 44;
    std::vector<gid_t> m_supplementary;
};

}  // namespace lagwell

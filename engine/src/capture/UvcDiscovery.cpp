#include "UvcDiscovery.h"

#include "Log.h"
#include "SeamFd.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <linux/videodev2.h>

namespace lagwell {
namespace {

using Io = UvcDiscovery;

std::string fixedText(const uint8_t* field, size_t size)
{
    const auto* chars = reinterpret_cast<const char*>(field);
    return std::string(chars, strnlen(chars, size));
}

// "/dev/video*" in byte-wise order. False with errno set when /dev cannot be read.
bool listNodes(V4l2Io& io, std::vector<std::string>* paths)
{
    std::vector<std::string> names;
    if (!io.listDirectory("/dev", &names))
        return false;
    for (const std::string& name : names) {
        if (name.rfind("video", 0) == 0)
            paths->push_back("/dev/" + name);
    }
    std::sort(paths->begin(), paths->end());
    return true;
}

uint32_t usableCaps(const v4l2_capability& caps)
{
    return (caps.capabilities & V4L2_CAP_DEVICE_CAPS) ? caps.device_caps : caps.capabilities;
}

bool isStreamingCapture(const v4l2_capability& caps)
{
    const uint32_t usable = usableCaps(caps);
    return (usable & V4L2_CAP_VIDEO_CAPTURE) && (usable & V4L2_CAP_STREAMING);
}

std::vector<CameraFormat> enumerateFormats(V4l2Io& io, int fd)
{
    std::vector<CameraFormat> formats;
    for (uint32_t formatIndex = 0;; ++formatIndex) {
        v4l2_fmtdesc desc {};
        desc.index = formatIndex;
        desc.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        if (Io::xioctl(io, fd, VIDIOC_ENUM_FMT, &desc) < 0)
            break;
        for (uint32_t sizeIndex = 0;; ++sizeIndex) {
            v4l2_frmsizeenum size {};
            size.index = sizeIndex;
            size.pixel_format = desc.pixelformat;
            if (Io::xioctl(io, fd, VIDIOC_ENUM_FRAMESIZES, &size) < 0 || size.type != V4L2_FRMSIZE_TYPE_DISCRETE)
                break;
            CameraFormat format;
            format.fourcc = desc.pixelformat;
            format.width = static_cast<int32_t>(size.discrete.width);
            format.height = static_cast<int32_t>(size.discrete.height);
            for (uint32_t intervalIndex = 0;; ++intervalIndex) {
                v4l2_frmivalenum interval {};
                interval.index = intervalIndex;
                interval.pixel_format = desc.pixelformat;
                interval.width = size.discrete.width;
                interval.height = size.discrete.height;
                if (Io::xioctl(io, fd, VIDIOC_ENUM_FRAMEINTERVALS, &interval) < 0 ||
                    interval.type != V4L2_FRMIVAL_TYPE_DISCRETE)
                    break;
                if (interval.discrete.numerator == 0)
                    continue;
                const uint32_t rate = interval.discrete.denominator / interval.discrete.numerator;
                if (rate >= 1)
                    format.frameRates.push_back(static_cast<int32_t>(rate));
            }
            formats.push_back(std::move(format));
        }
    }
    return formats;
}

// Splits "bus#n" (n >= 2) into its bus-info and ordinal.
bool splitOrdinal(const std::string& id, std::string* busInfo, int* ordinal)
{
    const size_t hash = id.rfind('#');
    if (hash == std::string::npos || hash == 0 || hash + 1 >= id.size() || id.size() - hash > 4)
        return false;
    int value = 0;
    for (size_t i = hash + 1; i < id.size(); ++i) {
        if (id[i] < '0' || id[i] > '9')
            return false;
        value = value * 10 + (id[i] - '0');
    }
    if (value < 2)
        return false;
    *busInfo = id.substr(0, hash);
    *ordinal = value;
    return true;
}

// The `ordinal`-th streaming capture node (1 = first) whose bus-info is
// `busInfo`; empty when there is none. `id` is the text used in log lines.
std::string findCaptureNode(V4l2Io& io, const std::vector<std::string>& nodes, const std::string& busInfo,
                            int ordinal, const std::string& id)
{
    int seen = 0;
    for (const std::string& path : nodes) {
        SeamFd fd(io, io.open(path.c_str(), O_RDWR | O_NONBLOCK));
        if (fd.get() < 0)
            continue;
        v4l2_capability caps {};
        if (Io::xioctl(io, fd.get(), VIDIOC_QUERYCAP, &caps) < 0)
            continue;
        if (fixedText(caps.bus_info, sizeof caps.bus_info) != busInfo)
            continue;
        if (!isStreamingCapture(caps)) {
            LW_LOG_INFO("UvcCapture::resolveDevice: %s shares bus %s but is not a capture node, skipping", path.c_str(),
                        id.c_str());
            continue;
        }
        if (++seen == ordinal)
            return path;
    }
    return {};
}

}  // namespace

std::string UvcDiscovery::errorText(int errorNumber)
{
    char buffer[256];
    return ::strerror_r(errorNumber, buffer, sizeof buffer);
}

int UvcDiscovery::xioctl(V4l2Io& io, int fd, unsigned long request, void* argument)
{
    int rc;
    do {
        rc = io.ioctl(fd, request, argument);
    } while (rc < 0 && errno == EINTR);
    return rc;
}

bool UvcDiscovery::isInVideoGroup(V4l2Io& io)
{
    if (io.effectiveUserId() == 0)
        return true;
    gid_t videoGid = 0;
    if (!io.findGroup("video", &videoGid))
        return true;
    if (videoGid == io.effectiveGroupId())
        return true;
    const int count = io.supplementaryGroups(0, nullptr);
    if (count < 1)
        return false;
    std::vector<gid_t> groups(static_cast<size_t>(count));
    const int got = io.supplementaryGroups(count, groups.data());
    if (got < 0)
        return false;
    groups.resize(std::min(groups.size(), static_cast<size_t>(got)));
    return std::find(groups.begin(), groups.end(), videoGid) != groups.end();
}

std::string UvcDiscovery::fourccName(uint32_t fourcc)
{
    std::string name;
    for (int i = 0; i < 4; ++i) {
        const char c = static_cast<char>((fourcc >> (8 * i)) & 0xFF);
        if (c == '\0')
            break;
        name.push_back(c);
    }
    return name;
}

std::string UvcDiscovery::joinFourccs(const std::vector<uint32_t>& list)
{
    std::string joined;
    for (size_t i = 0; i < list.size(); ++i) {
        if (i > 0)
            joined += ", ";
        joined += fourccName(list[i]);
    }
    return joined.empty() ? "(none)" : joined;
}

std::vector<CameraInfo> UvcDiscovery::enumerate(V4l2Io& io)
{
    std::vector<std::string> nodes;
    if (!listNodes(io, &nodes)) {
        const int e = errno;
        LW_LOG_WARN("UvcCapture::enumerate: could not open /dev (%s) — no cameras will be found", errorText(e).c_str());
        return {};
    }
    LW_LOG_INFO("UvcCapture::enumerate: %zu /dev/video* node(s) found; user %s in the 'video' group", nodes.size(),
                isInVideoGroup(io) ? "IS" : "is NOT");

    std::vector<CameraInfo> cameras;
    std::vector<std::string> captureBuses;  // bus-info of every streaming capture node so far
    for (const std::string& path : nodes) {
        SeamFd fd(io, io.open(path.c_str(), O_RDWR | O_NONBLOCK));
        if (fd.get() < 0) {
            const int e = errno;
            LW_LOG_WARN("UvcCapture::enumerate: %s: open failed: %s%s", path.c_str(), errorText(e).c_str(),
                        e == EACCES ? " (permission denied — check 'video' group membership)" : "");
            continue;
        }
        v4l2_capability caps {};
        if (xioctl(io, fd.get(), VIDIOC_QUERYCAP, &caps) < 0) {
            const int e = errno;
            LW_LOG_WARN("UvcCapture::enumerate: %s: VIDIOC_QUERYCAP failed: %s", path.c_str(), errorText(e).c_str());
            continue;
        }
        const std::string card = fixedText(caps.card, sizeof caps.card);
        if (!isStreamingCapture(caps)) {
            LW_LOG_INFO("UvcCapture::enumerate: %s ('%s'): not a streaming capture node, skipping", path.c_str(),
                        card.c_str());
            continue;
        }

        CameraInfo info;
        info.path = path;
        info.name = card;
        info.busInfo = fixedText(caps.bus_info, sizeof caps.bus_info);
        if (!info.busInfo.empty()) {
            // A second capture node on the same bus gets its own id.
            const auto ordinal = 1 + std::count(captureBuses.begin(), captureBuses.end(), info.busInfo);
            captureBuses.push_back(info.busInfo);
            if (ordinal > 1)
                info.busInfo += "#" + std::to_string(ordinal);
        }
        info.formats = enumerateFormats(io, fd.get());
        io.close(fd.release());

        if (info.formats.empty()) {
            LW_LOG_INFO("UvcCapture::enumerate: %s ('%s'): capture node but zero formats enumerated", path.c_str(),
                        card.c_str());
            continue;
        }
        std::vector<uint32_t> distinct;
        for (const CameraFormat& format : info.formats) {
            if (std::find(distinct.begin(), distinct.end(), format.fourcc) == distinct.end())
                distinct.push_back(format.fourcc);
        }
        const bool hasMjpeg = std::find(distinct.begin(), distinct.end(), kFourccMjpeg) != distinct.end();
        LW_LOG_INFO("UvcCapture::enumerate: %s ('%s', %s): %zu format(s): %s%s", path.c_str(), card.c_str(),
                    info.busInfo.c_str(), info.formats.size(), joinFourccs(distinct).c_str(),
                    hasMjpeg ? ""
                             : " — NO MJPEG: this app currently only starts a session in MJPEG or H.264, so this "
                               "camera will fail to start");
        cameras.push_back(std::move(info));
    }
    if (cameras.empty())
        LW_LOG_WARN("UvcCapture::enumerate: no usable camera found among %zu /dev/video* node(s)", nodes.size());
    return cameras;
}

std::string UvcDiscovery::resolveDevice(V4l2Io& io, const std::string& id)
{
    if (id.rfind("/dev/", 0) == 0)
        return id;
    std::vector<std::string> nodes;
    if (!listNodes(io, &nodes))
        return id;
    std::string path = findCaptureNode(io, nodes, id, 1, id);
    std::string busInfo;
    int ordinal = 0;
    if (path.empty() && splitOrdinal(id, &busInfo, &ordinal))
        path = findCaptureNode(io, nodes, busInfo, ordinal, id);
    if (path.empty()) {
        LW_LOG_WARN("UvcCapture::resolveDevice: no capture node found for %s", id.c_str());
        return id;
    }
    LW_LOG_INFO("UvcCapture::resolveDevice: %s -> %s", id.c_str(), path.c_str());
    return path;
}

}  // namespace lagwell

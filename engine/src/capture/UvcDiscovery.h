#pragma once

// Looking at the V4L2 nodes without streaming: the listing behind
// UvcCapture::enumerate and UvcCapture::resolveDevice, and the small text and
// group helpers the capture code shares. Stateless; every call goes through
// the given seam.

#include "EngineTypes.h"
#include "V4l2Io.h"

#include <cstdint>
#include <string>
#include <vector>

namespace lagwell {

class UvcDiscovery {
public:
    static std::vector<CameraInfo> enumerate(V4l2Io& io);
    static std::string resolveDevice(V4l2Io& io, const std::string& id);

    // Member of the "video" group (or no such group exists), or root, who
    // opens the device nodes without it.
    static bool isInVideoGroup(V4l2Io& io);
    // The four bytes, lowest first, up to the first zero byte.
    static std::string fourccName(uint32_t fourcc);
    // Names separated by ", "; "(none)" when that is empty.
    static std::string joinFourccs(const std::vector<uint32_t>& list);

    // ioctl repeated while it fails with EINTR.
    static int xioctl(V4l2Io& io, int fd, unsigned long request, void* argument);
    static std::string errorText(int errorNumber);
};

}  // namespace lagwell

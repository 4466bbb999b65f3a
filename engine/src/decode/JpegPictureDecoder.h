#pragma once

#include "CHandles.h"
#include "DecodedFrame.h"
#include "LogRepeatLimiter.h"
#include "PicturePool.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace lagwell {

// Decodes whole JPEG images with TurboJPEG into I420 pictures of a
// PicturePool: 4:2:0 and greyscale straight into the picture's planes, other
// subsamplings through planes at their own chroma size, box-averaged down to
// 4:2:0. Bad data is logged (about a line a second per kind) and yields no
// picture. The decompressor is made on first use. One thread only.
class JpegPictureDecoder {
public:
    // Asked with a JPEG's size before anything is decoded; false refuses it.
    using SizeCheck = std::function<bool(int64_t width, int64_t height)>;

    // Decodes `jpeg` into the picture `pictures` prepares; true when that
    // picture holds it and can be taken.
    bool decode(const std::vector<uint8_t>& jpeg, PicturePool& pictures, const SizeCheck& sizeAllowed);

    // Frees the decompressor and the scratch planes.
    void release();

private:
    TjHandlePtr m_jpeg;
    bool m_jpegWarningLogged = false;
    std::vector<uint8_t> m_nativeY;  // luma padded to whole MCUs (sizes that are not multiples)
    std::vector<uint8_t> m_nativeU;  // chroma at the JPEG's own size (not 4:2:0 sources)
    std::vector<uint8_t> m_nativeV;
    LogRepeatLimiter m_headerWarnings;
    LogRepeatLimiter m_jpegDecodeWarnings;
};

}  // namespace lagwell

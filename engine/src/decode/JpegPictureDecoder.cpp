#include "JpegPictureDecoder.h"

#include "Log.h"

#include <algorithm>
#include <cstring>

namespace lagwell {
namespace {

// Box-averages one chroma plane of a JPEG's own subsampling down to the
// 4:2:0 plane of dstWidth x dstHeight. A source sample covers stepX x stepY
// luma pixels, a destination sample 2 x 2; every destination sample averages
// the source samples that overlap its block (at least one, so coarser
// sources such as 4:1:1 are repeated) and the last row and column are
// clipped to the plane. Both planes are packed. Remainders are discarded.
void downsampleChromaPlane(const uint8_t* src, int srcWidth, int srcHeight, int stepX, int stepY, uint8_t* dst,
                           int dstWidth, int dstHeight)
{
    if (dstWidth <= 0 || dstHeight <= 0 || srcWidth <= 0 || srcHeight <= 0)
        return;
    stepX = std::max(stepX, 1);
    stepY = std::max(stepY, 1);
    for (int y = 0; y < dstHeight; ++y) {
        const int row0 = std::min(2 * y / stepY, srcHeight - 1);
        const int row1 = std::min((2 * y + 1) / stepY, srcHeight - 1);
        uint8_t* out = dst + static_cast<size_t>(y) * dstWidth;
        for (int x = 0; x < dstWidth; ++x) {
            const int col0 = std::min(2 * x / stepX, srcWidth - 1);
            const int col1 = std::min((2 * x + 1) / stepX, srcWidth - 1);
            unsigned sum = 0;
            for (int row = row0; row <= row1; ++row) {
                const uint8_t* in = src + static_cast<size_t>(row) * srcWidth;
                for (int col = col0; col <= col1; ++col)
                    sum += in[col];
            }
            out[x] = static_cast<uint8_t>(sum / static_cast<unsigned>((row1 - row0 + 1) * (col1 - col0 + 1)));
        }
    }
}

// Copies `rows` rows of `rowBytes` from a strided source into a packed plane.
void copyRows(const uint8_t* src, int srcStride, uint8_t* dst, size_t rowBytes, int rows)
{
    for (int row = 0; row < rows; ++row)
        std::memcpy(dst + row * rowBytes, src + static_cast<ptrdiff_t>(row) * srcStride, rowBytes);
}

}  // namespace

bool JpegPictureDecoder::decode(const std::vector<uint8_t>& jpeg, PicturePool& pictures, const SizeCheck& sizeAllowed)
{
    if (!m_jpeg) {
        m_jpeg.reset(tjInitDecompress());
        if (!m_jpeg)
            return false;
    }
    void* const handle = m_jpeg.get();
    const unsigned char* data = jpeg.data();
    const unsigned long size = jpeg.size();

    int width = 0;
    int height = 0;
    int subsampling = 0;
    int colorspace = 0;
    // A header that fails part-way leaves the decompressor inside it, and
    // every later frame would fail the same way: the next frame gets a new one.
    if (tjDecompressHeader3(handle, data, size, &width, &height, &subsampling, &colorspace) != 0) {
        LW_LOG_WARN_LIMITED(m_headerWarnings, "PanelDecoder: tjDecompressHeader3 failed: %s", tjGetErrorStr2(handle));
        m_jpeg.reset();
        return false;
    }
    if (width < 1 || height < 1) {
        m_jpeg.reset();
        return false;
    }
    if (!sizeAllowed(width, height))
        return false;

    // TurboJPEG reports a picture it decoded whole but with a complaint
    // (stray bytes after the data, say) as a warning; such a picture is kept.
    const auto decodeFailed = [&](int rc) {
        if (rc == 0)
            return false;
        if (tjGetErrorCode(handle) == TJERR_WARNING) {
            if (!m_jpegWarningLogged) {
                m_jpegWarningLogged = true;
                LW_LOG_WARN("PanelDecoder: JPEG decoded with a warning, picture kept: %s", tjGetErrorStr2(handle));
            }
            return false;
        }
        return true;
    };

    if (subsampling < 0 || subsampling >= TJ_NUMSAMP)
        return false;
    // TurboJPEG writes whole MCUs: a luma plane that is not a multiple of
    // them is decoded into a padded buffer and then cropped.
    const int lumaPlaneWidth = tjPlaneWidth(0, width, subsampling);
    const int lumaPlaneHeight = tjPlaneHeight(0, height, subsampling);
    if (lumaPlaneWidth < 1 || lumaPlaneHeight < 1)
        return false;
    const bool paddedLuma = lumaPlaneWidth != width || lumaPlaneHeight != height;
    if (paddedLuma)
        m_nativeY.resize(static_cast<size_t>(lumaPlaneWidth) * static_cast<size_t>(lumaPlaneHeight));

    DecodedFrame& picture = pictures.prepare(DecodedFrame::Layout::I420, width, height);
    auto& planes = picture.planes;
    unsigned char* const lumaOut = paddedLuma ? m_nativeY.data() : planes[0].data();
    const int lumaStride = paddedLuma ? lumaPlaneWidth : width;
    if (subsampling == TJSAMP_420 || subsampling == TJSAMP_GRAY) {
        // 4:2:0 chroma planes are exactly the picture's, padded or not.
        unsigned char* out[3] = {lumaOut, planes[1].data(), planes[2].data()};
        int strides[3] = {lumaStride, picture.strides[1], picture.strides[2]};
        if (decodeFailed(tjDecompressToYUVPlanes(handle, data, size, out, width, strides, height, 0))) {
            LW_LOG_WARN_LIMITED(m_jpegDecodeWarnings, "PanelDecoder: tjDecompressToYUVPlanes failed: %s",
                                tjGetErrorStr2(handle));
            m_jpeg.reset();
            return false;
        }
        if (subsampling == TJSAMP_GRAY) {
            std::fill(planes[1].begin(), planes[1].end(), uint8_t {128});
            std::fill(planes[2].begin(), planes[2].end(), uint8_t {128});
        }
    } else {
        const int planeWidth = tjPlaneWidth(1, width, subsampling);
        const int planeHeight = tjPlaneHeight(1, height, subsampling);
        if (planeWidth < 1 || planeHeight < 1)
            return false;
        const size_t planeBytes = static_cast<size_t>(planeWidth) * static_cast<size_t>(planeHeight);
        m_nativeU.resize(planeBytes);
        m_nativeV.resize(planeBytes);
        unsigned char* out[3] = {lumaOut, m_nativeU.data(), m_nativeV.data()};
        int strides[3] = {lumaStride, planeWidth, planeWidth};
        if (decodeFailed(tjDecompressToYUVPlanes(handle, data, size, out, width, strides, height, 0))) {
            LW_LOG_WARN_LIMITED(m_jpegDecodeWarnings,
                                "PanelDecoder: tjDecompressToYUVPlanes (native subsamp) failed: %s",
                                tjGetErrorStr2(handle));
            m_jpeg.reset();
            return false;
        }
        const int stepX = tjMCUWidth[subsampling] / 8;
        const int stepY = tjMCUHeight[subsampling] / 8;
        const int chromaWidth = picture.strides[1];
        const int chromaHeight = (height + 1) / 2;
        downsampleChromaPlane(m_nativeU.data(), planeWidth, planeHeight, stepX, stepY, planes[1].data(),
                              chromaWidth, chromaHeight);
        downsampleChromaPlane(m_nativeV.data(), planeWidth, planeHeight, stepX, stepY, planes[2].data(),
                              chromaWidth, chromaHeight);
    }
    if (paddedLuma)
        copyRows(m_nativeY.data(), lumaPlaneWidth, planes[0].data(), static_cast<size_t>(width), height);
    return true;
}

void JpegPictureDecoder::release()
{
    m_jpeg.reset();
    m_nativeY = {};
    m_nativeU = {};
    m_nativeV = {};
}

}  // namespace lagwell

#pragma once

// Annex-B byte streams: where the NAL units of an H.264 access unit start and
// end (units separated by 00 00 01 start codes; a zero byte just before a
// start code makes it a four-byte code). Used by the V4L2 source for camera
// payloads, the transcoder and encoder for their output, and the MP4 writer
// (to turn start codes into length prefixes).

#include <cstddef>
#include <cstdint>
#include <vector>

namespace lagwell {

inline constexpr uint8_t kNalTypeSps = 7;
inline constexpr uint8_t kNalTypePps = 8;

// One NAL unit of a buffer.
struct AnnexBNal {
    size_t start = 0;  // offset of the first byte of its start code
    size_t end = 0;    // offset of the next start code, or the buffer size for the last unit
    uint8_t type = 0;  // low 5 bits of the byte after the start code; 0 when the start code ends the buffer
    uint8_t startCodeBytes = 0;  // 3 or 4
};

// Every NAL unit of `bytes`, in order. A four-byte start code 00 00 00 01 is
// recognised at its first zero, else 00 00 01 is a three-byte one. Buffers
// shorter than 3 bytes hold no unit.
std::vector<AnnexBNal> splitAnnexB(const uint8_t* bytes, size_t size);
std::vector<AnnexBNal> splitAnnexB(const std::vector<uint8_t>& bytes);


struct AnnexBScan {
    bool hasIdrSlice = false;  // a NAL unit of type 5
    // The units of type 7 (SPS) and 8 (PPS), whole with their start codes,
    // in payload order; empty when there are none.
    std::vector<uint8_t> parameterSets;
};

// Pure function over the bytes; any input is safe, including empty and
// truncated payloads.
AnnexBScan scanAnnexB(const uint8_t* data, size_t size);

}  // namespace lagwell

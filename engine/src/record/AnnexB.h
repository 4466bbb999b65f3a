#pragma once

// Annex-B byte streams: where the NAL units of an H.264 access unit start and
// end. Used by the encoder (to find the parameter sets of a keyframe) and by
// the MP4 writer (to turn start codes into length prefixes).

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

}  // namespace lagwell

#pragma once

// Walking the NAL units of an H.264 access unit in Annex-B form (units
// separated by 00 00 01 start codes, a zero byte just before a start code
// making it a four-byte code that belongs to the unit). Used by the V4L2
// source for camera payloads and by the transcoder for encoder output.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace lagwell {

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

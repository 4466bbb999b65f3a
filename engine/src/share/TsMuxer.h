#pragma once

// Live sharing: the LAN HTTP server (ShareServer), the low-latency H.264
// encoder of the composite (ShareEncoder) and the MPEG transport-stream
// packetiser below. Threads: the server's accept thread, one thread per HTTP
// connection and the share encoder's worker.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace lagwell {

// Turns H.264 access units into MPEG-2 transport-stream packets: one program,
// one video stream on PID 0x0100 (also the PCR PID), PAT and PMT in front of
// every keyframe and after more than 300 video packets without them, one PES
// per access unit with a PTS, a PCR on its first packet. Every byte is built
// here. Not thread-safe: the owner serialises calls.
class TsMuxer {
public:
    static constexpr int kPacketSize = 188;
    static constexpr uint16_t kPatPid = 0x0000;
    static constexpr uint16_t kPmtPid = 0x1000;
    static constexpr uint16_t kVideoPid = 0x0100;
    // Tables are repeated after this many video packets without them.
    static constexpr int32_t kTableIntervalPackets = 300;

    TsMuxer() = default;

    // Continuity counters back to 0 and tables due; the codec configuration
    // is kept.
    void reset();

    // The packets for one access unit (Annex-B), a whole number of 188-byte
    // packets. A non-empty `codecConfig` (SPS and PPS with start codes)
    // replaces the stored one, which is put in front of every keyframe.
    std::vector<uint8_t> packetize(const std::vector<uint8_t>& au, bool keyframe, int64_t ptsUs,
                                   const std::vector<uint8_t>& codecConfig);

    // CRC-32/MPEG-2 (poly 0x04C11DB7, init 0xFFFFFFFF, MSB first, no final xor).
    static uint32_t crc32Mpeg2(const uint8_t* data, size_t size);

    // 90 kHz clock value of a microsecond time, truncated toward zero.
    static int64_t ptsFromUs(int64_t ptsUs) { return ptsUs * 9 / 100; }

private:
    void appendPat(std::vector<uint8_t>& out);
    void appendPmt(std::vector<uint8_t>& out);
    void appendVideoPackets(std::vector<uint8_t>& out, const std::vector<uint8_t>& pes, bool keyframe,
                            int64_t pts);

    // Next continuity counters, always kept modulo 16.
    uint8_t m_videoCc = 0;
    uint8_t m_patCc = 0;
    uint8_t m_pmtCc = 0;
    std::vector<uint8_t> m_codecConfig;  // last non-empty configuration given
    // Video packets since the last tables; saturates, and starts above the
    // interval so the first access unit always gets tables.
    int32_t m_packetsSinceTables = INT32_MAX;
};

}  // namespace lagwell

#include "TsMuxer.h"

#include <array>
#include <cstring>

namespace lagwell {

namespace {

constexpr uint8_t kSyncByte = 0x47;
constexpr uint8_t kStreamTypeH264 = 0x1B;
constexpr uint8_t kPesStreamIdVideo = 0xE0;
// Bytes of the PES header after PES_packet_length: flags, flags, header length, PTS.
constexpr size_t kPesHeaderTail = 8;
// Payload room of a first video packet after its 8-byte adaptation field.
constexpr size_t kFirstPacketRoom = 176;

constexpr std::array<uint32_t, 256> makeCrcTable()
{
    std::array<uint32_t, 256> table {};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t crc = i << 24;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
        table[i] = crc;
    }
    return table;
}
constexpr std::array<uint32_t, 256> kCrcTable = makeCrcTable();

uint8_t nextCc(uint8_t& cc)
{
    const uint8_t value = cc & 0x0F;
    cc = static_cast<uint8_t>((cc + 1) & 0x0F);
    return value;
}

// One table section in a payload-only packet, pointer_field 0, CRC appended,
// filled out with 0xFF.
void appendSectionPacket(std::vector<uint8_t>& out, uint16_t pid, uint8_t cc, const uint8_t* section,
                         size_t sectionSize)
{
    std::array<uint8_t, TsMuxer::kPacketSize> packet;
    packet.fill(0xFF);
    packet[0] = kSyncByte;
    packet[1] = static_cast<uint8_t>(0x40 | ((pid >> 8) & 0x1F));
    packet[2] = static_cast<uint8_t>(pid & 0xFF);
    packet[3] = static_cast<uint8_t>(0x10 | cc);
    packet[4] = 0x00;
    std::memcpy(&packet[5], section, sectionSize);
    const uint32_t crc = TsMuxer::crc32Mpeg2(section, sectionSize);
    packet[5 + sectionSize] = static_cast<uint8_t>(crc >> 24);
    packet[6 + sectionSize] = static_cast<uint8_t>(crc >> 16);
    packet[7 + sectionSize] = static_cast<uint8_t>(crc >> 8);
    packet[8 + sectionSize] = static_cast<uint8_t>(crc);
    out.insert(out.end(), packet.begin(), packet.end());
}

std::vector<uint8_t> buildPes(const std::vector<uint8_t>& prefix, const std::vector<uint8_t>& au, int64_t pts)
{
    const size_t payloadSize = prefix.size() + au.size();
    std::vector<uint8_t> pes;
    pes.reserve(6 + kPesHeaderTail + payloadSize);
    const size_t length = payloadSize + kPesHeaderTail;
    const uint16_t lengthField = length <= 65535 ? static_cast<uint16_t>(length) : 0;
    const uint8_t header[] = {
        0x00, 0x00, 0x01, kPesStreamIdVideo,
        static_cast<uint8_t>(lengthField >> 8), static_cast<uint8_t>(lengthField & 0xFF),
        0x80,  // marker bits '10', no scrambling, priority, alignment, copyright or original flags
        0x80,  // PTS only
        0x05,  // PES_header_data_length
        static_cast<uint8_t>(0x21 | ((pts >> 29) & 0x0E)),
        static_cast<uint8_t>((pts >> 22) & 0xFF),
        static_cast<uint8_t>(((pts >> 14) & 0xFE) | 1),
        static_cast<uint8_t>((pts >> 7) & 0xFF),
        static_cast<uint8_t>(((pts << 1) & 0xFE) | 1),
    };
    pes.insert(pes.end(), std::begin(header), std::end(header));
    pes.insert(pes.end(), prefix.begin(), prefix.end());
    pes.insert(pes.end(), au.begin(), au.end());
    return pes;
}

}  // namespace

uint32_t TsMuxer::crc32Mpeg2(const uint8_t* data, size_t size)
{
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i)
        crc = (crc << 8) ^ kCrcTable[((crc >> 24) ^ data[i]) & 0xFF];
    return crc;
}

void TsMuxer::reset()
{
    m_videoCc = 0;
    m_patCc = 0;
    m_pmtCc = 0;
    m_packetsSinceTables = INT32_MAX;
}

void TsMuxer::appendPat(std::vector<uint8_t>& out)
{
    static constexpr uint8_t kSection[] = {
        0x00,              // table_id: program_association_section
        0xB0, 0x0D,        // section_syntax_indicator 1, section_length 13
        0x00, 0x01,        // transport_stream_id 1
        0xC1,              // version 0, current_next_indicator 1
        0x00, 0x00,        // section 0 of 0
        0x00, 0x01,        // program_number 1
        static_cast<uint8_t>(0xE0 | (kPmtPid >> 8)), static_cast<uint8_t>(kPmtPid & 0xFF),  // PMT PID
    };
    appendSectionPacket(out, kPatPid, nextCc(m_patCc), kSection, sizeof(kSection));
}

void TsMuxer::appendPmt(std::vector<uint8_t>& out)
{
    static constexpr uint8_t kSection[] = {
        0x02,              // table_id: TS_program_map_section
        0xB0, 0x12,        // section_syntax_indicator 1, section_length 18
        0x00, 0x01,        // program_number 1
        0xC1,              // version 0, current_next_indicator 1
        0x00, 0x00,        // section 0 of 0
        static_cast<uint8_t>(0xE0 | (kVideoPid >> 8)), static_cast<uint8_t>(kVideoPid & 0xFF),  // PCR_PID
        0xF0, 0x00,        // program_info_length 0
        kStreamTypeH264,
        static_cast<uint8_t>(0xE0 | (kVideoPid >> 8)), static_cast<uint8_t>(kVideoPid & 0xFF),  // elementary_PID
        0xF0, 0x00,        // ES_info_length 0
    };
    appendSectionPacket(out, kPmtPid, nextCc(m_pmtCc), kSection, sizeof(kSection));
}

void TsMuxer::appendVideoPackets(std::vector<uint8_t>& out, const std::vector<uint8_t>& pes, bool keyframe,
                                 int64_t pts)
{
    std::array<uint8_t, kPacketSize> packet;
    const uint8_t pidHigh = static_cast<uint8_t>((kVideoPid >> 8) & 0x1F);
    const uint8_t pidLow = static_cast<uint8_t>(kVideoPid & 0xFF);
    size_t offset = 0;
    auto countPacket = [this] {
        if (m_packetsSinceTables < INT32_MAX)
            ++m_packetsSinceTables;
    };

    // First packet: adaptation field with the PCR, stuffing when the PES is short.
    {
        const size_t r = pes.size();
        packet[0] = kSyncByte;
        packet[1] = static_cast<uint8_t>(0x40 | pidHigh);
        packet[2] = pidLow;
        packet[3] = static_cast<uint8_t>(0x30 | nextCc(m_videoCc));
        packet[4] = static_cast<uint8_t>(r >= kFirstPacketRoom ? 7 : 183 - r);
        packet[5] = keyframe ? 0x50 : 0x10;
        const uint64_t base = static_cast<uint64_t>(pts) & 0x1FFFFFFFFull;
        packet[6] = static_cast<uint8_t>(base >> 25);
        packet[7] = static_cast<uint8_t>(base >> 17);
        packet[8] = static_cast<uint8_t>(base >> 9);
        packet[9] = static_cast<uint8_t>(base >> 1);
        packet[10] = static_cast<uint8_t>(((base & 1) << 7) | 0x7E);
        packet[11] = 0x00;
        size_t at = 12;
        if (r < kFirstPacketRoom) {
            std::memset(&packet[at], 0xFF, kFirstPacketRoom - r);
            at += kFirstPacketRoom - r;
        }
        const size_t take = kPacketSize - at;
        std::memcpy(&packet[at], pes.data(), take);
        offset = take;
        out.insert(out.end(), packet.begin(), packet.end());
        countPacket();
    }

    while (offset < pes.size()) {
        const size_t r = pes.size() - offset;
        packet[0] = kSyncByte;
        packet[1] = pidHigh;
        packet[2] = pidLow;
        size_t at = 4;
        if (r > 183) {
            packet[3] = static_cast<uint8_t>(0x10 | nextCc(m_videoCc));
        } else if (r == 183) {
            packet[3] = static_cast<uint8_t>(0x30 | nextCc(m_videoCc));
            packet[4] = 0x00;
            at = 5;
        } else {
            packet[3] = static_cast<uint8_t>(0x30 | nextCc(m_videoCc));
            packet[4] = static_cast<uint8_t>(183 - r);
            packet[5] = 0x00;
            at = 6;
            std::memset(&packet[at], 0xFF, 182 - r);
            at += 182 - r;
        }
        const size_t take = kPacketSize - at;
        std::memcpy(&packet[at], pes.data() + offset, take);
        offset += take;
        out.insert(out.end(), packet.begin(), packet.end());
        countPacket();
    }
}

std::vector<uint8_t> TsMuxer::packetize(const std::vector<uint8_t>& au, bool keyframe, int64_t ptsUs,
                                        const std::vector<uint8_t>& codecConfig)
{
    if (!codecConfig.empty())
        m_codecConfig = codecConfig;

    std::vector<uint8_t> out;
    out.reserve(au.size() + m_codecConfig.size() + 2048);

    static const std::vector<uint8_t> kNoPrefix;
    const std::vector<uint8_t>* prefix = &kNoPrefix;
    if (keyframe || m_packetsSinceTables > kTableIntervalPackets) {
        appendPat(out);
        appendPmt(out);
        m_packetsSinceTables = 0;
        if (keyframe)
            prefix = &m_codecConfig;
    }

    const int64_t pts = ptsFromUs(ptsUs);
    appendVideoPackets(out, buildPes(*prefix, au, pts), keyframe, pts);
    return out;
}

}  // namespace lagwell

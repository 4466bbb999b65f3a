#include "TsMuxer.h"

#include "CHandles.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

extern "C" {
#include <libavutil/opt.h>
}

using lagwell::TsMuxer;

namespace {

using Bytes = std::vector<uint8_t>;

// Bit by bit, independent of the muxer's table.
uint32_t referenceCrc(const uint8_t* data, size_t size)
{
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i) {
        for (int bit = 7; bit >= 0; --bit) {
            const bool in = ((data[i] >> bit) & 1) != 0;
            const bool top = (crc & 0x80000000u) != 0;
            crc <<= 1;
            if (in != top)
                crc ^= 0x04C11DB7u;
        }
    }
    return crc;
}

Bytes packetAt(const Bytes& stream, size_t index)
{
    return Bytes(stream.begin() + index * 188, stream.begin() + (index + 1) * 188);
}

int pidOf(const Bytes& packet) { return ((packet[1] & 0x1F) << 8) | packet[2]; }

// The payload bytes of one packet (after the adaptation field, if any).
Bytes payloadOf(const Bytes& packet)
{
    size_t at = 4;
    if (packet[3] & 0x20)
        at += 1 + packet[4];
    if (!(packet[3] & 0x10) || at > 188)
        return {};
    return Bytes(packet.begin() + at, packet.end());
}

// The PES of the first video packet onwards, reassembled.
Bytes videoPes(const Bytes& stream)
{
    Bytes pes;
    for (size_t i = 0; i < stream.size() / 188; ++i) {
        const Bytes packet = packetAt(stream, i);
        if (pidOf(packet) == TsMuxer::kVideoPid) {
            const Bytes payload = payloadOf(packet);
            pes.insert(pes.end(), payload.begin(), payload.end());
        }
    }
    return pes;
}

Bytes hex(const std::string& text)
{
    Bytes out;
    std::istringstream in(text);
    std::string byte;
    while (in >> byte)
        out.push_back(static_cast<uint8_t>(std::stoul(byte, nullptr, 16)));
    return out;
}

Bytes filledAu(size_t size)
{
    Bytes au(size);
    for (size_t i = 0; i < size; ++i)
        au[i] = static_cast<uint8_t>(i * 7 + 3);
    return au;
}

TEST(TsMuxerTest, patMatchesTheStandardLayoutAndItsCrc)
{
    const Bytes section = hex("00 B0 0D 00 01 C1 00 00 00 01 F0 00");
    ASSERT_EQ(referenceCrc(section.data(), section.size()), 0x2AB104B2u);

    TsMuxer muxer;
    const Bytes stream = muxer.packetize(filledAu(10), true, 0, {});
    ASSERT_EQ(stream.size() % 188, 0u);
    Bytes expected = hex("47 40 00 10 00");
    expected.insert(expected.end(), section.begin(), section.end());
    const Bytes crc = hex("2A B1 04 B2");
    expected.insert(expected.end(), crc.begin(), crc.end());
    expected.resize(188, 0xFF);
    EXPECT_EQ(packetAt(stream, 0), expected);
    EXPECT_EQ(TsMuxer::crc32Mpeg2(section.data(), section.size()), 0x2AB104B2u);
}

TEST(TsMuxerTest, pmtMatchesTheStandardLayoutAndItsCrc)
{
    const Bytes section = hex("02 B0 12 00 01 C1 00 00 E1 00 F0 00 1B E1 00 F0 00");
    ASSERT_EQ(referenceCrc(section.data(), section.size()), 0x15BD4D56u);

    TsMuxer muxer;
    const Bytes stream = muxer.packetize(filledAu(10), false, 0, {});
    Bytes expected = hex("47 50 00 10 00");
    expected.insert(expected.end(), section.begin(), section.end());
    const Bytes crc = hex("15 BD 4D 56");
    expected.insert(expected.end(), crc.begin(), crc.end());
    expected.resize(188, 0xFF);
    EXPECT_EQ(packetAt(stream, 1), expected);
}

TEST(TsMuxerTest, crcAgreesWithBitwiseReferenceOnArbitraryData)
{
    const Bytes data = filledAu(1000);
    for (size_t size : {0u, 1u, 5u, 183u, 1000u}) {
        EXPECT_EQ(TsMuxer::crc32Mpeg2(data.data(), size), referenceCrc(data.data(), size)) << size;
    }
}

struct TimingCase {
    int64_t ptsUs;
    int64_t pts90k;
    std::string ptsBytes;
    std::string pcrBytes;  // empty: checked by decoding only
};

TEST(TsMuxerTest, ptsAndPcrCarryTheNinetyKilohertzTime)
{
    const std::vector<TimingCase> cases = {
        {0, 0, "21 00 01 00 01", "00 00 00 00 7E 00"},
        {1000000, 90000, "21 00 05 BF 21", "00 00 AF C8 7E 00"},
        {33333, 2999, "21 00 01 17 6F", ""},
        {3600LL * 1000000 * 26, 3600LL * 90000 * 26, "", ""},  // beyond 32 bits of the 90 kHz clock
    };
    for (const TimingCase& c : cases) {
        SCOPED_TRACE(c.ptsUs);
        TsMuxer muxer;
        const Bytes stream = muxer.packetize(filledAu(20), false, c.ptsUs, {});
        const Bytes video = packetAt(stream, 2);
        ASSERT_EQ(pidOf(video), TsMuxer::kVideoPid);
        ASSERT_EQ(video[5], 0x10);  // PCR flag only
        const Bytes pcr(video.begin() + 6, video.begin() + 12);
        if (!c.pcrBytes.empty()) {
            EXPECT_EQ(pcr, hex(c.pcrBytes));
        }
        const int64_t pcrBase = (int64_t(pcr[0]) << 25) | (int64_t(pcr[1]) << 17) | (int64_t(pcr[2]) << 9)
            | (int64_t(pcr[3]) << 1) | (pcr[4] >> 7);
        EXPECT_EQ(pcrBase, c.pts90k);

        const Bytes pes = videoPes(stream);
        ASSERT_GE(pes.size(), 14u);
        const Bytes pts(pes.begin() + 9, pes.begin() + 14);
        if (!c.ptsBytes.empty()) {
            EXPECT_EQ(pts, hex(c.ptsBytes));
        }
        const int64_t decoded = (int64_t(pts[0] & 0x0E) << 29) | (int64_t(pts[1]) << 22)
            | (int64_t(pts[2] & 0xFE) << 14) | (int64_t(pts[3]) << 7) | (pts[4] >> 1);
        EXPECT_EQ(decoded, c.pts90k);
    }
}

struct LayoutCase {
    const char* name;
    size_t auSize;  // PES = 14 + auSize for a non-keyframe
    size_t videoPackets;
    int firstAdaptationLength;
    int lastAdaptationLength;  // -1: the last packet has no adaptation field
};

TEST(TsMuxerTest, pesIsCutIntoPacketsWithExactStuffing)
{
    const std::vector<LayoutCase> cases = {
        {"pes176 fits the first packet", 162, 1, 7, 7},
        {"pes175 one stuffing byte", 161, 1, 8, 8},
        {"empty access unit: header-only pes", 0, 1, 169, 169},
        {"remainder183 empty adaptation field", 345, 2, 7, 0},
        {"remainder182 flags byte only", 344, 2, 7, 1},
        {"remainder184 payload-only last packet", 346, 2, 7, -1},
        {"three packets", 356, 3, 7, 173},
    };
    for (const LayoutCase& c : cases) {
        SCOPED_TRACE(c.name);
        TsMuxer muxer;
        muxer.packetize(filledAu(10), true, 0, {});  // tables out of the way
        const Bytes au = filledAu(c.auSize);
        const Bytes stream = muxer.packetize(au, false, 1000, {});
        ASSERT_EQ(stream.size(), c.videoPackets * 188);
        const Bytes first = packetAt(stream, 0);
        EXPECT_EQ(first[1], 0x41);
        EXPECT_EQ(first[3] & 0x30, 0x30);
        EXPECT_EQ(first[4], c.firstAdaptationLength);
        for (int i = 12; i < 5 + c.firstAdaptationLength; ++i) {
            EXPECT_EQ(first[i], 0xFF) << i;
        }
        const Bytes last = packetAt(stream, c.videoPackets - 1);
        if (c.videoPackets > 1) {
            EXPECT_EQ(last[1], 0x01);
            if (c.lastAdaptationLength < 0) {
                EXPECT_EQ(last[3] & 0x30, 0x10);
            } else {
                EXPECT_EQ(last[3] & 0x30, 0x30);
                EXPECT_EQ(last[4], c.lastAdaptationLength);
                if (c.lastAdaptationLength > 0) {
                    EXPECT_EQ(last[5], 0x00);
                }
            }
        }
        Bytes expectedPes = hex("00 00 01 E0");
        const size_t length = au.size() + 8;
        expectedPes.push_back(static_cast<uint8_t>(length >> 8));
        expectedPes.push_back(static_cast<uint8_t>(length & 0xFF));
        const Bytes flags = hex("80 80 05 21 00 01 00 B5");  // pts 90 for 1000 us
        expectedPes.insert(expectedPes.end(), flags.begin(), flags.end());
        expectedPes.insert(expectedPes.end(), au.begin(), au.end());
        EXPECT_EQ(videoPes(stream), expectedPes);
    }
}

TEST(TsMuxerTest, pesLengthIsZeroWhenItWouldNotFitSixteenBits)
{
    const std::vector<std::pair<size_t, int>> cases = {{65527, 65535}, {65528, 0}, {200000, 0}};
    for (const auto& [auSize, field] : cases) {
        TsMuxer muxer;
        const Bytes pes = videoPes(muxer.packetize(filledAu(auSize), false, 0, {}));
        ASSERT_EQ(pes.size(), auSize + 14);
        EXPECT_EQ((pes[4] << 8) | pes[5], field) << auSize;
    }
}

TEST(TsMuxerTest, continuityCountersWrapModuloSixteenPerPid)
{
    TsMuxer muxer;
    std::map<int, std::vector<int>> counters;
    auto collect = [&counters](const Bytes& stream) {
        for (size_t i = 0; i < stream.size() / 188; ++i) {
            const Bytes packet = packetAt(stream, i);
            counters[pidOf(packet)].push_back(packet[3] & 0x0F);
        }
    };
    for (int i = 0; i < 40; ++i)
        collect(muxer.packetize(filledAu(100), false, i * 33333, {}));
    collect(muxer.packetize(filledAu(100), true, 40 * 33333, {}));

    ASSERT_EQ(counters[TsMuxer::kVideoPid].size(), 41u);
    for (size_t i = 0; i < counters[TsMuxer::kVideoPid].size(); ++i) {
        EXPECT_EQ(counters[TsMuxer::kVideoPid][i], static_cast<int>(i % 16));
    }
    EXPECT_EQ(counters[TsMuxer::kPatPid], (std::vector<int> {0, 1}));
    EXPECT_EQ(counters[TsMuxer::kPmtPid], (std::vector<int> {0, 1}));

    // Many tables later the table counters still wrap cleanly.
    for (int i = 0; i < 40; ++i)
        collect(muxer.packetize(filledAu(100), true, 0, {}));
    const auto& pat = counters[TsMuxer::kPatPid];
    for (size_t i = 0; i < pat.size(); ++i) {
        EXPECT_EQ(pat[i], static_cast<int>(i % 16));
    }
}

TEST(TsMuxerTest, tablesReturnAfterThreeHundredPacketsWithoutCodecConfig)
{
    TsMuxer muxer;
    const Bytes config = hex("00 00 00 01 67 42 00 1E 00 00 00 01 68 CE 38 80");
    // 200 bytes of AU: two video packets per access unit.
    std::vector<size_t> tableCalls;
    for (size_t call = 0; call < 400; ++call) {
        const Bytes stream = muxer.packetize(filledAu(200), call == 0, 0, config);
        if (pidOf(packetAt(stream, 0)) == TsMuxer::kPatPid) {
            tableCalls.push_back(call);
            if (call > 0) {
                const Bytes pes = videoPes(stream);
                EXPECT_EQ(Bytes(pes.begin() + 14, pes.begin() + 24), Bytes(filledAu(10)));
            }
        }
    }
    // Call 0 has tables; 300 packets later (after call 150) the count is
    // 302 > 300, so call 151 gets them, then 302, ...
    EXPECT_EQ(tableCalls, (std::vector<size_t> {0, 151, 302}));
}

TEST(TsMuxerTest, keyframeGetsStoredConfigAndResetKeepsIt)
{
    const Bytes config = hex("00 00 00 01 67 42 00 1E 00 00 00 01 68 CE 38 80");
    const Bytes au = filledAu(50);
    TsMuxer muxer;
    muxer.packetize(au, true, 0, config);
    muxer.reset();
    const Bytes stream = muxer.packetize(au, true, 0, {});
    EXPECT_EQ(packetAt(stream, 0)[3], 0x10);  // counters back to 0
    EXPECT_EQ(packetAt(stream, 2)[3], 0x30);
    EXPECT_EQ(packetAt(stream, 2)[5], 0x50);  // random access + PCR
    Bytes expected = config;
    expected.insert(expected.end(), au.begin(), au.end());
    const Bytes pes = videoPes(stream);
    EXPECT_EQ(Bytes(pes.begin() + 14, pes.end()), expected);

    // First access unit after construction: tables even for a non-keyframe.
    TsMuxer fresh;
    const Bytes nonKey = fresh.packetize(au, false, 0, {});
    EXPECT_EQ(pidOf(packetAt(nonKey, 0)), TsMuxer::kPatPid);
    EXPECT_EQ(pidOf(packetAt(nonKey, 1)), TsMuxer::kPmtPid);
}

// ---- Round trip of a real H.264 stream through libavformat and ffprobe ----

struct EncodedAu {
    Bytes data;
    bool keyframe = false;
    int64_t ptsUs = 0;
};

// SPS and PPS (with start codes) of an Annex-B access unit.
Bytes parameterSets(const Bytes& au)
{
    std::vector<std::pair<size_t, size_t>> units;  // start of start code, start of NAL
    for (size_t i = 0; i + 3 <= au.size(); ++i) {
        if (au[i] == 0 && au[i + 1] == 0 && au[i + 2] == 1) {
            const size_t codeStart = (i > 0 && au[i - 1] == 0) ? i - 1 : i;
            units.emplace_back(codeStart, i + 3);
            i += 2;
        }
    }
    Bytes out;
    for (size_t u = 0; u < units.size(); ++u) {
        const size_t end = u + 1 < units.size() ? units[u + 1].first : au.size();
        const int type = au[units[u].second] & 0x1F;
        if (type == 7 || type == 8)
            out.insert(out.end(), au.begin() + units[u].first, au.begin() + end);
    }
    return out;
}

std::vector<EncodedAu> encodeTestClip(int width, int height, int frames)
{
    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    if (!codec)
        return {};
    lagwell::AvCodecContextPtr context(avcodec_alloc_context3(codec));
    context->width = width;
    context->height = height;
    context->time_base = {1, 1000000};
    context->framerate = {30, 1};
    context->pix_fmt = AV_PIX_FMT_YUV420P;
    context->gop_size = 30;
    context->max_b_frames = 0;
    av_opt_set(context->priv_data, "preset", "veryfast", 0);
    av_opt_set(context->priv_data, "tune", "zerolatency", 0);
    if (avcodec_open2(context.get(), codec, nullptr) < 0)
        return {};
    lagwell::AvFramePtr frame(av_frame_alloc());
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = width;
    frame->height = height;
    av_frame_get_buffer(frame.get(), 32);
    lagwell::AvPacketPtr packet(av_packet_alloc());
    std::vector<EncodedAu> out;
    auto drain = [&] {
        while (avcodec_receive_packet(context.get(), packet.get()) == 0) {
            out.push_back({Bytes(packet->data, packet->data + packet->size),
                           (packet->flags & AV_PKT_FLAG_KEY) != 0, packet->pts});
            av_packet_unref(packet.get());
        }
    };
    for (int i = 0; i < frames; ++i) {
        av_frame_make_writable(frame.get());
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                frame->data[0][y * frame->linesize[0] + x] = static_cast<uint8_t>(x + y + i * 4);
        for (int plane = 1; plane < 3; ++plane)
            for (int y = 0; y < height / 2; ++y)
                for (int x = 0; x < width / 2; ++x)
                    frame->data[plane][y * frame->linesize[plane] + x] = static_cast<uint8_t>(128 + plane * i);
        frame->pts = i * 33333LL;
        avcodec_send_frame(context.get(), frame.get());
        drain();
    }
    avcodec_send_frame(context.get(), nullptr);
    drain();
    return out;
}

std::string runCommand(const std::string& command)
{
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return output;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof(buffer), pipe)) > 0)
        output.append(buffer, n);
    pclose(pipe);
    return output;
}

class TsRoundTrip : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_clip = encodeTestClip(320, 240, 60);
        ASSERT_EQ(m_clip.size(), 60u) << "libx264 must be available";
        ASSERT_TRUE(m_clip[0].keyframe);
        m_dir = std::filesystem::temp_directory_path()
            / ("tsmuxer-" + std::to_string(::getpid()) + "-"
               + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(m_dir);
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }

    // Muxes access units [from, clip end) the way the share server does and
    // writes them to a file.
    std::string writeStream(size_t from, const std::string& name)
    {
        TsMuxer muxer;
        Bytes config;
        Bytes stream;
        for (size_t i = 0; i < m_clip.size(); ++i) {
            if (config.empty() && m_clip[i].keyframe)
                config = parameterSets(m_clip[i].data);
            const Bytes packets = muxer.packetize(m_clip[i].data, m_clip[i].keyframe, m_clip[i].ptsUs, config);
            if (i >= from)
                stream.insert(stream.end(), packets.begin(), packets.end());
        }
        const std::string path = (m_dir / name).string();
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(stream.data()),
                                                    static_cast<std::streamsize>(stream.size()));
        return path;
    }

    std::vector<EncodedAu> m_clip;
    std::filesystem::path m_dir;
};

TEST_F(TsRoundTrip, libavformatReadsEveryAccessUnitWithItsPts)
{
    const std::string path = writeStream(0, "clip.ts");
    AVFormatContext* raw = nullptr;
    ASSERT_EQ(avformat_open_input(&raw, path.c_str(), nullptr, nullptr), 0);
    std::unique_ptr<AVFormatContext, void (*)(AVFormatContext*)> input(raw, [](AVFormatContext* c) {
        avformat_close_input(&c);
    });
    ASSERT_GE(avformat_find_stream_info(input.get(), nullptr), 0);
    ASSERT_EQ(input->nb_streams, 1u);
    const AVStream* stream = input->streams[0];
    EXPECT_EQ(stream->codecpar->codec_id, AV_CODEC_ID_H264);
    EXPECT_EQ(stream->codecpar->width, 320);
    EXPECT_EQ(stream->codecpar->height, 240);
    EXPECT_EQ(stream->id, TsMuxer::kVideoPid);

    const AVCodec* decoder = avcodec_find_decoder(AV_CODEC_ID_H264);
    lagwell::AvCodecContextPtr decode(avcodec_alloc_context3(decoder));
    avcodec_parameters_to_context(decode.get(), stream->codecpar);
    ASSERT_EQ(avcodec_open2(decode.get(), decoder, nullptr), 0);
    lagwell::AvPacketPtr packet(av_packet_alloc());
    lagwell::AvFramePtr frame(av_frame_alloc());
    std::vector<int64_t> pts;
    int decodedFrames = 0;
    auto receive = [&] {
        while (avcodec_receive_frame(decode.get(), frame.get()) == 0)
            ++decodedFrames;
    };
    while (av_read_frame(input.get(), packet.get()) >= 0) {
        EXPECT_FALSE(packet->flags & AV_PKT_FLAG_CORRUPT);
        const size_t index = pts.size();
        pts.push_back(packet->pts);
        if (index < m_clip.size()) {
            EXPECT_EQ((packet->flags & AV_PKT_FLAG_KEY) != 0, m_clip[index].keyframe) << index;
        }
        EXPECT_EQ(avcodec_send_packet(decode.get(), packet.get()), 0);
        receive();
        av_packet_unref(packet.get());
    }
    avcodec_send_packet(decode.get(), nullptr);
    receive();
    ASSERT_EQ(pts.size(), m_clip.size());
    for (size_t i = 0; i < pts.size(); ++i) {
        EXPECT_EQ(pts[i], static_cast<int64_t>(i) * 33333 * 9 / 100) << i;
    }
    EXPECT_EQ(decodedFrames, 60);
}

TEST_F(TsRoundTrip, everyVideoPacketIsContinuousAndEachPesStartsWithItsPcr)
{
    const std::string path = writeStream(0, "clip.ts");
    std::ifstream in(path, std::ios::binary);
    const Bytes stream((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_EQ(stream.size() % 188, 0u);
    std::map<int, int> lastCc;
    size_t pesCount = 0;
    for (size_t i = 0; i < stream.size() / 188; ++i) {
        const Bytes packet = packetAt(stream, i);
        ASSERT_EQ(packet[0], 0x47);
        const int pid = pidOf(packet);
        const int cc = packet[3] & 0x0F;
        if (lastCc.count(pid)) {
            EXPECT_EQ(cc, (lastCc[pid] + 1) % 16) << "packet " << i;
        }
        lastCc[pid] = cc;
        if (pid == TsMuxer::kVideoPid && (packet[1] & 0x40)) {
            ASSERT_TRUE(packet[3] & 0x20);
            ASSERT_TRUE(packet[5] & 0x10);
            const int64_t pcr = (int64_t(packet[6]) << 25) | (int64_t(packet[7]) << 17)
                | (int64_t(packet[8]) << 9) | (int64_t(packet[9]) << 1) | (packet[10] >> 7);
            EXPECT_EQ(pcr, m_clip[pesCount].ptsUs * 9 / 100);
            EXPECT_EQ((packet[5] & 0x40) != 0, m_clip[pesCount].keyframe);
            ++pesCount;
        }
    }
    EXPECT_EQ(pesCount, m_clip.size());
}

TEST_F(TsRoundTrip, ffprobeAndFfmpegAcceptTheStreamAndAJoinAtAKeyframe)
{
    const std::string whole = writeStream(0, "whole.ts");
    const std::string csv = runCommand("ffprobe -v error -select_streams v:0 -show_entries packet=pts,flags -of csv=p=0 '"
                                       + whole + "' 2>&1");
    std::istringstream lines(csv);
    std::string line;
    int64_t index = 0;
    while (std::getline(lines, line)) {
        if (line.empty())
            continue;
        const size_t comma = line.find(',');
        ASSERT_NE(comma, std::string::npos) << line;
        EXPECT_EQ(std::stoll(line.substr(0, comma)), index * 33333 * 9 / 100) << line;
        EXPECT_EQ(line.find('C', comma), std::string::npos) << "corrupt packet: " << line;
        ++index;
    }
    EXPECT_EQ(index, 60);
    EXPECT_EQ(runCommand("ffmpeg -nostdin -v error -i '" + whole + "' -f null - 2>&1"), "");

    // A viewer that joins at the second keyframe gets tables, parameter sets
    // and a keyframe first, and decodes every picture from there.
    ASSERT_TRUE(m_clip[30].keyframe);
    const std::string joined = writeStream(30, "joined.ts");
    EXPECT_EQ(runCommand("ffmpeg -nostdin -v error -i '" + joined + "' -f null - 2>&1"), "");
    const std::string frames = runCommand("ffprobe -v error -count_frames -select_streams v:0 -show_entries "
                                          "stream=nb_read_frames -of default=nw=1 '" + joined + "' 2>&1");
    EXPECT_NE(frames.find("nb_read_frames=30\n"), std::string::npos) << frames;
}

}  // namespace

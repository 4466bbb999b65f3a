#include "Mp4Writer.h"

#include "AnnexB.h"
#include "CHandles.h"
#include "Encoder.h"

extern "C" {
#include <libavutil/channel_layout.h>
}

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace lagwell {
namespace {

namespace fs = std::filesystem;

constexpr int kWidth = 160;
constexpr int kHeight = 120;
constexpr int kFps = 30;
constexpr int64_t kFrameUs = 33333;
constexpr int64_t kFirstPtsUs = 66666;
constexpr int kSampleRate = 48000;

// An AAC encoder set up the way the recorder does it: mono, float planar,
// 128 kbit/s, global header, time base 1/48000.
class AacSource {
public:
    AacSource()
    {
        const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_AAC);
        m_context.reset(avcodec_alloc_context3(codec));
        m_context->sample_rate = kSampleRate;
        av_channel_layout_default(&m_context->ch_layout, 1);
        m_context->sample_fmt = AV_SAMPLE_FMT_FLTP;
        m_context->bit_rate = 128000;
        m_context->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        m_context->time_base = AVRational {1, kSampleRate};
        EXPECT_EQ(avcodec_open2(m_context.get(), codec, nullptr), 0);
        m_frame.reset(av_frame_alloc());
        m_frame->format = AV_SAMPLE_FMT_FLTP;
        av_channel_layout_copy(&m_frame->ch_layout, &m_context->ch_layout);
        m_frame->nb_samples = m_context->frame_size;
        EXPECT_EQ(av_frame_get_buffer(m_frame.get(), 0), 0);
    }

    // AAC packets for `seconds` of a 440 Hz tone, continuing the sample count.
    std::vector<AvPacketPtr> encode(double seconds, bool end = false)
    {
        std::vector<AvPacketPtr> packets;
        const int frames = int(seconds * kSampleRate / m_context->frame_size);
        for (int f = 0; f < frames; ++f) {
            av_frame_make_writable(m_frame.get());
            auto* plane = reinterpret_cast<float*>(m_frame->data[0]);
            for (int i = 0; i < m_frame->nb_samples; ++i)
                plane[i] = 0.3f * std::sin(2 * M_PI * 440.0 * double(m_samples + i) / kSampleRate);
            m_frame->pts = m_samples;
            m_samples += m_frame->nb_samples;
            EXPECT_EQ(avcodec_send_frame(m_context.get(), m_frame.get()), 0);
            receive(packets);
        }
        if (end) {
            avcodec_send_frame(m_context.get(), nullptr);
            receive(packets);
        }
        return packets;
    }

    const AVCodecContext& context() const { return *m_context; }

private:
    void receive(std::vector<AvPacketPtr>& packets)
    {
        for (;;) {
            AvPacketPtr packet(av_packet_alloc());
            if (avcodec_receive_packet(m_context.get(), packet.get()) < 0)
                return;
            packets.push_back(std::move(packet));
        }
    }

    AvCodecContextPtr m_context;
    AvFramePtr m_frame;
    int64_t m_samples = 0;
};

// Real H.264 access units of a moving picture.
std::vector<Encoder::EncodedAU> encodeVideo(int frames, int gop, std::vector<uint8_t>* codecConfig)
{
    Encoder encoder;
    Encoder::Config config;
    config.width = kWidth;
    config.height = kHeight;
    config.fps = kFps;
    config.bitRate = int64_t(kWidth) * kHeight * kFps / 5;
    config.gopSize = gop;
    config.lowLatency = true;
    EXPECT_TRUE(encoder.open(config));
    std::vector<Encoder::EncodedAU> aus;
    std::vector<uint8_t> picture(size_t(kWidth) * kHeight * 4);
    for (int i = 0; i < frames; ++i) {
        for (size_t p = 0; p < picture.size(); ++p)
            picture[p] = uint8_t((p / 4 + i * 3) % 251);
        EXPECT_TRUE(encoder.encodeFrame(picture.data(), kWidth * 4, kFirstPtsUs + i * kFrameUs,
                                        [&](const Encoder::EncodedAU& au) { aus.push_back(au); }));
    }
    EXPECT_TRUE(encoder.flush([&](const Encoder::EncodedAU& au) { aus.push_back(au); }));
    *codecConfig = encoder.codecConfig();
    return aus;
}

// What libavformat reads back from a file.
struct ReadBack {
    struct Track {
        AVCodecID codec = AV_CODEC_ID_NONE;
        int width = 0;
        int height = 0;
        int sampleRate = 0;
        double durationSeconds = 0;
        std::vector<int64_t> dts;
        std::vector<bool> keyframes;
        std::vector<std::vector<uint8_t>> samples;
        std::vector<uint8_t> extradata;
    };
    bool opened = false;
    std::vector<Track> tracks;

    const Track* find(AVMediaType type, const std::vector<AVMediaType>& types) const
    {
        for (size_t i = 0; i < types.size(); ++i) {
            if (types[i] == type)
                return &tracks[i];
        }
        return nullptr;
    }
    std::vector<AVMediaType> types;
};

ReadBack readBack(const std::string& path)
{
    ReadBack result;
    AVFormatContext* input = nullptr;
    if (avformat_open_input(&input, path.c_str(), nullptr, nullptr) < 0)
        return result;
    result.opened = true;
    avformat_find_stream_info(input, nullptr);
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        const AVStream* stream = input->streams[i];
        ReadBack::Track track;
        track.codec = stream->codecpar->codec_id;
        track.width = stream->codecpar->width;
        track.height = stream->codecpar->height;
        track.sampleRate = stream->codecpar->sample_rate;
        track.durationSeconds = stream->duration * av_q2d(stream->time_base);
        track.extradata.assign(stream->codecpar->extradata,
                               stream->codecpar->extradata + stream->codecpar->extradata_size);
        result.types.push_back(stream->codecpar->codec_type);
        result.tracks.push_back(std::move(track));
    }
    AvPacketPtr packet(av_packet_alloc());
    while (av_read_frame(input, packet.get()) >= 0) {
        ReadBack::Track& track = result.tracks[size_t(packet->stream_index)];
        track.dts.push_back(av_rescale_q(packet->dts, input->streams[packet->stream_index]->time_base,
                                         AVRational {1, 1000000}));
        track.keyframes.push_back((packet->flags & AV_PKT_FLAG_KEY) != 0);
        track.samples.emplace_back(packet->data, packet->data + packet->size);
        av_packet_unref(packet.get());
    }
    avformat_close_input(&input);
    return result;
}

// Top-level box types of an ISO media file, in file order.
std::vector<std::string> topLevelBoxes(const std::string& path)
{
    std::vector<std::string> boxes;
    std::ifstream file(path, std::ios::binary);
    for (;;) {
        uint8_t header[16];
        if (!file.read(reinterpret_cast<char*>(header), 8))
            break;
        uint64_t size = (uint64_t(header[0]) << 24) | (uint64_t(header[1]) << 16) | (uint64_t(header[2]) << 8) |
                        header[3];
        boxes.emplace_back(reinterpret_cast<char*>(header + 4), 4);
        uint64_t headerBytes = 8;
        if (size == 1) {
            if (!file.read(reinterpret_cast<char*>(header + 8), 8))
                break;
            size = 0;
            for (int i = 8; i < 16; ++i)
                size = (size << 8) | header[i];
            headerBytes = 16;
        }
        if (size == 0 || size < headerBytes)
            break;
        file.seekg(std::streamoff(size - headerBytes), std::ios::cur);
    }
    return boxes;
}

std::string run(const std::string& command)
{
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return output;
    char buffer[512];
    while (fgets(buffer, sizeof(buffer), pipe))
        output += buffer;
    pclose(pipe);
    return output;
}

bool strictlyIncreasing(const std::vector<int64_t>& values)
{
    for (size_t i = 1; i < values.size(); ++i) {
        if (values[i] <= values[i - 1])
            return false;
    }
    return true;
}

class Mp4WriterTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/tvx-mp4-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_dir = pattern;
        m_path = m_dir + "/out.mp4";
    }
    void TearDown() override { fs::remove_all(m_dir); }

    std::string m_dir;
    std::string m_path;
};

TEST(Mp4WriterSampleTest, keepsOnlySliceUnitsWithLengthPrefixes)
{
    const std::vector<uint8_t> au = {0, 0, 0, 1, 0x67, 0x42, 0x00, 0x1F, 0xAA, 0, 0, 0, 1, 0x68, 0xCE,
                                     0x3C, 0x80, 0, 0, 1, 0x65, 0x88, 0x84, 0x21};
    const std::vector<uint8_t> expected = {0, 0, 0, 4, 0x65, 0x88, 0x84, 0x21};
    EXPECT_EQ(Mp4Writer::sampleFromAnnexB(au), expected);

    const std::vector<uint8_t> twoSlices = {0, 0, 1, 0x41, 1, 2, 0, 0, 0, 1, 0x41, 3};
    const std::vector<uint8_t> expectedTwo = {0, 0, 0, 3, 0x41, 1, 2, 0, 0, 0, 2, 0x41, 3};
    EXPECT_EQ(Mp4Writer::sampleFromAnnexB(twoSlices), expectedTwo);
}

TEST(Mp4WriterSampleTest, buildsAvcCFromTheParameterSets)
{
    struct Case {
        const char* name;
        std::vector<uint8_t> codecConfig;
        std::vector<uint8_t> expected;
    };
    const Case cases[] = {
        {"sps and pps",
         {0, 0, 0, 1, 0x67, 0x64, 0x00, 0x28, 0xAC, 0, 0, 0, 1, 0x68, 0xEE, 0x3C},
         {1, 0x64, 0x00, 0x28, 0xFF, 0xE1, 0, 5, 0x67, 0x64, 0x00, 0x28, 0xAC, 1, 0, 3, 0x68, 0xEE, 0x3C}},
        {"no sps", {0, 0, 1, 0x68, 0xEE}, {1, 66, 0, 31, 0xFF, 0xE0, 1, 0, 2, 0x68, 0xEE}},
        {"sps of three bytes", {0, 0, 1, 0x67, 0x64, 0x00}, {1, 66, 0, 31, 0xFF, 0xE1, 0, 3, 0x67, 0x64, 0x00, 0}},
        {"other units ignored",
         {0, 0, 1, 0x06, 0x05, 0, 0, 1, 0x67, 1, 2, 3, 4},
         {1, 1, 2, 3, 0xFF, 0xE1, 0, 5, 0x67, 1, 2, 3, 4, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Mp4Writer::buildAvcC(c.codecConfig), c.expected);
    }
}

TEST_F(Mp4WriterTest, writesVideoAndHeldAudioThatReadBackInOrder)
{
    std::vector<uint8_t> codecConfig;
    const std::vector<Encoder::EncodedAU> aus = encodeVideo(90, kFps, &codecConfig);
    ASSERT_EQ(aus.size(), 90u);
    AacSource aac;
    std::vector<AvPacketPtr> audio = aac.encode(3.0, true);
    ASSERT_GT(audio.size(), 100u);

    Mp4Writer writer;
    std::string error;
    ASSERT_TRUE(writer.open(m_path, kWidth, kHeight, &error)) << error;
    writer.expectAudio(kSampleRate);
    // Audio first: held until the video track exists.
    size_t nextAudio = 0;
    for (; nextAudio < 5; ++nextAudio)
        writer.onAudioPacket(*audio[nextAudio], aac.context());
    EXPECT_FALSE(writer.headerWritten());
    for (const Encoder::EncodedAU& au : aus) {
        writer.onVideoAu(au, codecConfig);
        EXPECT_TRUE(writer.headerWritten());
        while (nextAudio < audio.size() && audio[nextAudio]->pts * 1000000 / kSampleRate <= au.ptsUs)
            writer.onAudioPacket(*audio[nextAudio++], aac.context());
        writer.checkLateAudio();
    }
    for (; nextAudio < audio.size(); ++nextAudio)
        writer.onAudioPacket(*audio[nextAudio], aac.context());
    EXPECT_TRUE(writer.finish());
    EXPECT_EQ(writer.firstError(), "");
    EXPECT_EQ(writer.videoSamplesWritten(), 90);
    EXPECT_EQ(writer.audioSamplesWritten(), int64_t(audio.size()));
    EXPECT_FALSE(writer.isOpen());

    const std::vector<std::string> boxes = topLevelBoxes(m_path);
    const auto moov = std::find(boxes.begin(), boxes.end(), "moov");
    const auto mdat = std::find(boxes.begin(), boxes.end(), "mdat");
    ASSERT_NE(moov, boxes.end());
    ASSERT_NE(mdat, boxes.end());
    EXPECT_LT(moov - boxes.begin(), mdat - boxes.begin()) << "the index is not at the front";

    const ReadBack file = readBack(m_path);
    ASSERT_TRUE(file.opened);
    ASSERT_EQ(file.tracks.size(), 2u);
    const ReadBack::Track* video = file.find(AVMEDIA_TYPE_VIDEO, file.types);
    const ReadBack::Track* sound = file.find(AVMEDIA_TYPE_AUDIO, file.types);
    ASSERT_NE(video, nullptr);
    ASSERT_NE(sound, nullptr);
    EXPECT_EQ(video->codec, AV_CODEC_ID_H264);
    EXPECT_EQ(video->width, kWidth);
    EXPECT_EQ(video->height, kHeight);
    EXPECT_EQ(video->extradata, Mp4Writer::buildAvcC(codecConfig));
    ASSERT_EQ(video->dts.size(), 90u);
    EXPECT_TRUE(strictlyIncreasing(video->dts));
    EXPECT_NEAR(double(video->dts[89] - video->dts[0]), 89.0 * kFrameUs, 89.0);
    EXPECT_NEAR(video->durationSeconds, 3.0, 0.1);
    for (size_t i = 0; i < aus.size(); ++i) {
        EXPECT_EQ(video->keyframes[i], aus[i].keyframe) << "sample " << i;
        EXPECT_EQ(video->samples[i], Mp4Writer::sampleFromAnnexB(aus[i].data)) << "sample " << i;
    }
    EXPECT_EQ(sound->codec, AV_CODEC_ID_AAC);
    EXPECT_EQ(sound->sampleRate, kSampleRate);
    EXPECT_EQ(sound->dts.size(), audio.size());
    EXPECT_TRUE(strictlyIncreasing(sound->dts));
    EXPECT_NEAR(sound->durationSeconds, 3.0, 0.1);

    // The track's avcC and length-prefixed samples decode back to pictures.
    const AVCodec* h264 = avcodec_find_decoder(AV_CODEC_ID_H264);
    AvCodecContextPtr decoder(avcodec_alloc_context3(h264));
    decoder->extradata = static_cast<uint8_t*>(av_mallocz(video->extradata.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    std::copy(video->extradata.begin(), video->extradata.end(), decoder->extradata);
    decoder->extradata_size = int(video->extradata.size());
    ASSERT_EQ(avcodec_open2(decoder.get(), h264, nullptr), 0);
    AvPacketPtr packet(av_packet_alloc());
    AvFramePtr frame(av_frame_alloc());
    int decoded = 0;
    for (const std::vector<uint8_t>& sample : video->samples) {
        ASSERT_EQ(av_new_packet(packet.get(), int(sample.size())), 0);
        std::copy(sample.begin(), sample.end(), packet->data);
        ASSERT_EQ(avcodec_send_packet(decoder.get(), packet.get()), 0);
        av_packet_unref(packet.get());
        while (avcodec_receive_frame(decoder.get(), frame.get()) == 0) {
            EXPECT_EQ(frame->width, kWidth);
            ++decoded;
        }
    }
    avcodec_send_packet(decoder.get(), nullptr);
    while (avcodec_receive_frame(decoder.get(), frame.get()) == 0)
        ++decoded;
    EXPECT_EQ(decoded, 90);

    // ffprobe agrees.
    const std::string probe =
        run("ffprobe -v error -show_entries stream=codec_type,codec_name,duration -of default=noprint_wrappers=1 '" +
            m_path + "' 2>&1");
    EXPECT_NE(probe.find("codec_name=h264"), std::string::npos) << probe;
    EXPECT_NE(probe.find("codec_name=aac"), std::string::npos) << probe;
    std::map<std::string, double> durations;
    std::string type;
    size_t at = 0;
    while (at < probe.size()) {
        const size_t end = probe.find('\n', at);
        const std::string line = probe.substr(at, end == std::string::npos ? std::string::npos : end - at);
        if (line.rfind("codec_type=", 0) == 0)
            type = line.substr(11);
        if (line.rfind("duration=", 0) == 0)
            durations[type] = std::atof(line.c_str() + 9);
        if (end == std::string::npos)
            break;
        at = end + 1;
    }
    EXPECT_NEAR(durations["video"], 3.0, 0.1) << probe;
    EXPECT_NEAR(durations["audio"], 3.0, 0.1) << probe;
}

TEST_F(Mp4WriterTest, videoOnlyRecordingWritesHeaderAtOnceAndDropsLaterAudio)
{
    std::vector<uint8_t> codecConfig;
    const std::vector<Encoder::EncodedAU> aus = encodeVideo(10, kFps, &codecConfig);
    AacSource aac;
    std::vector<AvPacketPtr> audio = aac.encode(0.2);

    Mp4Writer writer;
    ASSERT_TRUE(writer.open(m_path, kWidth, kHeight));
    writer.onVideoAu(aus[0], codecConfig);
    EXPECT_TRUE(writer.headerWritten());
    for (const AvPacketPtr& packet : audio)
        writer.onAudioPacket(*packet, aac.context());
    for (size_t i = 1; i < aus.size(); ++i)
        writer.onVideoAu(aus[i], codecConfig);
    EXPECT_TRUE(writer.finish());
    EXPECT_EQ(writer.firstError(), "");
    EXPECT_EQ(writer.audioSamplesWritten(), 0);

    const ReadBack file = readBack(m_path);
    ASSERT_EQ(file.tracks.size(), 1u);
    EXPECT_EQ(file.tracks[0].codec, AV_CODEC_ID_H264);
    EXPECT_EQ(file.tracks[0].dts.size(), 10u);
}

TEST_F(Mp4WriterTest, givesUpWaitingForAudioAfterTheLateAudioDelay)
{
    std::vector<uint8_t> codecConfig;
    const std::vector<Encoder::EncodedAU> aus = encodeVideo(6, kFps, &codecConfig);
    AacSource aac;
    std::vector<AvPacketPtr> audio = aac.encode(0.1);

    Mp4Writer writer;
    ASSERT_TRUE(writer.open(m_path, kWidth, kHeight));
    writer.expectAudio(kSampleRate);
    for (size_t i = 0; i < 3; ++i)
        writer.onVideoAu(aus[i], codecConfig);
    writer.checkLateAudio();
    EXPECT_FALSE(writer.headerWritten());
    std::this_thread::sleep_for(std::chrono::milliseconds(Mp4Writer::kLateAudioMs + 200));
    writer.checkLateAudio();
    EXPECT_TRUE(writer.headerWritten());
    for (const AvPacketPtr& packet : audio)
        writer.onAudioPacket(*packet, aac.context());
    for (size_t i = 3; i < aus.size(); ++i)
        writer.onVideoAu(aus[i], codecConfig);
    EXPECT_TRUE(writer.finish());

    const ReadBack file = readBack(m_path);
    ASSERT_EQ(file.tracks.size(), 1u);
    EXPECT_EQ(file.tracks[0].dts.size(), 6u);
}

TEST_F(Mp4WriterTest, recordingWithoutHeaderLeavesNoFile)
{
    AacSource aac;
    std::vector<AvPacketPtr> audio = aac.encode(0.2);
    {
        Mp4Writer writer;
        ASSERT_TRUE(writer.open(m_path, kWidth, kHeight));
        EXPECT_TRUE(fs::exists(m_path));
        writer.expectAudio(kSampleRate);
        for (const AvPacketPtr& packet : audio)
            writer.onAudioPacket(*packet, aac.context());
        EXPECT_FALSE(writer.finish());
        EXPECT_FALSE(fs::exists(m_path));
        EXPECT_FALSE(writer.finish());  // nothing open any more
    }
    {
        // Destroyed while open: handles freed, the headerless file removed.
        Mp4Writer writer;
        ASSERT_TRUE(writer.open(m_path, kWidth, kHeight));
        EXPECT_TRUE(fs::exists(m_path));
    }
    EXPECT_FALSE(fs::exists(m_path));
}

TEST_F(Mp4WriterTest, reopeningDropsTheUnfinishedRecording)
{
    std::vector<uint8_t> codecConfig;
    const std::vector<Encoder::EncodedAU> aus = encodeVideo(3, kFps, &codecConfig);
    const std::string first = m_dir + "/first.mp4";
    Mp4Writer writer;
    ASSERT_TRUE(writer.open(first, kWidth, kHeight));
    writer.keepError("first recording's error");
    ASSERT_TRUE(writer.open(m_path, kWidth, kHeight));
    EXPECT_FALSE(fs::exists(first));
    EXPECT_EQ(writer.firstError(), "");
    for (const Encoder::EncodedAU& au : aus)
        writer.onVideoAu(au, codecConfig);
    EXPECT_TRUE(writer.finish());
    EXPECT_EQ(readBack(m_path).tracks.size(), 1u);
}

TEST_F(Mp4WriterTest, oddPictureSizesGiveAnEvenTrackThatMatchesTheStream)
{
    constexpr int kOddWidth = 101;
    constexpr int kOddHeight = 75;
    Encoder encoder;
    Encoder::Config config;
    config.width = kOddWidth;
    config.height = kOddHeight;
    config.bitRate = 200000;
    config.gopSize = 10;
    config.lowLatency = true;
    ASSERT_TRUE(encoder.open(config));
    Mp4Writer writer;
    ASSERT_TRUE(writer.open(m_path, kOddWidth, kOddHeight));
    std::vector<uint8_t> picture(size_t(kOddWidth) * kOddHeight * 4, 128);
    const auto write = [&](const Encoder::EncodedAU& au) { writer.onVideoAu(au, encoder.codecConfig()); };
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(encoder.encodeFrame(picture.data(), kOddWidth * 4, kFirstPtsUs + i * kFrameUs, write));
    ASSERT_TRUE(encoder.flush(write));
    EXPECT_TRUE(writer.finish());

    const std::string probe =
        run("ffprobe -v error -select_streams v -show_entries stream=width,height,nb_frames "
            "-of default=noprint_wrappers=1 '" + m_path + "' 2>&1");
    EXPECT_NE(probe.find("width=100\n"), std::string::npos) << probe;
    EXPECT_NE(probe.find("height=74\n"), std::string::npos) << probe;
    EXPECT_NE(probe.find("nb_frames=5\n"), std::string::npos) << probe;
}

TEST_F(Mp4WriterTest, reportsPathsItCannotWrite)
{
    struct Case {
        std::string path;
        std::string expected;
    };
    const Case cases[] = {
        {"/nonexistent-tvx-dir/out.mp4",
         "Could not open '/nonexistent-tvx-dir/out.mp4' for writing (No such file or directory)."},
        {m_dir, "Could not open '" + m_dir + "' for writing (Is a directory)."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        Mp4Writer writer;
        std::string error;
        EXPECT_FALSE(writer.open(c.path, kWidth, kHeight, &error));
        EXPECT_EQ(error, c.expected);
        EXPECT_FALSE(writer.isOpen());
        EXPECT_FALSE(writer.finish());
    }
    EXPECT_TRUE(fs::is_directory(m_dir));
}

TEST_F(Mp4WriterTest, keepsDecodingTimesIncreasingWhateverItIsHanded)
{
    constexpr int kGop = 5;
    std::vector<uint8_t> codecConfig;
    std::vector<Encoder::EncodedAU> aus = encodeVideo(20, kGop, &codecConfig);
    ASSERT_EQ(aus.size(), 20u);
    // A glitch: picture 7 carries the time of picture 6. It is dropped, and
    // so are 8 and 9, which depend on it; picture 10 is a keyframe.
    aus[7].ptsUs = aus[6].ptsUs;
    // Picture 13 jumps back before 12: dropped with 14, back at 15.
    aus[13].ptsUs = aus[11].ptsUs;

    AacSource aac;
    std::vector<AvPacketPtr> audio = aac.encode(0.5);
    ASSERT_GT(audio.size(), 6u);
    audio[4]->pts = audio[3]->pts;  // a repeated audio time is dropped

    Mp4Writer writer;
    ASSERT_TRUE(writer.open(m_path, kWidth, kHeight));
    writer.expectAudio(kSampleRate);
    for (const AvPacketPtr& packet : audio)
        writer.onAudioPacket(*packet, aac.context());
    for (const Encoder::EncodedAU& au : aus)
        writer.onVideoAu(au, codecConfig);
    EXPECT_TRUE(writer.finish());
    EXPECT_EQ(writer.firstError(), "");

    const ReadBack file = readBack(m_path);
    const ReadBack::Track* video = file.find(AVMEDIA_TYPE_VIDEO, file.types);
    const ReadBack::Track* sound = file.find(AVMEDIA_TYPE_AUDIO, file.types);
    ASSERT_NE(video, nullptr);
    ASSERT_NE(sound, nullptr);
    std::vector<int64_t> expectedVideo;
    for (int i : {0, 1, 2, 3, 4, 5, 6, 10, 11, 12, 15, 16, 17, 18, 19})
        expectedVideo.push_back(kFirstPtsUs + i * kFrameUs);
    ASSERT_EQ(video->dts.size(), expectedVideo.size());
    for (size_t i = 0; i < expectedVideo.size(); ++i)
        EXPECT_NEAR(double(video->dts[i] - video->dts[0]), double(expectedVideo[i] - expectedVideo[0]), 2.0);
    EXPECT_EQ(sound->dts.size(), audio.size() - 1);
    EXPECT_TRUE(strictlyIncreasing(sound->dts));
}

TEST_F(Mp4WriterTest, holdsAtMostSixteenMebibytesBeforeTheHeader)
{
    std::vector<uint8_t> codecConfig;
    encodeVideo(1, kFps, &codecConfig);
    AacSource aac;
    std::vector<AvPacketPtr> audio = aac.encode(0.1);

    // Stand-in access units of exactly 1 MiB: a start code and one slice.
    const auto fakeAu = [](int index, bool keyframe) {
        Encoder::EncodedAU au;
        au.data.assign(1 << 20, 0x5A);
        au.data[0] = au.data[1] = au.data[2] = 0;
        au.data[3] = 1;
        au.data[4] = keyframe ? 0x65 : 0x41;
        au.keyframe = keyframe;
        au.ptsUs = kFirstPtsUs + index * kFrameUs;
        return au;
    };

    Mp4Writer writer;
    ASSERT_TRUE(writer.open(m_path, kWidth, kHeight));
    writer.expectAudio(kSampleRate);
    int index = 0;
    for (; index < 16; ++index)  // 16 x 1 MiB lands exactly on the limit: all held
        writer.onVideoAu(fakeAu(index, index == 0), codecConfig);
    writer.onVideoAu(fakeAu(index++, true), codecConfig);   // would pass the limit: dropped
    writer.onVideoAu(fakeAu(index++, false), codecConfig);  // depends on the dropped one
    EXPECT_FALSE(writer.headerWritten());
    writer.onAudioPacket(*audio[0], aac.context());
    ASSERT_TRUE(writer.headerWritten());
    EXPECT_EQ(writer.videoSamplesWritten(), 16);
    writer.onVideoAu(fakeAu(index++, false), codecConfig);  // still waits for a keyframe
    writer.onVideoAu(fakeAu(index++, true), codecConfig);
    writer.onVideoAu(fakeAu(index++, false), codecConfig);
    EXPECT_EQ(writer.videoSamplesWritten(), 18);
    EXPECT_TRUE(writer.finish());
    EXPECT_EQ(writer.firstError(), "");
}

}  // namespace
}  // namespace lagwell

#include "CapabilityProbe.h"

#include "CHandles.h"
#include "FfmpegLogBridge.h"
#include "Log.h"
#include "SystemV4l2Io.h"
#include "UvcCapture.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

extern "C" {
#include <libavutil/hwcontext.h>
}

namespace lagwell {
namespace {

constexpr const char* kRenderNode = "/dev/dri/renderD128";
constexpr int kBenchmarkWidth = 1280;
constexpr int kBenchmarkHeight = 720;
constexpr int kBenchmarkRuns = 20;
constexpr int kBenchmarkQuality = 85;
constexpr double kFastDecodeMs = 12.0;
constexpr double kDualCameraMinFps = 20.0;
constexpr int64_t kDualCameraTestNs = 2'000'000'000;
// The open tests use the transcoder's settings at 720p30.
constexpr int kTestWidth = 1280;
constexpr int kTestHeight = 720;
constexpr int kTestFps = 30;
constexpr int64_t kTestBitRate = 4'147'200;

bool canCreateDevice(AVHWDeviceType type, const char* node)
{
    AVBufferRef* device = nullptr;
    const int rc = av_hwdevice_ctx_create(&device, type, node, nullptr, 0);
    AvBufferRefPtr owner(device);
    return rc >= 0 && device;
}

void applyTestSettings(AVCodecContext* context, AVPixelFormat format)
{
    context->width = kTestWidth;
    context->height = kTestHeight;
    context->time_base = AVRational {1, kTestFps};
    context->framerate = AVRational {kTestFps, 1};
    context->gop_size = kTestFps;
    context->max_b_frames = 0;
    context->bit_rate = kTestBitRate;
    context->pix_fmt = format;
}

// A VAAPI encoder opens only on surfaces: NV12 surfaces of the render node,
// exactly as the transcoder sets them up.
bool vaapiEncoderOpens(const AVCodec* codec)
{
    AVBufferRef* rawDevice = nullptr;
    if (av_hwdevice_ctx_create(&rawDevice, AV_HWDEVICE_TYPE_VAAPI, kRenderNode, nullptr, 0) < 0 || !rawDevice)
        return false;
    AvBufferRefPtr device(rawDevice);
    AvBufferRefPtr frames(av_hwframe_ctx_alloc(device.get()));
    if (!frames)
        return false;
    auto* framesContext = reinterpret_cast<AVHWFramesContext*>(frames->data);
    framesContext->format = AV_PIX_FMT_VAAPI;
    framesContext->sw_format = AV_PIX_FMT_NV12;
    framesContext->width = kTestWidth;
    framesContext->height = kTestHeight;
    framesContext->initial_pool_size = 4;
    if (av_hwframe_ctx_init(frames.get()) < 0)
        return false;
    AvCodecContextPtr context(avcodec_alloc_context3(codec));
    if (!context)
        return false;
    applyTestSettings(context.get(), AV_PIX_FMT_VAAPI);
    context->hw_frames_ctx = av_buffer_ref(frames.get());
    return context->hw_frames_ctx && avcodec_open2(context.get(), codec, nullptr) == 0;
}

void sleepNs(int64_t ns)
{
    timespec request {static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
    timespec remaining {};
    while (nanosleep(&request, &remaining) != 0 && errno == EINTR)
        request = remaining;
}

}  // namespace

bool CapabilityProbe::isTestSourceRequested(const char* value)
{
    return value && std::strcmp(value, "1") == 0;
}

CameraInfo CapabilityProbe::testCamera()
{
    CameraInfo camera;
    camera.path = "test";
    camera.name = "Test pattern";
    camera.busInfo = "test";
    camera.formats.push_back(CameraFormat {kFourccMjpeg, 1280, 720, {30}});
    camera.formats.push_back(CameraFormat {kFourccMjpeg, 1920, 1080, {30}});
    return camera;
}

int32_t CapabilityProbe::largestHeight(const std::vector<CameraInfo>& cameras)
{
    int32_t largest = 0;
    for (const CameraInfo& camera : cameras)
        for (const CameraFormat& format : camera.formats)
            largest = std::max(largest, format.height);
    return largest;
}

CapabilityProbe::HeightDecision CapabilityProbe::decideCaptureHeight(int32_t largestHeight, double cpuDecodeMs,
                                                                     bool hasEncoder, bool hasHwDecoder)
{
    HeightDecision decision;
    // 0 means the benchmark did not run: counted as fast.
    if (largestHeight >= 1080 && (cpuDecodeMs <= kFastDecodeMs || hasEncoder))
        decision.maxCaptureHeight = 1080;
    if (largestHeight >= 2160 && hasEncoder && hasHwDecoder)
        decision.maxCaptureHeight = 2160;
    decision.useH264Transcode = largestHeight >= 1080 && hasEncoder && hasHwDecoder;
    return decision;
}

std::string CapabilityProbe::summaryFor(const Capabilities& capabilities)
{
    char decode[64];
    std::snprintf(decode, sizeof decode, "%.1f", capabilities.cpuDecodeMs);
    std::string summary = std::to_string(capabilities.maxCaptureHeight) + "p " +
                          (capabilities.useH264Transcode ? "H.264 transcode" : "MJPEG") + ", CPU decode " + decode +
                          " ms, encoder " +
                          (capabilities.encoderName.empty() ? std::string("libx264") : capabilities.encoderName);
    if (capabilities.dualCameraSupported)
        summary += ", dual camera";
    return summary;
}

bool CapabilityProbe::probeEncoderOpens(const std::string& name)
{
    const AVCodec* codec = avcodec_find_encoder_by_name(name.c_str());
    if (!codec)
        return false;
    if (name.find("vaapi") != std::string::npos)
        return vaapiEncoderOpens(codec);
    // The transcoder hands software encoders YUV420P: that is what must open.
    AvCodecContextPtr context(avcodec_alloc_context3(codec));
    if (!context)
        return false;
    applyTestSettings(context.get(), AV_PIX_FMT_YUV420P);
    return avcodec_open2(context.get(), codec, nullptr) == 0;
}

std::string CapabilityProbe::findEncoder(bool* vaapiDeviceCreated)
{
    // Asking for hardware that is not there makes FFmpeg report errors;
    // here a failure is an answer.
    const FfmpegLogBridge::Trial trial;
    *vaapiDeviceCreated = canCreateDevice(AV_HWDEVICE_TYPE_VAAPI, kRenderNode);
    if (*vaapiDeviceCreated && probeEncoderOpens("h264_vaapi"))
        return "h264_vaapi";
    for (const char* name : {"h264_nvenc", "h264_v4l2m2m"}) {
        if (probeEncoderOpens(name))
            return name;
    }
    return {};
}

std::string CapabilityProbe::findHwDecoder(bool vaapiDeviceCreated)
{
    const FfmpegLogBridge::Trial trial;
    const bool cudaDeviceCreated = canCreateDevice(AV_HWDEVICE_TYPE_CUDA, nullptr);
    if (vaapiDeviceCreated)
        return "vaapi";
    if (cudaDeviceCreated)
        return "cuda";
    if (const AVCodec* codec = avcodec_find_decoder_by_name("h264_v4l2m2m")) {
        AvCodecContextPtr context(avcodec_alloc_context3(codec));
        if (context && avcodec_open2(context.get(), codec, nullptr) == 0)
            return "v4l2m2m";
    }
    return {};
}

double CapabilityProbe::measureCpuDecodeMs()
{
    std::vector<uint8_t> rgb(static_cast<size_t>(kBenchmarkWidth) * kBenchmarkHeight * 3);
    for (int y = 0; y < kBenchmarkHeight; ++y) {
        uint8_t* row = rgb.data() + static_cast<size_t>(y) * kBenchmarkWidth * 3;
        for (int x = 0; x < kBenchmarkWidth; ++x) {
            row[x * 3 + 0] = static_cast<uint8_t>(x * 255 / kBenchmarkWidth);
            row[x * 3 + 1] = static_cast<uint8_t>(y * 255 / kBenchmarkHeight);
            row[x * 3 + 2] = static_cast<uint8_t>((x + y) * 255 / 2000);
        }
    }

    TjHandlePtr compressor(tjInitCompress());
    if (!compressor)
        return 0.0;
    unsigned char* jpeg = nullptr;
    unsigned long jpegSize = 0;
    const int rc = tjCompress2(compressor.get(), rgb.data(), kBenchmarkWidth, 0, kBenchmarkHeight, TJPF_RGB, &jpeg,
                               &jpegSize, TJSAMP_420, kBenchmarkQuality, TJFLAG_FASTDCT);
    TjBufferPtr jpegOwner(jpeg);
    if (rc != 0 || !jpeg || jpegSize == 0)
        return 0.0;

    TjHandlePtr decompressor(tjInitDecompress());
    if (!decompressor)
        return 0.0;
    std::vector<uint8_t> luma(static_cast<size_t>(kBenchmarkWidth) * kBenchmarkHeight);
    std::vector<uint8_t> blue(static_cast<size_t>(kBenchmarkWidth / 2) * (kBenchmarkHeight / 2));
    std::vector<uint8_t> red(blue.size());
    unsigned char* planes[3] = {luma.data(), blue.data(), red.data()};
    int strides[3] = {kBenchmarkWidth, kBenchmarkWidth / 2, kBenchmarkWidth / 2};

    const auto begin = std::chrono::steady_clock::now();
    for (int i = 0; i < kBenchmarkRuns; ++i)
        tjDecompressToYUVPlanes(decompressor.get(), jpeg, jpegSize, planes, kBenchmarkWidth, strides,
                                kBenchmarkHeight, 0);
    const auto elapsedNs =
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - begin).count();
    return static_cast<double>(elapsedNs) / 1'000'000.0 / kBenchmarkRuns;
}

bool CapabilityProbe::testDualCameras(V4l2Io& io, const CameraInfo& first, const CameraInfo& second)
{
    auto requestFor = [](const CameraInfo& camera) {
        CaptureRequest request;
        request.deviceId = camera.path;
        request.width = 1280;
        request.height = 720;
        request.fps = 30;
        request.preferredFourcc = kFourccMjpeg;
        return request;
    };
    auto discard = [](EncodedFrame&&) {};

    UvcCapture firstCapture(io);
    UvcCapture secondCapture(io);
    std::string firstError;
    std::string secondError;
    const bool firstStarted = firstCapture.start(requestFor(first), discard, &firstError);
    const bool secondStarted = firstStarted && secondCapture.start(requestFor(second), discard, &secondError);
    if (!firstStarted || !secondStarted) {
        LW_LOG_WARN("Capabilities: dual-camera probe could not start both cameras (%s / %s)", firstError.c_str(),
                    secondError.c_str());
        firstCapture.stop();
        return false;
    }
    sleepNs(kDualCameraTestNs);
    const bool fastEnough =
        firstCapture.measuredFps() >= kDualCameraMinFps && secondCapture.measuredFps() >= kDualCameraMinFps;
    secondCapture.stop();
    firstCapture.stop();
    return fastEnough;
}

Capabilities CapabilityProbe::probe()
{
    return probe(SystemV4l2Io::instance(), std::getenv("TAVRIX_TEST_SOURCE"));
}

Capabilities CapabilityProbe::probe(V4l2Io& io, const char* testSourceValue)
{
    Capabilities capabilities;
    capabilities.cameras = UvcCapture::enumerate(io);
    const bool testSourceOn = isTestSourceRequested(testSourceValue);
    if (testSourceOn)
        capabilities.cameras.push_back(testCamera());

    bool vaapiDeviceCreated = false;
    capabilities.encoderName = findEncoder(&vaapiDeviceCreated);
    capabilities.hwDecoder = findHwDecoder(vaapiDeviceCreated);
    capabilities.cpuDecodeMs = measureCpuDecodeMs();

    const HeightDecision decision =
        decideCaptureHeight(largestHeight(capabilities.cameras), capabilities.cpuDecodeMs,
                            !capabilities.encoderName.empty(), !capabilities.hwDecoder.empty());
    capabilities.maxCaptureHeight = decision.maxCaptureHeight;
    capabilities.useH264Transcode = decision.useH264Transcode;

    if (testSourceOn)
        capabilities.dualCameraSupported = true;
    else if (capabilities.cameras.size() >= 2)
        capabilities.dualCameraSupported = testDualCameras(io, capabilities.cameras[0], capabilities.cameras[1]);

    capabilities.summary = summaryFor(capabilities);
    LW_LOG_INFO("Capabilities: %s", capabilities.summary.c_str());
    return capabilities;
}

}  // namespace lagwell

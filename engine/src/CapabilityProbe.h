#pragma once

// What this machine can do, found out once per run: the cameras, whether two
// run together, which H.264 encoder and hardware decoder work, how fast the
// CPU decodes a 1280x720 JPEG, and from these the capture height offered and
// whether camera frames are re-encoded to H.264. The engine facade's
// `Engine::probe()` is this. Runs on the caller's thread (seconds with two
// cameras), shares no state and never throws.

#include "EngineTypes.h"

#include <cstdint>
#include <string>

namespace lagwell {

class V4l2Io;

class CapabilityProbe {
public:
    struct HeightDecision {
        int32_t maxCaptureHeight = 720;
        bool useH264Transcode = false;
    };

    // Kernel cameras and the TAVRIX_TEST_SOURCE environment variable.
    static Capabilities probe();
    // Cameras through `io`; `testSourceValue` is what TAVRIX_TEST_SOURCE holds
    // (null when unset).
    static Capabilities probe(V4l2Io& io, const char* testSourceValue);

    // The decision rules, pure.
    static bool isTestSourceRequested(const char* value);  // exactly "1"
    static CameraInfo testCamera();
    static int32_t largestHeight(const std::vector<CameraInfo>& cameras);  // 0 when none
    static HeightDecision decideCaptureHeight(int32_t largestHeight, double cpuDecodeMs, bool hasEncoder,
                                              bool hasHwDecoder);
    static std::string summaryFor(const Capabilities& capabilities);

    // The measurements, each on its own.
    // First H.264 encoder that opens with the picture format the transcoder
    // gives it; empty when none (libx264 is used then). This and
    // findHwDecoder keep FFmpeg's log quiet while they try the hardware.
    static std::string findEncoder(bool* vaapiDeviceCreated);
    static bool probeEncoderOpens(const std::string& name);
    static std::string findHwDecoder(bool vaapiDeviceCreated);
    // Mean time to decode the benchmark JPEG to YUV planes; 0 when it could not run.
    static double measureCpuDecodeMs();
    // Starts the two cameras at 1280x720 MJPEG 30 fps for 2 s; true when both
    // deliver at least 20 fps.
    static bool testDualCameras(V4l2Io& io, const CameraInfo& first, const CameraInfo& second);
};

}  // namespace lagwell

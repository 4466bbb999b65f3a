#pragma once

// Types shared by every area of the delay engine. Plain values only: no
// behaviour, no locks, no Qt.

#include <cstdint>
#include <string>
#include <vector>

namespace lagwell {

// Builds a V4L2-style fourcc from four characters ('M','J','P','G').
constexpr uint32_t makeFourcc(char a, char b, char c, char d)
{
    return static_cast<uint32_t>(static_cast<uint8_t>(a)) |
           (static_cast<uint32_t>(static_cast<uint8_t>(b)) << 8) |
           (static_cast<uint32_t>(static_cast<uint8_t>(c)) << 16) |
           (static_cast<uint32_t>(static_cast<uint8_t>(d)) << 24);
}

constexpr uint32_t kFourccMjpeg = makeFourcc('M', 'J', 'P', 'G');
constexpr uint32_t kFourccH264 = makeFourcc('H', '2', '6', '4');

// One compressed picture: a whole JPEG image or one H.264 access unit in
// Annex-B form.
struct EncodedFrame {
    std::vector<uint8_t> data;
    int64_t ptsUs = 0;   // capture time, monotonic clock, microseconds
    int64_t wallMs = 0;  // wall-clock capture time, milliseconds; every delay refers to it
    bool keyframe = false;  // decodable on its own (always true for JPEG)
    uint64_t seq = 0;    // given by the replay buffer; whatever a source puts here is overwritten
};

// What the engine asks of a camera source.
struct CaptureRequest {
    // A path under "/dev/", a V4L2 bus-info string, or "test" optionally
    // followed by ':' and a camera number.
    std::string deviceId;
    int32_t width = 0;
    int32_t height = 0;
    int32_t fps = 0;  // below 1 means 30
    uint32_t preferredFourcc = 0;  // 0 = no preference
};

struct CameraFormat {
    uint32_t fourcc = 0;
    int32_t width = 0;
    int32_t height = 0;
    std::vector<int32_t> frameRates;  // whole frames per second
};

// One capture device. The interface offers it under the id busInfo when that
// is not empty, else path.
struct CameraInfo {
    std::string path;
    std::string name;
    std::string busInfo;
    std::vector<CameraFormat> formats;
};

// The capability probe's result.
struct Capabilities {
    std::vector<CameraInfo> cameras;
    bool dualCameraSupported = false;
    std::string encoderName;  // empty when only the software encoder works
    std::string hwDecoder;    // empty when none
    bool useH264Transcode = false;
    int32_t maxCaptureHeight = 720;  // 720, 1080 or 2160
    double cpuDecodeMs = 0.0;  // mean decode time of one 1280x720 JPEG; 0 = not measured
    std::string summary;
};

enum class ResolutionTier : int32_t { P720 = 0, P1080 = 1, P2160 = 2 };

struct SessionConfig {
    std::vector<std::string> cameraIds;  // one or two used; more ignored; none is an error
    int32_t resolutionTier = 0;  // 0 720p, 1 1080p, 2 2160p; any other value counts as 720p
    int32_t bufferSeconds = 60;  // below 1 means 60
};

struct PanelParams {
    int32_t delayMs = 0;
    int32_t source = 0;  // camera slot; out of range means slot 0
    float rotationDegrees = 0.0f;
    float zoom = 1.0f;
    float panX = 0.0f;  // pixels, applied after rotation and scale
    float panY = 0.0f;
    bool mirror = false;
};

// Device pixels, origin at the window's top left.
struct PanelRect {
    int32_t x = 0;
    int32_t y = 0;
    int32_t width = 0;
    int32_t height = 0;
};

struct TitleCardLabels {
    std::string player;
    std::string coach;
    std::string sessionType;
    std::string title;
    std::string notes;
    std::string date;
};

// The five words burned into recordings, in the recording-card language. An
// empty one is replaced at use by its English default.
struct CardStrings {
    std::string live;
    std::string trainingSession;
    std::string playerPrefix;
    std::string coachPrefix;
    std::string sessionDuration;
};

struct EngineEvent {
    enum class Kind : int32_t {
        SessionStarted = 0,
        SessionStopped = 1,
        CameraLost = 2,       // text: camera id
        CameraRecovered = 3,  // text: camera id
        RecordingStarted = 4,
        RecordingSaved = 5,   // text: file path
        RecordingFailed = 6,  // text: message
        ShareViewers = 7,     // text: viewer count in decimal
        Error = 8,            // text: message
    };
    Kind kind = Kind::Error;
    std::string text;
};

// Shared by recorder, engine and interface. The recorder itself only moves
// Idle -> Recording -> Stopping -> Idle.
enum class RecordingState : int32_t { Idle = 0, Starting = 1, Recording = 2, Stopping = 3 };

// Empty while sharing is off.
struct ShareInfo {
    std::string address;  // LAN IPv4 text
    int32_t port = 0;     // the bound port
    std::string code;     // three-character room code
    std::string url;      // "http://<address>:<port>/live.ts?k=<code>"
    int32_t viewers = 0;
};

}  // namespace lagwell

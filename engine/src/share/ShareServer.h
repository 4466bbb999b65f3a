#pragma once

// The LAN HTTP/1.0 server of the live share. It binds the first free port
// from 8080 to 8091 on all IPv4 interfaces, accepts on a thread of its own
// ("tvx-share-acc") and serves each connection on a detached thread
// ("tvx-http"): the live stream for viewers with the room code, a connect
// page, a recordings page and downloads, all behind a throttle of wrong room
// codes (CodeThrottle). Every response carries "Connection: close"; the
// server then ends its side and reads away what the client still sends
// before it closes, so the response's end is never lost to a reset. One peer
// address holds at most kMaxConnectionsPerPeer of the kMaxConnections slots.
//
// Viewers of "/live.ts" get the transport stream from their first keyframe
// on; the broadcast sends without waiting (see ShareViewer), so a slow viewer
// never holds up the encoder, the other viewers or info(). The recordings
// page and downloads need the room code like the live stream.
//
// A recording still being written is neither listed nor served: the engine
// names its file with setRecordingInProgress() when a recording starts and
// clears it (empty path) once the file is finished.
//
// Lock order: m_notifyMutex before m_configMutex or m_clientsMutex; no other
// code path holds two of the server's locks at once.

#include "CodeThrottle.h"
#include "CompositeSink.h"
#include "EngineTypes.h"
#include "ShareEncoder.h"
#include "ShareViewer.h"
#include "TsMuxer.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include <sys/socket.h>

namespace lagwell {

class ShareServer {
public:
    static constexpr int kFirstPort = 8080;
    static constexpr int kLastPort = 8091;
    // The system's usual listen queue (the kernel caps it at somaxconn).
    static constexpr int kListenBacklog = SOMAXCONN;
    // Connections served at once; past this a new one gets 503 and is closed,
    // so a flood cannot exhaust threads.
    static constexpr int kMaxConnections = 64;
    // Connections of one peer address served at once (a browser's parallel
    // requests and a player); past this that peer's new ones get 503, so one
    // peer cannot take every slot.
    static constexpr int kMaxConnectionsPerPeer = 8;
    // Per read and per write on a connection.
    static constexpr int kSocketTimeoutSeconds = 8;
    // The whole request (line and headers) must arrive within this time, so a
    // client trickling bytes cannot hold a connection slot for long.
    static constexpr int kRequestDeadlineMs = 20000;
    // After the response: how long, and how many bytes, the server reads
    // away what the client still sends before closing, so that the close
    // does not reset the connection and cut off the response's end.
    static constexpr int kLingerMs = 2000;
    static constexpr size_t kLingerMaxBytes = 1u << 20;
    // How long stop() waits for connection threads.
    static constexpr int kStopWaitMs = 3000;

    // `nowMs` is the throttle's monotonic clock; empty means the steady clock.
    explicit ShareServer(CodeThrottle::ClockMs nowMs = {});
    // Stops the server, then waits for every connection thread to end.
    ~ShareServer();

    ShareServer(const ShareServer&) = delete;
    ShareServer& operator=(const ShareServer&) = delete;

    // Configuration, any thread; read at the next start (size, fps) or at
    // every request (directory).
    void setCompositeSize(int width, int height, int fps);
    void setRecordingsDirectory(const std::string& directory);
    // The file the recorder is writing, empty when none: it is hidden from
    // the recordings page and downloads until it is cleared.
    void setRecordingInProgress(const std::string& path);
    // Called with the viewer count when it changes, on a server thread (or
    // in stop(), with 0, on the caller's thread). Calls are serialised, so
    // the last one carries the current count; none follows stop(). It must
    // not call stop(). The previous handler is destroyed under the lock.
    void setViewerCountHandler(std::function<void(int)> handler);
    // Called once when the stream stops because of a failure the user must
    // hear about (the encoder failed), on a server thread, no lock held.
    void setErrorHandler(std::function<void(const std::string&)> handler);

    // The encoder as a composite sink while the server runs, else null.
    CompositeSink* sink();

    // GUI thread. Loads the room code, finds the LAN address, binds, listens,
    // starts the encoder and the accept thread. True at once when already
    // running.
    bool start(std::string* error);
    // GUI thread. Shuts down the listener and every open connection, joins
    // the accept thread, waits at most kStopWaitMs for connection threads and
    // stops the encoder. Does nothing when not running.
    void stop();
    bool isRunning() const { return m_running.load(); }

    // Empty while not running; the address is worked out afresh.
    std::optional<ShareInfo> info();
    // Replaces the room code, saves it and returns it. New requests need the
    // new code; viewers already watching keep their stream.
    std::string regenerateCode();

    // Writes a whole HTTP/1.0 text response with "Connection: close".
    static void respondText(int fd, int status, const std::string& contentType, const std::string& body);
    // Reads and ignores header lines up to the empty line (at most 200);
    // bytes read past them are dropped too.
    static void drainHeaders(int fd);
    // The LAN IPv4 address offered to viewers, or empty when there is none.
    static std::string localAddress();
    // The score of one interface address, -1 when it does not qualify
    // (name not wl*, en* or eth*, or a link-local address).
    static int addressScore(const std::string& interfaceName, const std::string& address);
    // The target of a request line: the text between its first two spaces,
    // "/" when there are fewer than two.
    static std::string requestTarget(const std::string& requestLine);
    // The room code a target carries: the first query piece named exactly
    // "k", url-decoded and trimmed of spaces and tabs; empty when none.
    static std::string roomCodeFromTarget(const std::string& target);
    static std::string urlDecode(const std::string& text);

    // Liveness poll period of a viewer's thread.
    static constexpr int kViewerPollMs = 200;
    // Send time-out of a viewer's socket (sends do not wait; see ShareViewer).
    static constexpr int kViewerSendTimeoutSeconds = 2;

private:
    // One viewer of the live stream.
    using Client = ShareViewer;

    void acceptLoop();
    // Runs one connection on its own thread and then releases its slot; the
    // only place a connection's socket is closed.
    void connectionMain(int fd, std::string peerIp, uint64_t generation);
    // Forgets a connection's socket and counts; m_connectionsMutex held.
    void releaseSlotLocked(int fd, const std::string& peerIp);
    void rejectBusy(int fd);
    void handleClient(int fd, const std::string& peerIp, uint64_t generation);
    // The handlers below leave the connection's socket open; connectionMain
    // closes it.
    void handleLiveStream(int fd, const std::string& peerIp, const std::string& target);
    // Checks the room code of `target` and counts it; false after answering
    // 403 or 429.
    bool admitWithCode(int fd, const std::string& peerIp, const std::string& target);
    // Lists the viewer, streams to it until it goes, then removes it.
    void serveViewer(int fd, const std::string& peerIp);
    // 200 with the file, never more bytes than its Content-Length, or 404.
    void handleRecordingDownload(int fd, const std::string& target);
    std::string recordingsPageHtml();
    std::string connectPageHtml(const std::string& host);
    // Encoder worker: packetises one access unit and sends it to the viewers.
    void onAccessUnit(const std::vector<uint8_t>& au, bool keyframe, int64_t ptsUs,
                      const std::vector<uint8_t>& codecConfig);
    void onEncoderFailure(const std::string& message);
    void broadcast(const std::vector<uint8_t>& bytes, bool keyframe);
    void notifyViewerCount();
    std::string currentCode();
    // Whether requests of this run may still be routed.
    bool isServing(uint64_t generation) const;

    std::atomic<bool> m_running {false};
    // Bumped by every stop, so a connection of an earlier run is never routed.
    std::atomic<uint64_t> m_generation {0};
    int m_listenFd = -1;  // GUI thread; read by the accept thread while it runs; -1 = none
    std::atomic<int> m_port {0};  // last bound port; 0 before the first start
    std::thread m_acceptThread;   // GUI thread only

    std::mutex m_codeMutex;
    // guards: m_code
    std::string m_code;

    std::mutex m_connectionsMutex;
    // guards: m_connectionFds, m_inFlight, m_peerConnections, m_refusing; m_connectionsIdle waits on it
    std::condition_variable m_connectionsIdle;
    std::unordered_set<int> m_connectionFds;  // open connection sockets, shut down by stop
    int m_inFlight = 0;                       // connections accepted and not yet finished
    std::unordered_map<std::string, int> m_peerConnections;  // m_inFlight per peer address; no zero entries
    bool m_refusing = false;                  // from stop's sweep to the next start

    std::mutex m_clientsMutex;
    // guards: m_clients (never held across a send)
    std::vector<std::shared_ptr<Client>> m_clients;  // live viewers in joining order

    // Serialises viewer-count reports (held across the handler call) and
    // orders them after stop's last report.
    std::mutex m_notifyMutex;
    // guards: m_lastReportedCount
    int m_lastReportedCount = 0;

    CodeThrottle m_throttle;  // its own lock

    ShareEncoder m_encoder;  // started and stopped on the GUI thread; its own locks

    std::mutex m_muxerMutex;
    // guards: m_muxer
    TsMuxer m_muxer;

    std::mutex m_configMutex;
    // guards: m_viewerCountHandler, m_errorHandler, m_recordingsDir, m_recordingInProgress, m_compositeWidth,
    //         m_compositeHeight, m_fps
    std::function<void(int)> m_viewerCountHandler;
    std::function<void(const std::string&)> m_errorHandler;
    std::string m_recordingsDir;
    std::string m_recordingInProgress;  // empty = none
    int m_compositeWidth = 1280;
    int m_compositeHeight = 720;
    int m_fps = 30;
};

}  // namespace lagwell

#include "ShareServer.h"

#include "Log.h"
#include "RequestReader.h"
#include "RoomCode.h"
#include "SharePages.h"
#include "UniqueFd.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <system_error>

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lagwell {

namespace {

constexpr const char* kTextPlain = "text/plain; charset=utf-8";
constexpr const char* kTextHtml = "text/html; charset=utf-8";
constexpr const char* kThrottledBody = "Too many wrong codes. Wait a few minutes.";
constexpr const char* kNotFoundBody = "Not found.";
constexpr int kAcceptBackoffMs = 50;
constexpr size_t kDownloadChunkBytes = 65536;
constexpr const char kRecordingsPrefix[] = "/recordings/";

// The head of the endless live-stream response.
constexpr char kHeaders[] = "HTTP/1.0 200 OK\r\n"
                            "Content-Type: video/mp2t\r\n"
                            "Cache-Control: no-store\r\n"
                            "Connection: close\r\n"
                            "Access-Control-Allow-Origin: *\r\n"
                            "\r\n";

using SteadyClock = std::chrono::steady_clock;

const char* reasonPhrase(int status)
{
    switch (status) {
    case 200: return "OK";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 429: return "Too Many Requests";
    default: return "Error";
    }
}

// Sends every byte; false when a send moved nothing or failed.
bool sendAll(int fd, const char* data, size_t size)
{
    size_t sent = 0;
    while (sent < size) {
        const ssize_t n = ::send(fd, data + sent, size - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

void setTimeouts(int fd, int seconds)
{
    timeval timeout {};
    timeout.tv_sec = seconds;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof(timeout));
}

// Ends the connection's sending side and reads away what the client still
// sends, until it closes, kLingerMs pass or kLingerMaxBytes were read. A
// close with unread input would answer with a reset, which discards the
// response's bytes still queued in the kernel.
void lingerBeforeClose(int fd)
{
    ::shutdown(fd, SHUT_WR);
    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(ShareServer::kLingerMs);
    char scratch[16384];
    size_t drained = 0;
    while (drained < ShareServer::kLingerMaxBytes) {
        const auto remainingMs =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
        if (remainingMs <= 0)
            return;
        pollfd waitFor {fd, POLLIN, 0};
        const int ready = ::poll(&waitFor, 1, static_cast<int>(remainingMs));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return;
        const ssize_t n = ::recv(fd, scratch, sizeof(scratch), MSG_DONTWAIT);
        if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK))
            continue;
        if (n <= 0)
            return;  // the client closed (or the socket was shut down)
        drained += static_cast<size_t>(n);
    }
}

bool startsWith(const std::string& text, const char* prefix)
{
    return text.rfind(prefix, 0) == 0;
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

}  // namespace

ShareServer::ShareServer(CodeThrottle::ClockMs nowMs) : m_throttle(std::move(nowMs)) {}

ShareServer::~ShareServer()
{
    stop();
    // A connection thread may outlive stop's bounded wait; every socket is
    // shut down by then, so it finishes at once. It uses this object until
    // it has released its slot, so wait for that.
    std::unique_lock<std::mutex> lock(m_connectionsMutex);
    m_connectionsIdle.wait(lock, [this] { return m_inFlight == 0; });
}

void ShareServer::setCompositeSize(int width, int height, int fps)
{
    std::lock_guard<std::mutex> lock(m_configMutex);
    m_compositeWidth = width;
    m_compositeHeight = height;
    m_fps = fps;
}

void ShareServer::setRecordingsDirectory(const std::string& directory)
{
    std::lock_guard<std::mutex> lock(m_configMutex);
    m_recordingsDir = directory;
}

void ShareServer::setRecordingInProgress(const std::string& path)
{
    std::lock_guard<std::mutex> lock(m_configMutex);
    m_recordingInProgress = path;
}

void ShareServer::setViewerCountHandler(std::function<void(int)> handler)
{
    std::lock_guard<std::mutex> lock(m_configMutex);
    m_viewerCountHandler.swap(handler);
    handler = nullptr;  // the previous handler goes under the lock
}

void ShareServer::setErrorHandler(std::function<void(const std::string&)> handler)
{
    std::lock_guard<std::mutex> lock(m_configMutex);
    m_errorHandler.swap(handler);
    handler = nullptr;
}

bool ShareServer::start(std::string* error)
{
    if (m_running.load())
        return true;

    // Loaded first, so even a failed start leaves the code file in place.
    {
        std::string code = RoomCode::loadOrCreateCode();
        std::lock_guard<std::mutex> lock(m_codeMutex);
        m_code = std::move(code);
    }

    auto fail = [error](const std::string& message) {
        if (error)
            *error = message;
        return false;
    };

    if (localAddress().empty())
        return fail("No Wi-Fi or Ethernet address \u2014 connect to a network first.");

    UniqueFd listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!listener)
        return fail("Could not create a socket.");
    const int reuse = 1;
    ::setsockopt(listener.get(), SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof(reuse));

    int boundPort = 0;
    for (int port = kFirstPort; port <= kLastPort; ++port) {
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_ANY);
        address.sin_port = htons(static_cast<uint16_t>(port));
        if (::bind(listener.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0) {
            boundPort = port;
            break;
        }
    }
    if (boundPort == 0)
        return fail("Could not bind any port from 8080 through 8091.");
    if (::listen(listener.get(), kListenBacklog) != 0)
        return fail("Could not listen on the bound socket.");

    int width = 0;
    int height = 0;
    int fps = 0;
    {
        std::lock_guard<std::mutex> lock(m_configMutex);
        width = m_compositeWidth;
        height = m_compositeHeight;
        fps = m_fps;
    }
    {
        std::lock_guard<std::mutex> lock(m_muxerMutex);
        m_muxer.reset();
    }
    m_encoder.setAuSink([this](const std::vector<uint8_t>& au, bool keyframe, int64_t ptsUs,
                               const std::vector<uint8_t>& codecConfig) {
        onAccessUnit(au, keyframe, ptsUs, codecConfig);
    });
    m_encoder.setFailureHandler([this](const std::string& message) { onEncoderFailure(message); });
    std::string encoderError;
    if (!m_encoder.start(width, height, fps, &encoderError))
        return fail("Could not start the share encoder: " + encoderError);

    {
        std::lock_guard<std::mutex> lock(m_connectionsMutex);
        m_refusing = false;
    }
    m_listenFd = listener.release();
    m_port.store(boundPort);
    m_running.store(true);
    try {
        m_acceptThread = std::thread([this] { acceptLoop(); });
    } catch (const std::system_error& e) {
        m_running.store(false);
        m_encoder.stop();
        ::close(m_listenFd);
        m_listenFd = -1;
        return fail(std::string("Could not start the share server's thread (") + e.what() + ").");
    }
    return true;
}

void ShareServer::stop()
{
    if (!m_running.exchange(false))
        return;
    m_generation.fetch_add(1);

    // Shutting the listener down makes the blocked accept return; it is
    // closed only once the accept thread can no longer use it.
    ::shutdown(m_listenFd, SHUT_RDWR);
    if (m_acceptThread.joinable())
        m_acceptThread.join();
    ::close(m_listenFd);
    m_listenFd = -1;

    // Every open connection (viewers, downloads, slow requests) is shut down;
    // its thread then fails its next read or write and ends.
    {
        std::lock_guard<std::mutex> lock(m_connectionsMutex);
        m_refusing = true;
        for (int fd : m_connectionFds)
            ::shutdown(fd, SHUT_RDWR);
    }

    std::vector<std::shared_ptr<Client>> viewers;
    {
        std::lock_guard<std::mutex> lock(m_clientsMutex);
        viewers.swap(m_clients);
    }
    for (const auto& viewer : viewers)
        viewer->drop();
    {
        // The last report (notifyViewerCount sees m_running false from now
        // on), also when a viewer left on its own after m_running fell.
        std::lock_guard<std::mutex> notify(m_notifyMutex);
        std::function<void(int)> handler;
        {
            std::lock_guard<std::mutex> lock(m_configMutex);
            handler = m_viewerCountHandler;
        }
        if (handler && m_lastReportedCount != 0)
            handler(0);  // under m_notifyMutex only, to keep the reports in order
        m_lastReportedCount = 0;
    }

    {
        std::unique_lock<std::mutex> lock(m_connectionsMutex);
        const bool idle = m_connectionsIdle.wait_until(
            lock, SteadyClock::now() + std::chrono::milliseconds(kStopWaitMs), [this] { return m_inFlight == 0; });
        if (!idle)
            LW_LOG_WARN("ShareServer::stop: %d connection(s) still finishing", m_inFlight);
    }

    m_encoder.stop();
    m_throttle.clear();
    viewers.clear();
}

CompositeSink* ShareServer::sink()
{
    return m_running.load() ? &m_encoder : nullptr;
}

std::optional<ShareInfo> ShareServer::info()
{
    if (!m_running.load())
        return std::nullopt;
    ShareInfo info;
    info.address = localAddress();
    info.port = m_port.load();
    info.code = currentCode();
    info.url = "http://" + info.address + ":" + std::to_string(info.port) + "/live.ts?k=" + info.code;
    {
        std::lock_guard<std::mutex> lock(m_clientsMutex);
        info.viewers = static_cast<int32_t>(m_clients.size());
    }
    return info;
}

std::string ShareServer::regenerateCode()
{
    std::string code = RoomCode::newCode();
    RoomCode::saveCode(code);
    std::lock_guard<std::mutex> lock(m_codeMutex);
    m_code = code;
    return code;
}

std::string ShareServer::currentCode()
{
    std::lock_guard<std::mutex> lock(m_codeMutex);
    return m_code;
}

bool ShareServer::isServing(uint64_t generation) const
{
    return m_running.load() && m_generation.load() == generation;
}

void ShareServer::acceptLoop()
{
    pthread_setname_np(pthread_self(), "tvx-share-acc");
    const uint64_t generation = m_generation.load();
    while (m_running.load()) {
        sockaddr_in peer {};
        socklen_t peerSize = sizeof(peer);
        const int fd = ::accept4(m_listenFd, reinterpret_cast<sockaddr*>(&peer), &peerSize, SOCK_CLOEXEC);
        if (fd < 0) {
            if (!m_running.load())
                break;
            // A peer that gave up is harmless; anything else (no descriptors,
            // no memory) would come back at once, so pause instead of spinning.
            if (errno != EINTR && errno != ECONNABORTED)
                std::this_thread::sleep_for(std::chrono::milliseconds(kAcceptBackoffMs));
            continue;
        }

        char peerText[INET_ADDRSTRLEN] = {};
        if (!::inet_ntop(AF_INET, &peer.sin_addr, peerText, sizeof(peerText)))
            peerText[0] = '\0';

        std::string peerIp = peerText;
        bool busy = false;
        {
            std::lock_guard<std::mutex> lock(m_connectionsMutex);
            if (m_refusing) {
                ::close(fd);
                continue;
            }
            const auto peer = m_peerConnections.find(peerIp);
            if (m_inFlight >= kMaxConnections
                || (peer != m_peerConnections.end() && peer->second >= kMaxConnectionsPerPeer)) {
                busy = true;
            } else {
                m_connectionFds.insert(fd);
                ++m_inFlight;
                ++m_peerConnections[peerIp];
            }
        }
        if (busy) {
            rejectBusy(fd);
            continue;
        }

        try {
            std::thread([this, fd, peerIp, generation] { connectionMain(fd, peerIp, generation); }).detach();
        } catch (const std::system_error& e) {
            LW_LOG_WARN("ShareServer: could not start a connection thread (%s)", e.what());
            std::lock_guard<std::mutex> lock(m_connectionsMutex);
            ::close(fd);
            releaseSlotLocked(fd, peerIp);
        }
    }
}

void ShareServer::releaseSlotLocked(int fd, const std::string& peerIp)
{
    m_connectionFds.erase(fd);
    const auto peer = m_peerConnections.find(peerIp);
    if (peer != m_peerConnections.end() && --peer->second <= 0)
        m_peerConnections.erase(peer);
    if (--m_inFlight == 0)
        m_connectionsIdle.notify_all();
}

void ShareServer::rejectBusy(int fd)
{
    // On the accept thread: a short response that fits the fresh socket's
    // buffer, then whatever the peer already sent is read away so the close
    // does not reset the connection before the response is read.
    timeval timeout {};
    timeout.tv_sec = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof(timeout));
    respondText(fd, 503, kTextPlain, "Too many connections. Try again shortly.");
    ::shutdown(fd, SHUT_WR);
    char scratch[1024];
    while (::recv(fd, scratch, sizeof(scratch), MSG_DONTWAIT) > 0) {
    }
    ::close(fd);
}

void ShareServer::connectionMain(int fd, std::string peerIp, uint64_t generation)
{
    pthread_setname_np(pthread_self(), "tvx-http");
    handleClient(fd, peerIp, generation);
    // Still listed, so stop's sweep ends the wait at once.
    lingerBeforeClose(fd);
    // The slot is released under the lock, so the stop sweep never shuts
    // down a descriptor number that was closed and reused, and the object
    // is not touched after the notify.
    std::lock_guard<std::mutex> lock(m_connectionsMutex);
    ::close(fd);
    releaseSlotLocked(fd, peerIp);
}

void ShareServer::handleClient(int fd, const std::string& peerIp, uint64_t generation)
{
    setTimeouts(fd, kSocketTimeoutSeconds);
    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(kRequestDeadlineMs);

    RequestReader reader(fd, deadline, kSocketTimeoutSeconds * 1000);
    std::string requestLine;
    reader.readLine(requestLine);
    if (requestLine.empty())
        return;
    const std::string target = requestTarget(requestLine);
    reader.drainHeaders();

    if (!isServing(generation))
        return;

    if (m_throttle.isThrottled(peerIp)) {
        respondText(fd, 429, kTextPlain, kThrottledBody);
    } else if (startsWith(target, "/live.ts")) {
        handleLiveStream(fd, peerIp, target);
    } else if (startsWith(target, kRecordingsPrefix)) {
        if (admitWithCode(fd, peerIp, target))
            handleRecordingDownload(fd, target);
    } else if (target == "/recordings" || startsWith(target, "/recordings?")) {
        if (admitWithCode(fd, peerIp, target))
            respondText(fd, 200, kTextHtml, recordingsPageHtml());
    } else {
        std::string host = "this-machine";
        sockaddr_in local {};
        socklen_t localSize = sizeof(local);
        char localText[INET_ADDRSTRLEN] = {};
        if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localSize) == 0 && local.sin_family == AF_INET
            && ::inet_ntop(AF_INET, &local.sin_addr, localText, sizeof(localText)))
            host = localText;
        respondText(fd, 200, kTextHtml, connectPageHtml(host));
    }
}

void ShareServer::handleLiveStream(int fd, const std::string& peerIp, const std::string& target)
{
    if (admitWithCode(fd, peerIp, target))
        serveViewer(fd, peerIp);
}

bool ShareServer::admitWithCode(int fd, const std::string& peerIp, const std::string& target)
{
    // Checked and counted in one step: parallel requests of one peer cannot
    // compare more codes than the throttle admits.
    switch (m_throttle.checkCode(peerIp, roomCodeFromTarget(target), currentCode())) {
    case CodeThrottle::Verdict::Throttled:
        respondText(fd, 429, kTextPlain, kThrottledBody);
        return false;
    case CodeThrottle::Verdict::Wrong:
        respondText(fd, 403, kTextPlain, "Wrong room code.");
        return false;
    case CodeThrottle::Verdict::Right:
        return true;
    }
    return false;
}

void ShareServer::serveViewer(int fd, const std::string& peerIp)
{
    timeval noTimeout {};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &noTimeout, sizeof(noTimeout));
    timeval sendTimeout {};
    sendTimeout.tv_sec = kViewerSendTimeoutSeconds;
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &sendTimeout, sizeof(sendTimeout));
    const int noDelay = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof(noDelay));

    // The head goes out at once, before any picture.
    if (!sendAll(fd, kHeaders, sizeof(kHeaders) - 1))
        return;

    auto client = std::make_shared<Client>(fd, peerIp);
    {
        std::lock_guard<std::mutex> lock(m_clientsMutex);
        m_clients.push_back(client);
    }
    notifyViewerCount();

    while (m_running.load() && client->alive()) {
        // Moves what the broadcast left waiting, and notices a stall even
        // while no access unit comes.
        if (!client->flush())
            break;
        char byte = 0;
        const ssize_t n = ::recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
        if (n == 0)
            break;  // the peer closed
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            break;
        // Bytes the viewer sends are never consumed; a peer that sent some
        // is noticed by a failed send instead.
        std::this_thread::sleep_for(std::chrono::milliseconds(kViewerPollMs));
    }

    {
        std::lock_guard<std::mutex> lock(m_clientsMutex);
        m_clients.erase(std::remove(m_clients.begin(), m_clients.end(), client), m_clients.end());
    }
    // From here on only this thread touches the descriptor (connectionMain
    // closes it), so a later drop() cannot shut down a reused number.
    client->markClosed();
    ::shutdown(fd, SHUT_RDWR);
    notifyViewerCount();
}

void ShareServer::handleRecordingDownload(int fd, const std::string& target)
{
    std::string path = target.substr(0, target.find('?'));
    const std::string name = urlDecode(path.substr(sizeof(kRecordingsPrefix) - 1));
    if (name.empty() || name.find('/') != std::string::npos || name.find("..") != std::string::npos
        || name.find('\0') != std::string::npos) {
        respondText(fd, 404, kTextPlain, kNotFoundBody);
        return;
    }
    std::string directory;
    std::string inProgress;
    {
        std::lock_guard<std::mutex> lock(m_configMutex);
        directory = m_recordingsDir;
        inProgress = m_recordingInProgress;
    }
    if (directory.empty()) {
        respondText(fd, 404, kTextPlain, kNotFoundBody);
        return;
    }
    path = directory + "/" + name;

    // Opened without waiting (a FIFO would block) and checked on the open
    // descriptor, so what is checked is what is sent.
    UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    struct stat info {};
    if (!file || ::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)
        || SharePages::isSameFile(inProgress, path, info)) {
        respondText(fd, 404, kTextPlain, kNotFoundBody);
        return;
    }

    std::string shownName = name;
    std::replace_if(shownName.begin(), shownName.end(), [](char c) { return c == '"' || c == '\r' || c == '\n'; },
                    '_');
    const std::string head = "HTTP/1.0 200 OK\r\nContent-Type: video/mp4\r\nContent-Length: "
        + std::to_string(static_cast<long long>(info.st_size)) + "\r\nContent-Disposition: attachment; filename=\""
        + shownName + "\"\r\nConnection: close\r\n\r\n";
    if (!sendAll(fd, head.data(), head.size()))
        return;

    // Never more than the announced length, even when the file grew since.
    std::vector<char> buffer(kDownloadChunkBytes);
    uint64_t remaining = static_cast<uint64_t>(info.st_size);
    while (remaining > 0) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(remaining, buffer.size()));
        const ssize_t n = ::read(file.get(), buffer.data(), want);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;  // the file shrank: the short body tells the client
        if (!sendAll(fd, buffer.data(), static_cast<size_t>(n)))
            return;
        remaining -= static_cast<uint64_t>(n);
    }
}

std::string ShareServer::recordingsPageHtml()
{
    std::string directory;
    std::string inProgress;
    {
        std::lock_guard<std::mutex> lock(m_configMutex);
        directory = m_recordingsDir;
        inProgress = m_recordingInProgress;
    }
    return SharePages::recordingsPageHtml(SharePages::listRecordings(directory, inProgress), currentCode());
}

std::string ShareServer::connectPageHtml(const std::string& host)
{
    return SharePages::connectPageHtml(host, m_port.load());
}

void ShareServer::onAccessUnit(const std::vector<uint8_t>& au, bool keyframe, int64_t ptsUs,
                               const std::vector<uint8_t>& codecConfig)
{
    std::vector<uint8_t> packets;
    {
        std::lock_guard<std::mutex> lock(m_muxerMutex);
        packets = m_muxer.packetize(au, keyframe, ptsUs, codecConfig);
    }
    broadcast(packets, keyframe);
}

void ShareServer::onEncoderFailure(const std::string& message)
{
    std::function<void(const std::string&)> handler;
    {
        std::lock_guard<std::mutex> lock(m_configMutex);
        handler = m_errorHandler;
    }
    if (handler)
        handler(message);
}

void ShareServer::broadcast(const std::vector<uint8_t>& bytes, bool keyframe)
{
    // The list is copied and the lock released before any send, so joining,
    // leaving and info() never wait for the network.
    std::vector<std::shared_ptr<Client>> viewers;
    {
        std::lock_guard<std::mutex> lock(m_clientsMutex);
        if (m_clients.empty())
            return;
        viewers = m_clients;
    }
    std::vector<std::shared_ptr<Client>> dropped;
    for (const auto& viewer : viewers) {
        if (!viewer->deliver(bytes, keyframe))
            dropped.push_back(viewer);
    }
    if (dropped.empty())
        return;
    {
        std::lock_guard<std::mutex> lock(m_clientsMutex);
        m_clients.erase(std::remove_if(m_clients.begin(), m_clients.end(),
                                       [&dropped](const std::shared_ptr<Client>& viewer) {
                                           return std::find(dropped.begin(), dropped.end(), viewer) != dropped.end();
                                       }),
                        m_clients.end());
    }
    // Wakes each dropped viewer's thread, which closes its socket.
    for (const auto& viewer : dropped)
        viewer->drop();
    notifyViewerCount();
}

void ShareServer::notifyViewerCount()
{
    // Reports are serialised so that they cannot overtake one another: the
    // last one always carries the count after the last change.
    std::lock_guard<std::mutex> notify(m_notifyMutex);
    if (!m_running.load())
        return;  // stop() made the last report
    std::function<void(int)> handler;
    {
        std::lock_guard<std::mutex> lock(m_configMutex);
        handler = m_viewerCountHandler;
    }
    if (!handler)
        return;
    int count = 0;
    {
        std::lock_guard<std::mutex> lock(m_clientsMutex);
        count = static_cast<int>(m_clients.size());
    }
    m_lastReportedCount = count;
    handler(count);  // under m_notifyMutex only, to keep the reports in order
}

void ShareServer::respondText(int fd, int status, const std::string& contentType, const std::string& body)
{
    const std::string head = "HTTP/1.0 " + std::to_string(status) + " " + reasonPhrase(status)
        + "\r\nContent-Type: " + contentType + "\r\nContent-Length: " + std::to_string(body.size())
        + "\r\nConnection: close\r\n\r\n";
    if (!sendAll(fd, head.data(), head.size()))
        return;
    sendAll(fd, body.data(), body.size());
}

void ShareServer::drainHeaders(int fd)
{
    RequestReader(fd, SteadyClock::now() + std::chrono::milliseconds(kRequestDeadlineMs), kSocketTimeoutSeconds * 1000)
        .drainHeaders();
}

std::string ShareServer::requestTarget(const std::string& requestLine)
{
    const size_t first = requestLine.find(' ');
    if (first == std::string::npos)
        return "/";
    const size_t second = requestLine.find(' ', first + 1);
    if (second == std::string::npos)
        return "/";
    return requestLine.substr(first + 1, second - first - 1);
}

std::string ShareServer::urlDecode(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 && hexValue(text[i + 2]) >= 0) {
            out.push_back(static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2])));
            i += 2;
        } else if (c == '+') {
            out.push_back(' ');
        } else {
            out.push_back(c);
        }
    }
    return out;
}

std::string ShareServer::roomCodeFromTarget(const std::string& target)
{
    const size_t question = target.find('?');
    if (question == std::string::npos)
        return {};
    const std::string query = target.substr(question + 1);
    size_t begin = 0;
    while (begin <= query.size()) {
        size_t end = query.find('&', begin);
        if (end == std::string::npos)
            end = query.size();
        const std::string piece = query.substr(begin, end - begin);
        const size_t equals = piece.find('=');
        if (equals != std::string::npos && piece.compare(0, equals, "k") == 0) {
            std::string value = urlDecode(piece.substr(equals + 1));
            const size_t first = value.find_first_not_of(" \t");
            if (first == std::string::npos)
                return {};
            const size_t last = value.find_last_not_of(" \t");
            return value.substr(first, last - first + 1);
        }
        begin = end + 1;
    }
    return {};
}

int ShareServer::addressScore(const std::string& interfaceName, const std::string& address)
{
    const bool wireless = startsWith(interfaceName, "wl");
    if (!wireless && !startsWith(interfaceName, "en") && !startsWith(interfaceName, "eth"))
        return -1;
    if (startsWith(address, "169.254."))
        return -1;
    int score = 10;
    if (startsWith(address, "192.168.")) {
        score = 100;
    } else if (startsWith(address, "10.")) {
        score = 80;
    } else if (startsWith(address, "172.")) {
        int second = -1;
        if (std::sscanf(address.c_str() + 4, "%d.", &second) == 1 && second >= 16 && second <= 31)
            score = 60;
    }
    return wireless ? score + 50 : score;
}

std::string ShareServer::localAddress()
{
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0)
        return {};
    std::string best;
    int bestScore = -1;
    for (const ifaddrs* entry = list; entry; entry = entry->ifa_next) {
        if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET || !entry->ifa_name)
            continue;
        if (!(entry->ifa_flags & IFF_UP) || (entry->ifa_flags & IFF_LOOPBACK))
            continue;
        char text[INET_ADDRSTRLEN] = {};
        const auto* address = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
        if (!::inet_ntop(AF_INET, &address->sin_addr, text, sizeof(text)))
            continue;
        const int score = addressScore(entry->ifa_name, text);
        if (score > bestScore) {
            bestScore = score;
            best = text;
        }
    }
    ::freeifaddrs(list);
    return best;
}

}  // namespace lagwell

#include "ShareServer.h"

#include "ShareServerFixture.h"
#include "TestNetwork.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>

using lagwell::UniqueFd;
using lagwell::test::FrameFeeder;
using lagwell::test::kLan;
using lagwell::test::ShareServerTest;
namespace net = lagwell::test;
using Clock = std::chrono::steady_clock;

namespace {

constexpr const char* kHead = "HTTP/1.0 200 OK\r\nContent-Type: video/mp2t\r\nCache-Control: no-store\r\n"
                              "Connection: close\r\nAccess-Control-Allow-Origin: *\r\n\r\n";

struct CommandResult {
    int exitCode = -1;
    std::string output;  // standard output only
};

// Runs a shell command in this thread's network namespace; stderr goes to
// the file given inside the command when wanted.
CommandResult run(const std::string& command)
{
    CommandResult result;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return result;
    char buffer[65536];
    size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof(buffer), pipe)) > 0)
        result.output.append(buffer, n);
    const int status = ::pclose(pipe);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::string streamUrl(int port) { return "http://" + std::string(kLan) + ":" + std::to_string(port) + "/live.ts?k=K7Q"; }

// A viewer over a raw socket: sends the request, reads the head, then
// (when reading) collects the stream on a thread of its own with the time
// of every read.
class LiveClient {
public:
    // `receiveBufferBytes` > 0 shrinks the socket's receive buffer before
    // connecting (a stalled client then fills quickly).
    bool open(int port, int receiveBufferBytes = 0)
    {
        m_fd = UniqueFd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        if (!m_fd)
            return false;
        if (receiveBufferBytes > 0) {
            ::setsockopt(m_fd.get(), SOL_SOCKET, SO_RCVBUF, &receiveBufferBytes, sizeof(receiveBufferBytes));
            ::setsockopt(m_fd.get(), IPPROTO_TCP, TCP_WINDOW_CLAMP, &receiveBufferBytes, sizeof(receiveBufferBytes));
        }
        sockaddr_in target {};
        target.sin_family = AF_INET;
        target.sin_port = htons(static_cast<uint16_t>(port));
        ::inet_pton(AF_INET, kLan, &target.sin_addr);
        if (::connect(m_fd.get(), reinterpret_cast<sockaddr*>(&target), sizeof(target)) != 0)
            return false;
        const std::string request = "GET /live.ts?k=K7Q HTTP/1.0\r\n\r\n";
        return ::send(m_fd.get(), request.data(), request.size(), MSG_NOSIGNAL) == ssize_t(request.size());
    }

    // Reads exactly the head (byte by byte, so no stream byte is taken).
    std::string readHead(int timeoutMs = 10000)
    {
        std::string head;
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (head.size() < 4 || head.compare(head.size() - 4, 4, "\r\n\r\n") != 0) {
            pollfd waitFor {m_fd.get(), POLLIN, 0};
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0 || ::poll(&waitFor, 1, int(left)) <= 0)
                break;
            char c = 0;
            if (::recv(m_fd.get(), &c, 1, 0) != 1)
                break;
            head.push_back(c);
        }
        return head;
    }

    void startReading()
    {
        m_reading.store(true);
        m_reader = std::thread([this] {
            char buffer[65536];
            while (m_reading.load()) {
                pollfd waitFor {m_fd.get(), POLLIN, 0};
                if (::poll(&waitFor, 1, 100) <= 0)
                    continue;
                const ssize_t n = ::recv(m_fd.get(), buffer, sizeof(buffer), 0);
                std::lock_guard<std::mutex> lock(m_mutex);
                if (n <= 0) {
                    m_closed = true;
                    break;
                }
                m_bytes.append(buffer, size_t(n));
                m_readTimes.push_back(Clock::now());
            }
        });
    }
    void stopReading()
    {
        m_reading.store(false);
        if (m_reader.joinable())
            m_reader.join();
    }
    ~LiveClient() { stopReading(); }

    std::string bytes()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_bytes;
    }
    bool closed()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_closed;
    }
    // The longest time between two reads from `since` on.
    Clock::duration longestGapSince(Clock::time_point since)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        Clock::duration longest {};
        Clock::time_point previous = since;
        for (const auto& time : m_readTimes) {
            if (time < since)
                continue;
            longest = std::max(longest, time - previous);
            previous = time;
        }
        return std::max(longest, Clock::now() - previous);
    }
    bool waitForBytes(size_t count, int timeoutMs = 20000)
    {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (Clock::now() < deadline) {
            if (bytes().size() >= count)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }
    void close() { m_fd.reset(); }
    int fd() const { return m_fd.get(); }

private:
    UniqueFd m_fd;
    std::atomic<bool> m_reading {false};
    std::thread m_reader;
    std::mutex m_mutex;
    std::string m_bytes;
    std::vector<Clock::time_point> m_readTimes;
    bool m_closed = false;
};

int pidOf(const std::string& packet) { return ((uint8_t(packet[1]) & 0x1F) << 8) | uint8_t(packet[2]); }

// The stream a viewer first receives: PAT, PMT, then a video packet that
// starts a PES, is marked a random-access point and carries the sequence
// parameter set first.
void expectStartsAtAKeyframe(const std::string& stream)
{
    ASSERT_GE(stream.size(), 3u * 188);
    const std::string pat = stream.substr(0, 188);
    const std::string pmt = stream.substr(188, 188);
    const std::string video = stream.substr(376, 188);
    EXPECT_EQ(uint8_t(pat[0]), 0x47);
    EXPECT_EQ(pidOf(pat), 0x0000);
    EXPECT_EQ(pidOf(pmt), 0x1000);
    EXPECT_EQ(pidOf(video), 0x0100);
    EXPECT_TRUE(uint8_t(video[1]) & 0x40) << "payload unit start";
    EXPECT_EQ(uint8_t(video[5]), 0x50) << "random access and PCR flags";
    const size_t pes = video.find(std::string("\x00\x00\x01\xE0", 4));
    ASSERT_NE(pes, std::string::npos);
    const size_t payload = pes + 9 + uint8_t(video[pes + 8]);
    const size_t startCode = video.find(std::string("\x00\x00\x01", 3), payload);
    ASSERT_NE(startCode, std::string::npos);
    EXPECT_EQ(uint8_t(video[startCode + 3]) & 0x1F, 7) << "sequence parameter set first";
}

class ShareViewersTest : public ShareServerTest {
protected:
    int startStreaming(int width, int height, FrameFeeder::Motion motion = FrameFeeder::Motion::Calm)
    {
        m_server->setCompositeSize(width, height, 30);
        const int port = startServer();
        lagwell::CompositeSink* sink = m_server->sink();
        if (sink)
            m_feeder.start(sink, width, height, motion);
        return port;
    }
    void TearDown() override
    {
        m_feeder.stop();
        ShareServerTest::TearDown();
    }

    FrameFeeder m_feeder;
};

TEST_F(ShareViewersTest, ffprobeAndFfmpegDecodePicturesOfTheShareSize)
{
    const int port = startStreaming(320, 180);
    ASSERT_NE(port, 0);
    const auto probe = run("timeout 60 ffprobe -v error -select_streams v:0 -show_entries stream=codec_name,width,height "
                           "-of csv=p=0 '" + streamUrl(port) + "'");
    EXPECT_EQ(probe.exitCode, 0);
    EXPECT_EQ(probe.output.substr(0, 13), "h264,320,180\n") << probe.output;

    constexpr int kFrames = 20;
    const auto decoded = run("timeout 60 ffmpeg -nostdin -v error -i '" + streamUrl(port) + "' -frames:v "
                             + std::to_string(kFrames) + " -f rawvideo -pix_fmt gray -");
    EXPECT_EQ(decoded.exitCode, 0);
    EXPECT_EQ(decoded.output.size(), size_t(kFrames) * 320 * 180);
}

TEST_F(ShareViewersTest, viewerJoiningMidStreamGetsTheHeadAtOnceAndStartsAtAKeyframe)
{
    const int port = startStreaming(320, 180);
    LiveClient first;
    ASSERT_TRUE(first.open(port));
    EXPECT_EQ(first.readHead(), kHead);
    first.startReading();
    ASSERT_TRUE(first.waitForBytes(3 * 188));

    // Join at a moment unrelated to the once-a-second keyframes.
    std::this_thread::sleep_for(std::chrono::milliseconds(1370));
    LiveClient late;
    ASSERT_TRUE(late.open(port));
    EXPECT_EQ(late.readHead(), kHead);
    late.startReading();
    ASSERT_TRUE(late.waitForBytes(3 * 188));
    std::this_thread::sleep_for(std::chrono::seconds(2));
    late.stopReading();
    first.stopReading();

    for (LiveClient* client : {&first, &late}) {
        SCOPED_TRACE(client == &first ? "first" : "late");
        const std::string stream = client->bytes();
        EXPECT_EQ(stream.size() % 188, 0u);
        expectStartsAtAKeyframe(stream);
        // The stream has predicted pictures between its keyframes, so a
        // viewer can indeed join between two keyframes.
        int keyStarts = 0;
        int otherStarts = 0;
        for (size_t at = 0; at + 188 <= stream.size(); at += 188) {
            if (pidOf(stream.substr(at, 3)) == 0x0100 && (uint8_t(stream[at + 1]) & 0x40))
                (uint8_t(stream[at + 5]) == 0x50 ? keyStarts : otherStarts)++;
        }
        EXPECT_GE(keyStarts, 1);
        EXPECT_GT(otherStarts, keyStarts);
        // The bytes decode from their first packet on, without a missing
        // parameter set or reference.
        const std::string path = (m_configDir / "viewer.ts").string();
        std::ofstream(path, std::ios::binary) << stream;
        const auto decoded = run("ffmpeg -nostdin -v error -i '" + path
                                 + "' -f rawvideo -pix_fmt gray - 2>" + path + ".err");
        EXPECT_EQ(decoded.exitCode, 0);
        EXPECT_EQ(net::readFile(path + ".err"), "");
        EXPECT_GE(decoded.output.size(), size_t(30) * 320 * 180);
        EXPECT_EQ(decoded.output.size() % (320 * 180), 0u);
    }
}

TEST_F(ShareViewersTest, stalledViewerDelaysNeitherTheOthersNorInfoAndIsDropped)
{
    // Small socket buffers in this namespace, so the stalled viewer's fill
    // up within a second.
    std::ofstream("/proc/sys/net/ipv4/tcp_wmem") << "4096 16384 65536\n";
    const int port = startStreaming(640, 360, FrameFeeder::Motion::Busy);
    LiveClient stalled;
    ASSERT_TRUE(stalled.open(port, 4096));
    EXPECT_EQ(stalled.readHead(), kHead);  // and then never reads again
    LiveClient reader;
    ASSERT_TRUE(reader.open(port));
    EXPECT_EQ(reader.readHead(), kHead);
    const int fdsWithTwoViewers = net::openFdCount();
    const auto since = Clock::now();
    reader.startReading();

    Clock::duration slowestInfo {};
    int viewers = 2;
    const auto deadline = Clock::now() + std::chrono::seconds(60);
    while (viewers == 2 && Clock::now() < deadline) {
        const auto before = Clock::now();
        const auto info = m_server->info();
        slowestInfo = std::max(slowestInfo, Clock::now() - before);
        ASSERT_TRUE(info);
        viewers = info->viewers;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_EQ(viewers, 1) << "the stalled viewer was not dropped";
    // Keep streaming a while after the drop too.
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const auto longestGap = reader.longestGapSince(since);
    reader.stopReading();

    // A broadcast that waited on the stalled socket would stop everyone for
    // its 2 s send time-out at least once.
    EXPECT_LT(longestGap, std::chrono::milliseconds(1500));
    EXPECT_LT(slowestInfo, std::chrono::milliseconds(1000));
    EXPECT_FALSE(reader.closed());
    EXPECT_GT(reader.bytes().size(), 100u * 1024);
    // The server closed its end of the dropped viewer's connection (both
    // ends live in this process; the client's stays open).
    const auto closeDeadline = Clock::now() + std::chrono::seconds(10);
    while (net::openFdCount() != fdsWithTwoViewers - 1 && Clock::now() < closeDeadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(net::openFdCount(), fdsWithTwoViewers - 1);
}

TEST_F(ShareViewersTest, viewerThatStopsReadingIsDroppedByTheStallRuleWhateverTheBuffers)
{
    // The system's own socket buffers: the server's send buffer may grow to
    // megabytes, which must not hide the stall.
    const int fdsBefore = net::openFdCount();
    const int threadsBefore = net::threadCount();
    const int port = startStreaming(640, 360, FrameFeeder::Motion::Busy);
    LiveClient reader;
    ASSERT_TRUE(reader.open(port));
    EXPECT_EQ(reader.readHead(), kHead);
    reader.startReading();
    LiveClient stalled;
    ASSERT_TRUE(stalled.open(port));
    EXPECT_EQ(stalled.readHead(), kHead);
    // The stalled viewer reads for a while like a player, then stops.
    stalled.startReading();
    ASSERT_TRUE(stalled.waitForBytes(200 * 1024));
    stalled.stopReading();
    const auto stoppedAt = Clock::now();

    // The client's kernel takes bytes until its receive buffer is full; from
    // then on the viewer takes nothing, and the stall rule counts from there.
    int viewers = 2;
    int queued = 0;
    Clock::time_point lastTaken = stoppedAt;
    const auto deadline = stoppedAt + std::chrono::seconds(60);
    while (viewers == 2 && Clock::now() < deadline) {
        int nowQueued = 0;
        ASSERT_EQ(::ioctl(stalled.fd(), FIONREAD, &nowQueued), 0);
        if (nowQueued > queued) {
            queued = nowQueued;
            lastTaken = Clock::now();
        }
        const auto info = m_server->info();
        ASSERT_TRUE(info);
        viewers = info->viewers;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(viewers, 1);
    EXPECT_LT(Clock::now() - lastTaken, std::chrono::milliseconds(lagwell::ShareViewer::kStallMs + 1500));
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const auto longestGap = reader.longestGapSince(stoppedAt);
    reader.stopReading();
    EXPECT_LT(longestGap, std::chrono::milliseconds(1500));
    EXPECT_FALSE(reader.closed());

    m_feeder.stop();
    m_server->stop();
    reader.close();
    stalled.close();
    EXPECT_TRUE(net::returnsToCounts(fdsBefore, threadsBefore));
}

TEST_F(ShareViewersTest, floodOfConnectionsFromOneAddressLeavesAnotherAddressServed)
{
    const int fdsBefore = net::openFdCount();
    const int threadsBefore = net::threadCount();
    const int port = startStreaming(320, 180);
    // Three times every slot, from one address: idle connections and
    // half-sent requests that would each hold a slot for seconds.
    const std::string flooder = "127.0.0.2";
    std::vector<UniqueFd> flood;
    for (int i = 0; i < 3 * lagwell::ShareServer::kMaxConnections; ++i) {
        flood.push_back(net::connectTo("127.0.0.1", port, flooder));
        ASSERT_TRUE(flood.back()) << i;
        const std::string partial = "GET /live.ts?k=K7Q HTTP/1.0\r\nX-Slow: 1\r\n";
        if (i % 2 == 1)
            ::send(flood.back().get(), partial.data(), partial.size(), MSG_NOSIGNAL);
    }

    // Another address (the LAN one) gets the page and the live stream.
    EXPECT_EQ(net::get(kLan, port, "/").status, 200);
    LiveClient viewer;
    ASSERT_TRUE(viewer.open(port));
    EXPECT_EQ(viewer.readHead(), kHead);
    viewer.startReading();
    EXPECT_TRUE(viewer.waitForBytes(20 * 188));
    viewer.stopReading();
    EXPECT_EQ(net::get("127.0.0.3", port, "/").status, 200);

    // The flooder's connections past its share were answered 503 at once.
    const int beyondShare = int(flood.size()) - lagwell::ShareServer::kMaxConnectionsPerPeer;
    std::vector<pollfd> waits;
    for (const auto& fd : flood)
        waits.push_back({fd.get(), POLLIN, 0});
    int answered = 0;
    const auto answerDeadline = Clock::now() + std::chrono::seconds(5);
    while (answered < beyondShare && Clock::now() < answerDeadline) {
        ::poll(waits.data(), waits.size(), 100);
        answered = int(std::count_if(waits.begin(), waits.end(), [](const pollfd& w) { return w.revents != 0; }));
    }
    int refused = 0;
    for (const pollfd& wait : waits)
        refused += wait.revents != 0 && net::readResponse(wait.fd, 5000).status == 503;
    EXPECT_EQ(refused, beyondShare);

    m_feeder.stop();
    m_server->stop();
    flood.clear();
    viewer.close();
    EXPECT_TRUE(net::returnsToCounts(fdsBefore, threadsBefore));
}

// Collects the counts the viewer handler receives.
class CountLog {
public:
    std::function<void(int)> handler()
    {
        return [this](int count) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_counts.push_back(count);
            m_changed.notify_all();
        };
    }
    // Waits until the last reported count is `count`.
    bool waitForLast(int count, int timeoutMs = 10000)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                  [&] { return !m_counts.empty() && m_counts.back() == count; });
    }
    std::vector<int> counts()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_counts;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<int> m_counts;
};

TEST_F(ShareViewersTest, viewerCountRisesAndFallsWithClientsAndReachesTheHandler)
{
    const int port = startServer();  // no pictures: viewers are counted before their first keyframe
    CountLog log;
    m_server->setViewerCountHandler(log.handler());

    LiveClient a;
    ASSERT_TRUE(a.open(port));
    EXPECT_EQ(a.readHead(), kHead);
    ASSERT_TRUE(log.waitForLast(1));
    LiveClient b;
    ASSERT_TRUE(b.open(port));
    EXPECT_EQ(b.readHead(), kHead);
    ASSERT_TRUE(log.waitForLast(2));
    EXPECT_EQ(m_server->info()->viewers, 2);

    a.close();  // noticed by the viewer's poll
    ASSERT_TRUE(log.waitForLast(1));
    EXPECT_EQ(m_server->info()->viewers, 1);
    b.close();
    ASSERT_TRUE(log.waitForLast(0));
    EXPECT_EQ(m_server->info()->viewers, 0);
    EXPECT_EQ(log.counts(), (std::vector<int> {1, 2, 1, 0}));

    // Stop with two viewers: both are shut down, the last report is 0 and
    // nothing is reported after stop.
    LiveClient c;
    LiveClient d;
    ASSERT_TRUE(c.open(port) && d.open(port));
    EXPECT_EQ(c.readHead(), kHead);
    EXPECT_EQ(d.readHead(), kHead);
    ASSERT_TRUE(log.waitForLast(2));
    m_server->stop();
    EXPECT_EQ(log.counts().back(), 0);
    for (LiveClient* client : {&c, &d}) {
        const auto response = net::readResponse(client->fd(), 5000);
        EXPECT_TRUE(response.closedByServer);
    }
    const size_t reports = log.counts().size();
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    EXPECT_EQ(log.counts().size(), reports);
    EXPECT_EQ(log.counts().back(), 0);
    EXPECT_FALSE(m_server->info());
}

TEST_F(ShareViewersTest, wrongCodeGetsNoStreamAndIsCounted)
{
    const int port = startStreaming(160, 96);
    CountLog log;
    m_server->setViewerCountHandler(log.handler());
    struct Case {
        const char* target;
        int status;
    };
    const std::vector<Case> cases = {
        {"/live.ts?k=k7q", 200},   {"/live.ts?k=+K7Q", 200},    {"/live.ts?k=%4B%37q", 200},
        {"/live.ts?k=K7Q%", 403},  {"/live.ts?k=XYZ&k=K7Q", 403}, {"/live.ts?k&k=K7Q", 200},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target);
        const auto response = net::exchange(kLan, port, std::string("GET ") + c.target + " HTTP/1.0\r\n\r\n", 1500);
        EXPECT_EQ(response.status, c.status);
        if (c.status == 200) {
            EXPECT_EQ(response.head, kHead);
            EXPECT_GT(response.body.size(), 0u);  // a second and a half of stream
        } else {
            EXPECT_EQ(response.body, "Wrong room code.");
        }
    }
    ASSERT_TRUE(log.waitForLast(0));
    // The handler writes into `log`: the last report must be in before it goes.
    m_feeder.stop();
    m_server->stop();
    EXPECT_EQ(log.counts().back(), 0);
}

}  // namespace

#include "ShareServer.h"

#include "CodeThrottle.h"
#include "ShareServerFixture.h"
#include "TestNetwork.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <optional>
#include <sstream>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

using lagwell::ShareServer;
using lagwell::UniqueFd;
namespace fs = std::filesystem;
namespace net = lagwell::test;

using lagwell::test::contains;
using lagwell::test::kLan;
using lagwell::test::NamespaceTest;
using lagwell::test::readFile;
using lagwell::test::ShareServerTest;

namespace {

constexpr const char* kNoAddress = "No Wi-Fi or Ethernet address \u2014 connect to a network first.";

void expectTextResponse(const net::HttpResponse& response, int status, const std::string& contentType)
{
    ASSERT_TRUE(response.complete);
    EXPECT_EQ(response.status, status);
    EXPECT_EQ(response.head, response.statusLine + "\r\nContent-Type: " + contentType + "\r\nContent-Length: "
                                 + std::to_string(response.body.size()) + "\r\nConnection: close\r\n\r\n");
    EXPECT_TRUE(response.closedByServer);
}

TEST_F(ShareServerTest, infoAndConnectPageShowTheAddressTheVisitorReached)
{
    EXPECT_FALSE(m_server->info());
    const int port = startServer();
    ASSERT_EQ(port, 8080);
    const auto info = m_server->info();
    ASSERT_TRUE(info);
    EXPECT_EQ(info->address, kLan);
    EXPECT_EQ(info->code, "K7Q");
    EXPECT_EQ(info->url, "http://10.200.0.1:8080/live.ts?k=K7Q");
    EXPECT_EQ(info->viewers, 0);

    const auto lan = net::get(kLan, port, "/");
    expectTextResponse(lan, 200, "text/html; charset=utf-8");
    EXPECT_EQ(lan.statusLine, "HTTP/1.0 200 OK");
    EXPECT_TRUE(contains(lan.body, "var host = \"10.200.0.1\";\n  var port = 8080;")) << lan.body;

    const auto loopback = net::get("127.0.0.1", port, "/");
    expectTextResponse(loopback, 200, "text/html; charset=utf-8");
    EXPECT_TRUE(contains(loopback.body, "var host = \"127.0.0.1\";\n  var port = 8080;")) << loopback.body;
}

TEST_F(ShareServerTest, routesEveryTargetToItsHandler)
{
    struct Case {
        const char* name;
        std::string request;
        int status;          // 0: closed without a response
        std::string marker;  // text the body holds
    };
    const std::string connect = "Tavrix \u2014 live";
    const std::string recordings = "Tavrix \u2014 recordings";
    const std::vector<Case> cases = {
        {"root", "GET / HTTP/1.0\r\n\r\n", 200, connect},
        {"one space only: target is /", "GET /live.ts?k=K7Q\r\n\r\n", 200, connect},
        {"post gets the recordings page", "POST /recordings?k=K7Q HTTP/1.0\r\nContent-Length: 0\r\n\r\n", 200,
         recordings},
        {"any method", "DELETE /recordings?k=k7q HTTP/1.1\r\n\r\n", 200, recordings},
        {"recordings with a query", "GET /recordings?sort=x&k=K7Q HTTP/1.0\r\n\r\n", 200, recordings},
        {"recordings without the code", "GET /recordings HTTP/1.0\r\n\r\n", 403, "Wrong room code."},
        {"recordings with a wrong code", "GET /recordings?k=ZZZ HTTP/1.0\r\n\r\n", 403, "Wrong room code."},
        {"recordingsX is not recordings", "GET /recordingsX HTTP/1.0\r\n\r\n", 200, connect},
        {"download of an absent file", "GET /recordings/a.mp4?k=K7Q HTTP/1.0\r\n\r\n", 404, "Not found."},
        {"download without the code", "GET /recordings/a.mp4 HTTP/1.0\r\n\r\n", 403, "Wrong room code."},
        {"live.tsx goes to the stream route", "GET /live.tsx?k=ZZZ HTTP/1.0\r\n\r\n", 403, "Wrong room code."},
        {"stream without a code", "GET /live.ts HTTP/1.0\r\n\r\n", 403, "Wrong room code."},
        {"stream with K instead of k", "GET /live.ts?K=K7Q HTTP/1.0\r\n\r\n", 403, "Wrong room code."},
        {"bare line feeds", "GET /recordings?k=K7Q HTTP/1.0\n\n", 200, recordings},
        {"no spaces at all", "\x01\x02garbage\r\n\r\n", 200, connect},
        {"empty request line", "\r\nGET / HTTP/1.0\r\n\r\n", 0, ""},
    };
    const int port = startServer();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto response = net::exchange(kLan, port, c.request);
        if (c.status == 0) {
            EXPECT_FALSE(response.complete);
            EXPECT_TRUE(response.closedByServer);
            continue;
        }
        const bool html = c.status == 200;
        expectTextResponse(response, c.status, html ? "text/html; charset=utf-8" : "text/plain; charset=utf-8");
        EXPECT_TRUE(contains(response.body, c.marker)) << response.body;
    }
}

TEST_F(ShareServerTest, overLongRequestLineIsCutAndItsRestReadAsHeaders)
{
    const int port = startServer();
    // Cut at 8192 characters the line keeps one space: the target becomes "/".
    const auto cut = net::exchange(kLan, port, "GET /recordings?k=K7Q&" + std::string(9000, 'x') + " HTTP/1.0\r\n\r\n");
    expectTextResponse(cut, 200, "text/html; charset=utf-8");
    EXPECT_TRUE(contains(cut.body, "Tavrix \u2014 live"));

    const auto whole = net::exchange(kLan, port, "GET /recordings?k=K7Q&" + std::string(8000, 'x') + " HTTP/1.0\r\n\r\n");
    expectTextResponse(whole, 200, "text/html; charset=utf-8");
    EXPECT_TRUE(contains(whole.body, "Tavrix \u2014 recordings"));
}

TEST_F(ShareServerTest, headerReadingEndsAfterTwoHundredLines)
{
    const int port = startServer();
    UniqueFd client = net::connectTo(kLan, port);
    ASSERT_TRUE(client);
    std::string request = "GET /recordings?k=K7Q HTTP/1.0\r\n";
    for (int i = 0; i < 200; ++i)
        request += "X-Filler: " + std::to_string(i) + "\r\n";
    ASSERT_EQ(::send(client.get(), request.data(), request.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(request.size()));
    // No empty line was sent: only the line limit can end the headers before
    // the server's 8 s read time-out.
    const auto response = net::readResponse(client.get(), 6000);
    expectTextResponse(response, 200, "text/html; charset=utf-8");
}

TEST_F(ShareServerTest, silentClientIsClosedAfterTheReadTimeout)
{
    const int port = startServer();
    UniqueFd client = net::connectTo(kLan, port);
    ASSERT_TRUE(client);
    const auto response = net::readResponse(client.get(), 30000);
    EXPECT_FALSE(response.complete);
    EXPECT_TRUE(response.closedByServer);
}

TEST_F(ShareServerTest, bindsTheFirstFreePortWhenOthersAreTaken)
{
    UniqueFd taken8080 = net::listenOn(8080);
    UniqueFd taken8081 = net::listenOn(8081);
    ASSERT_TRUE(taken8080 && taken8081);
    const int port = startServer();
    EXPECT_EQ(port, 8082);
    EXPECT_EQ(m_server->info()->url, "http://10.200.0.1:8082/live.ts?k=K7Q");
    EXPECT_EQ(net::get(kLan, 8082, "/").status, 200);
}

TEST_F(ShareServerTest, failsAndClosesItsSocketWhenEveryPortIsTaken)
{
    std::vector<UniqueFd> taken;
    for (int port = 8080; port <= 8091; ++port) {
        taken.push_back(net::listenOn(port));
        ASSERT_TRUE(taken.back()) << port;
    }
    fs::remove(codeFile());
    const int fdsBefore = net::openFdCount();
    std::string error;
    EXPECT_FALSE(m_server->start(&error));
    EXPECT_EQ(error, "Could not bind any port from 8080 through 8091.");
    EXPECT_EQ(net::openFdCount(), fdsBefore);
    EXPECT_FALSE(m_server->isRunning());
    EXPECT_FALSE(m_server->info());
    // The code is loaded before anything can fail: the file exists now.
    EXPECT_EQ(readFile(codeFile()).size(), 4u);
}

TEST_F(ShareServerTest, startAndStopAreIdempotentAndTheServerRestarts)
{
    m_server->stop();  // idle: nothing happens
    const int port = startServer();
    std::string error = "untouched";
    EXPECT_TRUE(m_server->start(&error));
    EXPECT_EQ(error, "untouched");
    EXPECT_EQ(m_server->info()->port, port);
    m_server->stop();
    m_server->stop();
    EXPECT_FALSE(m_server->info());
    EXPECT_FALSE(net::connectTo(kLan, port));

    EXPECT_EQ(startServer(), port);
    EXPECT_EQ(net::get(kLan, port, "/").status, 200);
}

TEST_F(ShareServerTest, eightWrongCodesBringTooManyRequestsOnEveryRouteUntilTheWindowEnds)
{
    const int port = startServer();
    for (const char* code : {"AAA", "BBB", "CCC", "DDD", "EEE", "FFF", "GGG"})
        EXPECT_EQ(net::get(kLan, port, std::string("/live.ts?k=") + code).status, 403);
    EXPECT_EQ(net::get(kLan, port, "/live.ts?k=aaa").status, 403);  // same code again
    EXPECT_EQ(net::get(kLan, port, "/").status, 200);
    EXPECT_EQ(net::get(kLan, port, "/live.ts?k=HHH").status, 403);

    for (const char* target : {"/", "/recordings", "/recordings/x.mp4", "/live.ts?k=K7Q"}) {
        SCOPED_TRACE(target);
        const auto response = net::get(kLan, port, target);
        expectTextResponse(response, 429, "text/plain; charset=utf-8");
        EXPECT_EQ(response.statusLine, "HTTP/1.0 429 Too Many Requests");
        EXPECT_EQ(response.body, "Too many wrong codes. Wait a few minutes.");
    }

    m_nowMs += 300000;
    EXPECT_EQ(net::get(kLan, port, "/").status, 429);
    m_nowMs += 1;
    EXPECT_EQ(net::get(kLan, port, "/").status, 200);
}

TEST_F(ShareServerTest, stopForgetsThrottledPeers)
{
    const int port = startServer();
    for (const char* code : {"A1", "A2", "A3", "A4", "A5", "A6", "A7", "A8"})
        net::get(kLan, port, std::string("/live.ts?k=") + code);
    EXPECT_EQ(net::get(kLan, port, "/").status, 429);
    m_server->stop();
    const int again = startServer();
    EXPECT_EQ(net::get(kLan, again, "/").status, 200);
}

TEST_F(ShareServerTest, parallelWrongCodesCannotTryMoreThanTheThrottleAdmits)
{
    const int port = startServer();
    constexpr int kRequests = 24;
    std::atomic<int> forbidden {0};
    std::atomic<int> throttled {0};
    std::atomic<int> other {0};
    std::vector<std::thread> threads;
    for (int i = 0; i < kRequests; ++i) {
        threads.emplace_back([&, i] {
            // Past the peer's share of connections a request gets 503: retry.
            int status = 503;
            for (int attempt = 0; attempt < 200 && status == 503; ++attempt) {
                status = net::get(kLan, port, "/live.ts?k=W" + std::to_string(i)).status;
                if (status == 503)
                    std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
            (status == 403 ? forbidden : status == 429 ? throttled : other)++;
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(forbidden.load(), 8);
    EXPECT_EQ(throttled.load(), kRequests - 8);
    EXPECT_EQ(other.load(), 0);
}

TEST_F(ShareServerTest, guessesFromManyAddressesShareOneBudgetWhileAdmittedAddressesStayServed)
{
    const int port = startServer();
    const int fdsBefore = net::openFdCount();
    const int threadsBefore = net::threadCount();
    const std::string server = "127.0.0.1";
    const std::string admitted = "127.0.0.5";
    EXPECT_EQ(net::getFrom(admitted, server, port, "/recordings?k=K7Q").status, 200);

    // Forty addresses guess in parallel, two codes each: together they get
    // no more wrong answers than one address.
    constexpr int kAddresses = 40;
    std::atomic<int> wrong {0};
    std::atomic<int> refused {0};
    std::atomic<int> other {0};
    std::vector<std::thread> guessers;
    for (int i = 0; i < kAddresses; ++i) {
        guessers.emplace_back([&, i] {
            const std::string source = "127.0.2." + std::to_string(10 + i);
            for (int guess = 0; guess < 2; ++guess) {
                const int status =
                    net::getFrom(source, server, port, "/live.ts?k=G" + std::to_string(i) + char('A' + guess)).status;
                (status == 403 ? wrong : status == 429 ? refused : other)++;
            }
        });
    }
    for (auto& thread : guessers)
        thread.join();
    EXPECT_EQ(wrong.load(), int(lagwell::CodeThrottle::kThrottleAtCodes));
    EXPECT_EQ(refused.load(), 2 * kAddresses - int(lagwell::CodeThrottle::kThrottleAtCodes));
    EXPECT_EQ(other.load(), 0);

    // Locked out: the right code from a new address is not even compared,
    // while the admitted address keeps its pages and the stream, and the
    // connect page stays open to all.
    EXPECT_EQ(net::getFrom("127.0.0.6", server, port, "/live.ts?k=K7Q").status, 429);
    EXPECT_EQ(net::getFrom("127.0.0.6", server, port, "/").status, 200);
    EXPECT_EQ(net::getFrom(admitted, server, port, "/recordings?k=K7Q").status, 200);
    EXPECT_EQ(net::getFrom(admitted, server, port, "/live.ts?k=K7Q", 1000).statusLine, "HTTP/1.0 200 OK");

    // One interval later one more code is compared, then the lock-out holds again.
    m_nowMs += lagwell::CodeThrottle::kGlobalIntervalMs;
    EXPECT_EQ(net::getFrom("127.0.0.7", server, port, "/live.ts?k=ZZZ").status, 403);
    EXPECT_EQ(net::getFrom("127.0.0.8", server, port, "/live.ts?k=K7Q").status, 429);
    m_nowMs += lagwell::CodeThrottle::kGlobalIntervalMs;
    EXPECT_EQ(net::getFrom("127.0.0.8", server, port, "/live.ts?k=K7Q", 1000).statusLine, "HTTP/1.0 200 OK");
    EXPECT_TRUE(net::returnsToCounts(fdsBefore, threadsBefore));
}

TEST_F(ShareServerTest, connectionsPastTheCapGetServiceUnavailable)
{
    const int port = startServer();
    // Each address within its own share, together every slot.
    std::vector<UniqueFd> idle;
    for (int i = 0; i < ShareServer::kMaxConnections; ++i) {
        const std::string source = "127.0.1." + std::to_string(1 + i / ShareServer::kMaxConnectionsPerPeer);
        idle.push_back(net::connectTo("127.0.0.1", port, source));
        ASSERT_TRUE(idle.back());
    }
    UniqueFd extra = net::connectTo(kLan, port);
    ASSERT_TRUE(extra);
    const auto refused = net::readResponse(extra.get(), 10000);
    expectTextResponse(refused, 503, "text/plain; charset=utf-8");
    EXPECT_EQ(refused.statusLine, "HTTP/1.0 503 Error");

    // A slot that frees up is used again.
    idle.pop_back();
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (status != 200 && std::chrono::steady_clock::now() < deadline) {
        status = net::get(kLan, port, "/").status;
        if (status != 200)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_EQ(status, 200);
}

TEST_F(ShareServerTest, megabyteOfJunkIsReadInBlocksAndAnsweredAsAnyRequest)
{
    const int port = startServer();
    const int fdsBefore = net::openFdCount();
    const int threadsBefore = net::threadCount();
    struct Case {
        const char* name;
        std::string request;
        std::string marker;  // of the page served
    };
    const std::string connect = "Tavrix \u2014 live";
    const std::string recordings = "Tavrix \u2014 recordings";
    std::string shortLines = "GET /recordings?k=K7Q HTTP/1.0\r\n";
    while (shortLines.size() < 1000000)
        shortLines += "X: junk\r\n";
    const std::vector<Case> cases = {
        // Cut into 8192-character lines; the first has no space, so "/".
        {"no line feed", std::string(1000000, 'A') + "\r\n\r\n", connect},
        // Carriage returns count as no character: reading stops after a bound.
        {"carriage returns only", "GET /recordings?k=K7Q HTTP/1.0" + std::string(1000000, '\r') + "\n\n", recordings},
        // Answered after two hundred header lines; the rest is read away.
        {"short lines", shortLines + "\r\n", recordings},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        timespec before {};
        ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &before);
        const auto response = net::exchange(kLan, port, c.request, 20000);
        timespec after {};
        ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &after);
        expectTextResponse(response, 200, "text/html; charset=utf-8");
        EXPECT_TRUE(contains(response.body, c.marker));
        // Read a byte per call, a megabyte took over a second of CPU.
        const double cpuSeconds = double(after.tv_sec - before.tv_sec) + double(after.tv_nsec - before.tv_nsec) / 1e9;
        EXPECT_LT(cpuSeconds, 0.3);
    }
    EXPECT_TRUE(net::returnsToCounts(fdsBefore, threadsBefore));
}

TEST_F(ShareServerTest, failingAcceptBacksOffInsteadOfSpinningAndRecovers)
{
#ifdef __SANITIZE_ADDRESS__
    // The sanitizer runtime opens descriptors for its own checks (such as
    // UBSan's test of a new thread's state), which this test makes fail.
    GTEST_SKIP() << "runs in the build without sanitizers";
#endif
    const int port = startServer();
    // The server's threads are past their start (they name themselves
    // first): nothing may start a thread while no descriptor can be had.
    const auto named = [](const std::string& name) {
        for (const auto& task : fs::directory_iterator("/proc/self/task")) {
            if (readFile((task.path() / "comm").string()) == name + "\n")
                return true;
        }
        return false;
    };
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!(named("tvx-share-acc") && named("tvx-share-enc")) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(named("tvx-share-acc") && named("tvx-share-enc"));
    // The client's socket exists before the limit, but it connects only
    // after: the server can never accept it (and start a thread) early.
    UniqueFd client(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    ASSERT_TRUE(client);
    sockaddr_in target {};
    target.sin_family = AF_INET;
    target.sin_port = htons(static_cast<uint16_t>(port));
    ASSERT_EQ(::inet_pton(AF_INET, kLan, &target.sin_addr), 1);
    // Allow no further descriptor: every accept fails with EMFILE and the
    // connection stays queued.
    rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    const int lowestFree = ::dup(0);
    ASSERT_GE(lowestFree, 0);
    ::close(lowestFree);
    rlimit tight = saved;
    tight.rlim_cur = static_cast<rlim_t>(lowestFree);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &tight), 0);
    if (::connect(client.get(), reinterpret_cast<const sockaddr*>(&target), sizeof(target)) != 0) {
        ::setrlimit(RLIMIT_NOFILE, &saved);
        FAIL() << "connect failed";
    }

    timespec before {};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &before);
    std::this_thread::sleep_for(std::chrono::seconds(2));
    timespec after {};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &after);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &saved), 0);
    const double cpuSeconds = double(after.tv_sec - before.tv_sec) + double(after.tv_nsec - before.tv_nsec) / 1e9;
    // A loop retrying at once would burn most of a core for the two seconds.
    EXPECT_LT(cpuSeconds, 0.2);

    const std::string request = "GET / HTTP/1.0\r\n\r\n";
    ASSERT_EQ(::send(client.get(), request.data(), request.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(request.size()));
    EXPECT_EQ(net::readResponse(client.get()).status, 200);
}

TEST_F(ShareServerTest, stopShutsEveryConnectionPromptlyAndLeavesNoThread)
{
    const int threadsBefore = net::threadCount();
    const int port = startServer();
    const int threadsServing = net::threadCount();  // accept thread, encoder worker and its codec's threads
    std::vector<UniqueFd> clients;
    for (int i = 0; i < 5; ++i)
        clients.push_back(net::connectTo(kLan, port));
    clients.push_back(net::connectTo(kLan, port));
    const std::string partial = "GET /recordings HTTP/1.0\r\nX-Slow: 1\r\n";
    ::send(clients.back().get(), partial.data(), partial.size(), MSG_NOSIGNAL);
    for (const auto& client : clients)
        ASSERT_TRUE(client);
    // Every connection has its thread before stop is called.
    const auto settle = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (net::threadCount() < threadsServing + 6 && std::chrono::steady_clock::now() < settle)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(net::threadCount(), threadsServing + 6);

    const auto begin = std::chrono::steady_clock::now();
    m_server->stop();
    const auto elapsed = std::chrono::steady_clock::now() - begin;
    // Bounded by the 3 s wait; the connections' own 8 s time-outs play no part.
    EXPECT_LT(elapsed, std::chrono::milliseconds(3500));

    for (const auto& client : clients) {
        const auto response = net::readResponse(client.get(), 5000);
        EXPECT_TRUE(response.closedByServer);
        EXPECT_FALSE(response.complete);  // no request was routed after stop
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (net::threadCount() > threadsBefore && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(net::threadCount(), threadsBefore);
    EXPECT_FALSE(net::connectTo(kLan, port));
}

TEST_F(ShareServerTest, destroyingARunningServerWithOpenConnectionsIsClean)
{
    const int port = startServer();
    UniqueFd idle = net::connectTo(kLan, port);
    UniqueFd partial = net::connectTo(kLan, port);
    ASSERT_TRUE(idle && partial);
    ::send(partial.get(), "GET / HT", 8, MSG_NOSIGNAL);
    m_server.reset();
    EXPECT_TRUE(net::readResponse(idle.get(), 5000).closedByServer);
}

TEST_F(ShareServerTest, regeneratedCodeIsSavedAndTheOldOneRefused)
{
    const int port = startServer();
    std::string fresh = m_server->regenerateCode();
    while (fresh == "K7Q")
        fresh = m_server->regenerateCode();
    EXPECT_EQ(readFile(codeFile()), fresh + "\n");
    struct stat info {};
    ASSERT_EQ(::stat(codeFile().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(m_server->info()->code, fresh);
    EXPECT_EQ(net::get(kLan, port, "/live.ts?k=K7Q").status, 403);
    // The stream never ends: its head is enough.
    const auto stream = net::exchange(kLan, port, "GET /live.ts?k=" + fresh + " HTTP/1.0\r\n\r\n", 1000);
    EXPECT_EQ(stream.statusLine, "HTTP/1.0 200 OK");

    // The next start keeps the stored code.
    m_server->stop();
    startServer();
    EXPECT_EQ(m_server->info()->code, fresh);
}

TEST_F(ShareServerTest, encoderIsTheCompositeSinkWhileRunningAndItsFailureIsReported)
{
    EXPECT_EQ(m_server->sink(), nullptr);
    m_server->setCompositeSize(160, 96, 30);
    std::promise<std::string> failure;
    m_server->setErrorHandler([&failure](const std::string& message) { failure.set_value(message); });
    startServer();
    lagwell::CompositeSink* sink = m_server->sink();
    ASSERT_NE(sink, nullptr);
    EXPECT_EQ(sink->width(), 160);
    EXPECT_EQ(sink->height(), 96);
    EXPECT_TRUE(sink->active());
    const std::vector<uint8_t> rgba(160 * 96 * 4, 0x80);
    const auto slot = std::chrono::steady_clock::now().time_since_epoch();
    const int64_t slotNs = std::chrono::duration_cast<std::chrono::nanoseconds>(slot).count();
    for (int i = 0; i < 3; ++i)
        sink->submitRgba(rgba.data(), 160 * 4, 66666 + i * 33333, slotNs + i * 33'333'333);
    sink->submitRgba(rgba.data(), 16, 200000, slotNs + 100'000'000);  // too short a stride: the encoder fails
    auto message = failure.get_future();
    ASSERT_EQ(message.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    EXPECT_EQ(message.get().rfind("Live sharing stopped because the video encoder failed (", 0), 0u);
    EXPECT_FALSE(sink->active());
    m_server->stop();
    EXPECT_EQ(m_server->sink(), nullptr);
}

TEST_F(ShareServerTest, encoderThatCannotOpenFailsTheStartAndClosesTheSocket)
{
    m_server->setCompositeSize(0, 0, 30);
    const int fdsBefore = net::openFdCount();
    std::string error;
    EXPECT_FALSE(m_server->start(&error));
    const std::string prefix = "Could not start the share encoder: ";
    EXPECT_EQ(error.rfind(prefix, 0), 0u) << error;
    EXPECT_GT(error.size(), prefix.size());
    EXPECT_EQ(net::openFdCount(), fdsBefore);
    EXPECT_FALSE(net::connectTo(kLan, 8080));
    m_server->setCompositeSize(160, 96, 30);
    EXPECT_EQ(startServer(), 8080);
}

// ---- The LAN address ----

class LocalAddressTest : public NamespaceTest {};

TEST_F(LocalAddressTest, noQualifyingInterfaceMeansNoStart)
{
    struct Case {
        const char* name;
        std::vector<std::pair<std::string, std::string>> interfaces;
    };
    const std::vector<Case> cases = {
        {"loopback only", {}},
        {"link-local only", {{"eth0", "169.254.3.4/16"}}},
        {"names that are not Wi-Fi or Ethernet", {{"veth0", "10.1.1.1/24"}, {"br0", "192.168.5.1/24"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string error;
        ASSERT_TRUE(net::enterFreshNetNamespace(&error)) << error;
        for (const auto& [name, cidr] : c.interfaces)
            ASSERT_TRUE(net::addInterface(name, cidr, &error)) << error;
        EXPECT_EQ(ShareServer::localAddress(), "");
        ShareServer server;
        EXPECT_FALSE(server.start(&error));
        EXPECT_EQ(error, kNoAddress);
        EXPECT_EQ(readFile(codeFile()).size(), 4u);
    }
}

TEST_F(LocalAddressTest, interfaceThatIsDownDoesNotQualify)
{
    std::string error;
    ASSERT_TRUE(net::addInterface("eth0", "192.168.7.2/24", &error)) << error;
    EXPECT_EQ(ShareServer::localAddress(), "192.168.7.2");
    ASSERT_EQ(std::system("ip link set eth0 down"), 0);
    EXPECT_EQ(ShareServer::localAddress(), "");
}

TEST_F(LocalAddressTest, bestScoredAddressWinsAndTiesGoToTheFirst)
{
    struct Case {
        const char* name;
        std::vector<std::pair<std::string, std::string>> interfaces;  // in creation order
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"wi-fi beats ethernet in the same range", {{"eth0", "10.0.0.5/24"}, {"wlan0", "10.0.0.9/24"}}, "10.0.0.9"},
        {"tie: first enumerated", {{"eth0", "192.168.1.2/24"}, {"enp3s0", "192.168.1.3/24"}}, "192.168.1.2"},
        {"172.16/12 is private, 172.32 is not", {{"eth0", "172.32.0.1/24"}, {"enp1s0", "172.16.0.1/24"}},
         "172.16.0.1"},
        {"link-local skipped", {{"eth0", "169.254.1.1/16"}, {"en0", "100.64.0.1/24"}}, "100.64.0.1"},
        {"wi-fi public-range ties a private ethernet", {{"wlp2s0", "100.64.1.1/24"}, {"eth0", "172.20.0.1/24"}},
         "100.64.1.1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string error;
        ASSERT_TRUE(net::enterFreshNetNamespace(&error)) << error;
        for (const auto& [name, cidr] : c.interfaces)
            ASSERT_TRUE(net::addInterface(name, cidr, &error)) << error;
        EXPECT_EQ(ShareServer::localAddress(), c.expected);
    }
}

// ---- Pure helpers (no network) ----

TEST(ShareServerHelpers, addressScores)
{
    const std::vector<std::tuple<std::string, std::string, int>> cases = {
        {"eth0", "192.168.1.2", 100}, {"wlan0", "192.168.1.2", 150}, {"enp3s0", "10.1.2.3", 80},
        {"wlp1s0", "10.1.2.3", 130},  {"eth1", "172.16.0.1", 60},    {"eth1", "172.31.9.9", 60},
        {"eth1", "172.32.0.1", 10},   {"eth1", "172.15.0.1", 10},    {"wl0", "8.8.4.4", 60},
        {"eth0", "169.254.9.9", -1},  {"docker0", "10.0.0.1", -1},   {"lo", "127.0.0.1", -1},
    };
    for (const auto& [name, address, score] : cases)
        EXPECT_EQ(ShareServer::addressScore(name, address), score) << name << " " << address;
}

TEST(ShareServerHelpers, requestTargets)
{
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"GET /a HTTP/1.0", "/a"}, {"GET /live.ts?k=ABC", "/"}, {"GET", "/"},
        {"GET  /x HTTP/1.0", ""},  {"POST /recordings HTTP/1.1 extra", "/recordings"},
    };
    for (const auto& [line, target] : cases)
        EXPECT_EQ(ShareServer::requestTarget(line), target) << line;
}

TEST(ShareServerHelpers, roomCodeFromTargetAndUrlDecoding)
{
    const std::vector<std::pair<std::string, std::string>> codes = {
        {"/live.ts?k=abc", "abc"},      {"/live.ts?K=ABC", ""},         {"/live.ts?k=BAD&k=ABC", "BAD"},
        {"/live.ts?k&k=ABC", "ABC"},    {"/live.ts?k=%41%42c", "ABc"},  {"/live.ts?k=+ABC", "ABC"},
        {"/live.ts?x=1&k=%zzA", "%zzA"}, {"/live.ts", ""},              {"/live.ts?k=%09A B%20", "A B"},
        {"/live.ts?kk=ABC", ""},
    };
    for (const auto& [target, code] : codes)
        EXPECT_EQ(ShareServer::roomCodeFromTarget(target), code) << target;

    const std::vector<std::pair<std::string, std::string>> decoded = {
        {"%41", "A"}, {"%4", "%4"}, {"%", "%"}, {"a+b", "a b"}, {"%2f%2F", "//"}, {"%g1x", "%g1x"}, {"", ""},
    };
    for (const auto& [text, out] : decoded)
        EXPECT_EQ(ShareServer::urlDecode(text), out) << text;
}

TEST(ShareServerHelpers, textResponsesUseTheReasonPhraseTable)
{
    const std::vector<std::pair<int, std::string>> cases = {
        {200, "OK"}, {403, "Forbidden"}, {404, "Not Found"}, {429, "Too Many Requests"}, {500, "Error"}, {503, "Error"},
    };
    for (const auto& [status, reason] : cases) {
        int pair[2];
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
        UniqueFd server(pair[0]);
        UniqueFd client(pair[1]);
        ShareServer::respondText(server.get(), status, "text/plain; charset=utf-8", "h\xc3\xa9");
        server.reset();
        const auto response = net::readResponse(client.get(), 5000);
        EXPECT_EQ(response.head, "HTTP/1.0 " + std::to_string(status) + " " + reason
                                     + "\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: 3\r\n"
                                       "Connection: close\r\n\r\n");
        EXPECT_EQ(response.body, "h\xc3\xa9");
    }
}

}  // namespace

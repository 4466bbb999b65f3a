#include "SharePages.h"

#include "ShareServerFixture.h"
#include "TestNetwork.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>

using lagwell::SharePages;
using lagwell::UniqueFd;
using lagwell::test::contains;
using lagwell::test::kLan;
using lagwell::test::ShareServerTest;
namespace fs = std::filesystem;
namespace net = lagwell::test;

namespace {

// 2024-03-05 14:07:00 UTC and later times.
constexpr int64_t kBaseTime = 1709647620;

class RecordingsTest : public ShareServerTest {
protected:
    void SetUp() override
    {
        ShareServerTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        const char* tz = std::getenv("TZ");
        m_savedTz = tz ? std::optional<std::string>(tz) : std::nullopt;
        ::setenv("TZ", "UTC", 1);
        ::tzset();
        m_dir = m_configDir / "videos";
        fs::create_directories(m_dir);
        m_server->setRecordingsDirectory(m_dir.string());
        m_port = startServer();
    }
    void TearDown() override
    {
        if (m_port != 0) {
            m_savedTz ? ::setenv("TZ", m_savedTz->c_str(), 1) : ::unsetenv("TZ");
            ::tzset();
        }
        ShareServerTest::TearDown();
    }

    std::string write(const std::string& name, const std::string& content, int64_t mtime = kBaseTime)
    {
        const std::string path = (m_dir / name).string();
        std::ofstream(path, std::ios::binary) << content;
        timeval times[2] = {{static_cast<time_t>(mtime), 0}, {static_cast<time_t>(mtime), 0}};
        ::utimes(path.c_str(), times);
        return path;
    }
    net::HttpResponse page() { return net::get(kLan, m_port, "/recordings?k=K7Q"); }
    // The table rows of a recordings page, one line each.
    static std::vector<std::string> rows(const std::string& body)
    {
        std::vector<std::string> out;
        size_t at = 0;
        while ((at = body.find("<tr><td", at)) != std::string::npos) {
            const size_t end = body.find('\n', at);
            out.push_back(body.substr(at, end - at));
            at = end;
        }
        return out;
    }
    static std::string row(const std::string& shown, const std::string& size, const std::string& date,
                           const std::string& link)
    {
        return "<tr><td>" + shown + "</td><td>" + size + "</td><td>" + date + "</td><td><a href=\"/recordings/" + link
            + "?k=K7Q\">Download</a></td></tr>";
    }

    fs::path m_dir;
    int m_port = 0;
    std::optional<std::string> m_savedTz;
};

TEST_F(RecordingsTest, listsOnlyRegularMp4FilesNewestFirst)
{
    write("a.mp4", "aaaa", kBaseTime);
    write("b.mp4", std::string(1572864, 'b'), kBaseTime + 3600);
    write("c.MP4", "c", kBaseTime + 7200);
    write("notes.txt", "n", kBaseTime + 7200);
    write(".hidden.mp4", "", kBaseTime - 86400);
    fs::create_directories(m_dir / "d.mp4");
    fs::create_symlink(m_dir / "a.mp4", m_dir / "link.mp4");
    fs::create_symlink(m_dir / "d.mp4", m_dir / "dirlink.mp4");
    timeval times[2] = {{static_cast<time_t>(kBaseTime + 60), 0}, {static_cast<time_t>(kBaseTime + 60), 0}};
    ::utimes((m_dir / "a.mp4").c_str(), times);

    const auto response = page();
    ASSERT_EQ(response.status, 200);
    EXPECT_EQ(response.headers.at("Content-Type"), "text/html; charset=utf-8");
    EXPECT_TRUE(contains(response.body, "<title>Tavrix \u2014 recordings</title>"));
    EXPECT_TRUE(contains(response.body, "<tr><th>File</th><th>Size</th><th>Date</th><th></th></tr>"));
    const std::vector<std::string> expected = {
        row("b.mp4", "1.5 MB", "2024-03-05 15:07", "b.mp4"),
        // a.mp4 and the link to it share one modification time.
        row("a.mp4", "0.0 MB", "2024-03-05 14:08", "a.mp4"),
        row("link.mp4", "0.0 MB", "2024-03-05 14:08", "link.mp4"),
        row(".hidden.mp4", "0.0 MB", "2024-03-04 14:07", ".hidden.mp4"),
    };
    EXPECT_EQ(rows(response.body), expected);
    EXPECT_FALSE(contains(response.body, "No recordings yet."));
}

TEST_F(RecordingsTest, emptyOrMissingDirectoryShowsOneMutedRow)
{
    const std::string noneRow = "<tr><td colspan=\"4\" class=\"muted\">No recordings yet.</td></tr>";
    EXPECT_EQ(rows(page().body), std::vector<std::string> {noneRow});
    fs::remove_all(m_dir);
    EXPECT_EQ(rows(page().body), std::vector<std::string> {noneRow});
    m_server->setRecordingsDirectory("");
    EXPECT_EQ(rows(page().body), std::vector<std::string> {noneRow});
}

TEST_F(RecordingsTest, namesAreEscapedInTheTableAndPercentEncodedInLinksThatDownload)
{
    struct Case {
        std::string name;
        std::string shown;
        std::string link;
        std::string disposition;
    };
    const std::vector<Case> cases = {
        {"Match & Drill.mp4", "Match &amp; Drill.mp4", "Match%20%26%20Drill.mp4", "Match & Drill.mp4"},
        {"<b>\"x\".mp4", "&lt;b&gt;&quot;x&quot;.mp4", "%3Cb%3E%22x%22.mp4", "<b>_x_.mp4"},
        {"caf\xc3\xa9~_-.mp4", "caf\xc3\xa9~_-.mp4", "caf%C3%A9~_-.mp4", "caf\xc3\xa9~_-.mp4"},
        {"100%+1.mp4", "100%+1.mp4", "100%25%2B1.mp4", "100%+1.mp4"},
    };
    int64_t mtime = kBaseTime;
    for (const Case& c : cases)
        write(c.name, "content of " + c.name, mtime--);
    const auto listed = rows(page().body);
    ASSERT_EQ(listed.size(), cases.size());
    for (size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.name);
        EXPECT_EQ(listed[i], row(c.shown, "0.0 MB", SharePages::formatDate(kBaseTime - int64_t(i)), c.link));
        const auto download = net::get(kLan, m_port, "/recordings/" + c.link + "?k=K7Q");
        ASSERT_EQ(download.status, 200);
        EXPECT_EQ(download.head, "HTTP/1.0 200 OK\r\nContent-Type: video/mp4\r\nContent-Length: "
                                     + std::to_string(download.body.size())
                                     + "\r\nContent-Disposition: attachment; filename=\"" + c.disposition
                                     + "\"\r\nConnection: close\r\n\r\n");
        EXPECT_EQ(download.body, "content of " + c.name);
    }
}

TEST_F(RecordingsTest, downloadedBytesEqualTheFile)
{
    std::string content(3 * 65536 + 1234, '\0');
    for (size_t i = 0; i < content.size(); ++i)
        content[i] = static_cast<char>(i * 31 + i / 7);
    const std::string path = write("session.mp4", content);
    const auto download = net::get(kLan, m_port, "/recordings/session.mp4?k=k7q&x=1");
    ASSERT_EQ(download.status, 200);
    EXPECT_EQ(download.headers.at("Content-Length"), std::to_string(content.size()));
    EXPECT_EQ(download.body, net::readFile(path));
    EXPECT_TRUE(download.closedByServer);
}

TEST_F(RecordingsTest, traversalAndAbsentNamesAreAllNotFound)
{
    std::ofstream(m_configDir / "secret.mp4") << "secret";
    write("ok.mp4", "ok");
    fs::create_directories(m_dir / "sub.mp4");
    std::ofstream(m_dir / "sub.mp4" / "x.mp4") << "x";
    ::mkfifo((m_dir / "pipe.mp4").c_str(), 0600);
    const std::vector<std::string> targets = {
        "/recordings/..%2Fsecret.mp4",   "/recordings/%2E%2E%2Fsecret.mp4", "/recordings/../secret.mp4",
        "/recordings/..",                "/recordings/a..b.mp4",            "/recordings/",
        "/recordings/?x=ok.mp4",         "/recordings/absent.mp4",          "/recordings/%2Fetc%2Fpasswd",
        "/recordings//etc/passwd",       "/recordings/sub.mp4%2Fx.mp4",     "/recordings/sub.mp4",
        "/recordings/.",                 "/recordings/ok.mp4%00.txt",       "/recordings/pipe.mp4",
        "/recordings/" + (m_configDir / "secret.mp4").string(),
    };
    for (const std::string& target : targets) {
        SCOPED_TRACE(target);
        const std::string withCode = target + (target.find('?') == std::string::npos ? "?k=K7Q" : "&k=K7Q");
        const auto response = net::get(kLan, m_port, withCode);
        EXPECT_EQ(response.status, 404);
        EXPECT_EQ(response.body, "Not found.");
    }
    EXPECT_EQ(net::get(kLan, m_port, "/recordings/ok.mp4?k=K7Q").body, "ok");
}

TEST_F(RecordingsTest, recordingStillBeingWrittenIsNeitherListedNorServed)
{
    write("done.mp4", "done", kBaseTime);
    const std::string live = write("live.mp4", "partial", kBaseTime + 10);
    fs::create_symlink(m_dir / "live.mp4", m_configDir / "alias.mp4");

    const std::vector<std::string> spellings = {live, m_dir.string() + "//live.mp4", (m_configDir / "alias.mp4").string()};
    for (const std::string& spelling : spellings) {
        SCOPED_TRACE(spelling);
        m_server->setRecordingInProgress(spelling);
        EXPECT_EQ(rows(page().body), std::vector<std::string> {row("done.mp4", "0.0 MB", "2024-03-05 14:07", "done.mp4")});
        EXPECT_EQ(net::get(kLan, m_port, "/recordings/live.mp4?k=K7Q").status, 404);
        EXPECT_EQ(net::get(kLan, m_port, "/recordings/done.mp4?k=K7Q").status, 200);
    }
    m_server->setRecordingInProgress("");
    EXPECT_EQ(rows(page().body).size(), 2u);
    EXPECT_EQ(net::get(kLan, m_port, "/recordings/live.mp4?k=K7Q").body, "partial");
}

TEST_F(RecordingsTest, downloadNeverSendsMoreThanItsContentLength)
{
    // Large enough that the server is still sending when the file grows.
    const size_t size = 24u << 20;
    std::string content(size, 'r');
    for (size_t i = 0; i < size; i += 4096)
        content[i] = static_cast<char>(i >> 12);
    const std::string path = write("growing.mp4", content);

    UniqueFd client(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const int small = 8192;
    ::setsockopt(client.get(), SOL_SOCKET, SO_RCVBUF, &small, sizeof(small));
    sockaddr_in target {};
    target.sin_family = AF_INET;
    target.sin_port = htons(static_cast<uint16_t>(m_port));
    ::inet_pton(AF_INET, kLan, &target.sin_addr);
    ASSERT_EQ(::connect(client.get(), reinterpret_cast<sockaddr*>(&target), sizeof(target)), 0);
    const std::string request = "GET /recordings/growing.mp4?k=K7Q HTTP/1.0\r\n\r\n";
    ASSERT_EQ(::send(client.get(), request.data(), request.size(), MSG_NOSIGNAL), ssize_t(request.size()));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    std::ofstream(path, std::ios::binary | std::ios::app) << std::string(1 << 20, 'X');

    const auto response = net::readResponse(client.get(), 60000);
    ASSERT_EQ(response.status, 200);
    EXPECT_EQ(response.headers.at("Content-Length"), std::to_string(size));
    EXPECT_EQ(response.body.size(), size);
    EXPECT_TRUE(response.body == content);
    EXPECT_TRUE(response.closedByServer);
}

TEST_F(RecordingsTest, pagesAndDownloadsNeedTheRoomCodeAndWrongOnesCount)
{
    write("a.mp4", "a");
    for (const char* target : {"/recordings", "/recordings?k=", "/recordings?K=K7Q", "/recordings/a.mp4",
                                     "/recordings/a.mp4?k=ABC"}) {
        SCOPED_TRACE(target);
        const auto response = net::get(kLan, m_port, target);
        EXPECT_EQ(response.status, 403);
        EXPECT_EQ(response.body, "Wrong room code.");
    }
    // Two distinct wrong codes so far ("" and "ABC"): six more throttle.
    for (const char* code : {"B1", "B2", "B3", "B4", "B5", "B6"})
        EXPECT_EQ(net::get(kLan, m_port, std::string("/recordings/a.mp4?k=") + code).status, 403);
    EXPECT_EQ(net::get(kLan, m_port, "/recordings?k=K7Q").status, 429);
    EXPECT_EQ(net::get(kLan, m_port, "/recordings/a.mp4?k=K7Q").status, 429);
}

TEST(SharePagesHelpers, escapingEncodingAndSizes)
{
    const std::vector<std::pair<std::string, std::string>> escaped = {
        {"a&b", "a&amp;b"}, {"<x>", "&lt;x&gt;"}, {"\"q\"", "&quot;q&quot;"}, {"it's", "it's"}, {"", ""},
    };
    for (const auto& [text, out] : escaped)
        EXPECT_EQ(SharePages::htmlEscape(text), out) << text;

    const std::vector<std::pair<std::string, std::string>> encoded = {
        {"aZ09-._~", "aZ09-._~"}, {"a b&c", "a%20b%26c"}, {"/?#%", "%2F%3F%23%25"},
        {"\xff\x01", "%FF%01"},   {"+", "%2B"},
    };
    for (const auto& [text, out] : encoded)
        EXPECT_EQ(SharePages::percentEncode(text), out) << text;

    const std::vector<std::pair<int64_t, std::string>> sizes = {
        {0, "0.0 MB"}, {1572864, "1.5 MB"}, {1048576 * 10 + 1, "10.0 MB"}, {104857, "0.1 MB"},
    };
    for (const auto& [bytes, out] : sizes)
        EXPECT_EQ(SharePages::formatSize(bytes), out) << bytes;
}

TEST(SharePagesHelpers, connectPageHasItsTextsAndTheAddressParts)
{
    const std::string page = SharePages::connectPageHtml("10.1.2.3", 8084);
    for (const std::string& part : {
             std::string("<title>Tavrix \u2014 live</title>"), std::string("<h1>Tavrix</h1>"),
             std::string("This machine is sharing its replay on your network."),
             std::string("Room code from the app"), std::string("placeholder=\"ABC\""), std::string("maxlength=\"3\""),
             std::string("autocapitalize=\"characters\""), std::string("Address for OBS"),
             std::string("Enter the code above"), std::string("disabled>Copy address</button>"),
             std::string("Sources &rarr; + &rarr; <b>Media Source</b>"), std::string("Untick <b>Local File</b>"),
             std::string("Paste the address into <b>Input</b>"),
             std::string("Drag <b>Network Buffering</b> down to <b>0 MB</b>"),
             std::string("OBS defaults to a 2&nbsp;MB buffer, which at this bitrate is several seconds of delay "
                         "&mdash; it is sized for streaming over the internet, not a machine on the same network."),
             std::string("Video only &mdash; add your own microphone in OBS as a separate source."),
             std::string("var host = \"10.1.2.3\";"), std::string("var port = 8084;"),
             std::string("background: #0b0b0d"), std::string("color: #ececf0"), std::string("#ff6b35"),
             std::string("#4caf50"), std::string("max-width: 560px")}) {
        EXPECT_TRUE(contains(page, part)) << part;
    }
    EXPECT_FALSE(contains(page, "src="));
    EXPECT_FALSE(contains(page, "href="));
    // A host can never end the script.
    EXPECT_TRUE(contains(SharePages::connectPageHtml("</script>\"", 1), "var host = \"\\u003c/script\\u003e\\u0022\";"));
}

// Reads everything a download sends, a little at a time (so the server's last
// chunk is still queued when it is done writing); `reset` tells whether the
// connection ended with a reset instead of an orderly close.
std::string readSlowly(int fd, bool* reset)
{
    std::string data;
    *reset = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    char buffer[32768];
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd waitFor {fd, POLLIN, 0};
        if (::poll(&waitFor, 1, 1000) <= 0)
            continue;
        const ssize_t n = ::recv(fd, buffer, sizeof(buffer), 0);
        if (n <= 0) {
            *reset = n < 0;
            break;
        }
        data.append(buffer, static_cast<size_t>(n));
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return data;
}

TEST_F(RecordingsTest, downloadArrivesWholeWhenTheClientSendsMoreAfterItsRequest)
{
    std::string content(6u << 20, '\0');
    uint32_t seed = 99;
    for (char& byte : content) {
        seed = seed * 1664525u + 1013904223u;
        byte = static_cast<char>(seed >> 24);
    }
    write("long.mp4", content);
    const int fdsBefore = net::openFdCount();
    const int threadsBefore = net::threadCount();

    struct Case {
        const char* name;
        std::string request;
        std::string more;  // sent once the response has begun
    };
    const std::string get = "GET /recordings/long.mp4?k=K7Q HTTP/1.1\r\nHost: 10.200.0.1\r\n";
    const std::vector<Case> cases = {
        {"keep-alive head with a body", get + "Connection: keep-alive\r\nContent-Length: 5\r\n\r\n", "hello"},
        {"pipelined second request", get + "\r\n", "GET /recordings?k=K7Q HTTP/1.1\r\nHost: 10.200.0.1\r\n\r\n"},
        {"stray line end", get + "\r\n", "\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        UniqueFd client = net::connectTo(kLan, m_port);
        ASSERT_TRUE(client);
        ASSERT_EQ(::send(client.get(), c.request.data(), c.request.size(), MSG_NOSIGNAL), ssize_t(c.request.size()));
        pollfd waitFor {client.get(), POLLIN, 0};
        ASSERT_EQ(::poll(&waitFor, 1, 10000), 1);
        ASSERT_EQ(::send(client.get(), c.more.data(), c.more.size(), MSG_NOSIGNAL), ssize_t(c.more.size()));

        bool reset = false;
        const std::string data = readSlowly(client.get(), &reset);
        EXPECT_FALSE(reset);
        const size_t headEnd = data.find("\r\n\r\n");
        ASSERT_NE(headEnd, std::string::npos);
        EXPECT_EQ(data.compare(0, 15, "HTTP/1.0 200 OK"), 0);
        const std::string body = data.substr(headEnd + 4);
        EXPECT_EQ(body.size(), content.size());
        EXPECT_TRUE(body == content);
    }
    EXPECT_TRUE(net::returnsToCounts(fdsBefore, threadsBefore));
}

}  // namespace

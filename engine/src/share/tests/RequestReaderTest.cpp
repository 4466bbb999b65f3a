#include "RequestReader.h"

#include "UniqueFd.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include <sys/socket.h>

using lagwell::RequestReader;
using lagwell::UniqueFd;

namespace {

struct Line {
    std::string text;
    bool read;  // what readLine returned
};

// Feeds `input` through a socket pair from a thread of its own, closes the
// sending end and collects up to `count` lines.
std::vector<Line> readLines(const std::string& input, int count)
{
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0)
        return {};
    UniqueFd reading(fds[0]);
    UniqueFd writing(fds[1]);
    std::thread writer([&writing, &input] {
        size_t sent = 0;
        while (sent < input.size()) {
            const ssize_t n = ::send(writing.get(), input.data() + sent, input.size() - sent, MSG_NOSIGNAL);
            if (n <= 0)
                break;
            sent += static_cast<size_t>(n);
        }
        ::shutdown(writing.get(), SHUT_WR);
    });
    RequestReader reader(reading.get(), RequestReader::Clock::now() + std::chrono::seconds(20), 10000);
    std::vector<Line> lines;
    for (int i = 0; i < count; ++i) {
        Line line;
        line.read = reader.readLine(line.text);
        lines.push_back(line);
    }
    reading.reset();  // a writer still sending fails now
    writer.join();
    return lines;
}

TEST(RequestReaderTest, linesAcrossBlocksAtTheLimitsAndAtTheEnd)
{
    const std::string limit(RequestReader::kMaxLineChars, 'a');
    const std::string block(RequestReader::kBlockBytes - 3, 'b');
    struct Case {
        const char* name;
        std::string input;
        std::vector<Line> expected;
    };
    const std::vector<Case> cases = {
        {"carriage returns dropped wherever they stand", "GE\rT /\r\n\n", {{"GET /", true}, {"", true}}},
        {"a line at the limit leaves its line end for the next",
         limit + "\r\nX", {{limit, true}, {"", true}, {"X", false}}},
        {"a longer line goes on as the next one", limit + "tail\n", {{limit, true}, {"tail", true}}},
        {"a line split over two blocks", block.substr(0, 100) + "\n" + block + "\r\nnext\n",
         {{block.substr(0, 100), true}, {std::string(RequestReader::kMaxLineChars, 'b'), true},
          {block.substr(RequestReader::kMaxLineChars), true}, {"next", true}}},
        {"what came before the peer closed is kept", "GET /x", {{"GET /x", false}, {"", false}}},
        {"carriage returns without end stop the reading",
         "GET /" + std::string(3 * RequestReader::kMaxLineRawBytes, '\r') + "\n",
         {{"GET /", false}, {"", false}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto lines = readLines(c.input, static_cast<int>(c.expected.size()));
        ASSERT_EQ(lines.size(), c.expected.size());
        for (size_t i = 0; i < lines.size(); ++i) {
            EXPECT_EQ(lines[i].text, c.expected[i].text) << "line " << i;
            EXPECT_EQ(lines[i].read, c.expected[i].read) << "line " << i;
        }
    }
}

}  // namespace

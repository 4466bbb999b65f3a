#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

namespace lagwell {

// Reads the head of an HTTP request from a socket in blocks, on the
// connection's thread. A line ends at a line feed; carriage returns are
// dropped wherever they stand; a line is cut at kMaxLineChars characters
// (the rest is read as the next line). Every wait ends at the deadline or
// after kReadTimeoutMs without data. Bytes read past the head are kept in
// the reader and never handed out.
class RequestReader {
public:
    static constexpr size_t kMaxLineChars = 8192;
    // Reading fails after this many raw bytes without the line's end, so
    // carriage returns (not counted as characters) cannot stretch a line
    // without end.
    static constexpr size_t kMaxLineRawBytes = 2 * kMaxLineChars;
    static constexpr int kMaxHeaderLines = 200;
    static constexpr size_t kBlockBytes = 16384;

    using Clock = std::chrono::steady_clock;

    // `fd` is borrowed; `readTimeoutMs` bounds each wait for more data.
    RequestReader(int fd, Clock::time_point deadline, int readTimeoutMs);

    RequestReader(const RequestReader&) = delete;
    RequestReader& operator=(const RequestReader&) = delete;

    // Reads one line into `line` (what was collected is kept also on
    // failure). False when nothing more can be read: the peer closed, a read
    // failed or timed out, the deadline passed, or kMaxLineRawBytes were
    // read without the line ending.
    bool readLine(std::string& line);
    // Reads and ignores header lines up to the empty line, at most
    // kMaxHeaderLines of them.
    void drainHeaders();

private:
    // Waits for and reads one block into the buffer; false when none came.
    bool fill();

    const int m_fd;
    const Clock::time_point m_deadline;
    const int m_readTimeoutMs;
    std::vector<char> m_buffer;
    size_t m_begin = 0;  // first unread byte of m_buffer
    size_t m_end = 0;    // one past the last byte read
};

}  // namespace lagwell

// Cost of reading request heads: CPU per mebibyte of junk a client sends,
// in the shapes a hostile client would choose.

#include "RequestReader.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <string>
#include <thread>

#include <sys/socket.h>
#include <unistd.h>

namespace {

double threadCpuSeconds()
{
    timespec now {};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// Reads `junk`, sent over and over, as lines until the writer is done;
// prints the reader thread's CPU per mebibyte.
void bench(const char* name, const std::string& junk, int repeats)
{
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0)
        return;
    std::thread writer([&] {
        for (int i = 0; i < repeats; ++i) {
            size_t sent = 0;
            while (sent < junk.size()) {
                const ssize_t n = ::send(fds[1], junk.data() + sent, junk.size() - sent, MSG_NOSIGNAL);
                if (n <= 0)
                    return;
                sent += static_cast<size_t>(n);
            }
        }
        ::shutdown(fds[1], SHUT_WR);
    });
    const double start = threadCpuSeconds();
    lagwell::RequestReader reader(fds[0], lagwell::RequestReader::Clock::now() + std::chrono::minutes(5), 10000);
    std::string line;
    while (reader.readLine(line)) {
    }
    const double cpu = threadCpuSeconds() - start;
    ::shutdown(fds[0], SHUT_RDWR);  // a writer still sending fails now
    writer.join();
    ::close(fds[0]);
    ::close(fds[1]);
    const double mebibytes = double(junk.size()) * repeats / 1048576.0;
    std::printf("%-28s %8.2f ms CPU per MiB\n", name, cpu * 1e3 / mebibytes);
}

}  // namespace

int main()
{
    std::string shortLines;
    while (shortLines.size() < (1u << 20))
        shortLines += "X: junk\r\n";
    bench("no line feed", std::string(1u << 20, 'A'), 64);
    bench("short header lines", shortLines, 64);
    return 0;
}

#include "TestNetwork.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

namespace lagwell::test {

namespace {

bool runCommand(const std::string& command, std::string* error)
{
    const int status = std::system((command + " 2>&1").c_str());
    if (status != 0) {
        if (error)
            *error = "command failed: " + command;
        return false;
    }
    return true;
}

}  // namespace

bool enterFreshNetNamespace(std::string* error)
{
    if (::unshare(CLONE_NEWNET) != 0) {
        if (error)
            *error = "unshare(CLONE_NEWNET) failed";
        return false;
    }
    return runCommand("ip link set lo up", error);
}

bool addInterface(const std::string& name, const std::string& cidr, std::string* error)
{
    static std::atomic<int> peerNumber {0};
    const std::string peer = "p" + std::to_string(peerNumber.fetch_add(1));
    return runCommand("ip link add " + name + " type veth peer name " + peer, error)
        && runCommand("ip addr add " + cidr + " dev " + name, error)
        && runCommand("ip link set " + name + " up", error) && runCommand("ip link set " + peer + " up", error);
}

UniqueFd listenOn(int port)
{
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd)
        return fd;
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(static_cast<uint16_t>(port));
    if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 || ::listen(fd.get(), 4) != 0)
        return UniqueFd();
    return fd;
}

UniqueFd connectTo(const std::string& address, int port, const std::string& source)
{
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd)
        return fd;
    if (!source.empty()) {
        sockaddr_in local {};
        local.sin_family = AF_INET;
        if (::inet_pton(AF_INET, source.c_str(), &local.sin_addr) != 1
            || ::bind(fd.get(), reinterpret_cast<sockaddr*>(&local), sizeof(local)) != 0)
            return UniqueFd();
    }
    sockaddr_in target {};
    target.sin_family = AF_INET;
    target.sin_port = htons(static_cast<uint16_t>(port));
    if (::inet_pton(AF_INET, address.c_str(), &target.sin_addr) != 1
        || ::connect(fd.get(), reinterpret_cast<sockaddr*>(&target), sizeof(target)) != 0)
        return UniqueFd();
    return fd;
}

HttpResponse readResponse(int fd, int timeoutMs)
{
    HttpResponse response;
    std::string data;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0)
            break;
        pollfd waitFor {fd, POLLIN, 0};
        if (::poll(&waitFor, 1, static_cast<int>(left)) <= 0)
            break;
        char buffer[4096];
        const ssize_t n = ::recv(fd, buffer, sizeof(buffer), 0);
        // A close with unread request bytes (or of a connection never
        // accepted) arrives as a reset.
        if (n == 0 || (n < 0 && errno == ECONNRESET)) {
            response.closedByServer = true;
            break;
        }
        if (n < 0)
            break;
        data.append(buffer, static_cast<size_t>(n));
    }
    const size_t headEnd = data.find("\r\n\r\n");
    if (headEnd == std::string::npos)
        return response;
    response.complete = true;
    response.head = data.substr(0, headEnd + 4);
    response.body = data.substr(headEnd + 4);
    size_t lineStart = 0;
    bool first = true;
    while (lineStart < headEnd) {
        const size_t lineEnd = data.find("\r\n", lineStart);
        const std::string line = data.substr(lineStart, lineEnd - lineStart);
        if (first) {
            response.statusLine = line;
            if (line.size() > 12)
                response.status = std::atoi(line.c_str() + 9);
            first = false;
        } else {
            const size_t colon = line.find(": ");
            if (colon != std::string::npos)
                response.headers[line.substr(0, colon)] = line.substr(colon + 2);
        }
        lineStart = lineEnd + 2;
    }
    return response;
}

namespace {

HttpResponse exchangeOn(UniqueFd fd, const std::string& raw, int timeoutMs)
{
    if (!fd)
        return {};
    size_t sent = 0;
    while (sent < raw.size()) {
        const ssize_t n = ::send(fd.get(), raw.data() + sent, raw.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            break;
        sent += static_cast<size_t>(n);
    }
    return readResponse(fd.get(), timeoutMs);
}

}  // namespace

HttpResponse exchange(const std::string& address, int port, const std::string& raw, int timeoutMs)
{
    return exchangeOn(connectTo(address, port), raw, timeoutMs);
}

HttpResponse get(const std::string& address, int port, const std::string& target)
{
    return exchange(address, port, "GET " + target + " HTTP/1.0\r\nHost: " + address + "\r\n\r\n");
}

HttpResponse getFrom(const std::string& source, const std::string& address, int port, const std::string& target,
                     int timeoutMs)
{
    return exchangeOn(connectTo(address, port, source), "GET " + target + " HTTP/1.0\r\n\r\n", timeoutMs);
}

int threadCount()
{
    int count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/task"))
        ++count;
    return count;
}

int openFdCount()
{
    int count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
        ++count;
    return count;
}

}  // namespace lagwell::test

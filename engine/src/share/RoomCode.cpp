#include "RoomCode.h"

#include <cctype>
#include <cstdlib>
#include <random>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lagwell {

namespace {

constexpr const char* kFileName = "share-code";
// The file holds four bytes; anything past this is not a code file.
constexpr size_t kMaxReadBytes = 256;

std::string envValue(const char* name)
{
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

}  // namespace

std::string RoomCode::newCode()
{
    std::random_device device("default");
    std::mt19937 generator(static_cast<uint32_t>(device()));
    std::uniform_int_distribution<int> pick(0, static_cast<int>(sizeof(kAlphabet)) - 2);
    std::string code;
    for (int i = 0; i < kLength; ++i)
        code.push_back(kAlphabet[pick(generator)]);
    return code;
}

std::string RoomCode::codeFilePath()
{
    std::string dir;
    const std::string xdg = envValue("XDG_CONFIG_HOME");
    if (!xdg.empty()) {
        dir = xdg + "/tavrix";
    } else {
        const std::string home = envValue("HOME");
        if (home.empty())
            return {};
        dir = home + "/.config/tavrix";
    }
    ::mkdir(dir.c_str(), 0700);
    return dir + "/" + kFileName;
}

void RoomCode::saveCode(const std::string& code)
{
    const std::string path = codeFilePath();
    if (path.empty())
        return;
    // Created 0600 from the start so the code is never readable by others.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        ::chmod(path.c_str(), 0600);
        return;
    }
    const std::string text = code + "\n";
    size_t written = 0;
    while (written < text.size()) {
        const ssize_t n = ::write(fd, text.data() + written, text.size() - written);
        if (n <= 0)
            break;
        written += static_cast<size_t>(n);
    }
    ::fchmod(fd, 0600);
    ::close(fd);
}

std::string RoomCode::loadOrCreateCode()
{
    const std::string path = codeFilePath();
    if (!path.empty()) {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd >= 0) {
            char buffer[kMaxReadBytes];
            size_t total = 0;
            while (total < sizeof(buffer)) {
                const ssize_t n = ::read(fd, buffer + total, sizeof(buffer) - total);
                if (n <= 0)
                    break;
                total += static_cast<size_t>(n);
            }
            ::close(fd);
            std::string code;
            for (size_t i = 0; i < total && buffer[i] != '\n'; ++i) {
                const unsigned char c = static_cast<unsigned char>(buffer[i]);
                if (c < 0x80 && std::isalnum(c))
                    code.push_back(static_cast<char>(std::toupper(c)));
            }
            if (code.size() == static_cast<size_t>(kLength))
                return code;
        }
    }
    std::string code = newCode();
    saveCode(code);
    return code;
}

}  // namespace lagwell

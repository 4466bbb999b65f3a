// Start-up time of the real program against a bare Qt Quick window.
//
// Each run starts a process under the current DISPLAY and times exec to its
// first grabbed picture: both programs grab their window on a timer of 1 ms
// after the event loop starts (the program's screenshot mode, `--after 1`),
// save it (as BMP) and print "--screenshot: saved" on standard error; the
// time is taken when that line arrives. The programs run in turn, each round
// starting at the next one, after one warm-up round that is not counted; all share one fresh HOME, so the first
// start's settings are written in the warm-up.
//
// A fourth row runs the bare window with the program's own non-Qt libraries
// (FFmpeg, TurboJPEG, ALSA, FreeType) preloaded: what loading them costs.
//
// Usage: bench_startup [runs] [--program P] [--before P] [--baseline P]
// Prints the median of each and the program's ratios to the baseline, for
// the start screen and for the session screen on the test pattern; with
// --before, also those of another build of the program (an earlier commit),
// run in the same rounds.

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kDefaultRuns = 9;
constexpr int kTimeoutMs = 30000;
constexpr const char* kMarker = "--screenshot: saved";

struct Launch {
    std::string name;
    std::vector<std::string> arguments;
    std::map<std::string, std::string> environment;  // set on top of this process's
};

struct Timing {
    double firstPictureMs = 0;
    double exitMs = 0;
};

std::vector<std::string> environmentWith(const std::map<std::string, std::string>& extra)
{
    std::vector<std::string> result;
    for (char** entry = environ; *entry; ++entry) {
        const std::string text = *entry;
        const std::string key = text.substr(0, text.find('='));
        if (!extra.count(key))
            result.push_back(text);
    }
    for (const auto& [key, value] : extra)
        result.push_back(key + "=" + value);
    return result;
}

std::vector<char*> pointers(std::vector<std::string>& texts)
{
    std::vector<char*> result;
    for (std::string& text : texts)
        result.push_back(text.data());
    result.push_back(nullptr);
    return result;
}

double msSince(Clock::time_point begin)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - begin).count();
}

// Exec to the marker line and to exit; nothing when the run failed.
std::optional<Timing> runOnce(const Launch& launch, std::string* output)
{
    int pipeFds[2];
    if (pipe(pipeFds) != 0)
        return std::nullopt;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDERR_FILENO);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    posix_spawn_file_actions_addclose(&actions, pipeFds[1]);

    std::vector<std::string> arguments = launch.arguments;
    std::vector<std::string> environment = environmentWith(launch.environment);
    std::vector<char*> argv = pointers(arguments);
    std::vector<char*> envp = pointers(environment);

    const Clock::time_point begin = Clock::now();
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    if (rc != 0) {
        close(pipeFds[0]);
        std::fprintf(stderr, "could not start %s: %s\n", argv[0], std::strerror(rc));
        return std::nullopt;
    }

    Timing timing;
    bool marked = false;
    std::string text;
    for (;;) {
        const int leftMs = kTimeoutMs - static_cast<int>(msSince(begin));
        if (leftMs <= 0) {
            kill(pid, SIGKILL);
            break;
        }
        pollfd fd {pipeFds[0], POLLIN, 0};
        if (poll(&fd, 1, leftMs) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        char chunk[4096];
        const ssize_t n = read(pipeFds[0], chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        text.append(chunk, static_cast<size_t>(n));
        if (!marked && text.find(kMarker) != std::string::npos) {
            timing.firstPictureMs = msSince(begin);
            marked = true;
        }
    }
    close(pipeFds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    timing.exitMs = msSince(begin);
    if (output)
        *output = text;
    if (!marked || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "%s: no picture (status %d)\n%s\n", launch.name.c_str(), status, text.c_str());
        return std::nullopt;
    }
    return timing;
}

// The program's direct non-Qt, non-system libraries (DT_NEEDED, as objdump
// lists them), separated by spaces for LD_PRELOAD; empty when unknown.
std::string ownLibraries(const std::string& program)
{
    const std::string command = "objdump -p '" + program + "' 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return {};
    std::string result;
    char line[512];
    while (std::fgets(line, sizeof line, pipe)) {
        char name[256];
        if (std::sscanf(line, " NEEDED %255s", name) != 1)
            continue;
        const std::string library = name;
        bool skipped = false;
        for (const char* prefix : {"libQt6", "libc.", "libm.", "libstdc++", "libgcc_s", "ld-linux"})
            skipped = skipped || library.rfind(prefix, 0) == 0;
        if (!skipped)
            result += (result.empty() ? "" : " ") + library;
    }
    pclose(pipe);
    return result;
}

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// The graphics environment the program gives itself on the current tier,
// given to the baseline too.
std::map<std::string, std::string> baselineGraphics()
{
    const char* mode = std::getenv("TVX_QSG_MODE");
    if (mode && std::strcmp(mode, "software") == 0)
        return {{"QSG_RHI_BACKEND", "software"}};
    if (mode && std::strcmp(mode, "gl-soft") == 0)
        return {{"QSG_RHI_BACKEND", "opengl"}, {"LIBGL_ALWAYS_SOFTWARE", "1"}};
    return {{"QSG_RHI_BACKEND", "opengl"}};
}

}  // namespace

int main(int argc, char* argv[])
{
    int runs = kDefaultRuns;
    std::string program = TVX_BENCH_TAVRIX;
    std::string before;
    std::string baseline = TVX_BENCH_BASELINE;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--program" && i + 1 < argc)
            program = argv[++i];
        else if (argument == "--before" && i + 1 < argc)
            before = argv[++i];
        else if (argument == "--baseline" && i + 1 < argc)
            baseline = argv[++i];
        else
            runs = std::max(1, std::atoi(argument.c_str()));
    }
    if (!std::getenv("DISPLAY")) {
        std::fprintf(stderr, "bench_startup needs a display (DISPLAY, or run it under xvfb-run)\n");
        return 1;
    }

    char home[] = "/tmp/tvx-startup-XXXXXX";
    if (!mkdtemp(home)) {
        std::perror("mkdtemp");
        return 1;
    }
    // BMP: no compression, so a busy picture costs no more to save than a plain one.
    const std::string shot = std::string(home) + "/shot.bmp";

    std::map<std::string, std::string> common {{"HOME", home}};
    std::map<std::string, std::string> bare = common;
    for (const auto& [key, value] : baselineGraphics())
        bare[key] = value;
    std::map<std::string, std::string> session = common;
    session["TAVRIX_TEST_SOURCE"] = "1";

    std::vector<Launch> launches {
        {"bare window", {baseline, shot, "1"}, bare},
        {"start screen", {program, "--screenshot", shot, "--after", "1"}, common},
        {"session screen", {program, "--screenshot", shot, "--after", "1", "--screen", "session"}, session},
    };
    const std::string libraries = ownLibraries(program);
    if (!libraries.empty()) {
        std::map<std::string, std::string> preloaded = bare;
        preloaded["LD_PRELOAD"] = libraries;
        launches.push_back({"bare + libraries", {baseline, shot, "1"}, preloaded});
    }
    if (!before.empty()) {
        launches.push_back({"start (before)", {before, "--screenshot", shot, "--after", "1"}, common});
        launches.push_back(
            {"session (before)", {before, "--screenshot", shot, "--after", "1", "--screen", "session"}, session});
    }

    std::vector<std::vector<double>> firstPicture(launches.size());
    std::vector<std::vector<double>> exits(launches.size());
    for (int round = 0; round <= runs; ++round) {
        // Each round starts at another program, so none always runs first.
        for (size_t k = 0; k < launches.size(); ++k) {
            const size_t i = (k + static_cast<size_t>(round)) % launches.size();
            const std::optional<Timing> timing = runOnce(launches[i], nullptr);
            if (!timing)
                return 1;
            if (round == 0)
                continue;  // warm-up: caches, the first start's settings
            firstPicture[i].push_back(timing->firstPictureMs);
            exits[i].push_back(timing->exitMs);
        }
    }

    const double base = median(firstPicture[0]);
    std::printf("exec -> first grabbed picture, median of %d runs (%s)\n", runs, program.c_str());
    std::printf("%-17s %12s %8s %14s\n", "", "picture ms", "ratio", "exit ms");
    for (size_t i = 0; i < launches.size(); ++i) {
        const double value = median(firstPicture[i]);
        std::printf("%-17s %12.1f %7.2fx %14.1f\n", launches[i].name.c_str(), value, base > 0 ? value / base : 0.0,
                    median(exits[i]));
    }
    if (!libraries.empty())
        std::printf("bare + libraries: the bare window with LD_PRELOAD=\"%s\"\n", libraries.c_str());
    std::error_code ignored;
    std::filesystem::remove_all(home, ignored);
    return 0;
}

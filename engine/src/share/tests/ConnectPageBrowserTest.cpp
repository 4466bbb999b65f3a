// Loads the connect page in headless Chromium from the server inside the
// test's network namespace and types a room code into it, driving the
// browser through the DevTools protocol over a pipe (no port is opened).

#include "ShareServerFixture.h"
#include "TestNetwork.h"
#include "UniqueFd.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

using lagwell::UniqueFd;
using lagwell::test::kLan;
using lagwell::test::ShareServerTest;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr const char* kChromium = "/usr/bin/chromium";

// The text of the first string field `name` of a JSON message, unescaped
// (enough for the protocol's replies); empty when absent.
std::string jsonString(const std::string& message, const std::string& name)
{
    const std::string key = "\"" + name + "\":\"";
    size_t at = message.find(key);
    if (at == std::string::npos)
        return {};
    std::string out;
    for (at += key.size(); at < message.size() && message[at] != '"'; ++at) {
        if (message[at] != '\\' || at + 1 >= message.size()) {
            out.push_back(message[at]);
            continue;
        }
        const char escaped = message[++at];
        switch (escaped) {
        case 'n': out.push_back('\n'); break;
        case 't': out.push_back('\t'); break;
        case 'u': {
            const unsigned code = unsigned(std::stoul(message.substr(at + 1, 4), nullptr, 16));
            at += 4;
            if (code < 0x80) {
                out.push_back(char(code));
            } else if (code < 0x800) {
                out.push_back(char(0xC0 | (code >> 6)));
                out.push_back(char(0x80 | (code & 0x3F)));
            } else {
                out.push_back(char(0xE0 | (code >> 12)));
                out.push_back(char(0x80 | ((code >> 6) & 0x3F)));
                out.push_back(char(0x80 | (code & 0x3F)));
            }
            break;
        }
        default: out.push_back(escaped);
        }
    }
    return out;
}

// A headless Chromium driven through --remote-debugging-pipe: commands go
// to its descriptor 3 and replies come from its descriptor 4, each message
// ended by a NUL byte.
class Browser {
public:
    ~Browser() { close(); }

    bool launch(const std::string& userDataDir, const std::string& logPath)
    {
        int commands[2];
        int replies[2];
        if (::pipe2(commands, O_CLOEXEC) != 0 || ::pipe2(replies, O_CLOEXEC) != 0)
            return false;
        UniqueFd commandsRead(commands[0]);
        m_toBrowser.reset(commands[1]);
        m_fromBrowser.reset(replies[0]);
        UniqueFd repliesWrite(replies[1]);

        const std::vector<std::string> args = {
            kChromium, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
            "--disable-background-networking", "--disable-component-update", "--disable-sync",
            "--disable-dev-shm-usage", "--no-proxy-server", "--disable-crash-reporter", "--disable-breakpad",
            "--user-data-dir=" + userDataDir, "--remote-debugging-pipe", "about:blank",
        };
        std::vector<char*> argv;
        for (const auto& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);

        m_pid = ::fork();
        if (m_pid < 0)
            return false;
        if (m_pid == 0) {
            // Only async-signal-safe calls until exec. The log may get
            // number 3 or 4, so it is placed first.
            const int log = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
            if (log >= 0) {
                ::dup2(log, 1);
                ::dup2(log, 2);
            }
            const int in = ::fcntl(commandsRead.get(), F_DUPFD, 10);
            const int out = ::fcntl(repliesWrite.get(), F_DUPFD, 10);
            if (in < 0 || out < 0 || ::dup2(in, 3) < 0 || ::dup2(out, 4) < 0)
                ::_exit(127);
            ::execv(kChromium, argv.data());
            ::_exit(127);
        }
        return true;
    }

    // Sends one command and returns its reply, or empty after `timeoutMs`.
    std::string call(const std::string& method, const std::string& params = "{}", const std::string& sessionId = "",
                     int timeoutMs = 30000)
    {
        const int id = m_nextId++;
        std::string message = "{\"id\":" + std::to_string(id) + ",\"method\":\"" + method + "\",\"params\":" + params;
        if (!sessionId.empty())
            message += ",\"sessionId\":\"" + sessionId + "\"";
        message += "}";
        message.push_back('\0');
        size_t sent = 0;
        while (sent < message.size()) {
            const ssize_t n = ::write(m_toBrowser.get(), message.data() + sent, message.size() - sent);
            if (n <= 0)
                return {};
            sent += size_t(n);
        }
        const std::string prefix = "{\"id\":" + std::to_string(id) + ",";
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            size_t end = 0;
            while ((end = m_buffer.find('\0')) != std::string::npos) {
                std::string reply = m_buffer.substr(0, end);
                m_buffer.erase(0, end + 1);
                if (reply.rfind(prefix, 0) == 0)
                    return reply;  // events and other replies are skipped
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            pollfd waitFor {m_fromBrowser.get(), POLLIN, 0};
            if (left <= 0 || ::poll(&waitFor, 1, int(left)) <= 0)
                return {};
            char chunk[65536];
            const ssize_t n = ::read(m_fromBrowser.get(), chunk, sizeof(chunk));
            if (n <= 0)
                return {};
            m_buffer.append(chunk, size_t(n));
        }
    }

    // The string value of a script expression in the page of `sessionId`.
    std::string evaluate(const std::string& sessionId, const std::string& expression)
    {
        std::string quoted;
        for (char c : expression) {
            if (c == '"' || c == '\\')
                quoted.push_back('\\');
            quoted.push_back(c);
        }
        const std::string reply = call("Runtime.evaluate",
                                       "{\"expression\":\"String(" + quoted + ")\",\"returnByValue\":true}", sessionId);
        return jsonString(reply, "value");
    }

    // Presses one key as a user would; `text` is what it types.
    void press(const std::string& sessionId, const std::string& key, const std::string& code, int keyCode,
               const std::string& text)
    {
        const std::string common = "\"key\":\"" + key + "\",\"code\":\"" + code
            + "\",\"windowsVirtualKeyCode\":" + std::to_string(keyCode);
        const std::string down = text.empty() ? "{\"type\":\"rawKeyDown\"," + common + "}"
                                              : "{\"type\":\"keyDown\"," + common + ",\"text\":\"" + text + "\"}";
        call("Input.dispatchKeyEvent", down, sessionId);
        call("Input.dispatchKeyEvent", "{\"type\":\"keyUp\"," + common + "}", sessionId);
    }

    // A left click in the middle of the element with this id.
    void click(const std::string& sessionId, const std::string& elementId)
    {
        const std::string centre = evaluate(
            sessionId, "(function () { var r = document.getElementById('" + elementId
                + "').getBoundingClientRect(); return Math.round(r.left + r.width / 2) + ',' + "
                  "Math.round(r.top + r.height / 2); })()");
        const size_t comma = centre.find(',');
        if (comma == std::string::npos)
            return;
        const std::string at = "\"x\":" + centre.substr(0, comma) + ",\"y\":" + centre.substr(comma + 1)
            + ",\"button\":\"left\",\"clickCount\":1";
        call("Input.dispatchMouseEvent", "{\"type\":\"mousePressed\"," + at + "}", sessionId);
        call("Input.dispatchMouseEvent", "{\"type\":\"mouseReleased\"," + at + "}", sessionId);
    }

    void close()
    {
        if (m_pid <= 0)
            return;
        call("Browser.close", "{}", "", 5000);
        m_toBrowser.reset();
        const auto deadline = Clock::now() + std::chrono::seconds(10);
        int status = 0;
        while (::waitpid(m_pid, &status, WNOHANG) == 0) {
            if (Clock::now() > deadline) {
                ::kill(m_pid, SIGKILL);
                ::waitpid(m_pid, &status, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        m_pid = -1;
    }

private:
    pid_t m_pid = -1;
    UniqueFd m_toBrowser;
    UniqueFd m_fromBrowser;
    std::string m_buffer;
    int m_nextId = 1;
};

class ConnectPageBrowserTest : public ShareServerTest {};

TEST_F(ConnectPageBrowserTest, typedCodeShowsTheStreamAddressUpperCasedAndEnablesTheButton)
{
    if (::access(kChromium, X_OK) != 0)
        GTEST_SKIP() << "Chromium is not installed";
    const int port = startServer();
    ASSERT_EQ(port, 8080);

    const fs::path profile = m_configDir / "chromium-profile";
    fs::create_directories(profile);
    const std::string log = (m_configDir / "chromium.log").string();
    Browser browser;
    ASSERT_TRUE(browser.launch(profile.string(), log));

    const std::string created = browser.call(
        "Target.createTarget", "{\"url\":\"http://" + std::string(kLan) + ":" + std::to_string(port) + "/\"}", "", 60000);
    const std::string targetId = jsonString(created, "targetId");
    ASSERT_FALSE(targetId.empty()) << created << lagwell::test::readFile(log);
    const std::string attached =
        browser.call("Target.attachToTarget", "{\"targetId\":\"" + targetId + "\",\"flatten\":true}");
    const std::string session = jsonString(attached, "sessionId");
    ASSERT_FALSE(session.empty()) << attached;

    // The new tab shows about:blank until the page has been fetched.
    const std::string page = "complete|Tavrix \u2014 live|http://10.200.0.1:8080/";
    std::string loaded;
    const auto deadline = Clock::now() + std::chrono::seconds(60);
    while (loaded != page && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        loaded = browser.evaluate(session, "document.readyState + '|' + document.title + '|' + location.href");
    }
    ASSERT_EQ(loaded, page) << lagwell::test::readFile(log);
    // The code field has the keyboard focus from the start: the keys below
    // go wherever the focus is.
    EXPECT_EQ(browser.evaluate(session, "document.activeElement.id"), "code");

    const std::string state = "document.getElementById('address').textContent + '|' + "
                              "document.getElementById('copy').disabled + '|' + "
                              "document.getElementById('copy').textContent";
    EXPECT_EQ(browser.evaluate(session, state), "Enter the code above|true|Copy address");
    browser.press(session, "a", "KeyA", 65, "a");
    browser.press(session, "b", "KeyB", 66, "b");
    EXPECT_EQ(browser.evaluate(session, "document.getElementById('code').value"), "ab");
    EXPECT_EQ(browser.evaluate(session, state), "Enter the code above|true|Copy address");
    browser.press(session, "7", "Digit7", 55, "7");
    EXPECT_EQ(browser.evaluate(session, state), "http://10.200.0.1:8080/live.ts?k=AB7|false|Copy address");
    // A fourth character does not fit.
    browser.press(session, "x", "KeyX", 88, "x");
    EXPECT_EQ(browser.evaluate(session, "document.getElementById('code').value"), "ab7");

    // Over plain HTTP there is no clipboard interface: the copy goes through
    // a temporary text area, which is removed again whatever the outcome.
    EXPECT_EQ(browser.evaluate(session, "typeof navigator.clipboard + '|' + window.isSecureContext"), "undefined|false");
    browser.click(session, "copy");
    const std::string copied = browser.evaluate(
        session, "document.getElementById('copy').textContent + '|' + document.getElementById('copy').className + '|' + "
                 "document.getElementsByTagName('textarea').length");
    EXPECT_TRUE(copied == "Copied \u2713|copied|0" || copied == "Press Ctrl+C to copy||0") << copied;

    // Back in the field, deleting a character disables the button again and
    // resets its text.
    browser.click(session, "code");
    EXPECT_EQ(browser.evaluate(session, "document.activeElement.id"), "code");
    browser.press(session, "End", "End", 35, "");
    browser.press(session, "Backspace", "Backspace", 8, "");
    EXPECT_EQ(browser.evaluate(session, "document.getElementById('code').value"), "ab");
    EXPECT_EQ(browser.evaluate(session, state), "Enter the code above|true|Copy address");
    EXPECT_EQ(browser.evaluate(session, "document.getElementById('copy').className"), "");
    browser.close();
}

}  // namespace

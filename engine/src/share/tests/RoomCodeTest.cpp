#include "RoomCode.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <sstream>

#include <sys/stat.h>
#include <unistd.h>

using lagwell::RoomCode;
namespace fs = std::filesystem;

namespace {

// Runs each case with its own HOME and XDG_CONFIG_HOME and restores both.
class RoomCodeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char* name : {"HOME", "XDG_CONFIG_HOME"}) {
            const char* value = std::getenv(name);
            m_saved.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
        }
        m_root = fs::temp_directory_path()
            / ("roomcode-" + std::to_string(::getpid()) + "-"
               + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(m_root);
        fs::create_directories(m_root / "home" / ".config");
        fs::create_directories(m_root / "xdg");
        ::setenv("HOME", (m_root / "home").c_str(), 1);
        ::unsetenv("XDG_CONFIG_HOME");
        m_oldMask = ::umask(0);  // modes below must come from the code, not the mask
    }
    void TearDown() override
    {
        ::umask(m_oldMask);
        for (const auto& [name, value] : m_saved) {
            if (value)
                ::setenv(name.c_str(), value->c_str(), 1);
            else
                ::unsetenv(name.c_str());
        }
        fs::remove_all(m_root);
    }

    std::string homeFile() const { return (m_root / "home" / ".config" / "tavrix" / "share-code").string(); }

    static std::string readFile(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    static void writeFile(const std::string& path, const std::string& text)
    {
        fs::create_directories(fs::path(path).parent_path());
        std::ofstream(path, std::ios::binary) << text;
    }
    static unsigned modeOf(const std::string& path)
    {
        struct stat info {};
        return ::stat(path.c_str(), &info) == 0 ? (info.st_mode & 07777) : 0xFFFF;
    }
    static bool isGeneratedCode(const std::string& code)
    {
        return code.size() == 3 && code.find_first_not_of(RoomCode::kAlphabet) == std::string::npos;
    }

    fs::path m_root;
    mode_t m_oldMask = 0;
    std::vector<std::pair<std::string, std::optional<std::string>>> m_saved;
};

TEST_F(RoomCodeTest, pathFollowsXdgConfigHomeThenHome)
{
    struct Case {
        const char* name;
        std::optional<std::string> xdg;
        std::optional<std::string> home;
        std::string expected;
    };
    const std::string home = (m_root / "home").string();
    const std::string xdg = (m_root / "xdg").string();
    const std::vector<Case> cases = {
        {"xdg wins", xdg, home, xdg + "/tavrix/share-code"},
        {"empty xdg falls back to home", std::string(), home, home + "/.config/tavrix/share-code"},
        {"unset xdg falls back to home", std::nullopt, home, home + "/.config/tavrix/share-code"},
        {"neither usable", std::string(), std::string(), ""},
        {"neither set", std::nullopt, std::nullopt, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.xdg ? ::setenv("XDG_CONFIG_HOME", c.xdg->c_str(), 1) : ::unsetenv("XDG_CONFIG_HOME");
        c.home ? ::setenv("HOME", c.home->c_str(), 1) : ::unsetenv("HOME");
        EXPECT_EQ(RoomCode::codeFilePath(), c.expected);
        if (!c.expected.empty()) {
            EXPECT_EQ(modeOf(fs::path(c.expected).parent_path().string()), 0700u);
        }
    }
}

TEST_F(RoomCodeTest, directoryIsMadeOneLevelOnlyAndKeepsAnExistingMode)
{
    ::setenv("XDG_CONFIG_HOME", (m_root / "missing" / "parent").c_str(), 1);
    EXPECT_EQ(RoomCode::codeFilePath(), (m_root / "missing" / "parent" / "tavrix" / "share-code").string());
    EXPECT_FALSE(fs::exists(m_root / "missing"));

    ::setenv("XDG_CONFIG_HOME", (m_root / "xdg").c_str(), 1);
    fs::create_directories(m_root / "xdg" / "tavrix");
    ::chmod((m_root / "xdg" / "tavrix").c_str(), 0750);
    RoomCode::codeFilePath();
    EXPECT_EQ(modeOf((m_root / "xdg" / "tavrix").string()), 0750u);
}

TEST_F(RoomCodeTest, generatedCodesUseOnlyTheUnambiguousAlphabet)
{
    std::set<char> seen;
    for (int i = 0; i < 3000; ++i) {
        const std::string code = RoomCode::newCode();
        ASSERT_TRUE(isGeneratedCode(code)) << code;
        ASSERT_EQ(code.find_first_of("01IO"), std::string::npos) << code;
        seen.insert(code.begin(), code.end());
    }
    EXPECT_EQ(seen.size(), 32u);  // every letter of the alphabet turns up
}

TEST_F(RoomCodeTest, fileContentsDecideBetweenKeepingAndReplacing)
{
    struct Case {
        const char* name;
        std::string contents;
        std::string expected;  // empty: a new code replaces the file
    };
    const std::vector<Case> cases = {
        {"lower case kept as upper case", "abc\n", "ABC"},
        {"separators dropped", "a-b c\n", "ABC"},
        {"letters the generator leaves out", "I0O\n", "I0O"},
        {"no line feed", "xyz", "XYZ"},
        {"second line ignored", "k7q\nsomething else\n", "K7Q"},
        {"four characters", "ABCD\n", ""},
        {"two characters", "AB\n", ""},
        {"empty file", "", ""},
        {"empty first line", "\nABC\n", ""},
        {"non-ASCII bytes dropped", "\xc3\xa9" "12\n", ""},
        {"huge line without line feed", std::string(1 << 20, 'A'), ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(homeFile(), c.contents);
        const std::string code = RoomCode::loadOrCreateCode();
        if (!c.expected.empty()) {
            EXPECT_EQ(code, c.expected);
            EXPECT_EQ(readFile(homeFile()), c.contents);  // left as it is
        } else {
            EXPECT_TRUE(isGeneratedCode(code)) << code;
            EXPECT_EQ(readFile(homeFile()), code + "\n");
            EXPECT_EQ(modeOf(homeFile()), 0600u);
        }
    }
}

TEST_F(RoomCodeTest, savedFileIsPrivateEvenWhenItExistedOpenToOthers)
{
    writeFile(homeFile(), "old\n");
    ::chmod(homeFile().c_str(), 0666);
    RoomCode::saveCode("Q7Z");
    EXPECT_EQ(readFile(homeFile()), "Q7Z\n");
    EXPECT_EQ(modeOf(homeFile()), 0600u);

    fs::remove(homeFile());
    RoomCode::saveCode("A2B");  // created under umask 0: still 0600
    EXPECT_EQ(modeOf(homeFile()), 0600u);
    EXPECT_EQ(RoomCode::loadOrCreateCode(), "A2B");
}

TEST_F(RoomCodeTest, withoutAnyDirectoryCodesAreMadeAndNothingIsWritten)
{
    ::unsetenv("HOME");
    ::unsetenv("XDG_CONFIG_HOME");
    EXPECT_TRUE(isGeneratedCode(RoomCode::loadOrCreateCode()));
    EXPECT_FALSE(fs::exists(m_root / "home" / ".config" / "tavrix"));
}

TEST_F(RoomCodeTest, unwritableDirectoryStillGivesACode)
{
    ::setenv("XDG_CONFIG_HOME", (m_root / "xdg").c_str(), 1);
    fs::create_directories(m_root / "xdg" / "tavrix" / "share-code");  // a directory where the file should be
    EXPECT_TRUE(isGeneratedCode(RoomCode::loadOrCreateCode()));
}

}  // namespace

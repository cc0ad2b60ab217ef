// Command-line quoting and process start. The child program is this test
// binary itself (see main.cpp), reporting its arguments and directory.
#include "platform/host/cmdline.h"
#include "platform/wintypes.h"
#include "temp_dir.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

TEST(CommandLine, JoinThenSplitGivesTheArgumentsBack) {
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"-Update", "/IP:10.0.0.1"},
        {"two words", ""},
        {"quote\"inside", "\"", "\"\""},
        {"trailing\\", "back\\\\slashes\\", "dir\\\"quoted\""},
        {"tab\there", "newline\nhere", "한글 인자"},
    };
    for (const auto& args : cases) {
        std::vector<std::string> split =
            tvhost::SplitCommandLine("prog " + tvhost::JoinArguments(args));
        ASSERT_FALSE(split.empty());
        EXPECT_EQ(split[0], "prog");
        EXPECT_EQ(std::vector<std::string>(split.begin() + 1, split.end()), args)
            << tvhost::JoinArguments(args);
    }
}

TEST(CommandLine, SplitsByTheWindowsRules) {
    struct Case {
        const char* line;
        std::vector<std::string> args;
    };
    const Case cases[] = {
        {"Torvane.exe -Update /IP:1.2.3.4 ", {"Torvane.exe", "-Update", "/IP:1.2.3.4"}},
        {"\"C:\\Game Dir\\t.exe\" a\\\\\\\"b c", {"C:\\Game Dir\\t.exe", "a\\\"b", "c"}},
        {"p a\\\\\"b c\" d", {"p", "a\\b c", "d"}},
        {"p \"a\"\"b\"", {"p", "a\"b"}},
        {"p\\x\\ a\\b", {"p\\x\\", "a\\b"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(tvhost::SplitCommandLine(c.line), c.args) << c.line;
}

class ProcessTest : public testing::Test {
  protected:
    void SetUp() override { self = fs::read_symlink("/proc/self/exe").string(); }
    std::string self;
};

TEST_F(ProcessTest, StartsFromTheCurrentDirectoryWithSplitArguments) {
    TempDir dir;
    fs::create_directory("game");
    fs::copy_file(self, "game/Torvane.exe");
    std::string report = dir.path() + "/report.txt";
    setenv("TV_CHILD_REPORT", report.c_str(), 1);
    ASSERT_TRUE(SetCurrentDirectoryA("game"));
    std::string cmd = "Torvane.exe -Update /IP:127.0.0.1 \"own arg\" ";
    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESHOWWINDOW;
    si.wShowWindow = SW_SHOWDEFAULT;
    PROCESS_INFORMATION pi{};
    BOOL ok = CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS,
                             nullptr, nullptr, &si, &pi);
    unsetenv("TV_CHILD_REPORT");
    ASSERT_TRUE(ok) << GetLastError();
    EXPECT_EQ(WaitForSingleObject(pi.hProcess, 10000), WAIT_OBJECT_0);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    EXPECT_EQ(TempDir::Read(report), dir.path() + "/game\n-Update\n/IP:127.0.0.1\nown arg\n");
}

TEST_F(ProcessTest, MissingProgramFails) {
    TempDir dir;
    std::string cmd = "NoSuchGame.exe -Update ";
    STARTUPINFOA si{};
    PROCESS_INFORMATION pi{};
    EXPECT_FALSE(CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                &si, &pi));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(SetCurrentDirectoryA("no\\such\\dir"));
}

} // namespace

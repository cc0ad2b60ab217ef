// torvane-robot against its practice program, under Wine from Linux: what it
// prints, how it answers each kind of window, the close signals, the exit
// codes. Runs where the Windows build gives the paths (TV_ROBOT, the robot's
// Linux launcher, and TV_ROBOT_TARGET); skipped elsewhere.
#include "client_session.h"
#include "wine_paths.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

using tvtest::ClientSession;
using tvtest::RunResult;
using tvtest::SessionOptions;

class RobotTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!tvwin::Configured({"TV_ROBOT", "TV_ROBOT_TARGET"}))
            GTEST_SKIP() << "needs the Windows build (TV_ROBOT, TV_ROBOT_TARGET)";
        char templ[] = "/tmp/tv_robot_XXXXXX";
        m_dir = ::mkdtemp(templ);
    }
    void TearDown() override {
        std::error_code ec;
        if (!m_dir.empty())
            fs::remove_all(m_dir, ec);
    }

    std::unique_ptr<ClientSession> Start(const std::vector<std::string>& targetArgs,
                                         const std::string& input = "",
                                         const std::vector<std::string>& robotArgs = {},
                                         bool holdInput = false) {
        std::vector<std::string> argv = {std::getenv("TV_ROBOT")};
        argv.insert(argv.end(), robotArgs.begin(), robotArgs.end());
        argv.push_back(tvwin::WindowsPath(std::getenv("TV_ROBOT_TARGET")));
        argv.insert(argv.end(), targetArgs.begin(), targetArgs.end());
        SessionOptions o;
        o.input = input;
        o.holdInput = holdInput;
        return std::make_unique<ClientSession>(argv, m_dir.string(), o);
    }
    RunResult Run(const std::vector<std::string>& targetArgs, const std::string& input = "",
                  const std::vector<std::string>& robotArgs = {}) {
        return Start(targetArgs, input, robotArgs)->Finish(60000);
    }

    fs::path m_dir;
};

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

TEST_F(RobotTest, ProgressLinesAreTheChangesThrottledEndingInTheFinalStateThenThePanel) {
    const RunResult r = Run({"progress", "25"});
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const std::vector<std::string> lines = Lines(r.out);
    ASSERT_GE(lines.size(), 4u) << r.out;
    // At most one line per 250 ms of changes, plus the final state and the
    // panel, which show at once, and the caption's last change. The 25 steps
    // of 40 ms take longer on a loaded machine; the target says how long.
    // Unhurried that is 8 lines where an unthrottled robot prints 28.
    std::ifstream span(m_dir / "progress-ms.txt");
    unsigned long long spanMs = 0;
    ASSERT_TRUE(span >> spanMs) << "the target wrote no progress span";
    const std::size_t throttled = 1 + static_cast<std::size_t>((spanMs + 249) / 250);
    EXPECT_LE(lines.size(), throttled + 3) << "over " << spanMs << " ms:\n" << r.out;
    EXPECT_NE(lines[0], "File Count 0/0, Current 0/0") << "what the window opened with";
    // The caption's status ends the line, until the caption is the title
    // again.
    const std::vector<std::string> last(lines.end() - 3, lines.end());
    EXPECT_EQ(last,
              (std::vector<std::string>{"File Count 25/25, Current 250/250 - 100 %",
                                        "파일을 갱신중 입니다. 잠시만 기다려 주십시요. - 100 %",
                                        "파일을 갱신중 입니다. 잠시만 기다려 주십시요."}))
        << r.out;
    EXPECT_EQ(r.out.find("\r"), std::string::npos) << "line feeds only";
}

TEST_F(RobotTest, MessageBoxIsOneLineWithTheIconItShowsThenOkIsPressed) {
    const char text[] = "서버 접속에 실패했습니다.\\n잠시 후 재 실행 하세요.";
    const char shown[] = "서버 접속에 실패했습니다.\n잠시 후 재 실행 하세요.";
    for (const char* icon : {"error", "information", "warning", "question", "none"}) {
        const RunResult r = Run({"box", icon, text});
        EXPECT_EQ(r.exitCode, 1) << icon << " (IDOK)";
        // The program's own stderr passes through, before the box it shows.
        EXPECT_EQ(r.err, std::string("showing a box\nRobot Target: ") + icon + ": " + shown + "\n");
        EXPECT_EQ(r.out, "");
    }
}

TEST_F(RobotTest, BoxWiderThanTheScreenIsDraggedUntilItsIconShows) {
    const std::string text = "Can't decompress deep/" + std::string(300, 'n') + ".gz";
    const RunResult r = Run({"box", "error", text});
    EXPECT_EQ(r.err, "showing a box\nRobot Target: error: " + text + "\n");
}

TEST_F(RobotTest, MessageBoxAfterProgressComesAfterTheProgressItFollows) {
    const RunResult r = Run({"progress", "3", "box"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "Robot Target: error: 끝났습니다.\n두 번째 줄\n");
    EXPECT_NE(r.out.find("File Count 3/3, Current 30/30 - 100 %\n"), std::string::npos) << r.out;
}

TEST_F(RobotTest, HeldBoxIsAnsweredOnlyAfterTheHold) {
    const auto start = std::chrono::steady_clock::now();
    const RunResult r = Run({"box", "warning", "held"}, "", {"--hold", "2"});
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_EQ(r.err, "showing a box\nRobot Target: warning: held\n");
    // A lower bound only: OK must not be pressed before the hold is over.
    EXPECT_GE(took, std::chrono::seconds(2));
}

struct ListCase {
    const char* input;
    int exitCode; // 10 + selection, +50 when the list told of a new one; 3: cancelled
    const char* echo;
};

TEST_F(RobotTest, ServerSelectTakesOneLineOfStdin) {
    const std::string listing = "Server Select\n  1. 서버 1\n  2. 서버 2\n  3. 서버 3\n"
                                "Number (Enter: 1, q: cancel): ";
    for (const ListCase& c :
         {ListCase{"\n", 10, ""}, ListCase{"2\n", 61, "2"}, ListCase{"3", 62, "3"},
          ListCase{"1\n", 10, "1"}, ListCase{"q\n", 3, "q"}, ListCase{"4\n", 3, "4"},
          ListCase{"0\n", 3, "0"}, ListCase{"", 3, ""}, ListCase{"x\n2\n", 3, "x"}}) {
        const RunResult r = Run({"list", "3"}, c.input);
        EXPECT_EQ(r.exitCode, c.exitCode) << "input: " << c.input;
        EXPECT_EQ(r.out, listing + c.echo + "\n") << "input: " << c.input;
    }
}

TEST_F(RobotTest, EmptyServerListOffersToGoOn) {
    const RunResult r = Run({"list", "0"}, "\n");
    EXPECT_EQ(r.out, "Server Select\nEnter to go on, q to cancel: \n");
    EXPECT_EQ(r.exitCode, 9) << "Connect with no selection";
}

TEST_F(RobotTest, SigintAndSigtermPressTheCloseBox) {
    for (int sig : {SIGINT, SIGTERM}) {
        std::unique_ptr<ClientSession> s = Start({"close"});
        ASSERT_TRUE(
            s->WaitUntil([&] { return s->Out().find("File Count") != std::string::npos; }, 30000))
            << s->Out();
        s->Signal(sig);
        const RunResult r = s->Finish(30000);
        EXPECT_FALSE(r.timedOut);
        EXPECT_EQ(r.exitCode, 7) << "signal " << sig << " (8: WM_CLOSE without SC_CLOSE)";
    }
}

TEST_F(RobotTest, SigintWhileTheListWaitsForAnAnswerCancelsIt) {
    std::unique_ptr<ClientSession> s = Start({"list", "3"}, "", {}, true);
    ASSERT_TRUE(
        s->WaitUntil([&] { return s->Out().find("q: cancel): ") != std::string::npos; }, 30000))
        << s->Out();
    s->Signal(SIGINT);
    const RunResult r = s->Finish(30000);
    EXPECT_EQ(r.exitCode, 3);
}

TEST_F(RobotTest, ArgumentsAndTheWorkingDirectoryReachTheProgramUnchanged) {
    const std::vector<std::string> args = {"two words", "quote\"inside", "back\\slash\\",
                                           "",          "a\\\"b",        "한글"};
    std::vector<std::string> targetArgs = {"args"};
    targetArgs.insert(targetArgs.end(), args.begin(), args.end());
    const RunResult r = Run(targetArgs);
    std::string want = "args: information: " + tvwin::WindowsPath(fs::canonical(m_dir).string());
    for (const std::string& a : args)
        want += "\n<" + a + ">";
    EXPECT_EQ(r.err, want + "\n");
}

TEST_F(RobotTest, OwnFailuresExitWith125AndSaySo) {
    struct Case {
        std::vector<std::string> targetArgs, robotArgs;
        const char* message;
    };
    for (const Case& c : {
             Case{{"quiet", "4"}, {}, "the client ended (exit code 4) without showing a window"},
             Case{{"hang"}, {"--timeout", "2"}, "the client showed no window within 2 s"},
             Case{{"close"}, {"--timeout", "3"}, "the client did not end within 3 s"},
             Case{{}, {"--timeout", "0"}, "--timeout needs a number of seconds"},
             Case{{}, {"--hold", "-1"}, "--hold needs a number of seconds"},
         }) {
        const RunResult r = Run(c.targetArgs, "", c.robotArgs);
        EXPECT_EQ(r.exitCode, 125) << c.message;
        EXPECT_NE(r.err.find(std::string("torvane-robot: error: ") + c.message), std::string::npos)
            << r.err;
    }
}

TEST_F(RobotTest, AMissingProgramIsTheRobotsFailure) {
    SessionOptions o;
    ClientSession s({std::getenv("TV_ROBOT"), "no-such-program.exe"}, m_dir.string(), o);
    const RunResult r = s.Finish(30000);
    EXPECT_EQ(r.exitCode, 125);
    EXPECT_NE(r.err.find("torvane-robot: error: cannot start no-such-program.exe"),
              std::string::npos)
        << r.err;
}

} // namespace

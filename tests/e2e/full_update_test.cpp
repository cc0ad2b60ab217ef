// The whole update with the built torvane-update: download, installation,
// version record, server list and game launch, in temporary working
// directories against the reference server or a scripted one. The game is a
// stand-in script that records its working directory and arguments.
#include "client_session.h"
#include "gzip_encoder.h"
#include "install/version_record.h"
#include "scripted_server.h"
#include "temp_dir.h"

#include <chrono>
#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <termios.h>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using tvtest::ServerConn;

namespace {

const char kMsgClientFailed[] = "'Torvane'를 실행할 수 없습니다.\n재 설치 후 다시 시작하세요.";
const char kMsgConnectionLost[] = "서버와의 연결이 해제 되었습니다.\n재 실행 하세요.";
const char kWaitText[] = "파일을 갱신중 입니다. 잠시만 기다려 주십시요.";

// Writes one line per argument, after the working directory, and renames the
// file into place so a reader never sees half of it.
const char kGameScript[] = "#!/bin/sh\n"
                           "{ pwd -P; for a in \"$@\"; do printf '<%s>\\n' \"$a\"; done; } "
                           "> launched.tmp && mv launched.tmp launched.txt\n";

std::string Scrambled(std::string text) {
    ScrambleText(text.data());
    return text;
}

std::string Gzip(const std::string& plain) {
    const auto gz =
        tvserver::GzipEncode(reinterpret_cast<const unsigned char*>(plain.data()), plain.size(), 0);
    return std::string(gz.begin(), gz.end());
}

std::string Text(std::size_t n, char seed) {
    std::string s;
    while (s.size() < n)
        s += std::string("line ") + seed + " " + std::to_string(s.size()) + "\n";
    return s.substr(0, n);
}

int Count(const std::string& haystack, const std::string& needle) {
    int n = 0;
    for (auto at = haystack.find(needle); at != std::string::npos;
         at = haystack.find(needle, at + 1))
        ++n;
    return n;
}

class FullUpdate : public ::testing::Test {
  protected:
    void SetUp() override {
        m_content = m_dir.path() / "content";
        m_work = m_dir.path() / "work";
        m_tmp = m_dir.path() / "tmp";
        fs::create_directories(m_content / "maps");
        fs::create_directories(m_work / "game");
        fs::create_directories(m_tmp);
        for (const fs::path& dir : {m_work / "game", m_work}) {
            TempWorkDir::Write((dir / "launch.sh").string(), kGameScript);
            fs::permissions(dir / "launch.sh", fs::perms::owner_all);
        }
        TempWorkDir::Write((m_content / "readme.txt").string(), Text(5000, 'r'));
        TempWorkDir::Write((m_content / "maps" / "track.map").string(), Text(70000, 'm'));
        TempWorkDir::Write((m_content / "record.txt").string(), "a record from the server");
        TempWorkDir::Write((m_content / "manifest.txt").string(),
                           "version 3 2\n"
                           "file 0 2 readme.txt readme.txt\n"
                           "file 0 3 \"Data\\Maps\\track.map\" maps/track.map\n"
                           "file 1 2 File.ver record.txt\n");
        WriteServerList("[Server]\nCount=3\nName0=Alpha\nIP0=10.0.0.1\nName1=Beta\n"
                        "IP1=10.0.0.2\nName2=Gamma\nIP2=10.0.0.3\n");
    }

    void WriteServerList(const std::string& plain) {
        TempWorkDir::Write((m_work / "Server.cnv").string(), Scrambled(plain));
    }
    void WriteRecord(const std::string& plain) {
        TempWorkDir::Write((m_work / "File.ver").string(), Scrambled(plain));
    }
    std::string Record() const { return TempWorkDir::Read((m_work / "File.ver").string()); }
    void WriteConfig(unsigned port, const std::string& client = "game\\launch.sh") {
        TempWorkDir::Write((m_work / "Config.ini").string(),
                           "[Update]\nIP=127.0.0.1\nPort=" + std::to_string(port) +
                               "\nClient=" + client + "\n");
    }

    tvtest::SessionOptions Options(const std::string& input = "") const {
        tvtest::SessionOptions o;
        o.input = input;
        o.env = {"TMPDIR=" + m_tmp.string()};
        return o;
    }
    tvtest::RunResult RunClient(const std::string& input,
                                const std::vector<std::string>& ownArgs = {}) {
        std::vector<std::string> argv = {TV_CLIENT_EXE};
        argv.insert(argv.end(), ownArgs.begin(), ownArgs.end());
        tvtest::ClientSession s(argv, m_work.string(), Options(input));
        return s.Finish();
    }

    // The stand-in game's record: its working directory, then "<arg>" lines.
    // Empty when it did not start within a second.
    std::vector<std::string> Launched(const fs::path& dir) const {
        const fs::path file = dir / "launched.txt";
        for (int i = 0; i < 100 && !fs::exists(file); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::vector<std::string> lines;
        std::istringstream in(TempWorkDir::Read(file.string()));
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }

    bool TempDirEmpty() const { return fs::is_empty(m_tmp); }

    TempWorkDir m_dir;
    fs::path m_content, m_work, m_tmp;
};

// --- Installation -------------------------------------------------------------

TEST_F(FullUpdate, InstallsEveryFileRecordsTheVersionAndStartsTheGame) {
    WriteRecord("1 1 1 1");
    tvtest::ServerProcess server(m_content.string());
    ASSERT_NE(server.Port(), 0u);
    WriteConfig(server.Port());

    const tvtest::RunResult r = RunClient("\n", {"-window"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(TempWorkDir::Read((m_work / "readme.txt").string()), Text(5000, 'r'));
    EXPECT_EQ(TempWorkDir::Read((m_work / "Data/Maps/track.map").string()), Text(70000, 'm'));
    EXPECT_FALSE(fs::exists(m_work / "readme.txt.gz"));
    EXPECT_FALSE(fs::exists(m_work / "Data/Maps/track.map.gz"));
    EXPECT_EQ(TempWorkDir::Read((m_work / "null.dat.gz").string()),
              tvtest::PublishedBody(m_content.string(), "File.ver"))
        << "a received version record stays as received";
    EXPECT_FALSE(fs::exists(m_work / "null.dat"));
    EXPECT_EQ(Record(), Scrambled("1 3 2 2"));

    const std::size_t wait = r.out.find(kWaitText);
    const std::size_t list = r.out.find("Server Select\n  1. Alpha\n  2. Beta\n  3. Gamma\n");
    EXPECT_NE(wait, std::string::npos) << r.out;
    EXPECT_NE(list, std::string::npos) << r.out;
    EXPECT_LT(wait, list) << "the please-wait panel shows before the server list";
    EXPECT_EQ(Launched(m_work / "game"),
              (std::vector<std::string>{fs::canonical(m_work / "game").string(), "<-Update>",
                                        "</IP:10.0.0.1>", "<-window>"}));
    EXPECT_TRUE(TempDirEmpty());
}

// A scripted server: the version reply, then (after the request) stream.
std::unique_ptr<tvtest::ScriptedServer> ServeFiles(std::uint32_t v0, std::uint32_t v1,
                                                   std::string stream, bool reset = false) {
    return std::make_unique<tvtest::ScriptedServer>([=](ServerConn& c) {
        c.Send(tvtest::VersionReply(v0, v1));
        c.Recv(9);
        c.Send(stream);
        if (reset) {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            c.Reset();
        } else {
            c.WaitPeerClose(20000);
        }
    });
}

// A body the decompressor refuses (status 1), or one it decodes with a
// warning (status 2: bytes after the last member), fails the install alike.
TEST_F(FullUpdate, FailedDecompressionStopsTheInstallAndKeepsTheRecord) {
    for (const std::string& bad : {std::string("plain text that no decompressor recognises"),
                                   Gzip("bravo") + "trailing bytes"}) {
        fs::remove_all(m_work / "a");
        WriteRecord("1 1 0 0");
        auto server =
            ServeFiles(5, 0,
                       tvtest::ListHeader(3, 0, 1000) + tvtest::File("a", 2, Gzip("alpha")) +
                           tvtest::File("b", 3, bad) + tvtest::File("c", 4, Gzip("charlie")));
        WriteConfig(server->Port());

        const tvtest::RunResult r = RunClient("");
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(TempWorkDir::Read((m_work / "a").string()), "alpha");
        EXPECT_TRUE(fs::exists(m_work / "c.gz"));
        EXPECT_FALSE(fs::exists(m_work / "c")) << "the file after the failing one is not tried";
        EXPECT_EQ(Record(), Scrambled("1 1 0 0"));
        // Once in the finish step, once more when the window goes and the
        // retry meets the first file, already installed.
        const std::size_t first = r.err.find("torvane-update: error: Can't decompress b.gz");
        const std::size_t second = r.err.find("torvane-update: error: Can't decompress a.gz");
        EXPECT_NE(first, std::string::npos) << r.err;
        EXPECT_NE(second, std::string::npos) << r.err;
        EXPECT_LT(first, second);
        EXPECT_EQ(Count(r.err, "Can't decompress"), 2) << r.err;
        EXPECT_NE(r.out.find("Server Select"), std::string::npos) << "the list follows regardless";
    }
}

// The player is told which file could not be installed, instead of seeing the
// window vanish, and the file the update was replacing is kept.
TEST_F(FullUpdate, CorruptBodyIsShownThenEndsTheProcessWithCodeOneAndRestoresTheTerminal) {
    WriteRecord("1 1 0 0");
    TempWorkDir::Write((m_work / "b").string(), "the installed b");
    std::string corrupt = Gzip(Text(3000, 'b'));
    corrupt[corrupt.size() - 8] ^= 0x55; // the CRC-32 of the member
    auto server =
        ServeFiles(5, 0,
                   tvtest::ListHeader(3, 0, 1000) + tvtest::File("a", 2, Gzip("alpha")) +
                       tvtest::File("b", 3, corrupt) + tvtest::File("c", 4, Gzip("charlie")));
    WriteConfig(server->Port());

    tvtest::SessionOptions o = Options();
    o.terminal = true;
    tvtest::ClientSession s({TV_CLIENT_EXE}, m_work.string(), o);
    ASSERT_TRUE(s.Started());
    ASSERT_TRUE(s.WaitUntil([&] {
        return s.Out().find("Can't decompress b.gz") != std::string::npos;
    })) << s.Out();
    ASSERT_TRUE(s.Type("\r"));
    const tvtest::RunResult r = s.Finish();
    ASSERT_FALSE(r.timedOut) << r.out;
    EXPECT_EQ(r.exitCode, 1);
    const std::size_t entered = r.out.rfind("\033[?1049h");
    const std::size_t left = r.out.rfind("\033[?1049l");
    ASSERT_NE(entered, std::string::npos) << "the terminal interface was not used";
    EXPECT_NE(left, std::string::npos) << "the alternate screen is left behind";
    EXPECT_GT(left, entered);
    unsigned lflag = 0;
    ASSERT_TRUE(s.TerminalModesAtExit(lflag));
    EXPECT_TRUE((lflag & ICANON) && (lflag & ECHO)) << "raw mode is left behind";
    EXPECT_EQ(r.out.find("gzip:"), std::string::npos) << "decompressor diagnostics on the screen";
    EXPECT_EQ(TempWorkDir::Read((m_work / "a").string()), "alpha");
    EXPECT_EQ(TempWorkDir::Read((m_work / "b").string()), "the installed b");
    EXPECT_FALSE(fs::exists(m_work / "b.~tv")) << "the incomplete output is deleted";
    EXPECT_EQ(Record(), Scrambled("1 1 0 0"));
}

TEST_F(FullUpdate, OrderlyCloseInstallsWhatArrivedAndLeavesTheWindowOpen) {
    WriteRecord("1 1 0 0");
    auto server = std::make_unique<tvtest::ScriptedServer>([](ServerConn& c) {
        c.Send(tvtest::VersionReply(5, 5));
        c.Recv(9);
        c.Send(tvtest::ListHeader(3, 0, 1000) + tvtest::File("a", 2, Gzip("alpha")) +
               tvtest::File("b", 3, Gzip("bravo")));
        c.Close();
    });
    WriteConfig(server->Port());

    tvtest::ClientSession s({TV_CLIENT_EXE}, m_work.string(), Options());
    const std::string want = Scrambled("1 3 0 1");
    ASSERT_TRUE(s.WaitUntil([&] { return Record() == want; })) << s.Out();
    // Still open: only the user ends it now (SIGINT is the close box here).
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    s.Signal(SIGINT);
    const tvtest::RunResult r = s.Finish();
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(TempWorkDir::Read((m_work / "a").string()), "alpha");
    EXPECT_EQ(TempWorkDir::Read((m_work / "b").string()), "bravo");
    EXPECT_EQ(Record(), want);
    EXPECT_EQ(r.out.find("Server Select"), std::string::npos) << "no server list after a close";
}

TEST_F(FullUpdate, ResetInstallsWhatArrivedThenShowsMessageFour) {
    WriteRecord("1 1 0 0");
    auto server = ServeFiles(5, 0,
                             tvtest::ListHeader(2, 0, 1000) + tvtest::File("a", 2, Gzip("alpha")) +
                                 tvtest::FileHeader("b", 3, 500) + "part of b",
                             true);
    WriteConfig(server->Port());

    const tvtest::RunResult r = RunClient("");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err, std::string("torvane-update: error: ") + kMsgConnectionLost + "\n");
    EXPECT_EQ(TempWorkDir::Read((m_work / "a").string()), "alpha");
    EXPECT_EQ(TempWorkDir::Read((m_work / "b.gz").string()), "part of b");
    EXPECT_EQ(Record(), Scrambled("1 2 0 1"));
    EXPECT_LT(r.out.find(kWaitText), r.out.size()) << r.out;
    EXPECT_EQ(r.out.find("Server Select"), std::string::npos);
}

// --- Server list and launch ---------------------------------------------------

struct ListCase {
    const char* name;
    const char* serverList; // plain text of Server.cnv; nullptr: no file
    const char* input;      // the answer to the list
    std::vector<std::string> ownArgs;
    const char* client;
    const char* shown;                 // expected in stdout ("" : no check)
    std::vector<std::string> launched; // the game's arguments; empty: not started
    const char* message;               // expected on stderr ("" : nothing)
};

void PrintTo(const ListCase& c, std::ostream* os) {
    *os << c.name;
}

std::string LongList() {
    std::string s = "[Server]\nCount=12\n";
    for (int i = 0; i < 12; ++i)
        s += "Name" + std::to_string(i) + "=Server number " + std::to_string(i + 1) + "\nIP" +
             std::to_string(i) + "=192.168.1." + std::to_string(i + 1) + "\n";
    return s;
}

const char kThree[] = "[Server]\nCount=3\nName0=Alpha\nIP0=10.0.0.1\nName1=Beta\nIP1=10.0.0.2\n"
                      "Name2=Gamma\nIP2=10.0.0.3\n";
const char kGame[] = "game\\launch.sh";

class ServerListTest : public FullUpdate, public ::testing::WithParamInterface<ListCase> {};

TEST_P(ServerListTest, ShowsTheListAndStartsTheGameWithTheChosenAddress) {
    const ListCase& c = GetParam();
    const std::string longList = LongList();
    if (c.serverList == nullptr)
        fs::remove(m_work / "Server.cnv");
    else
        WriteServerList(std::string(c.serverList) == "long" ? longList : c.serverList);
    WriteRecord("1 3 2 2"); // up to date: straight to the list
    tvtest::ServerProcess server(m_content.string());
    WriteConfig(server.Port(), c.client);

    const tvtest::RunResult r = RunClient(c.input, c.ownArgs);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find(c.shown), std::string::npos) << r.out;
    EXPECT_EQ(r.err, *c.message ? std::string("torvane-update: error: ") + c.message + "\n" : "");
    const fs::path dir =
        std::string(c.client).find('\\') != std::string::npos ? m_work / "game" : m_work;
    std::vector<std::string> want;
    if (!c.launched.empty()) {
        want.push_back(fs::canonical(dir).string());
        for (const std::string& a : c.launched)
            want.push_back("<" + a + ">");
    }
    EXPECT_EQ(Launched(dir), want);
    EXPECT_EQ(Record(), Scrambled("1 3 2 2"));
    EXPECT_TRUE(fs::exists(m_work / "Server.cnv"));
    if (c.serverList == nullptr) {
        EXPECT_EQ(fs::file_size(m_work / "Server.cnv"), 0u);
    }
    EXPECT_TRUE(TempDirEmpty()) << "the plain copy of the list is left behind";
}

const std::string kNone = "/IP:255.255.255.255";

INSTANTIATE_TEST_SUITE_P(
    Cases, ServerListTest,
    ::testing::Values(
        ListCase{"EnterTakesTheFirst",
                 kThree,
                 "\n",
                 {},
                 kGame,
                 "Server Select\n  1. Alpha\n  2. Beta\n  3. Gamma\n",
                 {"-Update", "/IP:10.0.0.1"},
                 ""},
        ListCase{"NumberSelects", kThree, "2\n", {}, kGame, "", {"-Update", "/IP:10.0.0.2"}, ""},
        ListCase{"QuitCancels", kThree, "q\n", {}, kGame, "", {}, ""},
        ListCase{"EndOfInputCancels", kThree, "", {}, kGame, "", {}, ""},
        ListCase{"EmptyList", "[Server]\nCount=0\n", "\n", {}, kGame, "", {"-Update", kNone}, ""},
        ListCase{"CountAboveTheEntries",
                 "[Server]\nCount=3\nName0=Alpha\nIP0=10.0.0.1\n",
                 "3\n",
                 {},
                 kGame,
                 "  1. Alpha\n  2. \n  3. \n",
                 {"-Update", kNone},
                 ""},
        ListCase{"MalformedAddress",
                 "[Server]\nCount=1\nName0=Odd\nIP0=300.1.2.3\n",
                 "\n",
                 {},
                 kGame,
                 "",
                 {"-Update", kNone},
                 ""},
        ListCase{"ListLongerThanOneBlock",
                 "long",
                 "12\n",
                 {},
                 kGame,
                 "12. Server number 12\n",
                 {"-Update", "/IP:192.168.1.12"},
                 ""},
        ListCase{"MissingListIsCreatedEmpty",
                 nullptr,
                 "\n",
                 {},
                 kGame,
                 "Server Select\n",
                 {"-Update", kNone},
                 ""},
        ListCase{"OwnArgumentsPassedThroughUnchanged",
                 kThree,
                 "\n",
                 {"-window", "two words", "quote\"inside", "back\\slash\\", ""},
                 kGame,
                 "",
                 {"-Update", "/IP:10.0.0.1", "-window", "two words", "quote\"inside",
                  "back\\slash\\", ""},
                 ""},
        ListCase{"ClientWithoutDirectoryStartsHere",
                 kThree,
                 "\n",
                 {},
                 "launch.sh",
                 "",
                 {"-Update", "/IP:10.0.0.1"},
                 ""},
        ListCase{"ClientThatCannotStart",
                 kThree,
                 "\n",
                 {},
                 "game\\missing.exe",
                 "",
                 {},
                 kMsgClientFailed}),
    [](const ::testing::TestParamInfo<ListCase>& i) { return std::string(i.param.name); });

} // namespace

// The hostile server catalogue: one row per way a server can misbehave, each
// a real run of the client against a scripted loopback server in a working
// directory of its own. A row says what the user sees and what the working
// directory holds afterwards; nothing may appear outside it. Cases that need
// an address other than 127.0.0.1 run in a private network namespace.
#include "harness.h"
#include "private_netns.h"
#include "scripted_server.h"

#include <chrono>
#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

using namespace tvrel;
using tvtest::ServerConn;

const std::string kPid = std::to_string(::getpid());

std::string Error(const std::string& text) {
    return "torvane-update: error: " + text + "\n";
}

std::string Body(const std::string& plain) {
    return Gzip(plain);
}

std::string Files1(const std::string& files, int n0 = 1) {
    return tvtest::ListHeader(static_cast<std::uint16_t>(n0), 0, 100) + files;
}

struct Row {
    const char* what;
    std::string afterRequest;         // what the server sends after the request
    std::string stderrText;           // exactly what the user is told ("" nothing)
    std::vector<std::string> present; // paths in the working directory afterwards
    std::vector<std::string> absent;  // paths (relative or absolute) that must not exist
    bool serverCloses = false;        // the server closes after sending (window stays)
};

std::vector<Row> Rows() {
    const std::string gz = Body("payload\n");
    const std::string NotGzip =
        "\ngzip: plain.txt.gz: not in gzip format\n" + Error("Can't decompress plain.txt.gz");
    const std::string name256 = "deep\\" + std::string(251, 'n');
    const std::string name257 = "deep\\" + std::string(252, 'n');
    std::string pad2048 = std::string("pad") + '\0';
    pad2048 += std::string(2048 - 10 - pad2048.size(), 'x');
    const std::string abs1 = "/tmp/tv-hostile-abs-" + kPid;
    return {
        {"dot-dot",
         Files1(tvtest::File("..\\evil", 2, gz)),
         Error("Can't create file ..\\evil.gz"),
         {},
         {"../evil.gz", "../evil"}},
        {"dot-dot inside a path",
         Files1(tvtest::File("maps\\..\\..\\evil", 2, gz)),
         Error("Can't create file maps\\..\\..\\evil.gz"),
         {},
         {"../evil.gz", "maps"}},
        {"absolute with backslashes",
         Files1(tvtest::File("\\tmp\\tv-hostile-abs-" + kPid, 2, gz)),
         Error("Can't create file \\tmp\\tv-hostile-abs-" + kPid + ".gz"),
         {},
         {abs1 + ".gz"}},
        {"absolute with slashes",
         Files1(tvtest::File(abs1, 2, gz)),
         Error("Can't create file " + abs1 + ".gz"),
         {},
         {abs1 + ".gz"}},
        {"drive letter",
         Files1(tvtest::File("C:\\evil", 2, gz)),
         Error("Can't create file C:\\evil.gz"),
         {},
         {"C:", "C:\\evil.gz"}},
        {"device name",
         Files1(tvtest::File("CON", 2, gz)),
         Error("Can't create file CON.gz"),
         {},
         {"CON.gz"}},
        {"name of 256 bytes",
         Files1(tvtest::File(name256, 2, gz)),
         "",
         {"deep/" + std::string(251, 'n')},
         {}},
        {"name of 257 bytes",
         Files1(tvtest::File(name257, 2, gz)),
         Error(kMsgVersionMismatch),
         {},
         {"deep"}},
        {"header length 10",
         Files1(tvtest::RawFileHeader(10, 2, 0, "")),
         Error(kMsgVersionMismatch),
         {},
         {}},
        {"header length 11 (empty name)",
         Files1(tvtest::RawFileHeader(11, 2, 0, std::string(1, '\0'))),
         Error("Can't create file .gz"),
         {},
         {".gz"}},
        {"header length 2048",
         Files1(tvtest::RawFileHeader(2048, 2, static_cast<std::int32_t>(gz.size()), pad2048) + gz),
         "",
         {"pad"},
         {}},
        {"header length 2049",
         Files1(tvtest::RawFileHeader(2049, 2, 0, "x") + std::string(2100, '\0')),
         Error(kMsgVersionMismatch),
         {},
         {"x.gz"}},
        {"name without its NUL",
         Files1(tvtest::RawFileHeader(20, 2, 0, "abcdefghij")),
         Error(kMsgVersionMismatch),
         {},
         {"abcdefghij.gz"}},
        {"negative body length",
         Files1(tvtest::FileHeader("neg", 2, -1)),
         Error(kMsgVersionMismatch),
         {},
         {"neg.gz"}},
        {"huge body length, then the server closes",
         Files1(tvtest::FileHeader("huge", 2, 2147483647) + std::string(5000, 'h')),
         "",
         {"huge.gz"},
         {"huge"},
         true},
        {"body that is not gzip",
         Files1(tvtest::File("plain.txt", 2, "hello")),
         // The decompressor's own diagnostic, then the message; the install
         // step runs again when the window goes, and fails the same way.
         NotGzip + NotGzip,
         {"plain.txt.gz"},
         {"plain.txt"}},
        {"the updater and the version record by name",
         Files1(tvtest::File("update.EXE", 2, gz) + tvtest::File("File.Ver", 2, "raw"), 2),
         "",
         {"Update0.exe", "null.dat.gz"},
         {"update.EXE", "Update.exe"}},
    };
}

void PrintTo(const Row& row, std::ostream* os) {
    *os << row.what;
}

class HostileServer : public ::testing::TestWithParam<Row> {};

TEST_P(HostileServer, NothingOutsideTheWorkingDirectoryAndTheUserIsToldWhatFailed) {
    const Row& row = GetParam();
    TempDir jail;
    const fs::path work = jail.path() / "work";
    fs::create_directories(work);
    WriteRecord(work, "1 1 1 1");
    const std::string recordBefore = ReadFile(work / "File.ver");
    tvtest::ScriptedServer server([&](ServerConn& c) {
        c.Send(tvtest::VersionReply(2, 2));
        c.Recv(9);
        c.Send(row.afterRequest);
        if (row.serverCloses)
            c.Close();
        else
            c.WaitPeerClose(10000);
    });
    WriteConfig(work, server.Port());
    ClientOptions o;
    o.dir = work;
    if (row.serverCloses)
        o.closeWhenOut = kWaitPanel;
    const ClientRun r = RunClient(o);

    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, row.stderrText);
    for (const std::string& p : row.present)
        EXPECT_TRUE(fs::exists(work / p)) << p;
    for (const std::string& p : row.absent)
        EXPECT_FALSE(fs::exists(p[0] == '/' ? fs::path(p) : work / p)) << p;
    for (const auto& e : fs::directory_iterator(jail.path()))
        EXPECT_EQ(e.path(), work) << "written beside the working directory";
    // File.ver moves only when every received file was installed.
    if (row.stderrText.empty() && !row.serverCloses) {
        std::uint32_t pair[2] = {0, 0};
        EXPECT_TRUE(ReadRecord(work, pair));
        EXPECT_EQ(pair[0], 2u);
        EXPECT_EQ(pair[1], 1u);
    } else {
        EXPECT_EQ(ReadFile(work / "File.ver"), recordBefore);
    }
}

INSTANTIATE_TEST_SUITE_P(Catalogue, HostileServer, ::testing::ValuesIn(Rows()),
                         [](const ::testing::TestParamInfo<Row>& info) {
                             std::string n;
                             for (const char* p = info.param.what; *p; ++p)
                                 n += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
                             return n;
                         });

// Runs the client against one script and closes its window after closeAfterMs;
// returns how long the client took to end after the close.
long long CloseWhileServing(tvtest::ScriptedServer::Script script, int closeAfterMs, ClientRun& r) {
    TempDir dir;
    WriteRecord(dir.path(), "1 1 1 1");
    tvtest::ScriptedServer server(std::move(script));
    WriteConfig(dir.path(), server.Port());
    ClientOptions o;
    o.dir = dir.path();
    o.closeAfterMs = closeAfterMs;
    const auto start = std::chrono::steady_clock::now();
    r = RunClient(o);
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start)
               .count() -
           closeAfterMs;
}

TEST(HostileServerTiming, ServerThatSendsNothingLeavesTheWindowClosable) {
    ClientRun r;
    const long long ms = CloseWhileServing([](ServerConn& c) { c.WaitPeerClose(15000); }, 500, r);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_LT(ms, 2000) << "the window did not close promptly";
}

TEST(HostileServerTiming, TrickleOfOneBytePerSecondLeavesTheWindowResponsiveAndClosable) {
    ClientRun r;
    const std::string stream = tvtest::VersionReply(2, 2);
    const long long ms = CloseWhileServing(
        [&](ServerConn& c) {
            for (char b : stream) {
                if (!c.Send(std::string(1, b)))
                    return;
                if (c.PeerSendsWithin(1000))
                    return; // the client went away
            }
            c.WaitPeerClose(5000);
        },
        2500, r);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_LT(ms, 2000) << "the window did not close promptly";
    EXPECT_NE(r.out.find("File Count"), std::string::npos) << "the window was never drawn";
}

// ---- Non-loopback cases, in a private network namespace --------------------------
//
// As root the test binary re-runs itself for one test in a fresh network
// namespace where lo is up and 127.0.0.2 is the source address of every
// local route, so the client is not on 127.0.0.1 and the servers can be
// 127.0.0.3 and 127.0.0.4.

const char kInsideEnv[] = "TV_RELIABILITY_IN_NETNS";

TEST(HostileServerNetns, RedirectLoopBetweenTwoServersEndsAsAFailedConnect) {
    RUN_IN_PRIVATE_NETNS(kInsideEnv);
    const std::uint32_t addr3 = 0x0300007Fu, addr4 = 0x0400007Fu; // network byte order
    auto to = [](std::uint32_t addr) {
        return [addr](ServerConn& c) {
            c.Send(tvtest::VersionReply(2, 2, addr));
            c.WaitPeerClose();
        };
    };
    tvtest::ScriptedServer a(std::vector<tvtest::ScriptedServer::Script>(9, to(addr4)), "127.0.0.3",
                             43001);
    tvtest::ScriptedServer b(std::vector<tvtest::ScriptedServer::Script>(9, to(addr3)), "127.0.0.4",
                             43001);
    ASSERT_TRUE(a.Listening() && b.Listening());
    TempDir dir;
    WriteConfig(dir.path(), 43001, "127.0.0.3");
    ClientOptions o;
    o.dir = dir.path();
    const ClientRun r = RunClient(o);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, Error(kMsgConnectFailed));
    EXPECT_EQ(a.Accepted() + b.Accepted(), 9) << "eight redirects followed, then stop";
}

TEST(HostileServerNetns, TotalAboveOneHundredMebibytesIsRefusedOffLoopback) {
    RUN_IN_PRIVATE_NETNS(kInsideEnv);
    tvtest::ScriptedServer server({[](ServerConn& c) {
                                      c.Send(tvtest::VersionReply(2, 2));
                                      c.Recv(9);
                                      c.Send(tvtest::ListHeader(1, 0, 104857601) +
                                             tvtest::File("big", 2, Gzip("b")));
                                      c.WaitPeerClose();
                                  }},
                                  "127.0.0.3", 43001);
    TempDir dir;
    WriteRecord(dir.path(), "1 1 1 1");
    WriteConfig(dir.path(), 43001, "127.0.0.3");
    ClientOptions o;
    o.dir = dir.path();
    const ClientRun r = RunClient(o);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "torvane-update: information: " + std::string(kMsgTooMany) + "\n");
    EXPECT_FALSE(fs::exists(dir.path() / "big.gz"));
}

} // namespace

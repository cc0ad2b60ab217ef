// The paths a loopback client never takes (a redirect, the download limit)
// need a local address other than 127.0.0.1. As root they run in a private
// network namespace: the test binary re-runs itself there for one test,
// with lo up and 127.0.0.2 as the source address of every local route, so
// the client is 127.0.0.2 and the servers are 127.0.0.3 and 127.0.0.4.
#include "child_process.h"
#include "private_netns.h"
#include "scripted_server.h"
#include "temp_dir.h"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

namespace fs = std::filesystem;
using tvtest::ServerConn;

namespace {

const char kInsideEnv[] = "TV_E2E_IN_NETNS";
const std::uint32_t kAddr4 = 0x0400007Fu; // 127.0.0.4 as the socket layer holds it

class NetnsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_work = m_dir.path() / "work";
        fs::create_directories(m_work);
    }
    void WriteConfig(const std::string& ip, unsigned port) {
        TempWorkDir::Write((m_work / "Config.ini").string(),
                           "[Update]\nIP=" + ip + "\nPort=" + std::to_string(port) + "\n");
    }
    tvtest::RunResult RunClient() { return tvtest::RunProcess({TV_CLIENT_EXE}, m_work.string()); }

    TempWorkDir m_dir;
    fs::path m_work;
};

TEST_F(NetnsTest, RedirectGoesToPort43001OfTheNamedServer) {
    RUN_IN_PRIVATE_NETNS(kInsideEnv);
    const fs::path front = m_dir.path() / "front", back = m_dir.path() / "back";
    fs::create_directories(front);
    fs::create_directories(back);
    TempWorkDir::Write((front / "manifest.txt").string(), "version 1 0\nredirect 127.0.0.4\n");
    TempWorkDir::Write((back / "manifest.txt").string(), "version 1 0\nfile 0 1 got.txt got.txt\n");
    TempWorkDir::Write((back / "got.txt").string(), "from the download server");
    tvtest::ServerProcess frontServer(front.string(), "127.0.0.3", 5000);
    tvtest::ServerProcess backServer(back.string(), "127.0.0.4", 43001);
    ASSERT_EQ(frontServer.Port(), 5000u);
    ASSERT_EQ(backServer.Port(), 43001u);
    WriteConfig("127.0.0.3", 5000);

    const tvtest::RunResult r = RunClient();
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(fs::exists(m_work / "got.txt.gz") || fs::exists(m_work / "got.txt"));
    EXPECT_NE(frontServer.Finish().find("no version request"), std::string::npos);
    EXPECT_NE(backServer.Finish().find("files=1/1"), std::string::npos);
}

TEST_F(NetnsTest, NinthRedirectFailsLikeAFailedConnect) {
    RUN_IN_PRIVATE_NETNS(kInsideEnv);
    auto redirect = [](ServerConn& c) {
        c.Send(tvtest::VersionReply(1, 0, kAddr4));
        c.WaitPeerClose();
    };
    tvtest::ScriptedServer first({redirect}, "127.0.0.3", 5000);
    tvtest::ScriptedServer ring(std::vector<tvtest::ScriptedServer::Script>(9, redirect),
                                "127.0.0.4", 43001);
    ASSERT_TRUE(first.Listening() && ring.Listening());
    WriteConfig("127.0.0.3", 5000);

    const tvtest::RunResult r = RunClient();
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.err.find("torvane-update: error: 서버 접속에 실패했습니다."), std::string::npos)
        << r.err;
    EXPECT_EQ(first.Accepted() + ring.Accepted(), 9) << "eight redirects followed, then stop";
}

TEST_F(NetnsTest, TotalAboveOneHundredMebibytesIsRefused) {
    RUN_IN_PRIVATE_NETNS(kInsideEnv);
    auto announce = [](std::int32_t total) {
        return [total](ServerConn& c) {
            c.Send(tvtest::VersionReply(1, 0));
            c.Recv(9);
            // Stored as null.dat.gz, which is never decompressed.
            c.Send(tvtest::ListHeader(1, 0, total) + tvtest::File("File.ver", 1, "z"));
            c.WaitPeerClose();
        };
    };
    {
        tvtest::ScriptedServer server({announce(104857601)}, "127.0.0.3", 5000);
        WriteConfig("127.0.0.3", 5000);
        const tvtest::RunResult r = RunClient();
        EXPECT_NE(r.err.find("torvane-update: information: 다운로드 받을 파일이 너무 많습니다."),
                  std::string::npos)
            << r.err;
        EXPECT_FALSE(fs::exists(m_work / "null.dat.gz"));
    }
    {
        tvtest::ScriptedServer server({announce(104857600)}, "127.0.0.3", 5001);
        WriteConfig("127.0.0.3", 5001);
        const tvtest::RunResult r = RunClient();
        EXPECT_EQ(r.err, "") << "exactly the limit is accepted";
        EXPECT_TRUE(fs::exists(m_work / "null.dat.gz"));
    }
}

} // namespace

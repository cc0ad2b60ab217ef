// Update servers behind HAProxy in TCP mode, as docs/operations.md sets them
// up: many clients through the proxy, and the protocol's redirect leading
// players from the main server to the proxy's pool on port 43001.
#include "child_process.h"
#include "haproxy.h"
#include "private_netns.h"
#include "temp_dir.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <thread>

namespace fs = std::filesystem;

namespace {

std::string Noise(std::size_t n, unsigned seed) {
    std::string s(n, '\0');
    std::uint64_t x = seed * 0x9E3779B97F4A7C15ull + 1;
    for (char& c : s) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        c = static_cast<char>(x >> 24);
    }
    return s;
}

// Content with both groups, a name with a blank and directories, and an
// empty file; `extra` goes into the manifest (a redirect line).
void WriteContent(const fs::path& dir, const std::string& extra = "") {
    fs::create_directories(dir / "maps");
    TempWorkDir::Write((dir / "readme.txt").string(), std::string(5000, 'r') + "the end\n");
    TempWorkDir::Write((dir / "maps" / "track1.map").string(), Noise(300000, 1));
    TempWorkDir::Write((dir / "empty.dat").string(), "");
    TempWorkDir::Write((dir / "manifest.txt").string(),
                       "version 3 2\n" + extra +
                           "file 0 2 readme.txt readme.txt\n"
                           "file 0 3 \"Data\\Maps\\track one.map\" maps/track1.map\n"
                           "file 1 2 empty.dat empty.dat\n");
}

int Count(const std::string& text, const std::string& what) {
    int n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

const char kComplete[] = "outcome=\"complete\"";

class ProxyPool : public ::testing::Test {
  protected:
    void SetUp() override {
        if (tvtest::Haproxy::Binary().empty())
            GTEST_SKIP() << "HAProxy is not installed (Debian package haproxy; .ci/run "
                            "installs it)";
    }

    TempWorkDir m_dir;
};

TEST_F(ProxyPool, HundredClientsThroughTheProxyGetThePublishedBytesFromBothServers) {
    WriteContent("c");
    // Behind a proxy every client has the proxy's address: no per-address
    // cap, and the 100 MiB rule applied although the proxy is on loopback.
    const std::vector<std::string> pooled = {"--max-per-address", "0", "--limit-loopback",
                                             "--status-interval", "0"};
    tvtest::ServerProcess one("c", "127.0.0.1", 0, false, pooled);
    tvtest::ServerProcess two("c", "127.0.0.1", 0, false, pooled);
    ASSERT_NE(one.Port(), 0u);
    ASSERT_NE(two.Port(), 0u);
    const unsigned port = tvtest::FreePort("127.0.0.1");
    tvtest::Haproxy proxy(
        m_dir.path().string(), "127.0.0.1", port,
        {"127.0.0.1:" + std::to_string(one.Port()), "127.0.0.1:" + std::to_string(two.Port())});
    std::string why;
    ASSERT_TRUE(proxy.WaitReady(why)) << why;

    const tvtest::RunResult r = tvtest::RunProcess(
        {TV_LOAD_BENCH, "verify", "--connect", "127.0.0.1:" + std::to_string(port), "--content",
         "c", "--clients", "100", "--limited"},
        m_dir.path().string(), 180000);
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("100/100 clients complete: 3 files"), std::string::npos) << r.out;

    // Each server logs a transfer once the proxy has taken all of it.
    int served[2] = {0, 0};
    for (int i = 0; i < 100 && served[0] + served[1] < 100; ++i) {
        served[0] = Count(one.Output(50), kComplete);
        served[1] = Count(two.Output(50), kComplete);
    }
    EXPECT_EQ(served[0] + served[1], 100) << one.Output() << two.Output();
    EXPECT_GT(served[0], 0) << "the proxy sent nothing to the first server";
    EXPECT_GT(served[1], 0) << "the proxy sent nothing to the second server";
}

TEST_F(ProxyPool, TheMainServersRedirectLeadsPlayersThroughTheProxyToThePool) {
    RUN_IN_PRIVATE_NETNS("TV_PROXY_TEST_NETNS");
    // The client is 127.0.0.2 here, so it follows redirects: the main server
    // on 127.0.0.3 names 127.0.0.4, where the proxy takes port 43001 for a
    // pool whose content names no redirect (a pool that did would send
    // players round in a loop).
    WriteContent("main", "redirect 127.0.0.4\n");
    WriteContent("pool");
    tvtest::ServerProcess one("pool", "127.0.0.4", 0, false, {"--max-per-address", "0"});
    tvtest::ServerProcess two("pool", "127.0.0.4", 0, false, {"--max-per-address", "0"});
    ASSERT_NE(one.Port(), 0u);
    ASSERT_NE(two.Port(), 0u);
    tvtest::Haproxy proxy(
        m_dir.path().string(), "127.0.0.4", 43001,
        {"127.0.0.4:" + std::to_string(one.Port()), "127.0.0.4:" + std::to_string(two.Port())});
    std::string why;
    ASSERT_TRUE(proxy.WaitReady(why)) << why;
    tvtest::ServerProcess entry("main", "127.0.0.3", 0, false);
    ASSERT_NE(entry.Port(), 0u);

    fs::create_directory("work");
    TempWorkDir::Write("work/Config.ini",
                       "[Update]\nIP=127.0.0.3\nPort=" + std::to_string(entry.Port()) + "\n");
    const tvtest::RunResult r =
        tvtest::RunProcess({TV_CLIENT_EXE}, (m_dir.path() / "work").string());
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(TempWorkDir::Read("work/readme.txt"), TempWorkDir::Read("pool/readme.txt"));
    EXPECT_EQ(TempWorkDir::Read("work/Data/Maps/track one.map"),
              TempWorkDir::Read("pool/maps/track1.map"));
    EXPECT_TRUE(fs::exists("work/empty.dat"));

    EXPECT_TRUE(entry.WaitFor("client=127.0.0.2")) << entry.Output();
    EXPECT_NE(entry.Output().find("pair=- files=0/0"), std::string::npos) << entry.Output();
    for (int i = 0; i < 100 && Count(one.Output(50) + two.Output(50), kComplete) < 1; ++i) {
    }
    EXPECT_EQ(Count(one.Output() + two.Output(), kComplete), 1) << one.Output() << two.Output();
}

// The check the proxy test relies on is not vacuous: one byte changed in
// one file is reported with the file it lies in.
TEST(LoadBenchVerify, ReportsTheFileOfTheFirstByteThatDiffers) {
    TempWorkDir dir;
    WriteContent("served");
    WriteContent("expected");
    std::string map = TempWorkDir::Read("expected/maps/track1.map");
    map[123456] = static_cast<char>(~map[123456]);
    TempWorkDir::Write("expected/maps/track1.map", map);
    // Bodies carry the file time: only the changed byte may differ.
    for (const char* f : {"readme.txt", "maps/track1.map", "empty.dat"})
        fs::last_write_time(fs::path("expected") / f, fs::last_write_time(fs::path("served") / f));
    tvtest::ServerProcess server("served", "127.0.0.1", 0, false);
    ASSERT_NE(server.Port(), 0u);
    // The other directory must have its own snapshot to compare against.
    tvtest::ServerProcess publisher("expected", "127.0.0.1", 0, true);
    const tvtest::RunResult r = tvtest::RunProcess({TV_LOAD_BENCH, "verify", "--connect",
                                                    "127.0.0.1:" + std::to_string(server.Port()),
                                                    "--content", "expected", "--clients", "3"},
                                                   dir.path().string());
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    EXPECT_NE(r.out.find("0/3 clients complete"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("a byte differs from the published one at offset"), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("(file Data\\Maps\\track one.map)"), std::string::npos) << r.out;
}

} // namespace

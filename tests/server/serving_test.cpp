// The built server against many clients at once: the real client and raw
// protocol clients that stay silent, stop reading or read slowly.
#include "child_process.h"
#include "gzip_encoder.h"
#include "private_netns.h"
#include "publish.h"
#include "raw_client.h"
#include "snapshot.h"
#include "store_files.h"
#include "temp_dir.h"

#include <arpa/inet.h>
#include <atomic>
#include <csignal>
#include <filesystem>
#include <future>
#include <gtest/gtest.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Text that compresses, so bodies are not trivially small, from a seed.
std::string Text(std::size_t n, int seed) {
    std::string s;
    for (unsigned i = 0; s.size() < n; ++i)
        s += "line " + std::to_string(seed) + " " + std::to_string(i * 2654435761u % 99991) + "\n";
    return s.substr(0, n);
}

// Bytes that do not compress: the body is as large as the file.
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

bool Publish(const std::string& dir, int level = 1) {
    tvserver::PublishOptions o;
    o.contentDir = dir;
    o.level = level;
    o.notify = false;
    std::vector<std::string> errors;
    tvserver::PublishReport quiet{[](const std::string&) {}, [](const std::string&) {}};
    const bool ok = tvserver::Publish(o, quiet, errors);
    for (const std::string& e : errors)
        ADD_FAILURE() << e;
    return ok;
}

std::vector<std::string> Lines(const std::string& text, const std::string& containing) {
    std::vector<std::string> out;
    std::size_t at = 0;
    for (std::size_t nl; (nl = text.find('\n', at)) != std::string::npos; at = nl + 1)
        if (text.compare(at, nl - at, containing, 0, containing.size()) == 0 ||
            text.substr(at, nl - at).find(containing) != std::string::npos)
            out.push_back(text.substr(at, nl - at));
    return out;
}

class Serving : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directories("c/maps");
        TempWorkDir::Write("c/readme.txt", Text(5000, 1));
        TempWorkDir::Write("c/maps/track.map", Text(400000, 2));
        TempWorkDir::Write("c/sound.bin", Noise(300000, 3));
        TempWorkDir::Write("c/manifest.txt", "version 3 2\n"
                                             "file 0 2 readme.txt readme.txt\n"
                                             "file 0 3 \"Data\\Maps\\track.map\" maps/track.map\n"
                                             "file 1 2 sound.bin sound.bin\n");
    }
    std::string Content() const { return (m_dir.path() / "c").string(); }
    std::shared_ptr<const tvserver::Snapshot> Load() const {
        std::string error;
        auto s = tvserver::Snapshot::LoadCurrent(Content() + "/.torvane-publish", error);
        EXPECT_TRUE(s) << error;
        return s;
    }
    static std::string Body(const tvserver::Snapshot& s, std::size_t i) {
        std::string body;
        tvserver::ReadSmallFile(s.BodyPath(i), body);
        return body;
    }
    // The exchange carries exactly the snapshot's files and bodies.
    static void ExpectSnapshot(const tvtest::Exchange& x, const tvserver::Snapshot& s) {
        ASSERT_TRUE(x.complete);
        ASSERT_EQ(x.files.size(), s.Files().size());
        for (std::size_t i = 0; i < x.files.size(); ++i) {
            EXPECT_EQ(x.files[i].name, s.Files()[i].name);
            EXPECT_TRUE(x.files[i].body == Body(s, i)) << "body of " << x.files[i].name;
        }
    }

    TempWorkDir m_dir;
};

TEST_F(Serving, ConcurrentClientsAllCompleteWithIdenticalInstalls) {
    tvtest::ServerProcess server(Content(), "127.0.0.1", 0, false, {"--threads", "2"});
    ASSERT_NE(server.Port(), 0u) << server.Output();
    const int kClients = 20;
    std::vector<tvtest::RunResult> results(kClients);
    std::vector<std::thread> threads;
    for (int i = 0; i < kClients; ++i) {
        const fs::path work = m_dir.path() / ("w" + std::to_string(i));
        fs::create_directories(work);
        TempWorkDir::Write((work / "Config.ini").string(),
                           "[Update]\nIP=127.0.0.1\nPort=" + std::to_string(server.Port()) + "\n");
        threads.emplace_back([&results, i, work] {
            results[i] = tvtest::RunProcess({TV_CLIENT_EXE}, work.string(), 60000);
        });
    }
    for (std::thread& t : threads)
        t.join();
    for (int i = 0; i < kClients; ++i) {
        const fs::path work = m_dir.path() / ("w" + std::to_string(i));
        EXPECT_EQ(results[i].exitCode, 0) << i << ": " << results[i].err;
        EXPECT_EQ(TempWorkDir::Read((work / "readme.txt").string()), Text(5000, 1)) << i;
        EXPECT_EQ(TempWorkDir::Read((work / "Data/Maps/track.map").string()), Text(400000, 2)) << i;
        EXPECT_EQ(TempWorkDir::Read((work / "sound.bin").string()), Noise(300000, 3)) << i;
    }
    ::kill(server.Pid(), SIGUSR1);
    ASSERT_TRUE(server.WaitFor(" served=20 "));
    EXPECT_EQ(Lines(server.Output(), "files=3/3").size(), 20u) << server.Output();
}

TEST_F(Serving, SilentAndStalledClientsAreDroppedAtTheirDeadlinesWithoutHoldingOthers) {
    TempWorkDir::Write("c/sound.bin", Noise(24 << 20, 4)); // more than the socket buffers
    ASSERT_TRUE(Publish(Content()));
    tvtest::ServerProcess server(Content(), "127.0.0.1", 0, false,
                                 {"--request-timeout", "3", "--stall-timeout", "3"});
    ASSERT_NE(server.Port(), 0u) << server.Output();

    const int silent = tvtest::ConnectTo("127.0.0.1", server.Port());
    const int stalled = tvtest::ConnectTo("127.0.0.1", server.Port());
    ASSERT_GE(silent, 0);
    ASSERT_GE(stalled, 0);
    const int small = 4096;
    ::setsockopt(stalled, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    const unsigned char request[9] = {1, 0, 0, 0, 0, 0, 0, 0, 0};
    ASSERT_EQ(::send(stalled, request, sizeof request, 0), 9);

    const tvtest::Exchange healthy = tvtest::Fetch(server.Port(), 0, 0);
    ExpectSnapshot(healthy, *Load());

    ASSERT_TRUE(server.WaitFor("no version request within 3000 ms", 30000)) << server.Output();
    ASSERT_TRUE(server.WaitFor("outcome=\"stalled", 30000)) << server.Output();
    const std::string log = server.Output();
    const std::size_t done = log.find("files=3/3");
    ASSERT_NE(done, std::string::npos) << log;
    EXPECT_LT(done, log.find("no version request within")) << "the healthy client was held";
    EXPECT_LT(done, log.find("outcome=\"stalled")) << "the healthy client was held";
    // The silent one is closed in order; the stalled one is reset.
    char buf[16];
    ::recv(silent, buf, sizeof buf, 0); // the version reply
    EXPECT_EQ(::recv(silent, buf, sizeof buf, 0), 0);
    ::close(silent);
    ::close(stalled);
}

// Threads that are released and joined however the test ends.
struct ClientThreads {
    std::promise<void> release;
    std::shared_future<void> gate = release.get_future().share();
    std::vector<std::thread> threads;
    bool released = false;
    void Release() {
        if (!released)
            release.set_value();
        released = true;
    }
    ~ClientThreads() {
        Release();
        for (std::thread& t : threads)
            t.join();
    }
};

TEST_F(Serving, SwitchUnderLoadLeavesEveryClientWithOneWholeSnapshot) {
    ASSERT_TRUE(Publish(Content()));
    const auto first = Load();
    tvtest::ServerProcess server(Content(), "127.0.0.1", 0, false);
    ASSERT_NE(server.Port(), 0u) << server.Output();
    const int kEach = 6;
    std::vector<tvtest::Exchange> before(kEach), after(kEach);
    std::atomic<int> waiting{0};
    {
        ClientThreads clients;
        // The first clients stop after their first file until the switch is
        // done, with the rest of their list still to come.
        for (int i = 0; i < kEach; ++i)
            clients.threads.emplace_back([&, i] {
                before[i] = tvtest::Fetch(server.Port(), 0, 0, 1, "127.0.0.1", [&] {
                    ++waiting;
                    clients.gate.wait();
                });
            });
        // The bounds below only keep a hung server from hanging the test; a
        // loaded machine must never be what fails it.
        for (int i = 0; i < 12000 && waiting < kEach; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_EQ(waiting, kEach);
        TempWorkDir::Write("c/readme.txt", Text(6000, 5));
        TempWorkDir::Write("c/maps/track.map", Text(300000, 6));
        TempWorkDir::Write("c/manifest.txt", "version 4 2\n"
                                             "file 0 4 readme.txt readme.txt\n"
                                             "file 0 4 \"Data\\Maps\\track.map\" maps/track.map\n"
                                             "file 1 2 sound.bin sound.bin\n");
        const tvtest::RunResult p =
            tvtest::RunProcess({TV_SERVER_EXE, "publish", "--level", "1", Content()}, "", 120000);
        ASSERT_EQ(p.exitCode, 0) << p.err;
        EXPECT_NE(p.out.find("asked the server with pid " + std::to_string(server.Pid())),
                  std::string::npos)
            << p.out;
        // Clients that connect once the log says so get the new snapshot.
        ASSERT_TRUE(server.WaitFor("switched to snapshot 2", 120000)) << server.Output();
        for (int i = 0; i < kEach; ++i)
            clients.threads.emplace_back(
                [&, i] { after[i] = tvtest::Fetch(server.Port(), 0, 0, 1); });
        clients.Release();
    }
    const auto second = Load();
    for (const tvtest::Exchange& x : before) {
        EXPECT_EQ(x.serverVersion[0], 3u);
        ExpectSnapshot(x, *first);
    }
    for (const tvtest::Exchange& x : after) {
        EXPECT_EQ(x.serverVersion[0], 4u);
        ExpectSnapshot(x, *second);
    }
}

TEST_F(Serving, ConnectionsOverACapAreResetAtOnceAndLogged) {
    struct Cap {
        std::vector<std::string> args;
        const char* reason;
    } caps[] = {
        {{"--max-per-address", "2"}, "at the per-address cap"},
        {{"--max-connections", "2", "--max-per-address", "0"}, "at the total cap"},
    };
    for (const Cap& cap : caps) {
        tvtest::ServerProcess server(Content(), "127.0.0.1", 0, false, cap.args);
        ASSERT_NE(server.Port(), 0u) << server.Output();
        const int a = tvtest::ConnectTo("127.0.0.1", server.Port());
        const int b = tvtest::ConnectTo("127.0.0.1", server.Port());
        char reply[13];
        ASSERT_EQ(::recv(a, reply, sizeof reply, MSG_WAITALL), 13);
        ASSERT_EQ(::recv(b, reply, sizeof reply, MSG_WAITALL), 13);
        const tvtest::Exchange over = tvtest::Fetch(server.Port(), 0, 0);
        EXPECT_TRUE(over.connected && !over.gotReply) << cap.reason;
        EXPECT_TRUE(server.WaitFor(cap.reason)) << server.Output();
        ::close(a);
        ::close(b);
        // Room again once one has gone.
        ASSERT_TRUE(server.WaitFor("no version request (up to date"));
        ExpectSnapshot(tvtest::Fetch(server.Port(), 0, 0), *Load());
    }
}

TEST_F(Serving, VersionRepliesHandOutTheRedirectPoolInTurn) {
    struct Pool {
        const char* redirect; // manifest line
        std::vector<std::string> args;
        std::vector<const char*> replies; // in order, one per client; "" none
    } pools[] = {
        {"redirect 10.0.0.5 10.0.0.6 10.0.0.7\n",
         {},
         {"10.0.0.5", "10.0.0.6", "10.0.0.7", "10.0.0.5"}},
        {"redirect 10.0.0.9\n", {}, {"10.0.0.9", "10.0.0.9"}},
        {"", {}, {"", ""}},
        {"redirect 10.0.0.5 10.0.0.6\n", {"--no-redirect"}, {"", ""}},
    };
    for (const Pool& pool : pools) {
        TempWorkDir::Write("c/manifest.txt", std::string("version 3 2\n") + pool.redirect +
                                                 "file 0 2 readme.txt readme.txt\n");
        ASSERT_TRUE(Publish(Content()));
        tvtest::ServerProcess server(Content(), "127.0.0.1", 0, false, pool.args);
        ASSERT_NE(server.Port(), 0u) << server.Output();
        for (const char* expected : pool.replies) {
            const tvtest::Exchange x = tvtest::Fetch(server.Port(), 3, 2);
            ASSERT_TRUE(x.complete) << pool.redirect;
            char got[INET_ADDRSTRLEN] = "";
            in_addr a{};
            a.s_addr = x.redirectAddr;
            if (a.s_addr != 0)
                ::inet_ntop(AF_INET, &a, got, sizeof got);
            EXPECT_STREQ(got, expected) << pool.redirect;
        }
    }
}

TEST_F(Serving, TermLetsRunningTransfersFinishAndRefusesNewOnes) {
    tvtest::ServerProcess server(Content(), "127.0.0.1", 0, false);
    ASSERT_NE(server.Port(), 0u) << server.Output();
    const auto snapshot = Load();
    tvtest::Exchange slow;
    std::thread t([&] { slow = tvtest::Fetch(server.Port(), 0, 0, 1); });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ::kill(server.Pid(), SIGTERM);
    ASSERT_TRUE(server.WaitFor("stopping: no new connections"));
    EXPECT_EQ(tvtest::ConnectTo("127.0.0.1", server.Port()), -1);
    t.join();
    ExpectSnapshot(slow, *snapshot);
    const std::string log = server.Finish();
    EXPECT_NE(log.find("outcome=\"complete\""), std::string::npos) << log;
    EXPECT_NE(log.find("stopped; status open=0"), std::string::npos) << log;
}

// A stored-block gzip member: as large as its data, made fast, and decoded
// by the client, so publish sends it as it is.
std::string StoredGzip(const std::string& data) {
    std::string out("\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03", 10);
    for (std::size_t at = 0;;) {
        const std::size_t n = std::min<std::size_t>(65535, data.size() - at);
        const bool last = at + n == data.size();
        out += static_cast<char>(last ? 1 : 0);
        out += static_cast<char>(n & 0xff);
        out += static_cast<char>(n >> 8);
        out += static_cast<char>(~n & 0xff);
        out += static_cast<char>((~n >> 8) & 0xff);
        out.append(data, at, n);
        at += n;
        if (last)
            break;
    }
    const std::uint32_t crc =
        tvserver::Crc32(reinterpret_cast<const unsigned char*>(data.data()), data.size());
    for (std::uint32_t v : {crc, static_cast<std::uint32_t>(data.size())})
        for (int i = 0; i < 4; ++i)
            out += static_cast<char>(v >> (8 * i));
    return out;
}

TEST_F(Serving, OffLoopbackClientGetsWhatFitsOneHundredMebibytesAndTheRestNextRun) {
    RUN_IN_PRIVATE_NETNS("TV_SERVER_TEST_IN_NETNS");
    const std::size_t kSize = 36u << 20; // three of them are above the limit, two are not
    std::string manifest = "version 3 0\n";
    for (int i = 0; i < 3; ++i) {
        const std::string name = "part" + std::to_string(i);
        TempWorkDir::Write("c/" + name + ".gz", StoredGzip(std::string(kSize, 'a' + i)));
        manifest += "file 0 " + std::to_string(i + 1) + " " + name + ".pak " + name + ".gz\n";
    }
    TempWorkDir::Write("c/manifest.txt", manifest);
    tvtest::ServerProcess server(Content(), "127.0.0.3", 5000, false);
    ASSERT_EQ(server.Port(), 5000u) << server.Output();
    EXPECT_NE(server.Output().find("needs 2 runs"), std::string::npos) << server.Output();
    fs::create_directories("w");
    TempWorkDir::Write("w/Config.ini", "[Update]\nIP=127.0.0.3\nPort=5000\n");

    tvtest::RunResult r = tvtest::RunProcess({TV_CLIENT_EXE}, "w", 60000);
    EXPECT_EQ(r.err, "") << "no message 6";
    EXPECT_EQ(fs::file_size("w/part0.pak"), kSize);
    EXPECT_EQ(fs::file_size("w/part1.pak"), kSize);
    EXPECT_FALSE(fs::exists("w/part2.pak"));
    ASSERT_TRUE(server.WaitFor("needs-more-runs: 1 files")) << server.Output();

    r = tvtest::RunProcess({TV_CLIENT_EXE}, "w", 60000);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(fs::file_size("w/part2.pak"), kSize);
    ASSERT_TRUE(server.WaitFor("pair=2,0 files=1/1")) << server.Output();
}

} // namespace

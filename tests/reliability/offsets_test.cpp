// The connection cut after every byte offset of a small exchange (three files
// in two groups), by an orderly close and by a reset. Each cut is a real run
// of the client against a scripted loopback server; then a second run
// against a healthy server must complete the update from what the first run
// left. The cuts run a few at a time.
#include "harness.h"
#include "scripted_server.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <thread>

namespace {

using namespace tvrel;
using tvtest::ServerConn;

struct Content {
    const char* name; // as sent
    const char* path; // where it lands
    int group;
    std::uint32_t version;
    std::string plain;
};

const std::vector<Content>& Contents() {
    static const std::vector<Content> contents = [] {
        std::string bin;
        for (int i = 0; i < 90; ++i)
            bin.push_back(static_cast<char>(i * 37 + 11));
        return std::vector<Content>{
            {"a.txt", "a.txt", 0, 2, "alpha: the new first file of group 0\n"},
            {"Data\\b.bin", "Data/b.bin", 0, 3, bin},
            {"c.txt", "c.txt", 1, 2, "charlie, the only file of group 1\n"},
        };
    }();
    return contents;
}

const char kOldA[] = "alpha, as the previous update left it\n";
const std::uint32_t kStart[2] = {1, 1};

std::string Request(std::uint32_t v0, std::uint32_t v1) {
    return tvtest::VersionReply(v0, v1).substr(0, 9);
}

// The files newer than the pair, as the server sends them after the reply;
// fileEnds receives the offset (in the whole stream) where each file ends.
std::string Stream(const std::uint32_t pair[2], std::vector<std::size_t>* fileEnds = nullptr) {
    std::string files;
    int counts[2] = {0, 0};
    std::int32_t total = 0;
    std::string stream = tvtest::VersionReply(3, 2);
    for (const Content& c : Contents())
        if (c.version > pair[c.group]) {
            const std::string body = Gzip(c.plain);
            files += tvtest::File(c.name, c.version, body);
            ++counts[c.group];
            total += static_cast<std::int32_t>(body.size());
            if (fileEnds)
                fileEnds->push_back(files.size());
        }
    stream += tvtest::ListHeader(static_cast<std::uint16_t>(counts[0]),
                                 static_cast<std::uint16_t>(counts[1]), total);
    if (fileEnds)
        for (std::size_t& end : *fileEnds)
            end += stream.size();
    return stream + files;
}

enum class Cut { Close, Reset };

void Hang(ServerConn& c, Cut cut) {
    if (cut == Cut::Close)
        c.Close();
    else
        c.Reset();
}

// The pair after the first k files.
void PairAfter(std::size_t k, std::uint32_t pair[2]) {
    pair[0] = kStart[0];
    pair[1] = kStart[1];
    for (std::size_t i = 0; i < k; ++i)
        pair[Contents()[i].group] = Contents()[i].version;
}

bool Installed(const fs::path& dir, const Content& c) {
    return fs::exists(dir / c.path) && ReadFile(dir / c.path) == c.plain;
}

class OffsetRun {
  public:
    OffsetRun(std::size_t cut, Cut kind) : m_cut(cut), m_kind(kind) {}

    void Run() {
        Prepare();
        const std::string before = ReadFile(m_dir.path() / "File.ver");
        const std::size_t k = FirstRun(before);
        SecondRun(k);
    }

  private:
    std::string Where() const {
        return "cut after " + std::to_string(m_cut) + " bytes by " +
               (m_kind == Cut::Close ? "close" : "reset") + ": ";
    }

    void Prepare() {
        WriteRecord(m_dir.path(), "1 1 1 1");
        WriteFile(m_dir.path() / "a.txt", kOldA);
    }

    std::size_t FirstRun(const std::string& recordBefore) {
        std::vector<std::size_t> ends;
        const std::string stream = Stream(kStart, &ends);
        const std::size_t cut = m_cut;
        const Cut kind = m_kind;
        tvtest::ScriptedServer server([&stream, cut, kind](ServerConn& c) {
            // From 13 bytes on the client sends its request; taking it keeps
            // a close a close (unread data would turn it into a reset).
            if (cut < 13) {
                c.Send(stream.substr(0, cut));
            } else {
                c.Send(stream.substr(0, 13));
                if (c.Recv(9) != Request(kStart[0], kStart[1]))
                    return;
                c.Send(stream.substr(13, cut - 13));
            }
            Hang(c, kind);
        });
        WriteConfig(m_dir.path(), server.Port());
        ClientOptions o;
        o.dir = m_dir.path();
        // After an orderly close mid-way the window stays open: the user
        // closes it once the install step has begun. Every other run ends
        // by itself.
        if (kind == Cut::Close && cut < stream.size())
            o.closeWhenOut = kWaitPanel;
        const ClientRun r = RunClient(o);

        const std::string w = Where();
        EXPECT_EQ(r.exitCode, 0) << w << "signal " << r.signal << ", timed out " << r.timedOut
                                 << "\n"
                                 << r.err << r.out;
        const std::string lost = std::string("torvane-update: error: ") + kMsgConnectionLost + "\n";
        // A reset that overtakes the end of the connect is a failed connect.
        const std::string noConnect =
            std::string("torvane-update: error: ") + kMsgConnectFailed + "\n";
        if (kind == Cut::Close)
            EXPECT_EQ(r.err, "") << w;
        else
            EXPECT_TRUE(r.err.empty() || r.err == lost || (cut < 13 && r.err == noConnect))
                << w << r.err;

        std::size_t expected = 0;
        while (expected < ends.size() && ends[expected] <= cut)
            ++expected;
        std::size_t k = 0;
        while (k < Contents().size() && Installed(m_dir.path(), Contents()[k]))
            ++k;
        for (std::size_t i = k; i < Contents().size(); ++i)
            EXPECT_FALSE(Installed(m_dir.path(), Contents()[i])) << w << "installed out of order";
        if (std::getenv("TV_RELIABILITY_VERBOSE"))
            std::fprintf(stderr, "%sstream %zu bytes, %zu files installed of %zu complete\n",
                         w.c_str(), stream.size(), k, expected);
        if (kind == Cut::Close) {
            EXPECT_EQ(k, expected) << w << "files installed";
        } else {
            EXPECT_LE(k, expected) << w << "files installed";
        }
        if (k == 0) {
            EXPECT_EQ(ReadFile(m_dir.path() / "a.txt"), kOldA) << w << "the old file was lost";
        }
        for (std::size_t i = 0; i < k; ++i)
            EXPECT_FALSE(fs::exists(m_dir.path() / (std::string(Contents()[i].path) + ".gz"))) << w;

        std::uint32_t pair[2] = {0, 0}, want[2];
        PairAfter(k, want);
        if (k == 0) {
            EXPECT_EQ(ReadFile(m_dir.path() / "File.ver"), recordBefore) << w;
        } else {
            EXPECT_TRUE(ReadRecord(m_dir.path(), pair)) << w;
            EXPECT_EQ(pair[0], want[0]) << w;
            EXPECT_EQ(pair[1], want[1]) << w;
        }
        for (const auto& [path, data] : Files(m_dir.path())) {
            EXPECT_TRUE(path == "File.ver" || path == "Server.cnv" || path == "a.txt" ||
                        path == "a.txt.gz" || path == "Data/b.bin" || path == "Data/b.bin.gz" ||
                        path == "c.txt" || path == "c.txt.gz")
                << w << "unexpected file " << path;
        }
        return k;
    }

    void SecondRun(std::size_t k) {
        std::uint32_t pair[2];
        PairAfter(k, pair);
        const std::string stream = Stream(pair);
        std::string request;
        tvtest::ScriptedServer server([&](ServerConn& c) {
            c.Send(stream.substr(0, 13));
            request = c.Recv(9);
            if (request == Request(pair[0], pair[1]))
                c.Send(stream.substr(13));
            c.WaitPeerClose(10000);
        });
        WriteConfig(m_dir.path(), server.Port());
        ClientOptions o;
        o.dir = m_dir.path();
        const ClientRun r = RunClient(o);
        const std::string w = Where() + "the healthy rerun: ";
        EXPECT_EQ(r.exitCode, 0) << w << r.err;
        EXPECT_EQ(r.err, "") << w;
        for (const Content& c : Contents())
            EXPECT_TRUE(Installed(m_dir.path(), c)) << w << c.path;
        std::uint32_t now[2] = {0, 0};
        EXPECT_TRUE(ReadRecord(m_dir.path(), now)) << w;
        EXPECT_EQ(now[0], 3u) << w;
        EXPECT_EQ(now[1], 2u) << w;
        for (const auto& [path, data] : Files(m_dir.path())) {
            EXPECT_TRUE(path == "File.ver" || path == "Server.cnv" || path == "a.txt" ||
                        path == "Data/b.bin" || path == "c.txt")
                << w << "left behind: " << path;
        }
    }

    std::size_t m_cut;
    Cut m_kind;
    TempDir m_dir;
};

// Every cut from nothing at all to the whole stream, a few at a time.
void EveryCut(Cut kind) {
    const std::size_t length = Stream(kStart).size();
    std::atomic<std::size_t> next{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < 4; ++t)
        workers.emplace_back([&] {
            for (std::size_t cut; (cut = next++) <= length;)
                OffsetRun(cut, kind).Run();
        });
    for (std::thread& t : workers)
        t.join();
    ::testing::Test::RecordProperty("offsets", static_cast<int>(length + 1));
}

TEST(EveryOffset, OrderlyCloseKeepsCompletedFilesAndTheRerunCompletes) {
    EveryCut(Cut::Close);
}

TEST(EveryOffset, ResetKeepsCompletedFilesAndTheRerunCompletes) {
    EveryCut(Cut::Reset);
}

} // namespace

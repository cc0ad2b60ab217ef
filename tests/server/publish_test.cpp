// Publishing in process: the refusals, the cache, bodies sent as they are,
// snapshots kept while in use, and the selection with its size limit.
#include "gzip_encoder.h"
#include "publish.h"
#include "snapshot.h"
#include "store_files.h"
#include "temp_dir.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Outcome {
    bool ok = false;
    std::vector<std::string> errors, warnings, notes;
    std::string Text() const {
        std::string t;
        for (const auto* list : {&errors, &warnings, &notes})
            for (const std::string& s : *list)
                t += s + "\n";
        return t;
    }
};

Outcome RunPublish(const std::string& dir = "c", int level = 6) {
    Outcome o;
    tvserver::PublishOptions options;
    options.contentDir = dir;
    options.level = level;
    tvserver::PublishReport report{[&](const std::string& s) { o.notes.push_back(s); },
                                   [&](const std::string& s) { o.warnings.push_back(s); }};
    o.ok = tvserver::Publish(options, report, o.errors);
    return o;
}

std::string GzipOf(const std::string& plain) {
    const auto gz =
        tvserver::GzipEncode(reinterpret_cast<const unsigned char*>(plain.data()), plain.size(), 0);
    return std::string(gz.begin(), gz.end());
}

class Publishing : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directory("c");
        TempWorkDir::Write("c/a.txt", std::string(3000, 'a'));
        TempWorkDir::Write("c/b.txt", "bravo bravo bravo");
    }
    void Manifest(const std::string& text) { TempWorkDir::Write("c/manifest.txt", text); }
    unsigned Current() const { return tvserver::Snapshot::CurrentId("c/.torvane-publish"); }
    std::shared_ptr<const tvserver::Snapshot> Load() const {
        std::string error;
        auto s = tvserver::Snapshot::LoadCurrent("c/.torvane-publish", error);
        EXPECT_TRUE(s) << error;
        return s;
    }
    std::string Body(const tvserver::Snapshot& s, std::size_t i) const {
        std::string body;
        tvserver::ReadSmallFile(s.BodyPath(i), body);
        return body;
    }

    TempWorkDir m_dir;
};

struct Refusal {
    const char* what;
    const char* lines; // after "version 3 2"
    const char* expected;
};

TEST_F(Publishing, RefusesWhatTheClientWouldNeverGetOrRefuseAndChangesNothing) {
    const Refusal cases[] = {
        {"version above the pair", "file 0 4 a.txt a.txt\n", "is above the server's version 3"},
        {"same name twice", "file 0 1 a.txt a.txt\nfile 1 2 A.TXT b.txt\n",
         "stored by the client as the same file as a.txt (line 2)"},
        {"substituted names meet", "file 0 1 Update0.exe a.txt\nfile 0 2 update.exe b.txt\n",
         "same file as Update0.exe"},
        {"parent directory", "file 0 1 ..\\a.txt a.txt\n", "the client refuses the name ..\\a.txt"},
        {"drive", "file 0 1 C:a.txt a.txt\n", "the client refuses the name C:a.txt"},
        {"device name", "file 0 1 Data\\nul.txt a.txt\n", "the client refuses the name"},
        {"forward slash", "file 0 1 Data/a.txt a.txt\n", "the client refuses the name"},
        {"trailing dot", "file 0 1 a. a.txt\n", "the client refuses the name a."},
        {"file and directory", "file 0 1 Data a.txt\nfile 0 2 Data\\b.txt b.txt\n",
         "needs a directory where Data (line 2) is a file"},
        {"missing file", "file 0 1 a.txt nothing.txt\n", "not a readable file"},
        {"redirect without an address", "redirect\n", "expected: redirect A.B.C.D"},
        {"redirect to a host name", "redirect 10.0.0.5 pool.example\n",
         "not a dotted IPv4 address: pool.example"},
        {"redirect to a short address", "redirect 10.0.5\n", "not a dotted IPv4 address: 10.0.5"},
        {"redirect to 0.0.0.0", "redirect 10.0.0.5 0.0.0.0\n", "0.0.0.0 is not a server address"},
        {"redirect to broadcast", "redirect 255.255.255.255\n",
         "255.255.255.255 is not a server address"},
        {"redirect address twice", "redirect 10.0.0.5 10.0.0.6 10.0.0.5\n",
         "10.0.0.5 is listed twice"},
        {"two redirect lines", "redirect 10.0.0.5\nredirect 10.0.0.6\n", "a second redirect line"},
    };
    Manifest("version 3 2\nfile 0 1 a.txt a.txt\n");
    ASSERT_TRUE(RunPublish().ok);
    for (const Refusal& c : cases) {
        Manifest(std::string("version 3 2\n") + c.lines);
        const Outcome o = RunPublish();
        EXPECT_FALSE(o.ok) << c.what;
        EXPECT_NE(o.Text().find(c.expected), std::string::npos) << c.what << ":\n" << o.Text();
        EXPECT_EQ(Current(), 1u) << c.what << ": a refused publish changes nothing";
    }
}

TEST_F(Publishing, ListsEveryProblemAtOnce) {
    Manifest("version 1 1\nfile 0 2 a.txt a.txt\nfile 1 1 x\\..\\y b.txt\n");
    const Outcome o = RunPublish();
    EXPECT_FALSE(o.ok);
    EXPECT_EQ(o.errors.size(), 2u) << o.Text();
    EXPECT_EQ(Current(), 0u);
}

TEST_F(Publishing, RefusesABodyOfTwoGibibytes) {
    // Sparse, and looks like gzip, so it would be sent as it is.
    {
        std::string head = GzipOf("x");
        TempWorkDir::Write("c/huge.gz", head);
    }
    ASSERT_EQ(::truncate("c/huge.gz", 2147483648LL), 0);
    Manifest("version 1 0\nfile 0 1 huge.bin huge.gz\n");
    const Outcome o = RunPublish();
    EXPECT_FALSE(o.ok);
    EXPECT_NE(o.Text().find("a body must be below 2 GiB"), std::string::npos) << o.Text();
}

TEST_F(Publishing, CompressesEachFileOnceAndReusesTheCache) {
    Manifest("version 3 2\nfile 0 1 a.txt a.txt\nfile 1 2 b.txt b.txt\n");
    Outcome o = RunPublish();
    ASSERT_TRUE(o.ok) << o.Text();
    EXPECT_NE(o.Text().find("published snapshot 1"), std::string::npos) << o.Text();
    EXPECT_NE(o.Text().find("2 compressed, 0 from the cache"), std::string::npos) << o.Text();

    o = RunPublish();
    EXPECT_NE(o.Text().find("unchanged: snapshot 1"), std::string::npos) << o.Text();
    EXPECT_NE(o.Text().find("0 compressed, 2 from the cache"), std::string::npos) << o.Text();

    TempWorkDir::Write("c/b.txt", "changed");
    o = RunPublish();
    EXPECT_NE(o.Text().find("published snapshot 2"), std::string::npos) << o.Text();
    EXPECT_NE(o.Text().find("1 compressed, 1 from the cache"), std::string::npos) << o.Text();
}

TEST_F(Publishing, SendsDataTheClientDecodesAsItIs) {
    const std::string gz = GzipOf(std::string(5000, 'g'));
    TempWorkDir::Write("c/g.gz", gz);
    TempWorkDir::Write("c/junk.gz", gz + "trailing bytes"); // the client warns: refused
    TempWorkDir::Write("c/archive.gz", gz);
    Manifest("version 1 0\nfile 0 1 g.dat g.gz\nfile 0 1 junk.dat junk.gz\n"
             "file 0 1 archive.gz archive.gz\n");
    const Outcome o = RunPublish();
    ASSERT_TRUE(o.ok) << o.Text();
    const auto s = Load();
    ASSERT_EQ(s->Files().size(), 3u);
    EXPECT_EQ(Body(*s, 0), gz) << "decodable data goes as it is";
    EXPECT_NE(Body(*s, 1), gz + "trailing bytes") << "data the client refuses is compressed";
    EXPECT_NE(Body(*s, 2), gz) << "a name ending in .gz gets the compressed file itself";
    ASSERT_EQ(o.warnings.size(), 1u) << o.Text();
    EXPECT_NE(o.warnings[0].find("junk.gz looks compressed, but the client's decompressor "
                                 "refuses it"),
              std::string::npos)
        << o.Text();
}

TEST_F(Publishing, KeepsASnapshotWhileItIsInUse) {
    Manifest("version 1 0\nfile 0 1 a.txt a.txt\n");
    ASSERT_TRUE(RunPublish().ok);
    auto first = Load(); // a server still sending from it
    for (const char* text : {"two", "three"}) {
        TempWorkDir::Write("c/a.txt", text);
        ASSERT_TRUE(RunPublish().ok);
    }
    EXPECT_TRUE(fs::exists("c/.torvane-publish/snapshots/000001/bodies/0"));
    EXPECT_FALSE(Body(*first, 0).empty());
    first.reset();
    TempWorkDir::Write("c/a.txt", "four");
    ASSERT_TRUE(RunPublish().ok);
    EXPECT_FALSE(fs::exists("c/.torvane-publish/snapshots/000001"));
    EXPECT_FALSE(fs::exists("c/.torvane-publish/snapshots/000002"));
    EXPECT_TRUE(fs::exists("c/.torvane-publish/snapshots/000003")) << "the previous one stays";
}

TEST_F(Publishing, SelectsTheLongestPrefixThatFitsTheLimit) {
    TempWorkDir::Write("c/c.txt", std::string(20000, 'c'));
    Manifest("version 2 1\nfile 1 1 c.txt c.txt\nfile 0 2 b.txt b.txt\nfile 0 1 a.txt a.txt\n");
    ASSERT_TRUE(RunPublish().ok);
    const auto s = Load();
    ASSERT_EQ(s->Files().size(), 3u);
    EXPECT_EQ(s->Files()[0].name, "a.txt") << "group 0 by version, then group 1";
    const std::int64_t a = s->Files()[0].size, b = s->Files()[1].size, c = s->Files()[2].size;
    struct Case {
        std::uint32_t pair[2];
        std::int64_t limit;
        std::size_t count0, count1;
    } cases[] = {
        {{0, 0}, a + b + c, 2, 1}, {{0, 0}, a + b + c - 1, 2, 0},
        {{0, 0}, a + b, 2, 0},     {{0, 0}, a + b - 1, 1, 0},
        {{0, 0}, a - 1, 0, 0},     {{1, 0}, b + c, 1, 1},
        {{2, 0}, c, 0, 1},         {{2, 1}, 0, 0, 0},
    };
    for (const Case& k : cases) {
        const tvserver::Selection sel = s->Select(k.pair, k.limit);
        EXPECT_EQ(sel.count[0], k.count0) << k.pair[0] << "," << k.pair[1] << " " << k.limit;
        EXPECT_EQ(sel.count[1], k.count1) << k.pair[0] << "," << k.pair[1] << " " << k.limit;
        EXPECT_LE(sel.bytes, k.limit);
        const std::int64_t all =
            (k.pair[0] < 1 ? a : 0) + (k.pair[0] < 2 ? b : 0) + (k.pair[1] < 1 ? c : 0);
        EXPECT_EQ(sel.bytes + sel.leftBytes, all);
    }
}

} // namespace

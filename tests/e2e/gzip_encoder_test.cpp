// The reference server's gzip encoder against the client's own decompressor:
// each checks the other, and neither shares code with the other. Every
// sample goes through every level, file to file, and must come back exact.
#include "gunzip/gunzip.h"
#include "gzip_encoder.h"
#include "temp_dir.h"

#include <gtest/gtest.h>
#include <ostream>
#include <stdexcept>
#include <string>
#include <sys/stat.h>

namespace {

struct FatalError : std::runtime_error {
    FatalError() : std::runtime_error("the decompressor met a fatal error") {}
};

std::string Mixed(std::size_t n) {
    std::string s;
    unsigned x = 12345;
    while (s.size() < n) {
        x = x * 1103515245u + 12345u;
        if (x % 3 == 0)
            s += "checkpoint " + std::to_string(x % 977) + "\n";
        else
            s += static_cast<char>(x >> 24);
    }
    return s.substr(0, n);
}

std::string Random(std::size_t n, unsigned seed) {
    std::string s(n, '\0');
    for (char& c : s)
        c = static_cast<char>((seed = seed * 1664525u + 1013904223u) >> 24);
    return s;
}

// Words from a small vocabulary: compressible like prose, with matches at
// every distance.
std::string Prose(std::size_t n) {
    static const char* const kWords[] = {"lap ",    "track ",  "gear ",  "engine ", "pit ",
                                         "wall ",   "driver ", "car ",   "the ",    "a ",
                                         "version", "record ", "file\n", "update ", "server "};
    std::string s;
    unsigned x = 99;
    while (s.size() < n)
        s += kWords[((x = x * 1103515245u + 12345u) >> 16) % 15];
    return s.substr(0, n);
}

// A block of random bytes repeated after a gap of random bytes, so that the
// only match is at distance block + gap.
std::string RepeatAt(std::size_t distance) {
    const std::string block = Random(2000, 3);
    return block + Random(distance - block.size(), 4) + block;
}

struct Sample {
    const char* name;
    std::string plain;
};

void PrintTo(const Sample& c, std::ostream* os) {
    *os << c.name;
}

// Decodes NAME.gz with the client's decompressor; "" and a failure when it
// is refused.
std::string Decode(const std::string& name) {
    set_gunzip_exit_handler([](int32_t) { throw FatalError(); });
    int32_t status = -1;
    EXPECT_NO_THROW(status = decompress_file((name + ".gz").c_str()));
    set_gunzip_exit_handler(nullptr);
    EXPECT_EQ(status, 0);
    return TempWorkDir::Read(name);
}

std::string CompressFile(const std::string& plain, int level, const std::string& name = "") {
    TempWorkDir::Write("in", plain);
    std::string error;
    EXPECT_TRUE(tvserver::GzipCompressFile("in", "f.gz", level, name, 1700000000u, error)) << error;
    return TempWorkDir::Read("f.gz");
}

class GzipEncoder : public ::testing::TestWithParam<Sample> {};

TEST_P(GzipEncoder, EveryLevelDecodesToTheInput) {
    TempWorkDir dir;
    const std::string& plain = GetParam().plain;
    for (int level = tvserver::kGzipFastestLevel; level <= tvserver::kGzipBestLevel; ++level) {
        SCOPED_TRACE("level " + std::to_string(level));
        const std::string body = CompressFile(plain, level);
        EXPECT_EQ(CompressFile(plain, level), body) << "output not deterministic";
        EXPECT_TRUE(Decode("f") == plain) << "decoded content differs";
        // Incompressible input grows by a few bytes per 64 KiB at most.
        EXPECT_LE(body.size(), plain.size() + 5 * (plain.size() / 65535 + 1) + 18);
    }
}

TEST_P(GzipEncoder, MemoryMemberDecodesWithItsTimeStamp) {
    TempWorkDir dir;
    const std::string& plain = GetParam().plain;
    const auto body = tvserver::GzipEncode(reinterpret_cast<const unsigned char*>(plain.data()),
                                           plain.size(), 1700000000u);
    TempWorkDir::Write("f.gz", std::string(body.begin(), body.end()));
    EXPECT_TRUE(Decode("f") == plain) << "decoded content differs";
    struct stat st {};
    ASSERT_EQ(::stat("f", &st), 0);
    EXPECT_EQ(st.st_mtime, 1700000000);
}

INSTANTIATE_TEST_SUITE_P(
    Samples, GzipEncoder,
    ::testing::Values(Sample{"Empty", ""}, Sample{"OneByte", "x"}, Sample{"TwoBytes", "xy"},
                      Sample{"LongRun", std::string(300000, 'a')}, Sample{"Text", Mixed(150000)},
                      // Several segments of input; matches across their joins.
                      Sample{"LongProse", Prose(700000)},
                      // Incompressible: stored blocks, 64 KiB boundaries.
                      Sample{"Random", Random(200000, 7)},
                      Sample{"RandomThenRun", Random(70000, 8) + std::string(70000, '\0')},
                      Sample{"WindowMinusOne", Prose(32767)}, Sample{"Window", Prose(32768)},
                      Sample{"WindowPlusOne", Prose(32769)}, Sample{"MaxDistance", RepeatAt(32768)},
                      Sample{"BeyondWindow", RepeatAt(32769)}),
    [](const ::testing::TestParamInfo<Sample>& i) { return std::string(i.param.name); });

// The match at distance 32768 is the window's last: it has to be found.
TEST(GzipEncoderWindow, UsesAMatchAtTheFullDistanceOnly) {
    TempWorkDir dir;
    for (int level : {tvserver::kGzipDefaultLevel, tvserver::kGzipBestLevel}) {
        const std::size_t inWindow = CompressFile(RepeatAt(32768), level).size();
        const std::size_t beyond = CompressFile(RepeatAt(32769), level).size();
        EXPECT_LT(inWindow + 1500, beyond) << "level " << level;
    }
}

TEST(GzipEncoderHeader, CarriesNameTimeStampAndLevelHint) {
    TempWorkDir dir;
    const std::string body = CompressFile("hello", tvserver::kGzipBestLevel, "Data/track.pak");
    const std::string expected = std::string("\x1F\x8B\x08\x08\x00\xF1\x53\x65\x02\xFF", 10) +
                                 "Data/track.pak" + std::string(1, '\0');
    EXPECT_EQ(body.substr(0, expected.size()), expected);
    EXPECT_EQ(Decode("f"), "hello");
    EXPECT_EQ(CompressFile("hello", 1).substr(0, 10),
              std::string("\x1F\x8B\x08\x00\x00\xF1\x53\x65\x04\xFF", 10));
}

TEST(GzipEncoderErrors, RefuseWithAMessageAndLeaveNoOutput) {
    TempWorkDir dir;
    TempWorkDir::Write("in", "data");
    struct Case {
        const char* in;
        const char* out;
        int level;
        std::string name;
        const char* message;
    } const cases[] = {
        {"missing", "f.gz", 6, "", "cannot open missing"},
        {"in", "no/such/dir/f.gz", 6, "", "cannot create no/such/dir/f.gz"},
        {".", "f.gz", 6, "", "cannot read ."},
        {"in", "f.gz", 0, "", "compression level 0"},
        {"in", "f.gz", 11, "", "compression level 11"},
        {"in", "f.gz", 6, std::string("a\0b", 3), "NUL"},
    };
    for (const Case& c : cases) {
        std::string error;
        EXPECT_FALSE(tvserver::GzipCompressFile(c.in, c.out, c.level, c.name, 0, error)) << c.in;
        EXPECT_NE(error.find(c.message), std::string::npos) << error;
        EXPECT_FALSE(std::filesystem::exists("f.gz")) << c.message;
    }
    std::string error;
    EXPECT_FALSE(tvserver::GzipCompressFile("in", "/dev/full", 6, "", 0, error));
    EXPECT_NE(error.find("cannot write /dev/full"), std::string::npos) << error;
    struct stat st {};
    EXPECT_EQ(::stat("/dev/full", &st), 0) << "a device is not ours to remove";
}

} // namespace

// The reference server's gzip encoder against the client's own decompressor:
// each checks the other, and neither shares code with the other.
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

struct Sample {
    const char* name;
    std::string plain;
};

void PrintTo(const Sample& c, std::ostream* os) {
    *os << c.name;
}

class GzipEncoder : public ::testing::TestWithParam<Sample> {};

TEST_P(GzipEncoder, MemberDecodesToTheInputWithItsTimeStamp) {
    TempWorkDir dir;
    const std::string& plain = GetParam().plain;
    const auto body = tvserver::GzipEncode(reinterpret_cast<const unsigned char*>(plain.data()),
                                           plain.size(), 1700000000u);
    TempWorkDir::Write("f.gz", std::string(body.begin(), body.end()));
    set_gunzip_exit_handler([](int32_t) { throw FatalError(); });
    int32_t status = -1;
    EXPECT_NO_THROW(status = decompress_file("f.gz"));
    set_gunzip_exit_handler(nullptr);
    ASSERT_EQ(status, 0);
    EXPECT_TRUE(TempWorkDir::Read("f") == plain) << "decoded content differs";
    struct stat st {};
    ASSERT_EQ(::stat("f", &st), 0);
    EXPECT_EQ(st.st_mtime, 1700000000);
}

INSTANTIATE_TEST_SUITE_P(
    Samples, GzipEncoder,
    ::testing::Values(Sample{"Empty", ""}, Sample{"OneByte", "x"},
                      Sample{"LongRun", std::string(300000, 'a')}, Sample{"Text", Mixed(150000)},
                      // Incompressible: stored blocks, 64 KiB boundaries.
                      Sample{"Random",
                             [] {
                                 std::string s(200000, '\0');
                                 unsigned x = 7;
                                 for (char& c : s)
                                     c = static_cast<char>((x = x * 1664525u + 1013904223u) >> 24);
                                 return s;
                             }()},
                      // A repeat just inside the 32 KiB window.
                      Sample{"FarMatch", Mixed(32768) + Mixed(40000)}),
    [](const ::testing::TestParamInfo<Sample>& i) { return std::string(i.param.name); });

} // namespace

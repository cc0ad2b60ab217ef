// The input/output layer: CRC-32, block-wise input, failed reads and writes
// through the system call table, and the real process exit of the tool.

#include <sys/wait.h>

#include "harness.h"

namespace gztest {
namespace {

TEST(Crc32, MatchesCheckValueAndReadsWithoutChanging) {
    EXPECT_EQ(crc32_update(nullptr, 0), 0u);
    EXPECT_EQ(crc32_update("123456789", 9), 0xCBF43926u);
    EXPECT_EQ(crc32_update("", 0), 0xCBF43926u);
    crc32_update(nullptr, 0);
    const char* split = "The quick brown fox jumps over the lazy dog";
    crc32_update(split, 10);
    EXPECT_EQ(crc32_update(split + 10, 33), 0x414FA339u);
    crc32_update(nullptr, 0);
    EXPECT_EQ(crc32_update("", 0), 0u);
}

// Long runs take the folding paths (16-byte and, from 256 bytes, 64-byte
// lanes), short ones the table: all agree at every length and alignment.
TEST(Crc32, LongAndShortRunsAgree) {
    std::string data(5100, '\0');
    uint32_t seed = 1;
    for (char& ch : data)
        ch = static_cast<char>((seed = seed * 1103515245u + 12345u) >> 24);
    for (size_t len : {63u, 64u, 65u, 127u, 128u, 200u, 255u, 256u, 257u, 335u, 511u, 512u, 591u,
                       1024u, 4999u}) {
        for (size_t at : {0u, 1u, 7u}) {
            crc32_update(nullptr, 0);
            uint32_t whole = crc32_update(data.data() + at, len);
            crc32_update(nullptr, 0);
            uint32_t bytewise = 0;
            for (size_t i = 0; i < len; ++i)
                bytewise = crc32_update(data.data() + at + i, 1);
            EXPECT_EQ(whole, bytewise) << "length " << len << " at " << at;
        }
    }
}

TEST(DrainWindow, WritesNothingWhenEmpty) {
    window_fill = 0;
    bytes_written_total = 0;
    output_fd = -1; // any write would fail
    crc32_update(nullptr, 0);
    drain_window();
    EXPECT_EQ(bytes_written_total, 0);
    EXPECT_EQ(crc32_update("", 0), 0u);
}

// Short reads of one byte at a time are merged into full blocks.
TEST_F(GunzipTest, MergesShortReads) {
    tvhost::crt::syscalls.read = [](int fd, void* buf, size_t n) {
        return ::read(fd, buf, n > 0 ? 1 : 0);
    };
    WriteFile("t.gz", Fixture("trailer_at_block_end_then_member", TV_GZIP_LARGE));
    Outcome o = Run("t.gz");
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_TRUE(ReadFile("t") == Expected("trailer_at_block_end_then_member", TV_GZIP_LARGE));
}

int g_writes_left;

TEST_F(GunzipTest, FullDiskIsFatalAndDeletesPartialOutput) {
    g_writes_left = 3;
    tvhost::crt::syscalls.write = [](int fd, const void* buf, size_t n) -> ssize_t {
        if (g_writes_left-- > 0)
            return ::write(fd, buf, n);
        errno = ENOSPC;
        return -1;
    };
    WriteFile("big.gz", Fixture("big_text", TV_GZIP_LARGE));
    Outcome o = Run("big.gz");
    EXPECT_TRUE(o.fatal);
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err, "\ngzip: big: No space left on device\n");
    EXPECT_FALSE(fs::exists("big"));
    EXPECT_TRUE(fs::exists("big.gz"));
    EXPECT_FALSE(output_incomplete);
}

TEST_F(GunzipTest, PartialWritesAreCompleted) {
    tvhost::crt::syscalls.write = [](int fd, const void* buf, size_t n) -> ssize_t {
        return ::write(fd, buf, n > 1000 ? 1000 : n);
    };
    WriteFile("big.gz", Fixture("big_noise", TV_GZIP_LARGE));
    EXPECT_EQ(Run("big.gz").status, 0);
    EXPECT_TRUE(ReadFile("big") == Expected("big_noise", TV_GZIP_LARGE));
}

TEST_F(GunzipTest, FailedReadIsFatalWithItsErrorText) {
    tvhost::crt::syscalls.read = [](int, void*, size_t) -> ssize_t {
        errno = EIO;
        return -1;
    };
    WriteFile("t.gz", Fixture("text"));
    Outcome o = Run("t.gz");
    EXPECT_TRUE(o.fatal);
    EXPECT_EQ(o.err, "\ngzip: t.gz: Input/output error\n");
    EXPECT_TRUE(fs::exists("t.gz"));
}

// The product's fatal path really ends the process with exit code 1.
int RunTool(const std::vector<std::string>& args, std::string* err) {
    std::string cmd = std::string(TV_DECOMPRESS_FILE);
    for (const auto& a : args)
        cmd += " '" + a + "'";
    cmd += " 2>tool_err.txt";
    int rc = std::system(cmd.c_str());
    *err = ReadFile("tool_err.txt");
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

TEST_F(GunzipTest, ToolExitsWithFirstNonZeroStatus) {
    std::string err;
    WriteFile("a.gz", Fixture("text"));
    WriteFile("b.gz", Fixture("trailing_garbage"));
    WriteFile("c.gz", Fixture("text"));
    EXPECT_EQ(RunTool({"a.gz", "b.gz", "c.gz"}, &err), 2);
    EXPECT_TRUE(fs::exists("a") && fs::exists("b"));
    EXPECT_TRUE(fs::exists("c.gz")) << "stops after the first non-zero status";

    WriteFile("bad.gz", Fixture("bad_crc"));
    WriteFile("d.gz", Fixture("text"));
    EXPECT_EQ(RunTool({"bad.gz", "d.gz"}, &err), 1);
    EXPECT_EQ(err, "\ngzip: bad.gz: invalid compressed data--crc error\n");
    EXPECT_FALSE(fs::exists("bad"));
    EXPECT_TRUE(fs::exists("bad.gz"));
    EXPECT_TRUE(fs::exists("d.gz"));
    EXPECT_EQ(RunTool({"c.gz"}, &err), 0);
}

} // namespace
} // namespace gztest

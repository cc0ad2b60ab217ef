// The input/output layer: CRC-32, block-wise input, failed reads and writes
// through the system call table, and the real process exit of the tool.

#ifndef _WIN32
#include <sys/wait.h>
#endif

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
    crtsys::syscalls.read = [](int fd, void* buf, sys_count n) -> sys_result {
        return ::read(fd, buf, n > 0 ? 1 : 0);
    };
    WriteBytes("t.gz", Fixture("trailer_at_block_end_then_member", TV_GZIP_LARGE));
    Outcome o = Run("t.gz");
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_TRUE(ReadBytes("t") == Expected("trailer_at_block_end_then_member", TV_GZIP_LARGE));
}

int g_writes_left;

TEST_F(GunzipTest, FullDiskIsFatalAndDeletesPartialOutput) {
    g_writes_left = 3;
    crtsys::syscalls.write = [](int fd, const void* buf, sys_count n) -> sys_result {
        if (g_writes_left-- > 0)
            return ::write(fd, buf, n);
        errno = ENOSPC;
        return -1;
    };
    WriteBytes("big.gz", Fixture("big_text", TV_GZIP_LARGE));
    Outcome o = Run("big.gz");
    EXPECT_TRUE(o.fatal);
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err, std::string("\ngzip: big: ") + crt_error_text(ENOSPC) + "\n");
    EXPECT_FALSE(fs::exists("big"));
    EXPECT_TRUE(fs::exists("big.gz"));
    EXPECT_FALSE(output_incomplete);
}

TEST_F(GunzipTest, PartialWritesAreCompleted) {
    crtsys::syscalls.write = [](int fd, const void* buf, sys_count n) -> sys_result {
        return ::write(fd, buf, n > 1000 ? 1000 : n);
    };
    WriteBytes("big.gz", Fixture("big_noise", TV_GZIP_LARGE));
    EXPECT_EQ(Run("big.gz").status, 0);
    EXPECT_TRUE(ReadBytes("big") == Expected("big_noise", TV_GZIP_LARGE));
}

TEST_F(GunzipTest, FailedReadIsFatalWithItsErrorText) {
    crtsys::syscalls.read = [](int, void*, sys_count) -> sys_result {
        errno = EIO;
        return -1;
    };
    WriteBytes("t.gz", Fixture("text"));
    Outcome o = Run("t.gz");
    EXPECT_TRUE(o.fatal);
    EXPECT_EQ(o.err, std::string("\ngzip: t.gz: ") + crt_error_text(EIO) + "\n");
    EXPECT_TRUE(fs::exists("t.gz"));
}

// The product's fatal path really ends the process with exit code 1.
int RunTool(const std::vector<std::string>& args, std::string* err) {
#ifdef _WIN32
    const char* quote = "\"";
#else
    const char* quote = "'";
#endif
    std::string cmd = std::string(quote) + TV_DECOMPRESS_FILE + quote;
    for (const auto& a : args)
        cmd += std::string(" ") + quote + a + quote;
    cmd += " 2>tool_err.txt";
#ifdef _WIN32
    cmd = quote + cmd + quote; // cmd.exe /c drops the outer pair
#endif
    int rc = std::system(cmd.c_str());
    *err = ReadBytes("tool_err.txt");
#ifdef _WIN32
    // Standard error is a text stream there: every line ends in CR LF.
    std::erase(*err, '\r');
    return rc;
#else
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
#endif
}

TEST_F(GunzipTest, ToolExitsWithFirstNonZeroStatus) {
    std::string err;
    WriteBytes("a.gz", Fixture("text"));
    WriteBytes("b.gz", Fixture("trailing_garbage"));
    WriteBytes("c.gz", Fixture("text"));
    EXPECT_EQ(RunTool({"a.gz", "b.gz", "c.gz"}, &err), 2);
    EXPECT_TRUE(fs::exists("a") && fs::exists("b"));
    EXPECT_TRUE(fs::exists("c.gz")) << "stops after the first non-zero status";

    WriteBytes("bad.gz", Fixture("bad_crc"));
    WriteBytes("d.gz", Fixture("text"));
    EXPECT_EQ(RunTool({"bad.gz", "d.gz"}, &err), 1);
    EXPECT_EQ(err, "\ngzip: bad.gz: invalid compressed data--crc error\n");
    EXPECT_FALSE(fs::exists("bad"));
    EXPECT_TRUE(fs::exists("bad.gz"));
    EXPECT_TRUE(fs::exists("d.gz"));
    EXPECT_EQ(RunTool({"c.gz"}, &err), 0);
}

// A gzip member whose DEFLATE stream is cut a few bytes after a block
// boundary (random data at level 6, cut at 138 bytes): the next block starts
// with fewer than 16 bytes left in the input, where the decoder once took
// bytes past the end of the block for input and ran on through memory. Run
// as the tool, so that memory is laid out as in the product.
TEST_F(GunzipTest, BlockStartingNearEndOfCutInputEndsAtEndOfInput) {
    static const char kCut[] = "\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03\x3c\x8c\x31\x0a\x03\x41"
                               "\x0c\xc4\xbe\xa2\xaf\x39\x9c\x8d\xa7\x59\xc3\xda\xe1\xb8\xdf\xa7"
                               "\xd8\x24\x95\x18\xd0\x68\xd2\x51\x73\x6b\x92\x0a\xb4\xd0\x30\xe9"
                               "\x44\x6d\x6a\x61\x4c\xda\xf0\x72\x6c\x48\x35\x4f\xbd\x99\xf4\x3f"
                               "\x53\x8d\xad\x0b\xf5\x99\x4e\x05\x36\xd4\x22\x6a\x93\x6a\xa2\x36"
                               "\x9a\x5f\xea\xdb\x3f\x7f\x35\xb7\x1d\xc3\x50\x93\x8e\x61\xcd\x14"
                               "\x15\x54\x60\xeb\xfa\x10\x41\x06\x39\x10\xc3\x20\x0c\xfc\x8a\xbf"
                               "\xe6\x2a\xac\xe0\x02\x52\xc2\x2a\xea\xef\xf7\xe0\xb4\x7b\x43\x80"
                               "\x0d\x1e\xb4\x1b\xda\xed\x46\x34\xb8\x5e";
    WriteBytes("c.gz", std::string(kCut, sizeof kCut - 1));
    std::string err;
    EXPECT_EQ(RunTool({"c.gz"}, &err), 1);
    EXPECT_EQ(err, "\ngzip: c.gz: unexpected end of file\n");
    EXPECT_FALSE(fs::exists("c"));
    EXPECT_TRUE(fs::exists("c.gz"));
}

} // namespace
} // namespace gztest

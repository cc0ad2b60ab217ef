// LZW, pack and LZH files through decompress_file, file in and file out: the
// decoders and the driver's handling of their containers together.
//
// Fixtures come from tests/fixtures/gen_legacy.py: small ones committed,
// large and boundary ones made at build time. NAME.gz decodes to
// NAME.expected; damaged files have no .expected.

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "gunzip/gunzip.h"
#include "gunzip/shared.h"
#include "platform/crt_io.h"
#include "syscall_seam.h"

namespace fs = std::filesystem;
using namespace gunzip;

namespace {

struct Aborted {
    int32_t code;
};

[[noreturn]] void throw_aborted(int32_t code) {
    throw Aborted{code};
}

std::string read_file(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

struct Outcome {
    bool returned = false; // false: the fatal path ended the "process"
    int32_t status = -1;   // decompress_file's result when it returned
    int32_t exit_code = 0; // the exit code of the fatal path
    std::string diagnostics;
};

class LegacyFormats : public testing::Test {
  protected:
    void SetUp() override {
        static int serial = 0;
        dir_ = fs::temp_directory_path() /
               ("tv-legacy-" + std::to_string(::getpid()) + "-" + std::to_string(++serial));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        set_gunzip_exit_handler(throw_aborted);
    }
    void TearDown() override {
        set_gunzip_exit_handler(nullptr);
        crtsys::ResetSyscalls();
        fs::remove_all(dir_);
    }

    // Copies a fixture (or given bytes) into the scratch directory.
    fs::path place(const fs::path& fixture) {
        fs::path p = dir_ / fixture.filename();
        fs::copy_file(fixture, p, fs::copy_options::overwrite_existing);
        return p;
    }
    fs::path place_bytes(const std::string& name, const std::string& bytes) {
        fs::path p = dir_ / name;
        std::ofstream(p, std::ios::binary) << bytes;
        return p;
    }

    Outcome run(const fs::path& input) {
        Outcome o;
        testing::internal::CaptureStderr();
        try {
            o.status = decompress_file(input.string().c_str());
            o.returned = true;
        } catch (const Aborted& a) {
            o.exit_code = a.code;
            if (input_fd >= 0) { // the process would have ended: nothing closes it
                crt_close(input_fd);
                input_fd = -1;
            }
        }
        o.diagnostics = testing::internal::GetCapturedStderr();
        return o;
    }

    fs::path dir_;
};

fs::path small_fixture(const std::string& name) {
    return fs::path(TV_LEGACY_FIXTURES) / (name + ".gz");
}

// ------------------------------------------------------------ decodable files

struct GoodCase {
    const char* name;
    int32_t status;
};

void PrintTo(const GoodCase& c, std::ostream* os) {
    *os << c.name;
}

class DecodesLegacyFile : public LegacyFormats, public testing::WithParamInterface<GoodCase> {};

void expect_decoded(const Outcome& o, const fs::path& in, const fs::path& expected,
                    int32_t status) {
    ASSERT_TRUE(o.returned) << o.diagnostics;
    EXPECT_EQ(o.status, status) << o.diagnostics;
    EXPECT_EQ(o.diagnostics, "") << "quiet mode writes no warnings";
    fs::path out = in;
    out.replace_extension();
    ASSERT_TRUE(fs::exists(out));
    std::string got = read_file(out), want = read_file(expected);
    EXPECT_EQ(got.size(), want.size());
    EXPECT_TRUE(got == want) << "output differs from " << expected;
    EXPECT_FALSE(fs::exists(in)) << "the compressed file is deleted after success";
}

TEST_P(DecodesLegacyFile, ToExpectedBytes) {
    const GoodCase& c = GetParam();
    fs::path in = place(small_fixture(c.name));
    fs::path expected = fs::path(TV_LEGACY_FIXTURES) / (std::string(c.name) + ".expected");
    expect_decoded(run(in), in, expected, c.status);
}

const GoodCase kGoodCases[] = {
    {"lzw_header_only", 0},       // three header bytes: empty output
    {"lzw_clear_at_end", 0},      // CLEAR's group boundary past the end ends decoding
    {"lzw_text_16", 0},           // realistic text, block mode, up to 16 bits
    {"lzw_max_9", 0},             // table full at 511, width still grows to 10
    {"lzw_max_12_clear", 0},      // CLEAR every 300 codes, widths 9..12 again and again
    {"lzw_no_block_mode", 0},     // code 256 is an ordinary string
    {"lzw_max_8", 0},             // below 9 bits: 9-bit codes, nothing ever assigned
    {"lzw_self_reference", 0},    // codes equal to the next free code
    {"lzw_unknown_flags", 2},     // reserved flag bit: warning status, data intact
    {"pack_text", 0},             // realistic text
    {"pack_single_byte", 0},      // L = 1: bit 0 is the byte, bit 1 the end
    {"pack_empty", 0},            // only the end-of-data code
    {"pack_long_codes", 0},       // codes of 13..18 bits, past the 12-bit table
    {"pack_longest_25", 0},       // the longest length accepted
    {"pack_two_members", 0},      // two pack members: outputs concatenated
    {"pack_then_gzip", 0},        // a gzip member right after the pack member's last byte
    {"lzh_end_only", 0},          // a block size of 0 first: empty output
    {"lzh_text_blocks", 0},       // several blocks with their own codes
    {"lzh_single_symbols", 0},    // single-symbol codes: symbols take no bits
    {"lzh_vine_codes", 0},        // codes longer than the tables: tree links
    {"lzh_match_across_fill", 0}, // a match across the 8192-byte fill; distance 8192
    {"lzh_truncated_single", 0},  // no end marker: zero bits finish the block and the stream
    {"lzh_trailing_bytes", 0},    // bytes after the end of an LZH stream are never read
};

INSTANTIATE_TEST_SUITE_P(Small, DecodesLegacyFile, testing::ValuesIn(kGoodCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Large and boundary files made at build time: input across several 32768-byte
// blocks and exactly one, LZW output at 16384-byte staging edges, LZH output
// at 8192-byte fill edges, widths up to 16 bits with a full table.
TEST_F(LegacyFormats, DecodesLargeAndBoundaryFiles) {
    int seen = 0;
    for (const auto& e : fs::directory_iterator(TV_LEGACY_LARGE)) {
        if (e.path().extension() != ".gz")
            continue;
        SCOPED_TRACE(e.path().filename().string());
        fs::path in = place(e.path());
        fs::path expected = e.path();
        expected.replace_extension(".expected");
        expect_decoded(run(in), in, expected, 0);
        ++seen;
    }
    EXPECT_GT(seen, 0) << "large fixtures missing in " << TV_LEGACY_LARGE;
}

// ------------------------------------------------------------ damaged files

constexpr const char* kFormatViolated = "invalid compressed data--format violated";

struct BadCase {
    const char* name;
    bool fatal;          // fatal path (exit code 1) rather than a returned status 1
    const char* message; // the text after "gzip: NAME: "
};

void PrintTo(const BadCase& c, std::ostream* os) {
    *os << c.name;
}

class RefusesLegacyFile : public LegacyFormats, public testing::WithParamInterface<BadCase> {};

TEST_P(RefusesLegacyFile, WithItsDiagnostic) {
    const BadCase& c = GetParam();
    fs::path in = place(small_fixture(c.name));
    Outcome o = run(in);
    std::string expected = "\ngzip: " + in.string() + ": " + c.message + "\n";
    EXPECT_EQ(o.diagnostics, expected);
    if (c.fatal) {
        EXPECT_FALSE(o.returned);
        EXPECT_EQ(o.exit_code, 1);
    } else {
        EXPECT_TRUE(o.returned);
        EXPECT_EQ(o.status, 1);
    }
    fs::path out = in;
    out.replace_extension();
    EXPECT_FALSE(fs::exists(out)) << "the partial output is deleted";
    EXPECT_TRUE(fs::exists(in)) << "the compressed file stays";
}

const BadCase kBadCases[] = {
    {"lzw_17bits", false, "compressed with 17 bits, can only handle 16 bits"},
    {"lzw_first_code_not_literal", true, "corrupt input."},
    {"lzw_code_beyond_table", true, "corrupt input. Use zcat to recover some data."},
    // the table is full, so the next free code can never be defined
    {"lzw_full_table_self_reference", true, "corrupt input. Use zcat to recover some data."},
    {"pack_longest_26", true, "invalid compressed data -- Huffman code > 32 bits"},
    {"pack_too_many_leaves", true, "too many leaves in Huffman tree"},
    {"pack_length_error", true, "invalid compressed data--length error"},
    {"pack_truncated", true, "unexpected end of file"},
    {"pack_longest_0", true, kFormatViolated},
    {"pack_overfull", true, kFormatViolated},       // three 1-bit codes
    {"pack_overfull_inner", true, kFormatViolated}, // three codes at depth 2 under one node
    {"pack_overfull_root", true, kFormatViolated},  // levels pair up, the root does not
    {"pack_incomplete", true, kFormatViolated},     // a code value with no leaf
    {"lzh_bad_table", true, "Bad table\n"},
    {"lzh_cl_count_beyond", true, kFormatViolated},   // 20 lengths for 19 symbols
    {"lzh_cl_single_beyond", true, kFormatViolated},  // single symbol 19 of 19
    {"lzh_length_above_16", true, kFormatViolated},   // a 17-bit length
    {"lzh_lit_count_beyond", true, kFormatViolated},  // 511 lengths for 510 symbols
    {"lzh_lit_single_beyond", true, kFormatViolated}, // single symbol 510 of 510
    {"lzh_zero_run_past_end", true, kFormatViolated}, // 531 zero lengths
    {"lzh_pos_count_beyond", true, kFormatViolated},  // 15 lengths for 14 symbols
    {"lzh_pos_single_beyond", true, kFormatViolated}, // single symbol 14 of 14
    {"lzh_lit_all_zero", true, kFormatViolated},      // an empty code
    {"lzh_pos_double_full", true, kFormatViolated},   // fills its space twice
};

INSTANTIATE_TEST_SUITE_P(Damaged, RefusesLegacyFile, testing::ValuesIn(kBadCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ------------------------------------------------------------ driver interplay

TEST_F(LegacyFormats, PackMemberFollowedByGarbageIsAWarning) {
    std::string bytes = read_file(small_fixture("pack_text")) + "xyz";
    fs::path in = place_bytes("trailing.gz", bytes);
    Outcome o = run(in);
    ASSERT_TRUE(o.returned) << o.diagnostics;
    EXPECT_EQ(o.status, 2);
    EXPECT_EQ(read_file(dir_ / "trailing"),
              read_file(fs::path(TV_LEGACY_FIXTURES) / "pack_text.expected"));
    EXPECT_FALSE(fs::exists(in));
}

// The LZW decoder reads the file itself after the driver's first block; a
// failing read there is fatal with the runtime's message for the input.
int input_reads;
sys_result fail_third_read(int fd, void* buf, sys_count n) {
    // 1: the driver's block, 2: its end of file, 3: the decoder's own read
    if (fd == input_fd && ++input_reads == 3) {
        errno = EIO;
        return -1;
    }
    return ::read(fd, buf, n);
}

TEST_F(LegacyFormats, LzwReadFailureIsFatal) {
    fs::path in = place(small_fixture("lzw_header_only"));
    input_reads = 0;
    crtsys::syscalls.read = fail_third_read;
    Outcome o = run(in);
    EXPECT_FALSE(o.returned);
    EXPECT_EQ(o.exit_code, 1);
    EXPECT_EQ(o.diagnostics, "\ngzip: " + in.string() + ": " + crt_error_text(EIO) + "\n");
    EXPECT_FALSE(fs::exists(dir_ / "lzw_header_only"));
    EXPECT_TRUE(fs::exists(in));
}

} // namespace

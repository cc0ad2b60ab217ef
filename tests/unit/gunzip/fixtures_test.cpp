// Every small fixture through decompress_file: status, standard error text,
// and what becomes of the input and the output.

#include "harness.h"

namespace gztest {
namespace {

enum class Fate { kOk, kWarning, kError, kFatal };

struct Case {
    const char* name;
    Fate fate;
    const char* err; // exact standard error; "%s" stands for NAME.gz
};

std::string Expand(const char* text, const std::string& input) {
    std::string out = text;
    for (size_t at; (at = out.find("%s")) != std::string::npos;)
        out.replace(at, 2, input);
    return out;
}

const char* const kFormat = "\ngzip: %s: invalid compressed data--format violated\n";

const Case kCases[] = {
    // Main paths and header fields.
    {"text", Fate::kOk, ""},
    {"empty", Fate::kOk, ""},
    {"header_fields", Fate::kOk, ""},
    {"old_magic", Fate::kOk, ""},
    {"mtime_zero", Fate::kOk, ""},
    {"mtime_negative", Fate::kWarning, ""},
    {"two_members", Fate::kOk, ""},
    {"trailing_garbage", Fate::kWarning, ""},
    {"trailing_zeros", Fate::kWarning, ""},
    // DEFLATE edge streams that decode.
    {"stored_len0", Fate::kOk, ""},
    {"stored_two", Fate::kOk, ""},
    {"fixed_eob_only", Fate::kOk, ""},
    {"dist1_len258", Fate::kOk, ""},
    {"overlap_copies", Fate::kOk, ""},
    {"dynamic_no_distances", Fate::kOk, ""},
    {"single_distance_code", Fate::kOk, ""},
    {"repeat16_first", Fate::kOk, ""},
    // Invalid DEFLATE data.
    {"block_type3", Fate::kFatal, kFormat},
    {"stored_nlen_mismatch", Fate::kFatal, kFormat},
    {"fixed_lit286", Fate::kFatal, kFormat},
    {"fixed_dist30", Fate::kFatal, kFormat},
    {"hlit_287", Fate::kFatal, kFormat},
    {"hdist_31", Fate::kFatal, kFormat},
    {"cl_oversubscribed", Fate::kFatal, kFormat},
    {"cl_incomplete", Fate::kFatal, kFormat},
    {"repeat_past_end", Fate::kFatal, kFormat},
    {"oversubscribed_literal_tree", Fate::kFatal, kFormat},
    {"incomplete_literal_tree", Fate::kFatal,
     " incomplete literal tree\n\ngzip: %s: invalid compressed data--format violated\n"},
    {"incomplete_distance_tree", Fate::kFatal,
     " incomplete distance tree\n\ngzip: %s: invalid compressed data--format violated\n"},
    {"dynamic_length_without_distances", Fate::kFatal, kFormat},
    {"single_distance_unused_code", Fate::kFatal, kFormat},
    // gzip container failures.
    {"bad_crc", Fate::kFatal, "\ngzip: %s: invalid compressed data--crc error\n"},
    {"bad_length", Fate::kFatal, "\ngzip: %s: invalid compressed data--length error\n"},
    {"truncated", Fate::kFatal, "\ngzip: %s: unexpected end of file\n"},
    {"empty_file", Fate::kFatal, "\ngzip: %s: unexpected end of file\n"},
    {"one_trailing_byte", Fate::kFatal, "\ngzip: %s: unexpected end of file\n"},
    {"not_gzip", Fate::kError, "\ngzip: %s: not in gzip format\n"},
    {"method7", Fate::kError, "gzip: %s: unknown method 7 -- get newer version of gzip\n"},
    {"second_member_method7", Fate::kError,
     "gzip: %s: unknown method 7 -- get newer version of gzip\n"},
    {"flag_encrypted", Fate::kError, "gzip: %s is encrypted -- get newer version of gzip\n"},
    {"flag_multipart", Fate::kError,
     "gzip: %s is a a multi-part gzip file -- get newer version of gzip\n"},
    {"flag_reserved", Fate::kError, "gzip: %s has flags 0x40 -- get newer version of gzip\n"},
    // PKZIP.
    {"zip_deflated", Fate::kOk, ""},
    {"zip_stored", Fate::kOk, ""},
    {"zip_stored_descriptor", Fate::kOk, ""},
    {"zip_deflated_descriptor", Fate::kOk, ""},
    {"zip_two_entries", Fate::kError, "gzip: %s has more than one entry -- unchanged\n"},
    {"zip_method12", Fate::kError, "\ngzip: %s: first entry not deflated or stored -- use unzip\n"},
    {"zip_encrypted", Fate::kError, "\ngzip: %s: encrypted file -- use unzip\n"},
    {"zip_header_beyond", Fate::kError, "\ngzip: %s: not a valid zip file\n"},
    {"zip_ends_inside_lookup", Fate::kFatal, "\ngzip: %s: unexpected end of file\n"},
    {"zip_byte_after_lookup", Fate::kOk, ""},
    {"zip_size_mismatch", Fate::kFatal,
     "len 5000, siz 4999\n\ngzip: %s: invalid compressed data--length mismatch\n"},
};

class FixtureCase : public GunzipTest, public ::testing::WithParamInterface<Case> {};

TEST_P(FixtureCase, GivesStatusTextAndFilesOfItsRow) {
    const Case& c = GetParam();
    std::string input = std::string(c.name) + ".gz";
    WriteBytes(input, Fixture(c.name));
    Outcome o = Run(input);

    EXPECT_EQ(o.err, Expand(c.err, input));
    EXPECT_EQ(o.fatal, c.fate == Fate::kFatal);
    int32_t want = c.fate == Fate::kOk ? 0 : c.fate == Fate::kWarning ? 2 : 1;
    EXPECT_EQ(o.status, want);
    bool success = c.fate == Fate::kOk || c.fate == Fate::kWarning;
    EXPECT_EQ(fs::exists(input), !success) << "input after " << c.name;
    ASSERT_EQ(fs::exists(c.name), success) << "output after " << c.name;
    if (success) {
        EXPECT_TRUE(ReadBytes(c.name) == Expected(c.name)) << "output of " << c.name;
    }
    EXPECT_FALSE(output_incomplete);
}

INSTANTIATE_TEST_SUITE_P(Gzip, FixtureCase, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

// The window keeps what earlier streams left: a distance before the start of
// the output reads it instead of failing.
TEST_F(GunzipTest, DistanceBeforeOutputReadsFreshWindowAsZeros) {
    std::memset(window_buffer, 0, kWindowSize);
    WriteBytes("d.gz", Fixture("distance_before_start"));
    Outcome o = Run("d.gz");
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(ReadBytes("d"), Expected("distance_before_start"));
}

TEST_F(GunzipTest, DistanceBeforeMemberReadsPreviousMemberByPosition) {
    WriteBytes("w.gz", Fixture("window_from_previous_member", TV_GZIP_LARGE));
    Outcome o = Run("w.gz");
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_TRUE(ReadBytes("w") == Expected("window_from_previous_member", TV_GZIP_LARGE));
}

// Large data and the 32768-byte input block boundary.
TEST_F(GunzipTest, LargeFilesAndBlockBoundaries) {
    const char* const ok[] = {"big_text",
                              "big_noise",
                              "trailer_at_block_end",
                              "trailer_at_block_end_then_member",
                              "trailer_across_block_end",
                              "window_wrap",
                              "many_members"};
    for (const char* name : ok) {
        std::string input = std::string(name) + ".gz";
        WriteBytes(input, Fixture(name, TV_GZIP_LARGE));
        Outcome o = Run(input);
        EXPECT_EQ(o.status, 0) << name << ": " << o.err;
        EXPECT_FALSE(fs::exists(input)) << name;
        EXPECT_TRUE(ReadBytes(name) == Expected(name, TV_GZIP_LARGE)) << name;
    }
    WriteBytes("m.gz", Fixture("file_multiple_of_block", TV_GZIP_LARGE));
    Outcome o = Run("m.gz");
    EXPECT_TRUE(o.fatal);
    EXPECT_EQ(o.err, "\ngzip: m.gz: unexpected end of file\n");
    EXPECT_FALSE(fs::exists("m"));
    EXPECT_TRUE(fs::exists("m.gz"));
}

} // namespace
} // namespace gztest

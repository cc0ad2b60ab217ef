// Scrambling and the version record: formatting, parsing, and the File.ver
// round trip through real files.
#include "install/version_record.h"
#include "temp_dir.h"

#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <ostream>
#include <string>

namespace {

std::string Scrambled(std::string text) {
    ScrambleText(text.data());
    return text;
}

TEST(Scramble, EveryByteButTheKeyRoundTrips) {
    std::string all;
    for (int c = 1; c < 256; ++c)
        if (c != 0x8D)
            all += static_cast<char>(c);
    std::string text = all;
    ScrambleText(text.data());
    EXPECT_EQ(text.find('\0'), std::string::npos);
    EXPECT_NE(text, all);
    UnscrambleText(text.data());
    EXPECT_EQ(text, all);
}

TEST(Scramble, XorsThenRotatesLeftAndStopsAtTheFirstZeroOfItsInput) {
    // 'A' = 0x41; 0x41 ^ 0x8D = 0xCC; rotated left: 0x99.
    char text[] = {'A', '\x8D', 'A', '\0', 'A', '\0'};
    ScrambleText(text);
    EXPECT_EQ(static_cast<unsigned char>(text[0]), 0x99);
    EXPECT_EQ(text[1], '\0') << "the key byte scrambles to zero";
    EXPECT_EQ(static_cast<unsigned char>(text[2]), 0x99) << "a zero it produced does not stop it";
    EXPECT_EQ(text[4], 'A') << "bytes after the input's zero stay as they are";
    UnscrambleText(text);
    EXPECT_EQ(text[0], 'A');
    EXPECT_EQ(static_cast<unsigned char>(text[2]), 0x99)
        << "unscrambling stops at the zero the key produced; the rest stays scrambled";
}

struct FormatCase {
    DWORD v0, v1;
    const char* text;
};

void PrintTo(const FormatCase& c, std::ostream* os) {
    *os << c.text;
}

class RecordFormat : public ::testing::TestWithParam<FormatCase> {};

TEST_P(RecordFormat, WritesSignedDecimalAndHexCheckAndReadsBack) {
    const FormatCase& c = GetParam();
    const DWORD version[2] = {c.v0, c.v1};
    char text[kVersionRecordMax];
    const int n = FormatVersionRecord(version, text);
    EXPECT_STREQ(text, c.text);
    EXPECT_EQ(n, static_cast<int>(std::strlen(c.text)));
    DWORD back[2] = {0, 0};
    EXPECT_EQ(ParseVersionRecord(text, back), VersionRecordStatus::Valid);
    EXPECT_EQ(back[0], c.v0);
    EXPECT_EQ(back[1], c.v1);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RecordFormat,
    ::testing::Values(FormatCase{5, 7, "1 5 7 4"}, FormatCase{30, 2, "1 30 2 b"},
                      FormatCase{0, 0, "1 0 0 0"},
                      FormatCase{4294967295u, 0, "1 -1 0 0"}, // the sum wraps to 0
                      FormatCase{2147483647u, 1, "1 2147483647 1 d5555556"},
                      FormatCase{0x80000000u, 0xFFFFFFFDu, "1 -2147483648 -3 2aaaaaaa"},
                      FormatCase{4294967288u, 0, "1 -8 0 fffffffe"}, // -7 / 3 is -2, not -3
                      FormatCase{4294967294u, 4294967295u, "1 -2 -1 0"}));

struct ReadCase {
    const char* name;
    std::string plain; // written scrambled to File.ver
    VersionRecordStatus status;
    DWORD v0, v1;
};

void PrintTo(const ReadCase& c, std::ostream* os) {
    *os << c.name;
}

class RecordRead : public ::testing::TestWithParam<ReadCase> {};

TEST_P(RecordRead, ClassifiesTheStoredRecord) {
    TempWorkDir dir;
    const ReadCase& c = GetParam();
    TempWorkDir::Write("File.ver", Scrambled(c.plain));
    DWORD version[2] = {99, 99};
    EXPECT_EQ(ReadVersionRecordFile("File.ver", version), c.status);
    // Whatever the outcome, the pair holds the numbers the text yielded.
    EXPECT_EQ(version[0], c.v0);
    EXPECT_EQ(version[1], c.v1);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RecordRead,
    ::testing::Values(
        ReadCase{"Valid", "1 5 7 4", VersionRecordStatus::Valid, 5, 7},
        ReadCase{"NegativeValues", "1 -1 0 0", VersionRecordStatus::Valid, 4294967295u, 0},
        ReadCase{"NegativeCheck", "1 2147483647 1 d5555556", VersionRecordStatus::Valid,
                 2147483647u, 1},
        ReadCase{"UpperCaseHexAndPrefix", "1 30 2 0XB", VersionRecordStatus::Valid, 30, 2},
        ReadCase{"WrongFormatWithGoodCheck", "2 10 20 a", VersionRecordStatus::WrongFormat, 10, 20},
        ReadCase{"WrongFormatAndBadCheckIsDamaged", "2 10 20 b", VersionRecordStatus::Damaged, 10,
                 20},
        ReadCase{"BadCheck", "1 5 7 5", VersionRecordStatus::Damaged, 5, 7},
        ReadCase{"DecimalCheckIsNotHex", "1 30 2 11", VersionRecordStatus::Damaged, 30, 2},
        ReadCase{"ThreeNumbers", "1 5 7", VersionRecordStatus::Damaged, 5, 7},
        ReadCase{"NotNumbers", "one five", VersionRecordStatus::Damaged, 0, 0},
        ReadCase{"EmptyFileIsDamagedNotAbsent", "", VersionRecordStatus::Damaged, 0, 0},
        ReadCase{"RecordEndingAtByte256", std::string(249, ' ') + "1 5 7 4",
                 VersionRecordStatus::Valid, 5, 7},
        ReadCase{"RecordCutAtByte256", std::string(250, ' ') + "1 5 7 4",
                 VersionRecordStatus::Damaged, 5, 7}),
    [](const ::testing::TestParamInfo<ReadCase>& info) { return std::string(info.param.name); });

TEST(VersionRecordFile, AbsentFileGivesZeroPair) {
    TempWorkDir dir;
    DWORD version[2] = {7, 7};
    EXPECT_EQ(ReadVersionRecordFile("File.ver", version), VersionRecordStatus::Absent);
    EXPECT_EQ(version[0], 0u);
    EXPECT_EQ(version[1], 0u);
}

TEST(VersionRecordFile, WritesExactlyTheScrambledRecordAndReplacesTheOldOne) {
    TempWorkDir dir;
    TempWorkDir::Write("File.ver", std::string(300, 'x'));
    const DWORD version[2] = {5, 7};
    ASSERT_TRUE(WriteVersionRecordFile("File.ver", version));
    EXPECT_EQ(TempWorkDir::Read("File.ver"), Scrambled("1 5 7 4"));
    EXPECT_FALSE(std::filesystem::exists("File.ver.new")) << "no temporary file is left";
    DWORD back[2] = {0, 0};
    EXPECT_EQ(ReadVersionRecordFile("File.ver", back), VersionRecordStatus::Valid);
    EXPECT_EQ(back[1], 7u);
}

TEST(VersionRecordFile, FailedWriteReportsFailureAndKeepsTheOldRecord) {
    TempWorkDir dir;
    const std::string old = Scrambled("1 3 4 2");
    TempWorkDir::Write("File.ver", old);
    std::filesystem::create_directory("File.ver.new"); // the temporary cannot be created
    const DWORD version[2] = {5, 7};
    EXPECT_FALSE(WriteVersionRecordFile("File.ver", version));
    EXPECT_EQ(TempWorkDir::Read("File.ver"), old);
}

} // namespace

// Output files for received bodies, against real files in a temporary
// working directory.
#include "install/output_file.h"
#include "temp_dir.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <string>

namespace fs = std::filesystem;

namespace {

void WriteAndClose(FILE* f, const std::string& data) {
    ASSERT_NE(f, nullptr);
    std::fwrite(data.data(), 1, data.size(), f);
    std::fclose(f);
}

TEST(OutputFile, ReplacesAReadOnlyFile) {
    TempWorkDir dir;
    TempWorkDir::Write("old.gz", "old content, longer than the new one");
    TempWorkDir::MakeReadOnly("old.gz");
    WriteAndClose(OpenOutputFile("old.gz"), "new");
    EXPECT_EQ(TempWorkDir::Read("old.gz"), "new");
}

TEST(OutputFile, CreatesTwoMissingDirectoryLevels) {
    TempWorkDir dir;
    WriteAndClose(OpenOutputFile("data\\maps\\track.map.gz"), "body");
    EXPECT_TRUE(fs::is_directory("data/maps"));
    EXPECT_EQ(TempWorkDir::Read("data/maps/track.map.gz"), "body");
}

TEST(OutputFile, FailsWhenADirectoryPartIsAFile) {
    TempWorkDir dir;
    TempWorkDir::Write("plain", "x");
    EXPECT_EQ(OpenOutputFile("plain\\f.gz"), nullptr);
    EXPECT_EQ(TempWorkDir::Read("plain"), "x");
}

TEST(OutputFile, MissingDirectoryWithoutBackslashIsNotCreated) {
    TempWorkDir dir;
    // A forward slash is no separator here: nothing is created.
    EXPECT_EQ(OpenOutputFile("missing/f.gz"), nullptr);
    EXPECT_FALSE(fs::exists("missing"));
}

TEST(OutputFile, ADirectoryAtThePathFailsAfterBoundedRetries) {
    TempWorkDir dir;
    fs::create_directory("d.gz");
    EXPECT_EQ(OpenOutputFile("d.gz"), nullptr);
    EXPECT_TRUE(fs::is_directory("d.gz"));
}

TEST(CreateParentDirectories, ReportsWhetherTheContainingDirectoryWasCreated) {
    TempWorkDir dir;
    EXPECT_TRUE(CreateParentDirectories("x\\y\\z\\f"));
    EXPECT_TRUE(fs::is_directory("x/y/z"));
    EXPECT_FALSE(CreateParentDirectories("x\\y\\z\\g")) << "it exists already";
    EXPECT_FALSE(CreateParentDirectories("nofolder"));
}

TEST(CreateParentDirectories, RefusesPathsOfMoreThan259Characters) {
    TempWorkDir dir;
    const std::string longPath = "p\\" + std::string(258, 'a');
    EXPECT_FALSE(CreateParentDirectories(longPath.c_str()));
    EXPECT_FALSE(fs::exists("p"));
}

} // namespace

// GetTempFilePath and UnscrambleFile of the server selection.
#include "install/version_record.h"
#include "platform/files.h"
#include "temp_dir.h"
#include "ui/server_select_dlg.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

// A temporary directory in the platform's notation; GetTempPathA hands it
// back with its separator at the end.
#ifdef _WIN32
const std::string kTmp = "C:\\tmp\\user", kSep = "\\";
#else
const std::string kTmp = "/var/tmp/user", kSep = "/";
#endif

// A directory path of exactly n characters (from the root, in segments the
// platform accepts).
std::string DirOfLength(std::size_t n) {
    std::string dir = kTmp.substr(0, kTmp.find(kSep) + 1);
    while (dir.size() < n) {
        const std::size_t part = std::min<std::size_t>(100, n - dir.size());
        dir += std::string(part, 't');
        if (dir.size() < n)
            dir += kSep;
    }
    return dir;
}

TEST(GetTempFilePath, JoinsTheTemporaryDirectoryAndTheNameWithoutItsLeadingParts) {
    TempDirVariable tmp(kTmp);
    const std::string dir = kTmp + kSep;
    struct Case {
        const char* name;
        std::string want;
    };
    for (const Case& c :
         {Case{"Server.lst", dir + "Server.lst"}, Case{"\\Server.lst", dir + "Server.lst"},
          Case{".\\Server.lst", dir + "Server.lst"}, Case{"\\.\\Server.lst", dir + "Server.lst"},
          Case{"\\\\Server.lst", dir + "\\Server.lst"},
          Case{"..\\Server.lst", dir + "..\\Server.lst"}})
        EXPECT_EQ(CServerSelectDlg::GetTempFilePath(c.name), c.want) << c.name;
}

TEST(GetTempFilePath, IsEmptyWhenTheDirectoryNeeds260BytesOrMore) {
    const std::string fits = DirOfLength(257) + kSep; // 258 characters and the zero
    {
        TempDirVariable tmp(fits);
        EXPECT_EQ(CServerSelectDlg::GetTempFilePath("x"), fits + "x");
    }
    for (std::size_t n : {258u, 301u}) {
        TempDirVariable tmp(DirOfLength(n));
        EXPECT_EQ(CServerSelectDlg::GetTempFilePath("x"), "") << n;
    }
}

std::string Scrambled(std::string text) {
    ScrambleText(text.data());
    return text;
}

std::string PlainList(std::size_t size) {
    std::string s = "[Server]\nCount=40\n";
    for (int i = 0; s.size() < size; ++i)
        s += "Name" + std::to_string(i) + "=Server " + std::to_string(i) + "\n";
    return s.substr(0, size);
}

class UnscrambleFileTest : public ::testing::Test {
  protected:
    TempWorkDir m_dir;
};

TEST_F(UnscrambleFileTest, ConvertsBlockByBlockWhatEverTheLength) {
    for (std::size_t size : {0u, 1u, 255u, 256u, 257u, 600u}) {
        const std::string plain = PlainList(size);
        TempWorkDir::Write("Server.cnv", Scrambled(plain));
        ASSERT_TRUE(CServerSelectDlg::UnscrambleFile("Server.cnv", "plain.lst")) << size;
        EXPECT_EQ(TempWorkDir::Read("plain.lst"), plain) << size;
        fs::remove("plain.lst");
    }
}

TEST_F(UnscrambleFileTest, ZeroByteLeavesOnlyTheRestOfItsBlockScrambled) {
    const std::string plain = PlainList(600);
    std::string scrambled = Scrambled(plain);
    scrambled[10] = '\0';
    TempWorkDir::Write("Server.cnv", scrambled);
    ASSERT_TRUE(CServerSelectDlg::UnscrambleFile("Server.cnv", "plain.lst"));
    const std::string want =
        plain.substr(0, 10) + '\0' + scrambled.substr(11, 245) + plain.substr(256);
    EXPECT_EQ(TempWorkDir::Read("plain.lst"), want);
}

TEST_F(UnscrambleFileTest, MissingSourceIsCreatedEmpty) {
    ASSERT_TRUE(CServerSelectDlg::UnscrambleFile("Server.cnv", "plain.lst"));
    EXPECT_TRUE(fs::exists("Server.cnv"));
    EXPECT_EQ(fs::file_size("Server.cnv"), 0u);
    EXPECT_EQ(fs::file_size("plain.lst"), 0u);
}

#ifndef _WIN32
// Windows gives each user a temporary directory of their own; the host's is
// shared.
TEST_F(UnscrambleFileTest, CopyIsReadableByTheUserOnly) {
    TempWorkDir::Write("Server.cnv", Scrambled(PlainList(100)));
    ASSERT_TRUE(CServerSelectDlg::UnscrambleFile("Server.cnv", "plain.lst"));
    struct stat st;
    ASSERT_EQ(::stat("plain.lst", &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}
#endif

// Whatever already has the copy's name (a stale copy longer than the new
// text, a link another user planted to a file of ours, or a dangling link)
// is refused and left alone; the caller picks another name.
TEST_F(UnscrambleFileTest, NeverOpensOrFollowsWhatAlreadyHasTheName) {
    TempWorkDir::Write("Server.cnv", Scrambled(PlainList(100)));
    TempWorkDir::Write("victim.txt", "precious");
    const std::string stale = PlainList(400);
    TempWorkDir::Write("stale.lst", stale);
    std::vector<const char*> names = {"stale.lst"};
#ifndef _WIN32
    // Links need a privilege on Windows, and CREATE_NEW refuses them there
    // by itself.
    fs::create_symlink("victim.txt", "link.lst");
    fs::create_symlink("nowhere.txt", "dangling.lst");
    names.insert(names.end(), {"link.lst", "dangling.lst"});
#endif
    for (const char* name : names) {
        SetLastError(0);
        EXPECT_FALSE(CServerSelectDlg::UnscrambleFile("Server.cnv", name)) << name;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS)) << name;
    }
    EXPECT_EQ(TempWorkDir::Read("stale.lst"), stale);
    EXPECT_EQ(TempWorkDir::Read("victim.txt"), "precious");
    EXPECT_FALSE(fs::exists("nowhere.txt"));
}

TEST_F(UnscrambleFileTest, UnreadableSourceFailsWithoutCreatingTheCopy) {
    fs::create_directory("Server.cnv");
    EXPECT_FALSE(CServerSelectDlg::UnscrambleFile("Server.cnv", "plain.lst"));
    EXPECT_FALSE(fs::exists("plain.lst"));
}

} // namespace

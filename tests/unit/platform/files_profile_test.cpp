// Profile reading and the file functions against real files in a fresh
// working directory.
#include "platform/files.h"
#include "platform/host/syscall_faults.h"
#include "platform/host/syscalls.h"
#include "platform/wintypes.h"
#include "temp_dir.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

namespace fs = std::filesystem;

TEST(Profile, ReadsWithThePlatformSemantics) {
    TempDir dir;
    TempDir::Write("Config.ini", "; comment\r\n"
                                 "[Other]\r\nIP=9.9.9.9\r\n"
                                 "  [ update ]  \r\n"
                                 "  ip  =  10.0.0.7  \r\n"
                                 "Empty=\r\n"
                                 "Quoted=\"  spaced  \"\r\n"
                                 "Port=8080x\r\n"
                                 "Neg=-12\r\n"
                                 "Word=abc\r\n"
                                 "Long=" +
                                     std::string(200, 'L') +
                                     "\r\n"
                                     "[Update]\r\nClient=second section is ignored\r\n");
    struct Case {
        const char* key;
        const char* expected;
    };
    const Case strings[] = {
        {"IP", "10.0.0.7"},     {"Empty", ""},         {"Quoted", "  spaced  "},
        {"Missing", "default"}, {"Client", "default"},
    };
    char buf[128];
    for (const Case& c : strings) {
        GetPrivateProfileStringA("Update", c.key, "default", buf, sizeof buf, ".\\Config.ini");
        EXPECT_STREQ(buf, c.expected) << c.key;
    }
    EXPECT_EQ(GetPrivateProfileStringA("Update", "Long", "", buf, sizeof buf, ".\\Config.ini"),
              127u);
    EXPECT_EQ(std::string(buf), std::string(127, 'L'));

    struct IntCase {
        const char* key;
        int expected;
    };
    const IntCase ints[] = {
        {"Port", 8080}, {"Neg", -12}, {"Word", 0}, {"Empty", 0}, {"Missing", 43001}};
    for (const IntCase& c : ints)
        EXPECT_EQ(static_cast<int>(GetPrivateProfileIntA("UPDATE", c.key, 43001, ".\\Config.ini")),
                  c.expected)
            << c.key;
}

TEST(Profile, MissingFileGivesTheDefault) {
    TempDir dir;
    char buf[16];
    EXPECT_EQ(
        GetPrivateProfileStringA("Update", "IP", "127.0.0.1", buf, sizeof buf, ".\\Config.ini"),
        9u);
    EXPECT_STREQ(buf, "127.0.0.1");
    EXPECT_EQ(GetPrivateProfileIntA("Update", "Port", 43001, ".\\Config.ini"), 43001u);
}

TEST(Files, BackslashPathsAndMissingParents) {
    TempDir dir;
    EXPECT_TRUE(CreateDirectoryA("a", nullptr));
    EXPECT_FALSE(CreateDirectoryA("a", nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_FALSE(CreateDirectoryA("x\\y", nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));

    HANDLE h = CreateFileA("a\\f.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD n = 0;
    EXPECT_TRUE(WriteFile(h, "hello", 5, &n, nullptr));
    EXPECT_EQ(n, 5u);
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_FALSE(CloseHandle(h));
    EXPECT_EQ(TempDir::Read("a/f.txt"), "hello");

    h = CreateFileA("a\\f.txt", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    char buf[16] = {};
    EXPECT_TRUE(ReadFile(h, buf, sizeof buf, &n, nullptr));
    EXPECT_EQ(std::string(buf, n), "hello");
    CloseHandle(h);

    struct Case {
        const char* path;
        DWORD error;
    };
    for (Case c : {Case{"nofile", ERROR_FILE_NOT_FOUND}, Case{"nodir\\file", ERROR_PATH_NOT_FOUND},
                   Case{"a", ERROR_ACCESS_DENIED}}) {
        EXPECT_EQ(CreateFileA(c.path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
                  INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), c.error) << c.path;
    }
}

TEST(Files, ReadOnlyFilesAreProtectedUntilMadeNormal) {
    TempDir dir;
    TempDir::Write("ro.gz", "old");
    ASSERT_TRUE(SetFileAttributesA("ro.gz", FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(GetFileAttributesA("ro.gz"), FILE_ATTRIBUTE_READONLY);

    errno = 0;
    EXPECT_EQ(AfxOpenStream("ro.gz", "wb"), nullptr);
    EXPECT_EQ(errno, EACCES);
    EXPECT_EQ(CreateFileA("ro.gz", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(DeleteFileA("ro.gz"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(TempDir::Read("ro.gz"), "old");

    ASSERT_TRUE(SetFileAttributesA("ro.gz", FILE_ATTRIBUTE_NORMAL));
    FILE* f = AfxOpenStream("ro.gz", "wb");
    ASSERT_NE(f, nullptr);
    std::fputs("new", f);
    std::fclose(f);
    EXPECT_EQ(TempDir::Read("ro.gz"), "new");
    EXPECT_TRUE(DeleteFileA("ro.gz"));
}

TEST(Files, StreamOpenErrnoMatchesTheWindowsRuntime) {
    TempDir dir;
    fs::create_directory("adir");
    TempDir::Write("plain", "x");
    struct Case {
        const char* path;
        int err;
    };
    for (Case c :
         {Case{"adir", EACCES}, Case{"missing\\f.gz", ENOENT}, Case{"plain\\f.gz", ENOENT}}) {
        errno = 0;
        EXPECT_EQ(AfxOpenStream(c.path, "wb"), nullptr) << c.path;
        EXPECT_EQ(errno, c.err) << c.path;
    }
    FILE* f = AfxOpenStream("adir\\inner.gz", "wb");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    EXPECT_TRUE(fs::exists("adir/inner.gz"));
}

TEST(Files, AttributesNeverFollowALink) {
    TempDir dir;
    TempDir::Write("target", "t");
    fs::permissions("target", fs::perms::owner_read);
    fs::create_symlink("target", "link");
    EXPECT_FALSE(SetFileAttributesA("link", FILE_ATTRIBUTE_NORMAL));
    EXPECT_EQ(fs::status("target").permissions() & fs::perms::owner_write, fs::perms::none);
}

TEST(Files, MoveReplacesAtomicallyOnlyWhenAsked) {
    TempDir dir;
    TempDir::Write("new.tmp", "2");
    TempDir::Write("File.ver", "1");
    EXPECT_FALSE(MoveFileExA("new.tmp", "File.ver", 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_TRUE(MoveFileExA("new.tmp", "File.ver", MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(TempDir::Read("File.ver"), "2");
    EXPECT_FALSE(fs::exists("new.tmp"));
}

TEST(Files, TempPathHasATrailingSeparatorAndReportsTheNeededSize) {
    const char* old = std::getenv("TMPDIR");
    std::string saved = old ? old : "";
    setenv("TMPDIR", "/var/tmp", 1);
    char buf[260];
    EXPECT_EQ(GetTempPathA(sizeof buf, buf), 9u);
    EXPECT_STREQ(buf, "/var/tmp/");
    EXPECT_EQ(GetTempPathA(5, buf), 10u);
    unsetenv("TMPDIR");
    GetTempPathA(sizeof buf, buf);
    EXPECT_STREQ(buf, "/tmp/");
    if (old)
        setenv("TMPDIR", saved.c_str(), 1);
}

class FilesSeam : public ::testing::Test {
  protected:
    void TearDown() override { tvhost::ResetSyscalls(); }
};

TEST_F(FilesSeam, InjectedWriteFailureReportsDiskFull) {
    TempDir dir;
    static int calls;
    calls = 0;
    tvhost::syscalls.write = [](int fd, const void* p, size_t n) -> ssize_t {
        if (++calls == 2) {
            errno = ENOSPC;
            return -1;
        }
        return ::write(fd, p, n);
    };
    HANDLE h = CreateFileA("f", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD n = 0;
    EXPECT_TRUE(WriteFile(h, "ab", 2, &n, nullptr));
    EXPECT_FALSE(WriteFile(h, "cd", 2, &n, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DISK_FULL));
    EXPECT_EQ(n, 0u);
    CloseHandle(h);
    EXPECT_EQ(TempDir::Read("f"), "ab");
}

// Any call of the table can be failed; the function reports it and the files
// it was handed stay as they were.
TEST(Files, InjectedFailureOfAnyCallIsReportedAndLosesNothing) {
    TempDir dir;
    auto move = [] {
        TempDir::Write("File.ver.tmp", "new");
        TempDir::Write("File.ver", "old");
        BOOL ok = MoveFileExA("File.ver.tmp", "File.ver",
                              MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
        DWORD err = GetLastError();
        EXPECT_EQ(TempDir::Read("File.ver"), "old");
        EXPECT_EQ(TempDir::Read("File.ver.tmp"), "new");
        return ok ? ERROR_SUCCESS : err;
    };
    {
        tvhost::FailNthCall<&tvhost::Syscalls::rename> fault(1, EXDEV);
        EXPECT_EQ(move(), static_cast<DWORD>(ERROR_GEN_FAILURE));
    }
    {
        // The data never reached the disk: the old record stays in place.
        tvhost::FailNthCall<&tvhost::Syscalls::fsync> fault(1, EIO);
        EXPECT_EQ(move(), static_cast<DWORD>(ERROR_GEN_FAILURE));
        EXPECT_EQ(fault.Calls(), 1);
    }
    {
        tvhost::FailNthCall<&tvhost::Syscalls::mkdir> fault(1, EDQUOT);
        EXPECT_FALSE(CreateDirectoryA("sub", nullptr));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DISK_FULL));
        EXPECT_FALSE(fs::exists("sub"));
    }
    {
        tvhost::FailNthCall<&tvhost::Syscalls::fopen> fault(2, EMFILE);
        FILE* first = AfxOpenStream("a.txt", "wb");
        ASSERT_NE(first, nullptr);
        std::fclose(first);
        errno = 0;
        EXPECT_EQ(AfxOpenStream("b.txt", "wb"), nullptr);
        EXPECT_EQ(errno, EMFILE);
        EXPECT_FALSE(fs::exists("b.txt"));
    }
    TempDir::Write("File.ver.tmp", "new");
    EXPECT_TRUE(
        MoveFileExA("File.ver.tmp", "File.ver", MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        << "every entry is the real call again";
    EXPECT_EQ(TempDir::Read("File.ver"), "new");
}

} // namespace

// The driver's handling of names, existing outputs, time stamps, permissions
// and links.

#include <sys/stat.h>
#include <utime.h>

#include "harness.h"

namespace gztest {
namespace {

struct stat StatOf(const char* path) {
    struct stat s {};
#ifdef _WIN32
    EXPECT_EQ(stat(path, &s), 0) << path;
#else
    EXPECT_EQ(lstat(path, &s), 0) << path;
#endif
    return s;
}

// Windows keeps only a read-only attribute: a writable file reads back as
// readable and writable for everyone.
#ifdef _WIN32
constexpr unsigned kOwnerReadWrite = 0666;
#else
constexpr unsigned kOwnerReadWrite = 0640;
#endif

TEST_F(GunzipTest, DerivesOutputNameFromSuffix) {
    struct Row {
        const char* input;
        const char* output;
    } rows[] = {{"PATCH.TGZ", "PATCH.tar"},
                {"FILE.GZ", "FILE"},
                {"pack.taz", "pack.tar"},
                {"x-gz", "x"},
                {"y_z", "y"},
                {"Data\\map.gz", "Data/map"}};
    fs::create_directory("Data");
    for (const Row& r : rows) {
        std::string host_input = r.input;
        std::replace(host_input.begin(), host_input.end(), '\\', '/');
        WriteBytes(host_input, Fixture("text"));
        Outcome o = Run(r.input);
        EXPECT_EQ(o.status, 0) << r.input << ": " << o.err;
        EXPECT_TRUE(fs::exists(r.output)) << r.input;
        EXPECT_FALSE(fs::exists(host_input)) << r.input;
    }
}

TEST_F(GunzipTest, NameWithoutRecognisedSuffixIsLeftAlone) {
    fs::create_directory("d");
    for (const char* name : {".gz", "d/.gz", "plain.txt"}) {
        WriteBytes(name, Fixture("text"));
        Outcome o = Run(name);
        EXPECT_EQ(o.status, 0) << name;
        EXPECT_EQ(o.err, "");
        EXPECT_TRUE(fs::exists(name)) << name;
    }
    EXPECT_EQ(std::distance(fs::directory_iterator("."), fs::directory_iterator{}), 3);
}

TEST_F(GunzipTest, FindsInputByCompletionSuffix) {
    WriteBytes("data.gz", Fixture("text"));
    Outcome o = Run("data");
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_TRUE(fs::exists("data"));
    EXPECT_FALSE(fs::exists("data.gz"));
}

TEST_F(GunzipTest, ReportsMissingInputAndIgnoresDirectories) {
    Outcome o = Run("missing.gz");
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err, "missing.gz: No such file or directory\n");
    o = Run("other");
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err, "other.gz: No such file or directory\n");
    fs::create_directory("dir.gz");
    o = Run("dir.gz");
    EXPECT_EQ(o.status, 2);
    EXPECT_EQ(o.err, "");
#ifndef _WIN32
    mkfifo("fifo.gz", 0600);
    o = Run("fifo.gz");
    EXPECT_EQ(o.status, 2);
#endif
}

TEST_F(GunzipTest, RefusesPathsThatDoNotFitTheNameBuffers) {
    std::string longest =
        std::string(100, 'x') + "/" + std::string(100, 'y') + "/" + std::string(259 - 202 - 3, 'z');
    std::string too_long(260 - 3, 'a');
    Outcome o = Run(too_long + ".gz");
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err, "gzip: " + too_long + ".gz: " + crt_error_text(ENAMETOOLONG) + "\n");
    // 259 characters still fit, and fail only because the file is not there.
    o = Run(longest + ".gz");
    EXPECT_EQ(o.status, 1);
    EXPECT_NE(o.err.find("No such file or directory"), std::string::npos) << o.err;
}

TEST_F(GunzipTest, ReplacesExistingReadOnlyOutput) {
    WriteBytes("text.gz", Fixture("text"));
    WriteBytes("text", "old contents");
    chmod("text", 0444);
    Outcome o = Run("text.gz");
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_TRUE(ReadBytes("text") == Expected("text"));
}

TEST_F(GunzipTest, KeepsOutputThatCannotBeReplaced) {
    WriteBytes("text.gz", Fixture("text"));
    WriteBytes("text", "old contents");
    crtsys::syscalls.rename = [](const char*, const char*) {
        errno = EBUSY;
        return -1;
    };
    Outcome o = Run("text.gz");
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err, std::string("gzip: text: ") + crt_error_text(EBUSY) + "\n");
    EXPECT_EQ(ReadBytes("text"), "old contents");
    EXPECT_TRUE(fs::exists("text.gz"));
    EXPECT_FALSE(fs::exists("text.~tv"));
}

#ifndef _WIN32
TEST_F(GunzipTest, RefusesOutputThatIsTheInputItself) {
    WriteBytes("text.gz", Fixture("text"));
    ASSERT_EQ(link("text.gz", "text"), 0);
    Outcome o = Run("text.gz");
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err, "gzip: text.gz and text are the same file\n");
    EXPECT_TRUE(fs::exists("text.gz"));
}
#endif

TEST_F(GunzipTest, AppliesStoredTimeOrInputTimes) {
    // Stored time 1600000000 wins over the input's own.
    WriteBytes("text.gz", Fixture("text"));
    struct utimbuf t {
        1000000, 2000000
    };
    utime("text.gz", &t);
    EXPECT_EQ(Run("text.gz").status, 0);
    EXPECT_EQ(StatOf("text").st_mtime, 1600000000);
    EXPECT_EQ(StatOf("text").st_atime, 1000000);
    // No stored time: the input's access and modification times.
    WriteBytes("mtime_zero.gz", Fixture("mtime_zero"));
    utime("mtime_zero.gz", &t);
    EXPECT_EQ(Run("mtime_zero.gz").status, 0);
    EXPECT_EQ(StatOf("mtime_zero").st_mtime, 2000000);
    EXPECT_EQ(StatOf("mtime_zero").st_atime, 1000000);
    // Two members: the last non-zero stamp wins.
    WriteBytes("two.gz", Fixture("two_members"));
    EXPECT_EQ(Run("two.gz").status, 0);
    EXPECT_EQ(StatOf("two").st_mtime, 2000);
    // A stamp negative as a signed 32-bit value cannot be applied: warning,
    // the output is complete and the input gone.
    WriteBytes("neg.gz", Fixture("mtime_negative"));
    Outcome o = Run("neg.gz");
    EXPECT_EQ(o.status, 2);
    EXPECT_TRUE(ReadBytes("neg") == Expected("mtime_negative"));
    EXPECT_FALSE(fs::exists("neg.gz"));
}

TEST_F(GunzipTest, CopiesInputPermissionsIncludingReadOnly) {
    WriteBytes("a.gz", Fixture("text"));
    chmod("a.gz", 0640);
    EXPECT_EQ(Run("a.gz").status, 0);
    EXPECT_EQ(StatOf("a").st_mode & 07777, kOwnerReadWrite);
    WriteBytes("r.gz", Fixture("text"));
    chmod("r.gz", 0444);
    struct utimbuf t {
        1000000, 2000000
    };
    utime("r.gz", &t);
    EXPECT_EQ(Run("r.gz").status, 0);
    EXPECT_EQ(StatOf("r").st_mode & 07777, 0444u);
    EXPECT_EQ(StatOf("r").st_mtime, 1600000000);
    EXPECT_FALSE(fs::exists("r.gz"));
}

#ifndef _WIN32

// Making a name writable before deleting it never reaches through a link.
TEST_F(GunzipTest, LinksInPlaceOfOutputOrInputAreRemovedThemselves) {
    WriteBytes("victim", "precious");
    chmod("victim", 0444);
    WriteBytes("text.gz", Fixture("text"));
    ASSERT_EQ(symlink("victim", "text"), 0);
    EXPECT_EQ(Run("text.gz").status, 0);
    EXPECT_TRUE(S_ISREG(StatOf("text").st_mode));
    EXPECT_EQ(ReadBytes("victim"), "precious");
    EXPECT_EQ(StatOf("victim").st_mode & 07777, 0444u);

    WriteBytes("real.gz", Fixture("text"));
    chmod("real.gz", 0444);
    ASSERT_EQ(symlink("real.gz", "link.gz"), 0);
    EXPECT_EQ(Run("link.gz").status, 0);
    EXPECT_FALSE(fs::is_symlink("link.gz"));
    EXPECT_TRUE(fs::exists("real.gz"));
    EXPECT_EQ(StatOf("real.gz").st_mode & 07777, 0444u);
    EXPECT_TRUE(ReadBytes("link") == Expected("text"));
}
#endif

// Every failure after the output was begun, fatal or not, leaves the file
// it was to replace byte for byte as it was, with its permissions, and no
// partial output beside it.
TEST_F(GunzipTest, FailureKeepsTheFileItWasToReplace) {
    struct Row {
        const char* fixture;
        bool fatal;
        bool diskFull;
    } rows[] = {{"zip_two_entries", false, false}, // status 1 after the first entry
                {"bad_crc", true, false},
                {"bad_length", true, false},
                {"one_trailing_byte", true, false}, // end of input after a complete member
                {"text", true, true}};
    for (const Row& r : rows) {
        SCOPED_TRACE(r.fixture);
        WriteBytes("f.gz", Fixture(r.fixture));
        WriteBytes("f", "installed game file");
        chmod("f", 0444);
        if (r.diskFull)
            crtsys::syscalls.write = [](int, const void*, sys_count) -> sys_result {
                errno = ENOSPC;
                return -1;
            };
        Outcome o = Run("f.gz");
        crtsys::ResetSyscalls();
        EXPECT_EQ(o.fatal, r.fatal);
        EXPECT_EQ(o.status, 1);
        EXPECT_EQ(ReadBytes("f"), "installed game file");
        EXPECT_EQ(StatOf("f").st_mode & 07777, 0444u);
        EXPECT_TRUE(fs::exists("f.gz"));
        EXPECT_FALSE(fs::exists("f.~tv"));
        if (r.diskFull) {
            EXPECT_EQ(o.err, std::string("\ngzip: f: ") + crt_error_text(ENOSPC) + "\n");
        }
        chmod("f", 0644);
    }
}

TEST_F(GunzipTest, FatalErrorBeforeOutputLeavesExistingOutputAlone) {
    WriteBytes("e.gz", "");
    WriteBytes("e", "old");
    Outcome o = Run("e.gz");
    EXPECT_TRUE(o.fatal);
    EXPECT_EQ(ReadBytes("e"), "old");
}

// The caller hears of a fatal error once the partial output is gone, just
// before the process would end; a non-fatal failure is only returned.
TEST_F(GunzipTest, FatalErrorIsToldToTheCallerAfterCleaningUp) {
    static std::vector<std::string> told;
    told.clear();
    set_gunzip_fatal_notice([](const char* path) {
        told.push_back(std::string(path) + (fs::exists("f.~tv") ? " partial left" : ""));
    });
    WriteBytes("f.gz", Fixture("bad_crc"));
    EXPECT_TRUE(Run("f.gz").fatal);
    WriteBytes("z.gz", Fixture("zip_two_entries"));
    EXPECT_EQ(Run("z.gz").status, 1);
    set_gunzip_fatal_notice(nullptr);
    EXPECT_EQ(told, std::vector<std::string>{"f.gz"});
}

// What a run killed half-way left behind is replaced, a link there removed
// itself.
TEST_F(GunzipTest, ReplacesAPartialOutputLeftBehind) {
    WriteBytes("victim", "precious");
    WriteBytes("text.gz", Fixture("text"));
#ifdef _WIN32
    WriteBytes("text.~tv", "left by a killed run");
#else
    ASSERT_EQ(symlink("victim", "text.~tv"), 0);
#endif
    EXPECT_EQ(Run("text.gz").status, 0);
    EXPECT_TRUE(ReadBytes("text") == Expected("text"));
    EXPECT_FALSE(fs::exists("text.~tv"));
    EXPECT_EQ(ReadBytes("victim"), "precious");
}

} // namespace
} // namespace gztest

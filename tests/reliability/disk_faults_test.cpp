// Faults on the disk: a file size limit during the download and during the
// decompression (RLIMIT_FSIZE in the child, SIGXFSZ ignored so writes fail as
// on a full disk), a directory where a file should go, a read-only target
// file, a read-only working directory (a read-only bind mount in a private
// mount namespace, as root), and the process killed in the middle of the
// install step. Each time: what the user sees, what the directory holds, and
// that the next run against a healthy server ends with a complete, consistent
// installation.
#include "harness.h"
#include "scripted_server.h"

#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

namespace {

using namespace tvrel;
using tvtest::ServerConn;

struct Content {
    std::string name; // as sent and installed (no directories)
    std::uint32_t version;
    std::string plain;
    std::string body = {}; // sent instead of Gzip(plain) when not empty
};

std::string Error(const std::string& text) {
    return "torvane-update: error: " + text + "\n";
}

// A server that answers the version request as a conforming one would: the
// group-0 files newer than the request, then waits for the client to go.
tvtest::ScriptedServer::Script Healthy(std::vector<Content> files, std::uint32_t* requested) {
    return [files, requested](ServerConn& c) {
        c.Send(tvtest::VersionReply(9, 1));
        const std::string req = c.Recv(9);
        if (req.size() != 9)
            return;
        const std::uint32_t have =
            static_cast<unsigned char>(req[1]) | (static_cast<unsigned char>(req[2]) << 8) |
            (static_cast<unsigned char>(req[3]) << 16) |
            (static_cast<std::uint32_t>(static_cast<unsigned char>(req[4])) << 24);
        if (requested)
            *requested = have;
        std::string body;
        int n = 0;
        for (const Content& f : files)
            if (f.version > have) {
                body += tvtest::File(f.name, f.version, f.body.empty() ? Gzip(f.plain) : f.body);
                ++n;
            }
        c.Send(tvtest::ListHeader(static_cast<std::uint16_t>(n), 0, 1000) + body);
        c.WaitPeerClose(20000);
    };
}

class DiskFaults : public ::testing::Test {
  protected:
    void SetUp() override {
        WriteRecord(Work(), "1 1 1 1");
        m_record = ReadFile(Work() / "File.ver");
    }
    const fs::path& Work() const { return m_dir.path(); }

    ClientRun Run(const std::vector<Content>& files, ClientOptions o = {},
                  std::uint32_t* requested = nullptr) {
        tvtest::ScriptedServer server(Healthy(files, requested));
        WriteConfig(Work(), server.Port());
        o.dir = Work();
        return RunClient(o);
    }

    // The healthy rerun: everything installed, the record at its end, no
    // compressed file left.
    void ExpectHealthyRerunCompletes(const std::vector<Content>& files) {
        std::uint32_t requested = 0;
        const ClientRun r = Run(files, {}, &requested);
        EXPECT_EQ(requested, 1u) << "the failed run must not have advanced the record";
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.err, "");
        for (const Content& f : files)
            EXPECT_EQ(ReadFile(Work() / f.name), f.plain) << f.name;
        std::uint32_t pair[2] = {0, 0};
        EXPECT_TRUE(ReadRecord(Work(), pair));
        EXPECT_EQ(pair[0], 2u);
        for (const auto& [path, data] : Files(Work()))
            EXPECT_NE(fs::path(path).extension(), ".gz") << path;
    }

    TempDir m_dir;
    std::string m_record;
};

std::string Noise(std::size_t n, unsigned seed) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) {
        seed = seed * 1103515245u + 12345u;
        s[i] = static_cast<char>(seed >> 16);
    }
    return s;
}

const char kLimit[] = "trap '' XFSZ; ulimit -f 16;"; // 8 KiB

// A small file system of its own for a directory: a tmpfs of the given size,
// mounted in a private mount namespace of this test process (so nothing
// outside sees it and it goes with the process), unmounted when the object
// goes. The process must not have started a thread yet.
class SmallDisk {
  public:
    explicit SmallDisk(const fs::path& dir) : m_dir(dir) {
        if (::geteuid() != 0) {
            m_why = "needs root for a private mount namespace with a small tmpfs";
            return;
        }
        if (::unshare(CLONE_NEWNS) != 0 ||
            ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            m_why = std::string("no private mount namespace here: ") + std::strerror(errno);
    }
    ~SmallDisk() { Unmount(); }
    const std::string& Why() const { return m_why; }
    // A fresh, empty file system of sizeKiB over the directory.
    bool Mount(int sizeKiB) {
        Unmount();
        const std::string options = "size=" + std::to_string(sizeKiB) + "k";
        m_mounted = ::mount("tmpfs", m_dir.c_str(), "tmpfs", 0, options.c_str()) == 0;
        return m_mounted;
    }

  private:
    void Unmount() {
        if (m_mounted)
            ::umount2(m_dir.c_str(), MNT_DETACH);
        m_mounted = false;
    }
    fs::path m_dir;
    std::string m_why;
    bool m_mounted = false;
};

TEST_F(DiskFaults, FullDiskDuringDownloadIsReportedAndNothingIsLost) {
    const std::vector<Content> files = {{"big.bin", 2, Noise(64 * 1024, 7)}};
    WriteFile(Work() / "big.bin", "the old big.bin");
    ClientOptions o;
    o.shellPrefix = kLimit;
    const ClientRun r = Run(files, o);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, Error("Can't create file big.bin.gz"));
    EXPECT_EQ(ReadFile(Work() / "big.bin"), "the old big.bin");
    EXPECT_EQ(ReadFile(Work() / "File.ver"), m_record);
    ExpectHealthyRerunCompletes(files);
}

// A fatal decompressor error (a failed write, corrupt data) ends the process
// with exit code 1 after telling the player, but the file it was replacing is
// still the old one, and the record did not move, so the next run asks for
// the file again.
TEST_F(DiskFaults, FatalDecompressionErrorKeepsTheOldFileAndTellsThePlayer) {
    const std::string big(1 << 20, 'z');
    std::string corrupt = Gzip(big);
    corrupt[corrupt.size() - 8] ^= 1; // the CRC-32 in the trailer
    struct Case {
        const char* what;
        std::string body;
        const char* prefix;
        const char* diagnostic;
    } cases[] = {{"file size limit", "", kLimit, "gzip: big.txt: File too large"},
                 {"corrupt body", corrupt, "", "big.txt.gz: invalid compressed data--crc error"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::vector<Content> files = {{"small.txt", 2, "small and fine\n"},
                                            {"big.txt", 2, big, c.body}};
        WriteFile(Work() / "big.txt", "the old big.txt");
        ClientOptions o;
        o.shellPrefix = c.prefix;
        const ClientRun r = Run(files, o);
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_NE(r.err.find(c.diagnostic), std::string::npos) << r.err;
        EXPECT_NE(r.err.find(Error("Can't decompress big.txt.gz")), std::string::npos) << r.err;
        EXPECT_EQ(ReadFile(Work() / "big.txt"), "the old big.txt");
        EXPECT_FALSE(fs::exists(Work() / "big.txt.~tv")) << "the incomplete output is deleted";
        EXPECT_TRUE(fs::exists(Work() / "big.txt.gz")) << "the compressed input stays";
        EXPECT_EQ(ReadFile(Work() / "small.txt"), "small and fine\n");
        EXPECT_EQ(ReadFile(Work() / "File.ver"), m_record);
        ExpectHealthyRerunCompletes({files[0], {"big.txt", 2, big}});
        WriteRecord(Work(), "1 1 1 1");
    }
}

// Room is checked when the file list arrives (against the announced total)
// and before anything is decompressed (against the sizes the received files
// declare, each compressed file freeing its room once installed). A shortage
// is said with the room needed; nothing is installed and the record stays.
TEST_F(DiskFaults, RoomOnDiskIsCheckedBeforeTheDownloadAndBeforeTheInstall) {
    SmallDisk disk(Work());
    if (!disk.Why().empty())
        GTEST_SKIP() << disk.Why();
    auto mount = [&](int sizeKiB) {
        ASSERT_TRUE(disk.Mount(sizeKiB)) << std::strerror(errno);
        WriteRecord(Work(), "1 1 1 1");
    };
    const std::string full = "디스크 공간이 부족합니다.\n";

    // An announced 8 MiB on a 4 MiB disk: refused before any file is made.
    mount(4096);
    {
        tvtest::ScriptedServer server([](ServerConn& c) {
            c.Send(tvtest::VersionReply(9, 1));
            c.Recv(9);
            c.Send(tvtest::ListHeader(1, 0, 8 << 20) + tvtest::File("a.txt", 2, Gzip("a")));
            c.WaitPeerClose(20000);
        });
        WriteConfig(Work(), server.Port());
        ClientOptions o;
        o.dir = Work();
        const ClientRun r = RunClient(o);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.err, Error(full + "9 MB 이상의 여유 공간이 필요합니다."));
        EXPECT_FALSE(fs::exists(Work() / "a.txt.gz"));
        EXPECT_EQ(ReadFile(Work() / "File.ver"), m_record);
    }

    // 6 MiB of plain data in a small body: received, but not installed.
    mount(4096);
    WriteFile(Work() / "big.txt", "the old big.txt");
    const ClientRun b =
        Run({{"small.txt", 2, "small\n"}, {"big.txt", 2, std::string(6 << 20, 'z')}});
    EXPECT_EQ(b.exitCode, 0) << b.err;
    EXPECT_EQ(b.err, Error(full + "7 MB 이상의 여유 공간이 필요합니다."));
    EXPECT_EQ(ReadFile(Work() / "big.txt"), "the old big.txt");
    EXPECT_TRUE(fs::exists(Work() / "big.txt.gz"));
    EXPECT_TRUE(fs::exists(Work() / "small.txt.gz"));
    EXPECT_FALSE(fs::exists(Work() / "small.txt")) << "nothing is installed";
    EXPECT_EQ(ReadFile(Work() / "File.ver"), m_record);

    // Three 1.5 MiB files on an 8 MiB disk: all three compressed files do not
    // fit beside their outputs, but each one does once those before it are
    // installed and deleted.
    mount(8192);
    std::vector<Content> files;
    for (unsigned i = 0; i < 3; ++i)
        files.push_back({"n" + std::to_string(i), 2, Noise(3 << 19, i + 1)});
    const ClientRun f = Run(files);
    EXPECT_EQ(f.exitCode, 0) << f.err;
    EXPECT_EQ(f.err, "");
    for (const Content& c : files)
        EXPECT_TRUE(ReadFile(Work() / c.name) == c.plain) << c.name;
}

TEST_F(DiskFaults, DirectoryWhereAFileShouldGoIsLeftIntact) {
    const std::vector<Content> files = {{"a.txt", 2, "new a\n"}};
    fs::create_directories(Work() / "a.txt.gz");
    WriteFile(Work() / "a.txt.gz" / "keep", "keep me");
    const ClientRun r = Run(files);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, Error("Can't create file a.txt.gz"));
    EXPECT_EQ(ReadFile(Work() / "a.txt.gz" / "keep"), "keep me");
    EXPECT_EQ(ReadFile(Work() / "File.ver"), m_record);

    // The same with the installed name taken by a directory.
    fs::remove_all(Work() / "a.txt.gz");
    fs::create_directories(Work() / "a.txt");
    WriteFile(Work() / "a.txt" / "keep", "keep me");
    const ClientRun d = Run(files);
    EXPECT_EQ(d.exitCode, 0) << d.err;
    EXPECT_NE(d.err.find(Error("Can't decompress a.txt.gz")), std::string::npos) << d.err;
    EXPECT_EQ(ReadFile(Work() / "a.txt" / "keep"), "keep me");
    EXPECT_EQ(ReadFile(Work() / "File.ver"), m_record);

    fs::remove_all(Work() / "a.txt");
    ExpectHealthyRerunCompletes(files);
}

TEST_F(DiskFaults, ReadOnlyTargetFileIsReplaced) {
    const std::vector<Content> files = {{"a.txt", 2, "new a\n"}};
    WriteFile(Work() / "a.txt", "old a\n");
    WriteFile(Work() / "a.txt.gz", "a stale download");
    fs::permissions(Work() / "a.txt", fs::perms::owner_read);
    fs::permissions(Work() / "a.txt.gz", fs::perms::owner_read);
    ExpectHealthyRerunCompletes(files);
}

TEST_F(DiskFaults, ReadOnlyWorkingDirectoryIsReportedAndChangesNothing) {
    if (::geteuid() != 0 || std::system("unshare -m true > /dev/null 2>&1") != 0)
        GTEST_SKIP() << "needs root and a private mount namespace for a read-only bind mount";
    const std::vector<Content> files = {{"a.txt", 2, "new a\n"}};
    WriteFile(Work() / "a.txt", "old a\n");
    const auto before = Files(Work());
    tvtest::ScriptedServer server(Healthy(files, nullptr));
    WriteConfig(Work(), server.Port());
    const auto withConfig = Files(Work());
    ClientOptions o;
    o.dir = Work();
    // NOTE: the mount is made by a shell inside the namespace; "cd $PWD"
    // steps onto the read-only mount (the old working directory is below it).
    o.shellPrefix = "exec unshare -m /bin/sh -c 'mount --bind \"$PWD\" \"$PWD\" && "
                    "mount -o remount,ro,bind \"$PWD\" && cd \"$PWD\" && exec \"$0\"' \"$0\";";
    const ClientRun r = RunClient(o);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, Error("Can't create file a.txt.gz"));
    EXPECT_EQ(Files(Work()), withConfig);
    ExpectHealthyRerunCompletes(files);
}

// Many small files make the install step long enough for the kill to land
// inside it, whatever the machine's load.
TEST_F(DiskFaults, KilledDuringInstallThenTheRerunCompletes) {
    std::vector<Content> files;
    for (int i = 0; i < 3000; ++i)
        files.push_back({"f" + std::to_string(i) + ".txt", 2, "file " + std::to_string(i) + "\n"});
    files.push_back({"two.bin", 2, Noise(1 << 20, 2)});
    WriteFile(Work() / "two.bin", "the old two");
    ClientOptions o;
    o.killWhenOut = kWaitPanel;
    const ClientRun r = Run(files, o);
    EXPECT_EQ(r.signal, SIGKILL) << r.err;
    EXPECT_EQ(ReadFile(Work() / "File.ver"), m_record);
    EXPECT_TRUE(fs::exists(Work() / "f2999.txt.gz")) << "the kill came after the install step";
    ExpectHealthyRerunCompletes(files);
}

} // namespace

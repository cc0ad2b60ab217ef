// torvane-update against torvane-update-server, both as built, in temporary
// working directories, in the client's non-interactive mode.
#include "child_process.h"
#include "install/version_record.h"
#include "manifest.h"
#include "temp_dir.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <string>

namespace fs = std::filesystem;

namespace {

void WriteRecord(const fs::path& path, const std::string& plain) {
    std::string text = plain;
    ScrambleText(text.data());
    TempWorkDir::Write(path.string(), text);
}

void WriteConfig(const fs::path& work, unsigned port, const std::string& ip = "127.0.0.1") {
    TempWorkDir::Write((work / "Config.ini").string(),
                       "[Update]\nIP=" + ip + "\nPort=" + std::to_string(port) + "\n");
}

class EndToEnd : public ::testing::Test {
  protected:
    void SetUp() override {
        m_content = m_dir.path() / "content";
        m_work = m_dir.path() / "work";
        fs::create_directories(m_content / "maps");
        fs::create_directories(m_work);
        TempWorkDir::Write((m_content / "readme.txt").string(),
                           std::string(5000, 'r') + "the end\n");
        std::string sound;
        for (int i = 0; i < 70000; ++i)
            sound += static_cast<char>((i * 2654435761u) >> 24);
        TempWorkDir::Write((m_content / "sound.bin").string(), sound);
        TempWorkDir::Write((m_content / "maps" / "track1.map").string(), "");
        TempWorkDir::Write((m_content / "manifest.txt").string(),
                           "# test content\n"
                           "version 3 2\n"
                           "file 0 2 readme.txt readme.txt\n"
                           "file 0 3 \"Data\\Maps\\track one.map\" maps/track1.map\n"
                           "file 1 2 sound.bin sound.bin\n"
                           "file 1 1 old.bin sound.bin\n");
    }

    tvtest::RunResult RunClient() { return tvtest::RunProcess({TV_CLIENT_EXE}, m_work.string()); }

    TempWorkDir m_dir;
    fs::path m_content, m_work;
};

TEST_F(EndToEnd, InstallsEveryNewerFileExactlyAsTheServerHasIt) {
    WriteRecord(m_work / "File.ver", "1 1 1 1");
    tvtest::ServerProcess server(m_content.string());
    ASSERT_NE(server.Port(), 0u) << "the server did not start";
    WriteConfig(m_work, server.Port());

    const tvtest::RunResult r = RunClient();
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");

    tvserver::Manifest manifest;
    std::string error;
    ASSERT_TRUE(tvserver::LoadManifest(m_content.string(), manifest, error)) << error;
    long long total = 0;
    for (const auto& f : manifest.files) {
        if (f.name == "old.bin")
            continue;
        std::string path = f.name;
        std::replace(path.begin(), path.end(), '\\', '/');
        EXPECT_EQ(TempWorkDir::Read((m_work / path).string()), TempWorkDir::Read(f.path))
            << path << " is not installed";
        EXPECT_FALSE(fs::exists(m_work / (path + ".gz"))) << path << ".gz is left behind";
        total += static_cast<long long>(tvtest::PublishedBody(m_content.string(), f.name).size());
    }
    EXPECT_FALSE(fs::exists(m_work / "old.bin.gz") || fs::exists(m_work / "old.bin"))
        << "the client already has that version";
    EXPECT_NE(r.out.find("File Count 3/3"), std::string::npos) << r.out;
    const std::string totalLabel = "Total " + std::to_string(total) + "/" + std::to_string(total);
    EXPECT_NE(r.out.find(totalLabel), std::string::npos) << r.out;
    EXPECT_NE(server.Finish().find("pair=1,1 files=3/3"), std::string::npos);
}

TEST_F(EndToEnd, UpToDateClientDownloadsNothing) {
    WriteRecord(m_work / "File.ver", "1 3 2 2");
    tvtest::ServerProcess server(m_content.string());
    WriteConfig(m_work, server.Port());
    const tvtest::RunResult r = RunClient();
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
    for (const auto& e : fs::directory_iterator(m_work))
        EXPECT_NE(e.path().extension(), ".gz") << e.path();
    EXPECT_NE(server.Finish().find("no version request"), std::string::npos);
}

TEST_F(EndToEnd, FailedConnectShowsMessageTwoOnStderr) {
    unsigned deadPort = 0;
    {
        tvtest::ServerProcess gone(m_content.string(), "127.0.0.1", 0, false);
        deadPort = gone.Port();
    }
    ASSERT_NE(deadPort, 0u);
    WriteConfig(m_work, deadPort);
    const tvtest::RunResult r = RunClient();
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.err.find("torvane-update: error: 서버 접속에 실패했습니다."), std::string::npos)
        << r.err;
}

TEST(UpdateServer, RejectsABadContentDirectoryOrManifestWithExitCode2) {
    TempWorkDir dir;
    const tvtest::RunResult missing =
        tvtest::RunProcess({TV_SERVER_EXE, "--once", "no-such-dir"}, dir.path().string());
    EXPECT_EQ(missing.exitCode, 2);
    EXPECT_NE(missing.err.find("torvane-update-server: error: content directory not found"),
              std::string::npos)
        << missing.err;

    fs::create_directory("c");
    TempWorkDir::Write("c/manifest.txt", "version 1 1\nfile 2 1 x x\n");
    const tvtest::RunResult bad =
        tvtest::RunProcess({TV_SERVER_EXE, "--once", "c"}, dir.path().string());
    EXPECT_EQ(bad.exitCode, 2);
    EXPECT_NE(bad.err.find("manifest.txt:2: group must be 0 or 1"), std::string::npos) << bad.err;

    TempWorkDir::Write("c/manifest.txt", "version 1 1\nfile 0 1 x ../outside\n");
    const tvtest::RunResult outside =
        tvtest::RunProcess({TV_SERVER_EXE, "--once", "c"}, dir.path().string());
    EXPECT_EQ(outside.exitCode, 2);
}

} // namespace

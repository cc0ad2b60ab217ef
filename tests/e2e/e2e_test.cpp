// torvane-update-server as built: what it refuses to serve. (The client
// against it is the scenario table, scenarios.cpp.)
#include "child_process.h"
#include "temp_dir.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <string>

namespace fs = std::filesystem;

namespace {

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

// Server.cnv made and read back with the client's scrambling.
#include "child_process.h"
#include "install/version_record.h"
#include "server_list.h"
#include "temp_dir.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

const char kList[] = "[Server]\nCount=2\nName0=Harbour Loop\nIP0=10.0.0.1\n"
                     "Name1=Mesa Sprint\nIP1=10.0.0.2\n";

TEST(ServerList, EncodesWhatTheClientUnscramblesAndDecodesItBack) {
    std::string cnv;
    std::vector<std::string> errors, warnings;
    ASSERT_TRUE(tvserver::EncodeServerList(kList, cnv, errors, warnings));
    EXPECT_TRUE(warnings.empty());
    std::string plain = cnv;
    UnscrambleText(plain.data());
    EXPECT_EQ(plain, kList);
    EXPECT_EQ(tvserver::DecodeServerList(cnv, warnings), kList);
}

TEST(ServerList, RefusesListsTheClientWouldMisread) {
    const struct {
        std::string plain;
        const char* expected;
    } cases[] = {
        {"[Server]\nCount=1\nName0=Caf\x8d\nIP0=10.0.0.1\n",
         "line 3: byte 0x8D scrambles to a zero byte"},
        {"[Server]\nCount=2\nName0=A\nIP0=10.0.0.1\n", "Name1 is missing (Count is 2)"},
        {"[Server]\nCount=1\nName0=A\nIP0=10.0.0\n", "line 4: not a dotted IPv4 address"},
        {"[Server]\nCount=x\n", "Count must be a number"},
        {"[Other]\nCount=1\n", "no [Server] section"},
        {"[Server]\nCount=1\nName0=" + std::string(128, 'n') + "\nIP0=10.0.0.1\n",
         "at most 127 bytes"},
    };
    for (const auto& c : cases) {
        std::string cnv;
        std::vector<std::string> errors, warnings;
        EXPECT_FALSE(tvserver::EncodeServerList(c.plain, cnv, errors, warnings)) << c.expected;
        ASSERT_FALSE(errors.empty()) << c.expected;
        EXPECT_NE(errors[0].find(c.expected), std::string::npos) << errors[0];
    }
}

TEST(ServerList, SubcommandWritesServerCnvAndReadsItBack) {
    TempWorkDir dir;
    TempWorkDir::Write("servers.txt", kList);
    tvtest::RunResult r =
        tvtest::RunProcess({TV_SERVER_EXE, "server-list", "servers.txt", "Server.cnv"}, "");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::string plain = TempWorkDir::Read("Server.cnv");
    UnscrambleText(plain.data());
    EXPECT_EQ(plain, kList);
    r = tvtest::RunProcess({TV_SERVER_EXE, "server-list", "--decode", "Server.cnv", "-"}, "");
    EXPECT_EQ(r.out, kList);

    TempWorkDir::Write("bad.txt", "[Server]\nCount=1\n");
    r = tvtest::RunProcess({TV_SERVER_EXE, "server-list", "bad.txt", "Server.cnv"}, "");
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("Name0 is missing"), std::string::npos) << r.err;
    plain = TempWorkDir::Read("Server.cnv");
    UnscrambleText(plain.data());
    EXPECT_EQ(plain, kList) << "a refused list leaves the old file";
}

} // namespace

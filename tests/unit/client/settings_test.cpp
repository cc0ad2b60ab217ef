// LoadConfig: the settings from .\Config.ini.
#include "app/settings.h"
#include "temp_dir.h"

#include <gtest/gtest.h>
#include <ostream>
#include <string>

namespace {

struct ConfigCase {
    const char* name;
    const char* config; // nullptr: no Config.ini
    std::string addr;
    UINT port;
    std::string client;
    UINT timeout = 60;
};

void PrintTo(const ConfigCase& c, std::ostream* os) {
    *os << c.name;
}

class LoadConfigTest : public ::testing::TestWithParam<ConfigCase> {};

TEST_P(LoadConfigTest, ReadsTheUpdateSection) {
    TempWorkDir dir;
    const ConfigCase& c = GetParam();
    if (c.config)
        TempWorkDir::Write("Config.ini", c.config);
    LoadConfig();
    EXPECT_EQ(std::string(g_strServerAddr), c.addr);
    EXPECT_EQ(g_nServerPort, c.port);
    EXPECT_EQ(std::string(g_strClient), c.client);
    EXPECT_EQ(g_nTimeout, c.timeout);
}

const std::string k200(200, '9');

INSTANTIATE_TEST_SUITE_P(
    Cases, LoadConfigTest,
    ::testing::Values(
        ConfigCase{"NoFile", nullptr, "127.0.0.1", 43001, "Torvane.exe"},
        ConfigCase{"AllKeys", "[Update]\nIP=10.1.2.3\nPort=5000\nClient=Game\\T.exe\n", "10.1.2.3",
                   5000, "Game\\T.exe"},
        ConfigCase{"OtherSectionOnly", "[Other]\nIP=1.2.3.4\n", "127.0.0.1", 43001, "Torvane.exe"},
        ConfigCase{"EmptyIpIsNotTheDefault", "[Update]\nIP=\n", "", 43001, "Torvane.exe"},
        ConfigCase{"NonNumericPortIsZero", "[Update]\nPort=abc\n", "127.0.0.1", 0, "Torvane.exe"},
        ConfigCase{"Timeout", "[Update]\nTimeout=5\n", "127.0.0.1", 43001, "Torvane.exe", 5},
        ConfigCase{"TimeoutZeroIsNoLimit", "[Update]\nTimeout=0\n", "127.0.0.1", 43001,
                   "Torvane.exe", 0},
        ConfigCase{"NegativeTimeoutIsNoLimit", "[Update]\nTimeout=-1\n", "127.0.0.1", 43001,
                   "Torvane.exe", 0}),
    [](const ::testing::TestParamInfo<ConfigCase>& info) { return std::string(info.param.name); });

TEST(LoadConfig, ValueOf200CharactersIsCutTo127) {
    TempWorkDir dir;
    TempWorkDir::Write("Config.ini", "[Update]\nIP=" + k200 + "\nClient=" + k200 + "\n");
    LoadConfig();
    EXPECT_EQ(std::string(g_strServerAddr), std::string(127, '9'));
    EXPECT_EQ(std::string(g_strClient), std::string(127, '9'));
}

} // namespace

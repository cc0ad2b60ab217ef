// The scenario table (tests/e2e/scenarios.cpp) played by the Windows program
// under Wine, through torvane-robot, which shows what the host program's line
// mode shows. The rows off loopback are not played here: the Wine server and
// the display they would share live outside a private network namespace.
#include "client_session.h"
#include "scenario.h"
#include "wine_paths.h"

#include <cstdlib>
#include <gtest/gtest.h>

namespace {

using namespace tvtest;

class WineRunner : public Runner {
  public:
    bool Wine() const override { return true; }
    fs::path GameSource() const override { return std::getenv("TV_WIN_GAME"); }
    std::string GameName() const override { return "launch.exe"; }
    std::unique_ptr<ClientSession> Start(const Stage& stage, const Scenario& s) override {
        std::vector<std::string> argv = {std::getenv("TV_ROBOT"), "--timeout", "60",
                                         tvwin::WindowsPath(std::getenv("TV_WIN_CLIENT"))};
        argv.insert(argv.end(), s.args.begin(), s.args.end());
        SessionOptions o;
        o.input = s.input;
        return std::make_unique<ClientSession>(argv, stage.work.string(), o);
    }
    std::string LocalPath(const std::string& reported) const override {
        return tvwin::LinuxPath(reported);
    }
};

class WineScenario : public ::testing::TestWithParam<Scenario> {};

TEST_P(WineScenario, Plays) {
    if (!tvwin::Configured({"TV_ROBOT", "TV_WIN_CLIENT", "TV_WIN_GAME"}))
        GTEST_SKIP() << "needs the Windows build (TV_ROBOT, TV_WIN_CLIENT, TV_WIN_GAME)";
    if (GetParam().offLoopback)
        GTEST_SKIP() << "off loopback: needs a private network namespace, outside of which "
                        "the Wine server and the display live";
    if (!GetParam().wineDiffers.empty())
        RecordProperty("wine_differs", GetParam().wineDiffers);
    WineRunner runner;
    Play(runner, GetParam());
}

INSTANTIATE_TEST_SUITE_P(Table, WineScenario, ::testing::ValuesIn(Scenarios()),
                         [](const ::testing::TestParamInfo<Scenario>& i) { return i.param.name; });

} // namespace

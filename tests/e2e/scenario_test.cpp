// The scenario table played by the host program in its line mode.
#include "client_session.h"
#include "private_netns.h"
#include "scenario.h"

#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>

namespace {

using namespace tvtest;

// Writes one line per argument, after the working directory, and renames the
// file into place so a reader never sees half of it.
const char kGameScript[] = "#!/bin/sh\n"
                           "{ pwd -P; for a in \"$@\"; do printf '<%s>\\n' \"$a\"; done; } "
                           "> launched.tmp && mv launched.tmp launched.txt\n";

class HostRunner : public Runner {
  public:
    HostRunner() {
        char templ[] = "/tmp/tv_game_XXXXXX";
        m_dir = ::mkdtemp(templ);
        std::ofstream(m_dir / "launch.sh") << kGameScript;
    }
    ~HostRunner() override {
        std::error_code ec;
        fs::remove_all(m_dir, ec);
    }
    bool Wine() const override { return false; }
    fs::path GameSource() const override { return m_dir / "launch.sh"; }
    std::string GameName() const override { return "launch.sh"; }
    // Run in a private network namespace (see the test), where lo is up and
    // 127.0.0.2 is the source address of every local route: the client is
    // 127.0.0.2 and the servers keep the stage's 127.0.0.3 and 127.0.0.4.
    std::string OffLoopback(Stage&) override { return ""; }
    std::unique_ptr<ClientSession> Start(const Stage& stage, const Scenario& s) override {
        std::vector<std::string> argv = {TV_CLIENT_EXE};
        argv.insert(argv.end(), s.args.begin(), s.args.end());
        SessionOptions o;
        o.input = s.input;
        o.env = {"TMPDIR=" + stage.tmp.string()};
        return std::make_unique<ClientSession>(argv, stage.work.string(), o);
    }

  private:
    fs::path m_dir;
};

class HostScenario : public ::testing::TestWithParam<Scenario> {};

TEST_P(HostScenario, Plays) {
    if (GetParam().offLoopback)
        RUN_IN_PRIVATE_NETNS("TV_SCENARIO_IN_NETNS");
    HostRunner runner;
    Play(runner, GetParam());
}

INSTANTIATE_TEST_SUITE_P(Table, HostScenario, ::testing::ValuesIn(Scenarios()),
                         [](const ::testing::TestParamInfo<Scenario>& i) { return i.param.name; });

} // namespace

// The scenario table (tests/e2e/scenarios.cpp) played by the Windows program
// under Wine, through torvane-robot, which shows what the host program's line
// mode shows.
#include "client_session.h"
#include "scenario.h"
#include "wine_paths.h"

#include <arpa/inet.h>
#include <cstdlib>
#include <gtest/gtest.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

namespace {

using namespace tvtest;

// The first IPv4 address of an interface that is up and not loopback.
std::string MachineAddress() {
    ifaddrs* all = nullptr;
    if (::getifaddrs(&all) != 0)
        return "";
    std::string found;
    for (ifaddrs* i = all; i != nullptr && found.empty(); i = i->ifa_next) {
        if (i->ifa_addr == nullptr || i->ifa_addr->sa_family != AF_INET ||
            (i->ifa_flags & IFF_LOOPBACK) || !(i->ifa_flags & IFF_UP))
            continue;
        char text[INET_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(i->ifa_addr)->sin_addr, text,
                    sizeof text);
        found = text;
    }
    ::freeifaddrs(all);
    return found;
}

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
    // Under Wine the sockets are made by the Wine server, which the session
    // shares and which lives outside any private network namespace (tried:
    // the client's connect went to the host's loopback). The machine's own
    // address, if it has one, is off loopback too: both servers listen there.
    std::string OffLoopback(Stage& stage) override {
        const std::string addr = MachineAddress();
        if (addr.empty())
            return "off loopback: this machine has no address but loopback";
        stage.frontAddr = stage.backAddr = addr;
        return "";
    }
    std::string LocalPath(const std::string& reported) const override {
        return tvwin::LinuxPath(reported);
    }
};

class WineScenario : public ::testing::TestWithParam<Scenario> {};

TEST_P(WineScenario, Plays) {
    if (!tvwin::Configured({"TV_ROBOT", "TV_WIN_CLIENT", "TV_WIN_GAME"}))
        GTEST_SKIP() << "needs the Windows build (TV_ROBOT, TV_WIN_CLIENT, TV_WIN_GAME)";
    if (!GetParam().wineDiffers.empty())
        RecordProperty("wine_differs", GetParam().wineDiffers);
    WineRunner runner;
    Play(runner, GetParam());
}

INSTANTIATE_TEST_SUITE_P(Table, WineScenario, ::testing::ValuesIn(Scenarios()),
                         [](const ::testing::TestParamInfo<Scenario>& i) { return i.param.name; });

} // namespace

// Hostile servers that work on time: one that never speaks and one that
// trickles, each of which must leave the window closable. The catalogue of
// malformed exchanges and refused names, and the cases off loopback, are rows
// of the end-to-end scenario table (tests/e2e/scenarios.cpp), played on both
// backends.
#include "harness.h"
#include "scripted_server.h"

#include <chrono>
#include <functional>
#include <gtest/gtest.h>

namespace {

using namespace tvrel;
using tvtest::ServerConn;

// Runs the client against one script and closes its window after closeAfterMs;
// returns how long the client took to end after the close.
long long CloseWhileServing(tvtest::ScriptedServer::Script script, int closeAfterMs, ClientRun& r) {
    TempDir dir;
    WriteRecord(dir.path(), "1 1 1 1");
    tvtest::ScriptedServer server(std::move(script));
    WriteConfig(dir.path(), server.Port());
    ClientOptions o;
    o.dir = dir.path();
    o.closeAfterMs = closeAfterMs;
    const auto start = std::chrono::steady_clock::now();
    r = RunClient(o);
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start)
               .count() -
           closeAfterMs;
}

TEST(HostileServerTiming, ServerThatSendsNothingLeavesTheWindowClosable) {
    ClientRun r;
    const long long ms = CloseWhileServing([](ServerConn& c) { c.WaitPeerClose(15000); }, 500, r);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_LT(ms, 2000) << "the window did not close promptly";
}

TEST(HostileServerTiming, TrickleOfOneBytePerSecondLeavesTheWindowResponsiveAndClosable) {
    ClientRun r;
    const std::string stream = tvtest::VersionReply(2, 2);
    const long long ms = CloseWhileServing(
        [&](ServerConn& c) {
            for (char b : stream) {
                if (!c.Send(std::string(1, b)))
                    return;
                if (c.PeerSendsWithin(1000))
                    return; // the client went away
            }
            c.WaitPeerClose(5000);
        },
        2500, r);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_LT(ms, 2000) << "the window did not close promptly";
    // Nothing has arrived that a line could show: the window's opening state
    // ("0/0" counters) is not printed.
    EXPECT_EQ(r.out, "");
}

} // namespace

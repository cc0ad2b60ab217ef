// The terminal interface end to end (host only): the player is told which
// file could not be installed, instead of seeing the window vanish; the file
// the update was replacing is kept, and the process ends leaving the terminal
// as it found it.
#include "client_session.h"
#include "gzip_encoder.h"
#include "scenario.h"

#include <gtest/gtest.h>
#include <termios.h>

namespace {

using namespace tvtest;

std::string Gzip(const std::string& plain) {
    const auto gz =
        tvserver::GzipEncode(reinterpret_cast<const unsigned char*>(plain.data()), plain.size(), 0);
    return std::string(gz.begin(), gz.end());
}

TEST(TerminalInterface, CorruptBodyIsShownThenEndsTheProcessWithCodeOneAndRestoresTheTerminal) {
    Stage st("/bin/true", "launch.sh");
    st.Record("1 1 0 0");
    st.Write(st.work / "b", "the installed b");
    std::string corrupt = Gzip(std::string(3000, 'b'));
    corrupt[corrupt.size() - 8] ^= 0x55; // the CRC-32 of the member
    st.ServeScript([&](ServerConn& c) {
        c.Send(VersionReply(5, 0));
        c.Recv(9);
        c.Send(ListHeader(3, 0, 1000) + File("a", 2, Gzip("alpha")) + File("b", 3, corrupt) +
               File("c", 4, Gzip("charlie")));
        c.WaitPeerClose(20000);
    });

    SessionOptions o;
    o.terminal = true;
    o.env = {"TMPDIR=" + st.tmp.string()};
    ClientSession s({TV_CLIENT_EXE}, st.work.string(), o);
    ASSERT_TRUE(s.Started());
    ASSERT_TRUE(s.WaitUntil([&] {
        return s.Out().find("Can't decompress b.gz") != std::string::npos;
    })) << s.Out();
    ASSERT_TRUE(s.Type("\r"));
    const RunResult r = s.Finish();
    ASSERT_FALSE(r.timedOut) << r.out;
    EXPECT_EQ(r.exitCode, 1);
    const std::size_t entered = r.out.rfind("\033[?1049h");
    const std::size_t left = r.out.rfind("\033[?1049l");
    ASSERT_NE(entered, std::string::npos) << "the terminal interface was not used";
    EXPECT_NE(left, std::string::npos) << "the alternate screen is left behind";
    EXPECT_GT(left, entered);
    unsigned lflag = 0;
    ASSERT_TRUE(s.TerminalModesAtExit(lflag));
    EXPECT_TRUE((lflag & ICANON) && (lflag & ECHO)) << "raw mode is left behind";
    EXPECT_EQ(r.out.find("gzip:"), std::string::npos) << "decompressor diagnostics on the screen";
    EXPECT_EQ(st.Read(st.work / "a"), "alpha");
    EXPECT_EQ(st.Read(st.work / "b"), "the installed b");
    EXPECT_FALSE(fs::exists(st.work / "b.~tv")) << "the incomplete output is deleted";
    EXPECT_EQ(st.Record(), "1 1 0 0");
}

} // namespace

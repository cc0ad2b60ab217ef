// The client's start-up with one call of the Windows backend's system-call
// table failing: the player gets the client's own message for it, and the
// program ends instead of hanging.
#include "listener.h"
#include "platform/afx.h"
#include "platform/win32/syscall_faults.h"
#include "robot.h"
#include "temp_dir.h"

#include <gtest/gtest.h>
#include <string>

namespace {

robot::Box StartAndAnswer() {
    robot::Box box;
    {
        robot::Helper helper([&] { box = robot::AnswerBox(); });
        EXPECT_FALSE(AfxGetApp()->InitInstance());
    }
    return box;
}

} // namespace

TEST(ClientFaults, SocketStartUpThatFailsShowsMessageOne) {
    TempWorkDir dir;
    tvwin32::FailNthCall<&tvwin32::Syscalls::WSAStartup> fault(1, WSASYSNOTREADY, WSASYSNOTREADY);
    const robot::Box box = StartAndAnswer();
    EXPECT_EQ(fault.Calls(), 1);
    EXPECT_EQ(box.text, "Windows 소켓 초기화에 실패하였습니다.");
    EXPECT_EQ(box.icon, "exclamation");
}

TEST(ClientFaults, ConnectThatFailsShowsMessageTwoAndEnds) {
    WSADATA data;
    ASSERT_EQ(WSAStartup(MAKEWORD(1, 1), &data), 0);
    Listener server; // takes the connection and says nothing
    TempWorkDir dir;
    // A short Timeout bounds the run should the connect succeed after all.
    TempWorkDir::Write("Config.ini", "[Update]\r\nIP=127.0.0.1\r\nPort=" +
                                         std::to_string(server.Port()) + "\r\nTimeout=2\r\n");
    tvwin32::FailNthCall<&tvwin32::Syscalls::connect> fault(1, WSAENETUNREACH);
    const robot::Box box = StartAndAnswer();
    EXPECT_EQ(fault.Calls(), 1);
    EXPECT_EQ(box.text, "서버 접속에 실패했습니다.\n잠시 후 재 실행 하세요.");
    EXPECT_EQ(box.icon, "hand");
    WSACleanup();
}

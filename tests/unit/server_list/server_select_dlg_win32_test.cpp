// CServerSelectDlg as a real dialog under Windows, driven by the robot as a
// player would: a double-click in the list and the Connect button launch the
// game with the selected server, Cancel and Escape start nothing, a list that
// cannot be converted shows message 7. The game is a copy of this test
// program, which writes down its command line (see main.cpp).
#include "app/settings.h"
#include "install/version_record.h"
#include "platform/app.h"
#include "robot.h"
#include "temp_dir.h"
#include "ui/resource.h"
#include "ui/server_select_dlg.h"

#include <filesystem>
#include <functional>
#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

const char kMsgDamaged[] = "손상된 파일이 있습니다.\n재 설치 후 다시 시작하세요.";

// The list's item as the mouse reaches it: a double-click on its rectangle.
void DoubleClickItem(HWND hList, int nIndex) {
    RECT r = {};
    SendMessageW(hList, LB_GETITEMRECT, static_cast<WPARAM>(nIndex), reinterpret_cast<LPARAM>(&r));
    const LPARAM at = MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2);
    PostMessageW(hList, WM_LBUTTONDOWN, MK_LBUTTON, at);
    PostMessageW(hList, WM_LBUTTONUP, 0, at);
    PostMessageW(hList, WM_LBUTTONDBLCLK, MK_LBUTTON, at);
    PostMessageW(hList, WM_LBUTTONUP, 0, at);
}

class ServerSelectDlgTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_game = m_dir.path() / "game";
        fs::create_directory(m_game);
        wchar_t self[MAX_PATH];
        GetModuleFileNameW(nullptr, self, MAX_PATH);
        fs::copy_file(self, m_game / "game.exe");
        g_strClient = "game\\game.exe";
        std::string list =
            "[Server]\nCount=2\nName0=Alpha\nIP0=10.0.0.1\nName1=Beta\nIP1=10.0.0.2\n";
        ScrambleText(list.data());
        TempWorkDir::Write("Server.cnv", list);
        // The test program's own arguments would be handed on to the game.
        m_savedCmdLine = AfxGetApp()->m_lpCmdLine;
        AfxGetApp()->m_lpCmdLine = m_noArguments;
    }
    void TearDown() override { AfxGetApp()->m_lpCmdLine = m_savedCmdLine; }

    // Runs the dialog while the robot plays: act gets the dialog once it is up.
    INT_PTR Run(const std::function<void(HWND)>& act) {
        robot::Helper helper([&] {
            HWND h = robot::WaitForDialog("Server Select");
            ASSERT_NE(h, nullptr);
            act(h);
        });
        CServerSelectDlg dlg(nullptr);
        return dlg.DoModal();
    }

    // The game's command line after its program name, or "" when it was not
    // started within waitMs (Wine starts a process in a few hundred ms).
    std::string GameArguments(int waitMs = 5000) const {
        const fs::path file = m_game / "args.txt";
        for (int i = 0; i < waitMs / 10 && !fs::exists(file); ++i)
            Sleep(10);
        return TempWorkDir::Read(file.string());
    }

    TempWorkDir m_dir;
    fs::path m_game;
    char m_noArguments[1] = "";
    char* m_savedCmdLine = nullptr;
};

TEST_F(ServerSelectDlgTest, DoubleClickAndConnectLaunchTheGameWithTheSelectedServer) {
    const std::function<void(HWND)> acts[] = {
        [](HWND h) { DoubleClickItem(GetDlgItem(h, IDC_SERVER_LIST), 1); },
        [](HWND h) {
            robot::PressKey(h, VK_DOWN);   // the list has the focus first
            robot::PressKey(h, VK_RETURN); // Connect is the default button
        },
    };
    for (const auto& act : acts) {
        fs::current_path(m_dir.path());
        fs::remove(m_game / "args.txt");
        EXPECT_EQ(Run(act), 0);
        EXPECT_EQ(GameArguments(), "-Update /IP:10.0.0.2 ") << "one blank for no own arguments";
        EXPECT_EQ(fs::current_path(), m_game) << "the game's directory is current";
    }
}

TEST_F(ServerSelectDlgTest, OwnArgumentsFollowTheAddressUnchanged) {
    char own[] = "-window \"two  words\"";
    AfxGetApp()->m_lpCmdLine = own;
    EXPECT_EQ(Run([](HWND h) { robot::Click(GetDlgItem(h, IDC_CONNECT)); }), 0);
    EXPECT_EQ(GameArguments(), "-Update /IP:10.0.0.1 -window \"two  words\"");
}

TEST_F(ServerSelectDlgTest, CancelButtonAndEscapeStartNothing) {
    EXPECT_EQ(Run([](HWND h) { robot::Click(GetDlgItem(h, IDC_CANCEL)); }), 0);
    EXPECT_EQ(Run([](HWND h) { robot::PressKey(h, VK_ESCAPE); }), IDCANCEL);
    EXPECT_EQ(GameArguments(1000), "");
}

// Count comes from a local file: a damaged one must not hold the player for
// ever reading two billion absent entries.
TEST_F(ServerSelectDlgTest, HugeCountStopsAtTheListLimit) {
    std::string list = "[Server]\nCount=2147483647\nName0=Alpha\nIP0=10.0.0.1\n";
    ScrambleText(list.data());
    TempWorkDir::Write("Server.cnv", list);
    LRESULT items = -1;
    EXPECT_EQ(Run([&](HWND h) {
                  items = SendMessageW(GetDlgItem(h, IDC_SERVER_LIST), LB_GETCOUNT, 0, 0);
                  robot::PressKey(h, VK_ESCAPE);
              }),
              IDCANCEL);
    EXPECT_EQ(items, 4096);
}

TEST_F(ServerSelectDlgTest, ListThatCannotBeConvertedShowsMessageSevenAndEnds) {
    fs::remove("Server.cnv");
    fs::create_directory("Server.cnv");
    robot::Box box;
    {
        robot::Helper helper([&] { box = robot::AnswerBox(); });
        CServerSelectDlg dlg(nullptr);
        EXPECT_EQ(dlg.DoModal(), 0);
    }
    EXPECT_EQ(box.text, kMsgDamaged);
    EXPECT_EQ(box.icon, "hand");
    EXPECT_EQ(GameArguments(1000), "");
}

} // namespace

// A smoke test of the terminal front end under a pseudo-terminal: this test
// binary runs again as the child (see main.cpp), shows a message box and a
// list dialog, and the test types the answers.
#include "platform/afx.h"
#include "platform/host/frontend.h"
#include "platform/host/frontends.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr UINT kListDlg = 960;
const DialogControl kControls[] = {
    {1006, ControlKind::ListBox, nullptr, 10, 10, 195, 55, 0x50A10101},
    {1005, ControlKind::DefPushButton, "접속", 100, 75, 50, 14, 0x50010001},
    {1007, ControlKind::PushButton, "취소", 155, 75, 50, 14, 0x50010000},
};
const DialogTemplate kDialogs[] = {
    {kListDlg, "Server Select", 217, 99, "", 9, 0x80C800C0, 0, kControls, 3}};
const ResourceTable kTable = {kDialogs, 1, nullptr, 0, nullptr, 0};

class ListDlg : public CDialog {
  public:
    ListDlg() : CDialog(kListDlg) {}
    CListBox m_list;
    void DoDataExchange(CDataExchange* pDX) override { DDX_Control(pDX, 1006, m_list); }
    BOOL OnInitDialog() override {
        CDialog::OnInitDialog();
        m_list.AddString("first item");
        m_list.AddString("second item 두번째");
        m_list.SetCurSel(0);
        return TRUE;
    }
    BOOL OnCommand(UINT nID, UINT nCode) override {
        if (nID == 1005 || (nID == 1006 && nCode == LBN_DBLCLK)) {
            EndDialog(10 + m_list.GetCurSel());
            return TRUE;
        }
        return CDialog::OnCommand(nID, nCode);
    }
};

// Reads the child's screen output until `needle` shows up or 5 s pass.
bool ReadUntil(int fd, std::string& screen, const std::string& needle) {
    for (int waited = 0; waited < 5000 && screen.find(needle) == std::string::npos;) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) {
            waited += 100;
            continue;
        }
        char buf[4096];
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0)
            return false;
        screen.append(buf, static_cast<std::size_t>(n));
    }
    return screen.find(needle) != std::string::npos;
}

struct Child {
    pid_t pid;
    int fd;
};

Child StartChild(const char* mode) {
    std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    winsize ws{30, 100, 0, 0};
    int fd;
    pid_t pid = ::forkpty(&fd, nullptr, nullptr, &ws);
    if (pid == 0) {
        ::setenv("TV_TERMINAL_CHILD", mode, 1);
        ::setenv("TERM", "xterm", 1);
        ::execl(self.c_str(), self.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    return {pid, fd};
}

int WaitChild(const Child& c) {
    int status = 0;
    for (int i = 0; i < 500 && ::waitpid(c.pid, &status, WNOHANG) == 0; ++i)
        ::usleep(10000);
    ::close(c.fd);
    return status;
}

TEST(TerminalFrontEnd, ShowsBoxesAndListsTakesKeysAndRestoresTheTerminal) {
    Child c = StartChild("run");
    ASSERT_GT(c.pid, 0);
    std::string screen;
    ASSERT_TRUE(ReadUntil(c.fd, screen, "[ OK ]")) << screen;
    EXPECT_NE(screen.find("Error"), std::string::npos);
    ASSERT_EQ(::write(c.fd, "\r", 1), 1);
    ASSERT_TRUE(ReadUntil(c.fd, screen, "두번째")) << screen;
    ASSERT_EQ(::write(c.fd, "\033OB\r", 4), 4); // Down (keypad mode), Enter
    ASSERT_TRUE(ReadUntil(c.fd, screen, "\033[?1049l")) << "terminal not restored";
    int status = WaitChild(c);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 11);
}

TEST(TerminalFrontEnd, FatalSignalStillRestoresTheTerminal) {
    Child c = StartChild("abort");
    ASSERT_GT(c.pid, 0);
    std::string screen;
    EXPECT_TRUE(ReadUntil(c.fd, screen, "\033[?1049l")) << "terminal not restored";
    int status = WaitChild(c);
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGABRT);
}

} // namespace

// The child's side, called from main.cpp.
int RunTerminalChild(const char* mode) {
    AfxSetResources(kTable);
    tvhost::SetAppName("smoke");
    tvhost::SetFrontEnd(tvhost::MakeTerminalFrontEnd());
    if (std::strcmp(mode, "abort") == 0) {
        AfxGetApp();
        std::abort();
    }
    int box = AfxMessageBox("한글 메시지", MB_ICONERROR);
    ListDlg dlg;
    INT_PTR r = dlg.DoModal();
    tvhost::SetFrontEnd(nullptr);
    return box == IDOK ? static_cast<int>(r) : 1;
}

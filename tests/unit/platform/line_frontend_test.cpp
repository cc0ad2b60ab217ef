// The line front end: message boxes on stderr, the dialog's final line on
// stdout, a close signal as the close box, a list answered from stdin.
#include "platform/afx.h"
#include "platform/host/frontend.h"
#include "platform/host/frontends.h"

#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

constexpr UINT kProgressDlg = 970, kListDlg = 971;
const DialogControl kProgressControls[] = {
    {-1, ControlKind::StaticLeft, "File Count", 10, 10, 41, 8, 0x50020000},
    {1006, ControlKind::StaticRight, "0/0", 65, 10, 140, 8, 0x50020002},
    {-1, ControlKind::StaticLeft, "Total", 10, 70, 21, 8, 0x50020000},
    {1003, ControlKind::StaticRight, "0/0", 65, 70, 140, 8, 0x50020002},
};
const DialogControl kListControls[] = {
    {1006, ControlKind::ListBox, nullptr, 10, 10, 195, 55, 0x50A10101},
    {1005, ControlKind::DefPushButton, "Connect", 100, 75, 50, 14, 0x50010001},
};
const DialogTemplate kDialogs[] = {
    {kProgressDlg, "Torvane Update", 217, 99, "", 9, 0x90C800C0, 0, kProgressControls, 4},
    {kListDlg, "Server Select", 217, 99, "", 9, 0x80C800C0, 0, kListControls, 2},
};
const ResourceTable kTable = {kDialogs, 2, nullptr, 0, nullptr, 0};

class Dlg : public CDialog {
  public:
    explicit Dlg(UINT id) : CDialog(id) {}
    std::function<void(Dlg&)> init;
    bool destroyed = false;
    CListBox m_list;
    void DoDataExchange(CDataExchange* pDX) override {
        if (m_nIDTemplate == kListDlg)
            DDX_Control(pDX, 1006, m_list);
    }
    BOOL OnInitDialog() override {
        CDialog::OnInitDialog();
        if (init)
            init(*this);
        return TRUE;
    }
    BOOL OnCommand(UINT nID, UINT nCode) override {
        if (nID == 1005 || nCode == LBN_DBLCLK) {
            EndDialog(100 + m_list.GetCurSel());
            return TRUE;
        }
        return CDialog::OnCommand(nID, nCode);
    }
    void OnDestroy() override { destroyed = true; }
};

class LineFrontEndTest : public testing::Test {
  protected:
    void SetUp() override {
        AfxSetResources(kTable);
        tvhost::SetAppName("torvane-update");
        tvhost::SetFrontEnd(tvhost::MakeLineFrontEnd());
    }
    void TearDown() override { tvhost::InstallRecordingFrontEnd(); }
};

TEST_F(LineFrontEndTest, MessageBoxGoesToStderrAndTheFinalStateToStdout) {
    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();
    Dlg dlg(kProgressDlg);
    dlg.init = [](Dlg& d) {
        AfxMessageBox("서버 접속에 실패했습니다.\n잠시 후 재 실행 하세요.", MB_ICONERROR);
        for (int i = 1; i <= 1000; ++i) {
            CString t;
            t.Format("%d/1000", i);
            d.SetDlgItemText(1003, t);
        }
        d.SetDlgItemText(1006, "1/1");
        d.PostMessage(WM_CLOSE);
    };
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    std::string out = testing::internal::GetCapturedStdout();
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "torvane-update: error: 서버 접속에 실패했습니다.\n잠시 후 재 실행 하세요.\n");
    // Not the state the dialog opened with, and (throttled) only the final
    // state.
    EXPECT_EQ(out, "File Count 1/1, Total 1000/1000\n");
}

// A caption that goes on from the template's title carries a status, which
// the line shows after the texts; any other caption is not part of the line.
TEST_F(LineFrontEndTest, StatusInTheCaptionEndsTheLine) {
    testing::internal::CaptureStdout();
    Dlg dlg(kProgressDlg);
    dlg.init = [](Dlg& d) {
        d.SetDlgItemText(1006, "1/2");
        d.PostMessage(WM_CLOSE);
        d.SetWindowText("Torvane Update - 34 % - 3.2 MB/s - 0:42 left");
    };
    dlg.DoModal();
    Dlg other(kProgressDlg);
    other.init = [](Dlg& d) {
        d.SetDlgItemText(1006, "2/2");
        d.SetWindowText("Something else");
        d.PostMessage(WM_CLOSE);
    };
    other.DoModal();
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "File Count 1/2, Total 0/0 - 34 % - 3.2 MB/s - 0:42 left\n"
              "File Count 2/2, Total 0/0\n");
}

TEST_F(LineFrontEndTest, CloseSignalActsAsTheCloseBox) {
    Dlg dlg(kProgressDlg);
    std::thread killer;
    dlg.init = [&](Dlg&) {
        killer = std::thread([] {
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            ::kill(::getpid(), SIGTERM);
        });
    };
    testing::internal::CaptureStdout();
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    testing::internal::GetCapturedStdout();
    killer.join();
    EXPECT_TRUE(dlg.destroyed);
}

TEST_F(LineFrontEndTest, ListIsAnsweredByOneLineFromStdin) {
    struct Case {
        const char* input;
        INT_PTR result;
    };
    for (Case c : {Case{"2\n", 101}, Case{"\n", 100}, Case{"", IDCANCEL}, Case{"9\n1\n", IDCANCEL},
                   Case{"x\n", IDCANCEL}, Case{"q\n", IDCANCEL}}) {
        int pipefd[2];
        ASSERT_EQ(::pipe(pipefd), 0);
        ASSERT_EQ(::write(pipefd[1], c.input, std::strlen(c.input)),
                  static_cast<ssize_t>(std::strlen(c.input)));
        ::close(pipefd[1]);
        int savedStdin = ::dup(STDIN_FILENO);
        ::dup2(pipefd[0], STDIN_FILENO);
        ::close(pipefd[0]);
        Dlg dlg(kListDlg);
        dlg.init = [](Dlg& d) {
            d.m_list.AddString("Alpha");
            d.m_list.AddString("Beta");
            d.m_list.SetCurSel(0);
        };
        testing::internal::CaptureStdout();
        INT_PTR r = dlg.DoModal();
        std::string out = testing::internal::GetCapturedStdout();
        ::dup2(savedStdin, STDIN_FILENO);
        ::close(savedStdin);
        EXPECT_EQ(r, c.result) << c.input;
        EXPECT_NE(out.find("Server Select\n  1. Alpha\n  2. Beta\n"), std::string::npos) << out;
    }
}

} // namespace

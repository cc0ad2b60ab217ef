// Dialogs, controls, message boxes and the worker wait, through the recording
// front end and the real event loop.
#include "platform/afx.h"
#include "platform/host/frontend.h"
#include "platform/host/frontends.h"
#include "platform/host/window.h"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr UINT kProgressDlg = 900, kListDlg = 901, kPanelDlg = 902;

const DialogControl kProgressControls[] = {
    {1006, ControlKind::StaticRight, "0/0", 65, 10, 140, 8, 0x50020002},
    {-1, ControlKind::StaticLeft, "File Count", 10, 10, 41, 8, 0x50020000},
    {1001, ControlKind::StaticRight, "Test.txt", 65, 25, 140, 8, 0x50020002},
    {-1, ControlKind::StaticLeft, "File Name", 10, 25, 37, 8, 0x50020000},
    {1004, ControlKind::ProgressBar, nullptr, 10, 55, 195, 10, 0x50800000},
};
const DialogControl kListControls[] = {
    {1006, ControlKind::ListBox, nullptr, 10, 10, 195, 55, 0x50A10101},
    {1005, ControlKind::DefPushButton, "Connect", 100, 75, 50, 14, 0x50010001},
    {1007, ControlKind::PushButton, "Cancel", 155, 75, 50, 14, 0x50010000},
};
const DialogControl kPanelControls[] = {
    {-1, ControlKind::StaticLeft, "Please wait.", 18, 45, 181, 8, 0x50020000},
};
const DialogTemplate kDialogs[] = {
    {kProgressDlg, "Progress", 217, 99, "Gulim", 9, 0x90C800C0, WS_EX_APPWINDOW, kProgressControls,
     5},
    {kListDlg, "Server Select", 217, 99, "Gulim", 9, 0x80C800C0, 0, kListControls, 3},
    {kPanelDlg, "", 217, 99, "Gulim", 9, 0x40000040, 0, kPanelControls, 1},
};
const StringResource kStrings[] = {{1, "첫 번째 메시지"}, {4, "line one\nline two"}};
const ResourceTable kTable = {kDialogs, 3, kStrings, 2, nullptr, 0};

// A dialog whose behaviour each test scripts through std::function members.
class ScriptedDlg : public CDialog {
  public:
    explicit ScriptedDlg(UINT id = kProgressDlg) : CDialog(id) {}
    std::function<void(ScriptedDlg&)> onInit;
    std::function<bool(ScriptedDlg&, UINT, WPARAM)> onMessage;
    std::function<bool(ScriptedDlg&, UINT, UINT)> onCommand;
    std::function<void(ScriptedDlg&, UINT_PTR)> onTimer;
    std::vector<std::string>* log = nullptr;
    CString m_strCount = "0/0", m_strName;
    CProgressCtrl m_bar;

    BOOL OnInitDialog() override {
        CDialog::OnInitDialog();
        if (onInit)
            onInit(*this);
        return TRUE;
    }
    void DoDataExchange(CDataExchange* pDX) override {
        if (m_nIDTemplate != kProgressDlg)
            return;
        DDX_Control(pDX, 1004, m_bar);
        DDX_Text(pDX, 1006, m_strCount);
        DDX_Text(pDX, 1001, m_strName);
    }
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
        if (message >= WM_APP && onMessage && onMessage(*this, message, wParam))
            return 0;
        return CDialog::WindowProc(message, wParam, lParam);
    }
    BOOL OnCommand(UINT nID, UINT nCode) override {
        if (onCommand && onCommand(*this, nID, nCode))
            return TRUE;
        return CDialog::OnCommand(nID, nCode);
    }
    void OnTimer(UINT_PTR nIDEvent) override {
        if (onTimer)
            onTimer(*this, nIDEvent);
    }
    void OnDestroy() override {
        if (log)
            log->push_back("destroy " + std::to_string(m_nIDTemplate));
    }
};

class DialogTest : public testing::Test {
  protected:
    void SetUp() override {
        AfxSetResources(kTable);
        tvhost::SetAppName("TestApp");
        rec = &tvhost::InstallRecordingFrontEnd();
    }
    tvhost::RecordingFrontEnd* rec = nullptr;
};

TEST_F(DialogTest, NestedModalRunEndsOnlyItsOwnDialog) {
    std::vector<std::string> log;
    ScriptedDlg outer, inner(kListDlg);
    outer.log = inner.log = &log;
    outer.onInit = [](ScriptedDlg& d) { d.PostMessage(WM_APP); };
    inner.onInit = [](ScriptedDlg& d) { d.PostMessage(WM_APP + 1); };
    outer.onMessage = [&](ScriptedDlg& d, UINT, WPARAM) {
        d.EndDialog(5); // takes effect only when control is back in the outer run
        log.push_back("inner returned " + std::to_string(inner.DoModal()));
        return true;
    };
    inner.onMessage = [&](ScriptedDlg& d, UINT, WPARAM) {
        d.EndDialog(7);
        return true;
    };
    EXPECT_EQ(outer.DoModal(), 5);
    EXPECT_EQ(log, (std::vector<std::string>{"destroy 901", "inner returned 7", "destroy 900"}));
    EXPECT_EQ(outer.m_hWnd, nullptr);
    EXPECT_EQ(rec->ModalRuns(), (std::vector<UINT>{kProgressDlg, kListDlg}));
}

TEST_F(DialogTest, EndDialogDuringInitSkipsTheRun) {
    ScriptedDlg dlg;
    dlg.onInit = [](ScriptedDlg& d) { d.EndDialog(0); };
    EXPECT_EQ(dlg.DoModal(), 0);
    EXPECT_TRUE(rec->ModalRuns().empty());
}

// A destroyed window's record is freed and its slot taken by the next window
// at once; the old handle, and a message posted to it before it went away,
// must reach neither.
TEST_F(DialogTest, StaleHandleNeverReachesTheWindowThatReusesItsSlot) {
    std::vector<std::string> log;
    ScriptedDlg gone(kListDlg), reuser(kListDlg), outer;
    HWND stale = nullptr;
    reuser.onMessage = [&](ScriptedDlg&, UINT, WPARAM) {
        log.push_back("reuser got a message");
        return true;
    };
    outer.onInit = [&](ScriptedDlg& d) {
        ASSERT_TRUE(gone.Create(kListDlg, &d));
        stale = gone.m_hWnd;
        ::PostMessage(stale, WM_APP, 1, 0);
        gone.DestroyWindow();
        ASSERT_TRUE(reuser.Create(kListDlg, &d));
        d.PostMessage(WM_APP, 2);
    };
    outer.onMessage = [&](ScriptedDlg& d, UINT, WPARAM w) {
        log.push_back("outer got " + std::to_string(w));
        d.EndDialog(0);
        return true;
    };
    EXPECT_EQ(outer.DoModal(), 0);
    EXPECT_NE(reuser.m_hWnd, stale);
    EXPECT_FALSE(::IsWindow(stale));
    EXPECT_EQ(::SendMessage(stale, WM_APP, 3, 0), 0);
    EXPECT_EQ(CWnd::FromHandle(stale), nullptr);
    EXPECT_EQ(log, (std::vector<std::string>{"outer got 2"}));
}

TEST_F(DialogTest, PostFromAnotherThreadWakesTheLoopAndEndDialogThereIsQueued) {
    ScriptedDlg dlg;
    std::thread poster;
    dlg.onInit = [&](ScriptedDlg& d) {
        poster = std::thread([&d] {
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            d.PostMessage(WM_APP, 3);
        });
    };
    dlg.onMessage = [&](ScriptedDlg&, UINT, WPARAM w) {
        std::thread([&dlg, w] { dlg.EndDialog(static_cast<int>(w)); }).join();
        return true;
    };
    EXPECT_EQ(dlg.DoModal(), 3);
    poster.join();
}

TEST_F(DialogTest, KeysEndTheDialogWithTheFrameworkResults) {
    struct Case {
        tvhost::Key key;
        INT_PTR result;
    };
    for (Case c : {Case{tvhost::Key::Escape, IDCANCEL}, Case{tvhost::Key::Close, IDCANCEL},
                   Case{tvhost::Key::Enter, IDOK}}) {
        std::vector<std::string> log;
        ScriptedDlg dlg;
        dlg.log = &log;
        dlg.onInit = [&](ScriptedDlg& d) {
            d.m_strName = "member";
            d.GetDlgItem(1001)->SetWindowText("from control");
            tvhost::PostKey(c.key);
        };
        EXPECT_EQ(dlg.DoModal(), c.result) << static_cast<int>(c.key);
        EXPECT_EQ(log, std::vector<std::string>{"destroy 900"});
        // Enter goes through OnOK, which reads the controls back first.
        EXPECT_EQ(dlg.m_strName, c.key == tvhost::Key::Enter ? "from control" : "member");
    }
}

TEST_F(DialogTest, DataExchangePushesTextsAndRecordsThem) {
    ScriptedDlg dlg;
    dlg.m_strCount = "1/3";
    dlg.m_strName = "data\\x.pak";
    dlg.onInit = [](ScriptedDlg& d) { d.EndDialog(0); };
    dlg.DoModal();
    EXPECT_EQ(rec->Text(1006), "1/3");
    EXPECT_EQ(rec->Text(1001), "data\\x.pak");
    EXPECT_EQ(rec->TextHistory(1001), std::vector<std::string>{"data\\x.pak"});
}

TEST_F(DialogTest, ProgressPositionStaysInsideItsRange) {
    ScriptedDlg dlg;
    std::vector<int> seen;
    dlg.onInit = [&](ScriptedDlg& d) {
        d.m_bar.SetRange32(0, 500);
        d.m_bar.SetPos(0);
        d.m_bar.OffsetPos(300);
        seen.push_back(d.m_bar.GetPos());
        d.m_bar.OffsetPos(300);
        seen.push_back(d.m_bar.GetPos());
        d.m_bar.OffsetPos(-1000);
        seen.push_back(d.m_bar.GetPos());
        // The raw messages, as the client sends them.
        d.m_bar.SendMessage(PBM_SETRANGE32, 0, 0);
        seen.push_back(static_cast<int>(d.m_bar.SendMessage(PBM_DELTAPOS, 7)));
        seen.push_back(static_cast<int>(d.m_bar.SendMessage(PBM_GETPOS)));
        d.m_bar.SendMessage(PBM_SETRANGE32, 0, 0x7FFFFFFF);
        d.m_bar.SetPos(0x7FFFFFF0);
        d.m_bar.OffsetPos(0x100); // no wrap past the 32-bit limit
        seen.push_back(d.m_bar.GetPos());
        seen.push_back(static_cast<int>(d.m_bar.SendMessage(PBM_GETRANGE, FALSE)));
        int lo, hi;
        d.m_bar.GetRange(lo, hi);
        seen.push_back(hi);
        d.EndDialog(0);
    };
    dlg.DoModal();
    EXPECT_EQ(seen, (std::vector<int>{300, 500, 0, 0, 0, 0x7FFFFFFF, 0x7FFFFFFF, 0x7FFFFFFF}));
    auto progress = rec->Progress(1004);
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress[0].high, 500);
}

TEST_F(DialogTest, ListBoxItemsSelectionAndErrors) {
    ScriptedDlg dlg(kListDlg);
    CListBox list;
    std::vector<DWORD_PTR> seen;
    dlg.onInit = [&](ScriptedDlg& d) {
        list.m_hWnd = d.GetDlgItem(1006)->m_hWnd;
        seen.push_back(static_cast<DWORD_PTR>(list.GetCurSel()));
        seen.push_back(list.GetItemData(0));
        list.AddString("one");
        list.SetItemData(list.AddString("two"), 0x0100007F);
        seen.push_back(list.GetItemData(1));
        seen.push_back(static_cast<DWORD_PTR>(list.SetCurSel(5)));
        seen.push_back(static_cast<DWORD_PTR>(list.GetCount()));
        d.EndDialog(0);
    };
    dlg.DoModal();
    list.m_hWnd = nullptr;
    const DWORD_PTR err = static_cast<DWORD_PTR>(static_cast<INT_PTR>(LB_ERR));
    EXPECT_EQ(seen, (std::vector<DWORD_PTR>{err, 0xFFFFFFFFu, 0x0100007F, err, 2}));
}

TEST_F(DialogTest, ListKeysSelectAndEnterActsAsDoubleClick) {
    ScriptedDlg dlg(kListDlg);
    CListBox list;
    std::vector<std::string> commands;
    dlg.onInit = [&](ScriptedDlg& d) {
        list.m_hWnd = d.GetDlgItem(1006)->m_hWnd;
        for (const char* s : {"a", "b", "c"})
            list.AddString(s);
        list.SetCurSel(0);
    };
    dlg.onCommand = [&](ScriptedDlg& d, UINT id, UINT code) {
        commands.push_back(std::to_string(id) + ":" + std::to_string(code));
        if (code == LBN_DBLCLK || id == 1005) {
            d.EndDialog(list.GetCurSel());
            return true;
        }
        return false;
    };
    rec->SetModalStartScript([](UINT, HWND) {
        tvhost::PostKey(tvhost::Key::Down);
        tvhost::PostKey(tvhost::Key::Down);
        tvhost::PostKey(tvhost::Key::Down); // stays on the last item
        tvhost::PostKey(tvhost::Key::Up);
        tvhost::PostKey(tvhost::Key::Enter);
    });
    EXPECT_EQ(dlg.DoModal(), 1);
    EXPECT_EQ(commands, (std::vector<std::string>{"1006:1", "1006:1", "1006:1", "1006:2"}));

    rec->SetModalStartScript([](UINT, HWND) {
        tvhost::PostListSelection(2);
        tvhost::PostKey(tvhost::Key::Tab); // focus to the Connect button
        tvhost::PostKey(tvhost::Key::Space);
    });
    ScriptedDlg again(kListDlg);
    again.onInit = dlg.onInit;
    again.onCommand = dlg.onCommand;
    EXPECT_EQ(again.DoModal(), 2);
    list.m_hWnd = nullptr;
}

TEST_F(DialogTest, MessageBoxCaptionIconAndText) {
    struct Case {
        UINT type;
        tvhost::BoxIcon icon;
    };
    const Case cases[] = {{MB_OK, tvhost::BoxIcon::Warning},
                          {MB_ICONERROR, tvhost::BoxIcon::Error},
                          {MB_ICONINFORMATION, tvhost::BoxIcon::Information},
                          {MB_ICONEXCLAMATION, tvhost::BoxIcon::Warning}};
    for (const Case& c : cases)
        EXPECT_EQ(AfxMessageBox("text", c.type), IDOK);
    AfxMessageBox(4, MB_ICONERROR);
    auto boxes = rec->MessageBoxes();
    ASSERT_EQ(boxes.size(), 5u);
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(boxes[i].caption, "TestApp");
        EXPECT_EQ(boxes[i].icon, cases[i].icon) << i;
        EXPECT_FALSE(boxes[i].fromWorker);
    }
    EXPECT_EQ(boxes[4].text, "line one\nline two");
    EXPECT_STREQ(tvhost::BoxIconName(boxes[4].icon), "error");
}

TEST_F(DialogTest, MessageBoxOpenUntilAKeyAnswersIt) {
    rec->SetMessageBoxScript([](const tvhost::MessageBoxEvent&) {
        tvhost::PostKey(tvhost::Key::Escape);
        return -1; // leave it open: the loop runs until the key arrives
    });
    EXPECT_EQ(AfxMessageBox("open", MB_ICONINFORMATION), IDOK);
    EXPECT_EQ(AfxMessageBox("open", MB_OKCANCEL), IDCANCEL);
}

unsigned __stdcall WorkerShowsBox(void* arg) {
    auto* dlg = static_cast<ScriptedDlg*>(arg);
    AfxMessageBox("Can't decompress a.gz", MB_ICONERROR);
    dlg->EndDialog(0);
    return 0;
}

TEST_F(DialogTest, WorkerWaitServesTheWorkersMessageBoxAndHoldsPostedMessages) {
    ScriptedDlg dlg, panel(kPanelDlg);
    std::vector<std::string> order;
    dlg.onInit = [&](ScriptedDlg& d) {
        panel.Create(kPanelDlg, &d);
        d.PostMessage(WM_APP + 2);
        d.PostMessage(WM_APP + 1);
    };
    rec->SetMessageBoxScript([&](const tvhost::MessageBoxEvent& box) {
        order.push_back(std::string("box ") + (box.fromWorker ? "from worker" : "from ui"));
        return IDOK;
    });
    dlg.onMessage = [&](ScriptedDlg& d, UINT msg, WPARAM) {
        if (msg == WM_APP + 1) {
            order.push_back("held message");
            return true;
        }
        panel.ShowWindow(SW_SHOW);
        EXPECT_TRUE(panel.IsWindowVisible());
        EXPECT_EQ(tvhost::DialogLine(d.m_hWnd), "Please wait.");
        HANDLE h =
            reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, WorkerShowsBox, &d, 0, nullptr));
        EXPECT_EQ(AfxWaitForWorker(h), WAIT_OBJECT_0);
        order.push_back("wait over");
        CloseHandle(h);
        panel.ShowWindow(SW_HIDE);
        return true;
    };
    EXPECT_EQ(dlg.DoModal(), 0);
    EXPECT_EQ(order, (std::vector<std::string>{"box from worker", "wait over", "held message"}));
}

unsigned __stdcall WorkerSleeps(void*) {
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    return 0;
}

// WM_TIMER reaches OnTimer during the modal run, never while the
// user-interface thread waits for a worker; KillTimer ends one timer, and a
// window's timers end with the window.
TEST_F(DialogTest, TimerTicksInTheModalRunUntilKilled) {
    ScriptedDlg dlg;
    int ticks = 0;
    bool waiting = false, tickedWhileWaiting = false;
    HWND hDlg = nullptr;
    dlg.onInit = [&](ScriptedDlg& d) {
        hDlg = d.m_hWnd;
        EXPECT_EQ(d.SetTimer(7, 10, nullptr), 7u);
    };
    dlg.onTimer = [&](ScriptedDlg& d, UINT_PTR id) {
        if (id == 8) {
            d.EndDialog(0);
            return;
        }
        tickedWhileWaiting |= waiting;
        if (++ticks == 2) {
            waiting = true;
            HANDLE h = reinterpret_cast<HANDLE>(
                _beginthreadex(nullptr, 0, WorkerSleeps, nullptr, 0, nullptr));
            AfxWaitForWorker(h);
            CloseHandle(h);
            waiting = false;
        } else if (ticks == 3) {
            EXPECT_TRUE(d.KillTimer(7));
            EXPECT_FALSE(d.KillTimer(7));
            d.SetTimer(8, 50, nullptr); // time for a killed timer to show up
        }
    };
    EXPECT_EQ(dlg.DoModal(), 0);
    EXPECT_EQ(ticks, 3);
    EXPECT_FALSE(tickedWhileWaiting);
    EXPECT_FALSE(::KillTimer(hDlg, 8)) << "the timer outlived its window";
}

TEST_F(DialogTest, DialogLineGroupsTextsByRow) {
    ScriptedDlg dlg;
    std::string line;
    dlg.m_strCount = "2/3";
    dlg.m_strName = "data\\x.pak";
    dlg.onInit = [&](ScriptedDlg& d) {
        line = tvhost::DialogLine(d.m_hWnd);
        d.EndDialog(0);
    };
    dlg.DoModal();
    EXPECT_EQ(line, "File Count 2/3, File Name data\\x.pak");
}

TEST_F(DialogTest, UnknownTemplateFailsTheRun) {
    ScriptedDlg dlg(4242);
    EXPECT_EQ(dlg.DoModal(), -1);
}

} // namespace

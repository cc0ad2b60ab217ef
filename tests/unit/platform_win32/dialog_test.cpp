// Real dialogs from the templates: the controls the dialog manager builds,
// data exchange, the keys and the close box, nested runs, the end request of
// another thread, message boxes and the wait for a worker. Driven by the
// robot from a helper thread, as a user would.
#include "platform/afx.h"
#include "robot.h"

#include <algorithm>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

constexpr UINT kProgressDlg = 900, kListDlg = 901, kPanelDlg = 902;

const DialogControl kProgressControls[] = {
    {1006, ControlKind::StaticRight, "0/0", 65, 10, 140, 8, 0x50020002},
    {-1, ControlKind::StaticLeft, "File Count", 10, 10, 41, 8, 0x50020000},
    {1001, ControlKind::StaticRight, "Test.txt", 65, 25, 140, 8, 0x50020002},
    {1004, ControlKind::ProgressBar, nullptr, 10, 55, 195, 10, 0x50800000},
};
const DialogControl kListControls[] = {
    {1006, ControlKind::ListBox, nullptr, 10, 10, 195, 55, 0x50A10101},
    {1005, ControlKind::DefPushButton, "접속", 100, 75, 50, 14, 0x50010001},
    {1007, ControlKind::PushButton, "취소", 155, 75, 50, 14, 0x50010000},
};
const DialogControl kPanelControls[] = {
    {-1, ControlKind::StaticLeft, "잠시만 기다려 주십시요.", 18, 45, 181, 8, 0x50020000},
};
const DialogTemplate kDialogs[] = {
    {kProgressDlg, "Torvane Update", 217, 99, "굴림체", 9, 0x90C800C0, WS_EX_APPWINDOW,
     kProgressControls, 4},
    {kListDlg, "Server Select", 217, 99, "굴림체", 9, 0x80C800C0, 0, kListControls, 3},
    {kPanelDlg, "", 217, 99, "굴림체", 9, 0x40000040, 0, kPanelControls, 1},
};
const StringResource kStrings[] = {{1, "Windows 소켓 초기화에 실패하였습니다."}};
const ResourceTable kTable = {kDialogs, 3, kStrings, 1, nullptr, 0};

// A dialog whose behaviour each test scripts.
class ScriptedDlg : public CDialog {
  public:
    explicit ScriptedDlg(UINT id = kProgressDlg) : CDialog(id) {}
    std::function<void(ScriptedDlg&)> onInit;
    std::function<void(ScriptedDlg&, UINT, WPARAM)> onApp;
    std::function<bool(ScriptedDlg&, UINT, UINT)> onCommand;
    std::vector<std::string>* log = nullptr;
    CString m_strCount = "0/0", m_strName;
    CProgressCtrl m_bar;
    CListBox m_list;

    BOOL OnInitDialog() override {
        CDialog::OnInitDialog();
        if (onInit)
            onInit(*this);
        return TRUE;
    }
    void DoDataExchange(CDataExchange* pDX) override {
        if (m_nIDTemplate == kListDlg) {
            DDX_Control(pDX, 1006, m_list);
            return;
        }
        if (m_nIDTemplate != kProgressDlg)
            return;
        DDX_Control(pDX, 1004, m_bar);
        DDX_Text(pDX, 1006, m_strCount);
        DDX_Text(pDX, 1001, m_strName);
    }
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
        if (message >= WM_APP && message < WM_APP + 0x100 && onApp) {
            onApp(*this, message, wParam);
            return 0;
        }
        return CDialog::WindowProc(message, wParam, lParam);
    }
    BOOL OnCommand(UINT nID, UINT nCode) override {
        if (onCommand && onCommand(*this, nID, nCode))
            return TRUE;
        return CDialog::OnCommand(nID, nCode);
    }
    void OnDestroy() override {
        if (log)
            log->push_back("destroy " + std::to_string(m_nIDTemplate));
    }
};

class DialogTest : public testing::Test {
  protected:
    void SetUp() override { AfxSetResources(kTable); }
};

std::wstring Wide(HWND h) {
    wchar_t buf[256] = {};
    GetWindowTextW(h, buf, 256);
    return buf;
}

TEST_F(DialogTest, TemplateBuildsItsControlsWhereTheDialogUnitsSay) {
    ScriptedDlg dlg(kListDlg);
    dlg.onInit = [](ScriptedDlg& d) {
        HWND h = d.m_hWnd;
        EXPECT_EQ(Wide(h), L"Server Select");
        EXPECT_EQ(static_cast<DWORD>(GetWindowLongPtrW(h, GWL_STYLE)) & 0x00C80080u, 0x00C80080u)
            << "caption, system menu, modal frame";
        LOGFONTW font = {};
        GetObjectW(reinterpret_cast<HFONT>(SendMessageW(h, WM_GETFONT, 0, 0)), sizeof font, &font);
        EXPECT_STREQ(font.lfFaceName, L"굴림체");
        const struct {
            int id;
            const char* cls;
            const wchar_t* text;
        } kWant[] = {{1006, "ListBox", L""}, {1005, "Button", L"접속"}, {1007, "Button", L"취소"}};
        for (int i = 0; i < 3; ++i) {
            HWND c = GetDlgItem(h, kWant[i].id);
            ASSERT_NE(c, nullptr) << kWant[i].id;
            EXPECT_EQ(robot::ClassName(c), kWant[i].cls);
            EXPECT_EQ(Wide(c), kWant[i].text);
            EXPECT_EQ(static_cast<DWORD>(GetWindowLongPtrW(c, GWL_STYLE)) & 0xFFFF,
                      kListControls[i].style & 0xFFFF)
                << kWant[i].id;
            const DialogControl& t = kListControls[i];
            RECT want = {t.x, t.y, t.x + t.cx, t.y + t.cy};
            MapDialogRect(h, &want);
            RECT got;
            GetWindowRect(c, &got);
            MapWindowPoints(nullptr, h, reinterpret_cast<POINT*>(&got), 2);
            EXPECT_EQ(got.left, want.left) << kWant[i].id;
            EXPECT_EQ(got.top, want.top) << kWant[i].id;
            EXPECT_EQ(got.right, want.right) << kWant[i].id;
        }
        d.EndDialog(0);
    };
    EXPECT_EQ(dlg.DoModal(), 0);
}

TEST_F(DialogTest, DataExchangeCarriesKoreanTextBothWays) {
    ScriptedDlg dlg;
    dlg.m_strName = "파일 이름.txt";
    dlg.onInit = [](ScriptedDlg& d) {
        EXPECT_EQ(Wide(GetDlgItem(d.m_hWnd, 1001)), L"파일 이름.txt");
        EXPECT_EQ(Wide(GetDlgItem(d.m_hWnd, 1006)), L"0/0");
        SetWindowTextW(GetDlgItem(d.m_hWnd, 1006), L"3/7");
        d.UpdateData(TRUE);
        EXPECT_EQ(d.m_strCount, "3/7");
        EXPECT_EQ(d.m_strName, "파일 이름.txt");
        d.EndDialog(0);
    };
    EXPECT_EQ(dlg.DoModal(), 0);
    EXPECT_EQ(dlg.m_bar.m_hWnd, nullptr) << "the control object lets go of its window";
}

TEST_F(DialogTest, ProgressBarIsTheCommonControlAndKeepsItsPositionInRange) {
    ScriptedDlg dlg;
    dlg.onInit = [](ScriptedDlg& d) {
        EXPECT_EQ(robot::ClassName(d.m_bar.m_hWnd), "msctls_progress32");
        d.m_bar.SetRange32(0, 500);
        d.m_bar.SetPos(0);
        d.m_bar.OffsetPos(300);
        d.m_bar.OffsetPos(300);
        int lo = -1, hi = -1;
        d.m_bar.GetRange(lo, hi);
        EXPECT_EQ(lo, 0);
        EXPECT_EQ(hi, 500);
        EXPECT_EQ(d.m_bar.GetPos(), 500);
        d.m_bar.SetRange32(0, 0);
        EXPECT_EQ(d.m_bar.GetPos(), 0);
        d.EndDialog(0);
    };
    EXPECT_EQ(dlg.DoModal(), 0);
}

// The system's own copy of a window's text, as the screen (and another
// process) sees it; no message reaches the window.
std::wstring Shown(HWND h) {
    wchar_t buf[256] = {};
    InternalGetWindowText(h, buf, 256);
    return buf;
}

void PumpFor(DWORD ms) {
    const ULONGLONG end = GetTickCount64() + ms;
    MSG msg;
    while (GetTickCount64() < end) {
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&msg);
        Sleep(5);
    }
}

// Labels and the caption change faster than they are drawn: a read gives the
// latest text at once; the screen (what another process reads) shows them
// within a frame or two also when nothing changes after them, and at once on
// UpdateWindow.
TEST_F(DialogTest, QuickChangesAreReadAtOnceAndShownWithinFrames) {
    ScriptedDlg dlg;
    dlg.onInit = [](ScriptedDlg& d) {
        HWND label = GetDlgItem(d.m_hWnd, 1006);
        for (const char* text : {"1/3", "2/3", "3/3"}) {
            d.m_strCount = text;
            d.UpdateData(FALSE);
            d.SetWindowText(CString("Torvane Update - ") + text);
        }
        EXPECT_EQ(Wide(d.m_hWnd), L"Torvane Update - 3/3");
        EXPECT_EQ(Wide(label), L"3/3");
        PumpFor(350);
        EXPECT_EQ(Shown(d.m_hWnd), L"Torvane Update - 3/3");
        EXPECT_EQ(Shown(label), L"3/3");
        d.m_strCount = "4/4";
        d.UpdateData(FALSE);
        d.SetWindowText("Torvane Update - 4/4");
        d.UpdateWindow();
        EXPECT_EQ(Shown(d.m_hWnd), L"Torvane Update - 4/4");
        EXPECT_EQ(Shown(label), L"4/4");
        d.m_strCount = "5/5";
        d.UpdateData(FALSE);
        PumpFor(350);
        EXPECT_EQ(Shown(label), L"5/5");
        d.EndDialog(0);
    };
    EXPECT_EQ(dlg.DoModal(), 0);
}

// A run whose every message changes the counter and then the caption (a
// transfer, whose queue never runs empty) shows the two on screen while it
// runs, and between two messages always in step: a change is never on
// screen a frame before the caption that goes with it.
TEST_F(DialogTest, BusyRunShowsCounterAndCaptionTogether) {
    ScriptedDlg dlg;
    int step = 0, outOfStep = 0;
    std::vector<std::wstring> shown;
    ULONGLONG until = 0;
    dlg.onInit = [&](ScriptedDlg& d) {
        until = GetTickCount64() + 700;
        d.PostMessage(WM_APP + 1);
    };
    dlg.onApp = [&](ScriptedDlg& d, UINT, WPARAM) {
        const std::wstring label = Shown(GetDlgItem(d.m_hWnd, 1006));
        const std::wstring caption = label == L"0/0" ? L"" : L" - " + label;
        if (Shown(d.m_hWnd) != L"Torvane Update" + caption)
            ++outOfStep;
        if (shown.empty() || shown.back() != label)
            shown.push_back(label);
        if (GetTickCount64() >= until) {
            d.EndDialog(9);
            return;
        }
        d.m_strCount.Format("%d/0", ++step);
        d.UpdateData(FALSE);
        d.SetWindowText(CString("Torvane Update - ") + d.m_strCount);
        d.PostMessage(WM_APP + 1);
    };
    EXPECT_EQ(dlg.DoModal(), 9);
    EXPECT_EQ(outOfStep, 0) << "of " << step << " steps";
    EXPECT_GE(shown.size(), 4u) << "frames shown while the queue was busy";
}

TEST_F(DialogTest, ListBoxItemsSelectionAndTheErrorValueAsAddress) {
    ScriptedDlg dlg(kListDlg);
    dlg.onInit = [](ScriptedDlg& d) {
        EXPECT_EQ(d.m_list.GetCurSel(), LB_ERR);
        EXPECT_EQ(d.m_list.GetItemData(d.m_list.GetCurSel()), 0xFFFFFFFFu);
        EXPECT_EQ(d.m_list.AddString("알파"), 0);
        EXPECT_EQ(d.m_list.AddString("Beta"), 1);
        d.m_list.SetItemData(1, 0x0200000A);
        EXPECT_EQ(d.m_list.SetCurSel(1), 1);
        CString text;
        EXPECT_EQ(d.m_list.GetText(0, text), 6);
        EXPECT_EQ(text, "알파");
        EXPECT_EQ(d.m_list.GetItemData(d.m_list.GetCurSel()), 0x0200000Au);
        EXPECT_EQ(d.m_list.GetText(5, text), LB_ERR);
        // Server names come from an ANSI file: bytes that are no UTF-8 show
        // as the ...A functions read them (한글 in code page 949).
        const char ansi[] = "\xC7\xD1\xB1\xDB";
        const int item = d.m_list.AddString(ansi);
        wchar_t want[8] = {}, got[8] = {};
        MultiByteToWideChar(CP_ACP, 0, ansi, -1, want, 8);
        SendMessageW(d.m_list.m_hWnd, LB_GETTEXT, static_cast<WPARAM>(item),
                     reinterpret_cast<LPARAM>(got));
        EXPECT_STREQ(got, want);
        if (GetACP() == 949) {
            EXPECT_STREQ(got, L"한글");
        }
        d.m_list.ResetContent();
        EXPECT_EQ(d.m_list.GetCount(), 0);
        d.EndDialog(0);
    };
    EXPECT_EQ(dlg.DoModal(), 0);
}

// Enter on a dialog without buttons is IDOK (texts read back first), Escape
// and the close box IDCANCEL; on the list dialog Enter presses the default
// button, and a click the other one.
TEST_F(DialogTest, KeysCloseBoxAndButtonsGiveTheFrameworkResults) {
    struct Case {
        UINT tmpl;
        std::function<void(HWND)> act;
        INT_PTR want;
    } cases[] = {
        {kProgressDlg, [](HWND h) { robot::PressKey(h, VK_RETURN); }, IDOK},
        {kProgressDlg, [](HWND h) { robot::PressKey(h, VK_ESCAPE); }, IDCANCEL},
        {kProgressDlg, [](HWND h) { robot::PressCloseBox(h); }, IDCANCEL},
        {kListDlg, [](HWND h) { robot::PressKey(h, VK_RETURN); }, 1005},
        {kListDlg, [](HWND h) { robot::Click(GetDlgItem(h, 1007)); }, 1007},
        {kListDlg, [](HWND h) { robot::PressCloseBox(h); }, IDCANCEL},
    };
    for (const Case& c : cases) {
        ScriptedDlg dlg(c.tmpl);
        dlg.onCommand = [](ScriptedDlg& d, UINT nID, UINT nCode) {
            if ((nID == 1005 || nID == 1007) && nCode == BN_CLICKED) {
                d.EndDialog(static_cast<int>(nID));
                return true;
            }
            return false;
        };
        const char* caption = c.tmpl == kListDlg ? "Server Select" : "Torvane Update";
        robot::Helper helper([&] {
            HWND h = robot::WaitForDialog(caption);
            ASSERT_NE(h, nullptr);
            c.act(h);
        });
        EXPECT_EQ(dlg.DoModal(), c.want) << caption << " case " << (&c - cases);
    }
}

TEST_F(DialogTest, NestedModalRunEndsOnlyItsOwnDialog) {
    std::vector<std::string> log;
    ScriptedDlg outer, inner(kListDlg);
    outer.log = inner.log = &log;
    outer.onInit = [](ScriptedDlg& d) { d.PostMessage(WM_APP); };
    inner.onInit = [](ScriptedDlg& d) { d.PostMessage(WM_APP + 1); };
    outer.onApp = [&](ScriptedDlg& d, UINT, WPARAM) {
        d.EndDialog(5); // takes effect only when control is back in the outer run
        log.push_back("inner returned " + std::to_string(inner.DoModal()));
    };
    inner.onApp = [](ScriptedDlg& d, UINT, WPARAM) { d.EndDialog(7); };
    EXPECT_EQ(outer.DoModal(), 5);
    EXPECT_EQ(log, (std::vector<std::string>{"destroy 901", "inner returned 7", "destroy 900"}));
    EXPECT_EQ(outer.m_hWnd, nullptr);
}

TEST_F(DialogTest, EndDialogFromAnotherThreadIsTakenByTheRun) {
    ScriptedDlg dlg;
    dlg.onInit = [](ScriptedDlg& d) { d.PostMessage(WM_APP, 3); };
    dlg.onApp = [&](ScriptedDlg&, UINT, WPARAM w) {
        std::thread([&dlg, w] { dlg.EndDialog(static_cast<int>(w)); }).join();
    };
    EXPECT_EQ(dlg.DoModal(), 3);
}

TEST_F(DialogTest, UnknownTemplateFailsTheRun) {
    ScriptedDlg dlg(12345);
    EXPECT_EQ(dlg.DoModal(), -1);
}

// The caption is the application's name; an OK box without an icon warns.
TEST_F(DialogTest, MessageBoxCaptionIconAndText) {
    struct Case {
        UINT type;
        const char* icon;
    } cases[] = {{MB_ICONERROR, "hand"}, {MB_ICONINFORMATION, "asterisk"}, {MB_OK, "exclamation"}};
    for (const Case& c : cases) {
        robot::Box box;
        {
            robot::Helper helper([&] { box = robot::AnswerBox(); });
            EXPECT_EQ(AfxMessageBox(1, c.type), IDOK);
        }
        EXPECT_EQ(box.caption, AfxGetAppName());
        EXPECT_EQ(box.text, "Windows 소켓 초기화에 실패하였습니다.");
        EXPECT_EQ(box.icon, c.icon) << c.type;
    }
}

unsigned __stdcall WorkerShowsBox(void* arg) {
    auto* dlg = static_cast<ScriptedDlg*>(arg);
    AfxMessageBox("Can't decompress a.gz", MB_ICONERROR);
    dlg->EndDialog(9);
    return 0;
}

// How many colours the window shows in the child's place, read from the
// window's own pixels (another window over it does not count).
int ColoursOver(HWND hwnd, HWND child) {
    RECT r;
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, hwnd, reinterpret_cast<POINT*>(&r), 2);
    const int w = r.right - r.left, h = r.bottom - r.top;
    HDC dc = GetDC(hwnd);
    HDC mem = CreateCompatibleDC(dc);
    HBITMAP bmp = CreateCompatibleBitmap(dc, w, h);
    HGDIOBJ old = SelectObject(mem, bmp);
    BitBlt(mem, 0, 0, w, h, dc, r.left, r.top, SRCCOPY);
    SelectObject(mem, old);
    BITMAPINFO bi = {};
    bi.bmiHeader = {sizeof(BITMAPINFOHEADER), w, -h, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    std::vector<DWORD> px(static_cast<size_t>(w) * h);
    GetDIBits(mem, bmp, 0, h, px.data(), &bi, DIB_RGB_COLORS);
    DeleteObject(bmp);
    DeleteDC(mem);
    ReleaseDC(hwnd, dc);
    std::sort(px.begin(), px.end());
    return static_cast<int>(std::unique(px.begin(), px.end()) - px.begin());
}

// A run kept busy from OnInitDialog on (a transfer's stream of socket
// notifications), so that the queue is never empty, still draws the texts
// that never change.
TEST_F(DialogTest, BusyRunStillDrawsTheFixedTexts) {
    ScriptedDlg dlg;
    int colours = -1;
    ULONGLONG until = 0;
    dlg.onInit = [&](ScriptedDlg& d) {
        until = GetTickCount64() + 500;
        d.PostMessage(WM_APP + 1);
    };
    dlg.onApp = [&](ScriptedDlg& d, UINT, WPARAM) {
        if (GetTickCount64() < until) {
            d.PostMessage(WM_APP + 1);
            return;
        }
        HWND label = FindWindowExW(d.m_hWnd, nullptr, L"Static", L"File Count");
        ASSERT_NE(label, nullptr);
        colours = ColoursOver(d.m_hWnd, label);
        d.EndDialog(9);
    };
    EXPECT_EQ(dlg.DoModal(), 9);
    EXPECT_GT(colours, 1) << "the label was never drawn";
}

// The panel lies over the dialog's controls: a label beneath it that changes
// and repaints after the panel is shown does not draw through it.
TEST_F(DialogTest, PanelStaysOverTheControlsThatRepaintBeneathIt) {
    ScriptedDlg dlg, panel(kPanelDlg);
    int colours = -1;
    dlg.onInit = [&](ScriptedDlg& d) {
        panel.Create(kPanelDlg, &d);
        d.PostMessage(WM_APP + 1);
    };
    dlg.onApp = [&](ScriptedDlg& d, UINT, WPARAM) {
        panel.ShowWindow(SW_SHOW);
        panel.UpdateWindow();
        HWND label = GetDlgItem(d.m_hWnd, 1001);
        SetWindowTextW(label, L"WWWWWWWWWWWWWWWWWWWW");
        // Long enough for any frame the label waits for.
        const ULONGLONG until = GetTickCount64() + 300;
        for (MSG m; GetTickCount64() < until;) {
            while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE))
                DispatchMessageW(&m);
            Sleep(10);
        }
        d.UpdateWindow();
        colours = ColoursOver(d.m_hWnd, label);
        d.EndDialog(9);
    };
    EXPECT_EQ(dlg.DoModal(), 9);
    EXPECT_EQ(colours, 1) << "the label's text shows through the panel";
}
// While the user-interface thread waits for the worker, the worker's box is
// shown over the dialog and answered; what was posted meanwhile (the worker's
// end request included) is taken only when the run has control again.
TEST_F(DialogTest, WorkerWaitServesTheWorkersMessageBoxAndHoldsPostedMessages) {
    ScriptedDlg dlg, panel(kPanelDlg);
    std::vector<std::string> order;
    robot::Box box;
    dlg.onInit = [&](ScriptedDlg& d) {
        panel.Create(kPanelDlg, &d);
        d.PostMessage(WM_APP + 2);
        d.PostMessage(WM_APP + 1);
    };
    dlg.onApp = [&](ScriptedDlg& d, UINT msg, WPARAM) {
        if (msg == WM_APP + 1) {
            order.push_back("held message");
            return;
        }
        panel.ShowWindow(SW_SHOW);
        panel.UpdateWindow();
        EXPECT_TRUE(panel.IsWindowVisible());
        robot::Helper helper([&] { box = robot::AnswerBox(); });
        HANDLE h =
            reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, WorkerShowsBox, &d, 0, nullptr));
        EXPECT_EQ(AfxWaitForWorker(h), WAIT_OBJECT_0);
        order.push_back("wait over");
        CloseHandle(h);
        panel.ShowWindow(SW_HIDE);
    };
    EXPECT_EQ(dlg.DoModal(), 9);
    EXPECT_EQ(order, (std::vector<std::string>{"wait over", "held message"}));
    EXPECT_EQ(box.text, "Can't decompress a.gz");
    EXPECT_EQ(box.icon, "hand");
    EXPECT_EQ(box.ownerCaption, "Torvane Update") << "shown over the dialog";
    EXPECT_TRUE(box.ownerDisabled);
}

struct LabelWorker {
    HWND label;
    std::wstring shown;
};

// Changes a label of the waiting window, then watches the screen for it.
unsigned __stdcall WorkerChangesLabel(void* arg) {
    auto* w = static_cast<LabelWorker*>(arg);
    SendMessageW(w->label, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"7/7"));
    for (int i = 0; i < 500 && (w->shown = Shown(w->label)) != L"7/7"; ++i)
        Sleep(10);
    return 0;
}

// What the worker changes reaches the screen while the user-interface thread
// waits for it (the install's counters), though the wait dispatches nothing.
TEST_F(DialogTest, WorkerWaitShowsTheWorkersChanges) {
    ScriptedDlg dlg;
    LabelWorker worker;
    dlg.onInit = [&](ScriptedDlg& d) { d.PostMessage(WM_APP); };
    dlg.onApp = [&](ScriptedDlg& d, UINT, WPARAM) {
        worker.label = GetDlgItem(d.m_hWnd, 1006);
        HANDLE h = reinterpret_cast<HANDLE>(
            _beginthreadex(nullptr, 0, WorkerChangesLabel, &worker, 0, nullptr));
        EXPECT_EQ(AfxWaitForWorker(h), WAIT_OBJECT_0);
        CloseHandle(h);
        d.EndDialog(0);
    };
    EXPECT_EQ(dlg.DoModal(), 0);
    EXPECT_EQ(worker.shown, L"7/7");
}

} // namespace

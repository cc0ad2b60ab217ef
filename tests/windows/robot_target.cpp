// A practice program for torvane-robot: small Windows GUI scenes of the
// kinds the update client shows, each reporting through its exit code (or a
// message box) what the robot did to it.
//
//   progress STEPS [box]  counters that advance every 40 ms, the percentage
//                         in the caption ("Robot Target - 40 %"), then a
//                         panel over the window for a moment (and an error
//                         box); exits 0. Writes progress-ms.txt: the
//                         milliseconds from the first step to the last, as
//                         a loaded machine stretched them
//   close                 a window that says "ready 1", "ready 2" ... every
//                         100 ms until its close box ends it (the only way
//                         out): exits 7 after SC_CLOSE, 8 after a bare
//                         WM_CLOSE
//   list N                "Server Select" with N items, the first selected:
//                         Connect exits 10 + the selection (+50 when the
//                         list told the dialog of a new selection),
//                         Cancel exits 3
//   box KIND TEXT         a message box (error, information, warning,
//                         question or none) with TEXT, "\n" there as a line
//                         break, after "showing a box" on stderr; exits
//                         with its result
//   args                  a message box with the directory and arguments
//   quiet CODE            exits CODE without a window
//   launch ARGS...        starts robot-target ARGS, shows a message box
//                         with the started process's id, exits 0
//   hang                  never shows a window
#include "robot_target.h"

#include <windows.h>

#include <commctrl.h>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>

namespace {

const UINT_PTR kTick = 1;
const UINT_PTR kPanelDone = 2;
const UINT_PTR kReady = 3;
const UINT_PTR kEnd = 4;

int g_steps = 0;
int g_step = 0;
ULONGLONG g_firstStepAt = 0;
bool g_boxAtEnd = false;
bool g_sawSysClose = false;
bool g_selectionChanged = false;

void SetCounter(HWND dlg, int id, int n, int total) {
    SetDlgItemTextW(dlg, id, (std::to_wstring(n) + L"/" + std::to_wstring(total)).c_str());
}

// A throttled reader of the window may print one line per interval of
// this span, however long the timer really took.
void RecordProgressSpan() {
    if (FILE* f = std::fopen("progress-ms.txt", "w")) {
        std::fprintf(f, "%llu\n", GetTickCount64() - g_firstStepAt);
        std::fclose(f);
    }
}

void Tick(HWND dlg) {
    if (++g_step == 1)
        g_firstStepAt = GetTickCount64();
    SetCounter(dlg, IDC_COUNT, g_step, g_steps);
    SetCounter(dlg, IDC_CURRENT, g_step * 10, g_steps * 10);
    SendDlgItemMessageW(dlg, IDC_BAR, PBM_SETPOS, static_cast<WPARAM>(g_step), 0);
    SetWindowTextW(dlg,
                   (L"Robot Target - " + std::to_wstring(g_step * 100 / g_steps) + L" %").c_str());
    if (g_step < g_steps)
        return;
    KillTimer(dlg, kTick);
    RecordProgressSpan();
    HWND panel = CreateDialogW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_PANEL), dlg,
                               [](HWND, UINT, WPARAM, LPARAM) -> INT_PTR { return FALSE; });
    ShowWindow(panel, SW_SHOW);
    SetTimer(dlg, kPanelDone, 600, nullptr);
}

INT_PTR CALLBACK ProgressProc(HWND dlg, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_INITDIALOG:
        SendDlgItemMessageW(dlg, IDC_BAR, PBM_SETRANGE32, 0, g_steps);
        if (lParam != 0)
            SetTimer(dlg, kTick, 40, nullptr);
        else
            SetTimer(dlg, kReady, 100, nullptr);
        return TRUE;
    case WM_TIMER:
        if (wParam == kTick) {
            Tick(dlg);
        } else if (wParam == kReady) {
            // On until the window closes: whenever the robot first looks, a
            // change follows (its first look is the opening state to it).
            static int ticks = 0;
            SetDlgItemTextW(dlg, IDC_COUNT, (L"ready " + std::to_wstring(++ticks)).c_str());
        } else if (wParam == kPanelDone) {
            KillTimer(dlg, kPanelDone);
            SetWindowTextW(dlg, L"Robot Target");
            SetTimer(dlg, kEnd, 300, nullptr);
        } else {
            KillTimer(dlg, kEnd);
            if (g_boxAtEnd)
                MessageBoxW(dlg, L"끝났습니다.\n두 번째 줄", L"Robot Target", MB_ICONERROR);
            EndDialog(dlg, 0);
        }
        return TRUE;
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == SC_CLOSE)
            g_sawSysClose = true;
        return FALSE;
    case WM_CLOSE:
        EndDialog(dlg, g_sawSysClose ? 7 : 8);
        return TRUE;
    }
    return FALSE;
}

INT_PTR CALLBACK ListProc(HWND dlg, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_INITDIALOG) {
        for (int i = 1; i <= static_cast<int>(lParam); ++i)
            SendDlgItemMessageW(dlg, IDC_LIST, LB_ADDSTRING, 0,
                                reinterpret_cast<LPARAM>((L"서버 " + std::to_wstring(i)).c_str()));
        SendDlgItemMessageW(dlg, IDC_LIST, LB_SETCURSEL, lParam > 0 ? 0 : -1, 0);
        return TRUE;
    }
    if (msg != WM_COMMAND)
        return FALSE;
    const int sel = static_cast<int>(SendDlgItemMessageW(dlg, IDC_LIST, LB_GETCURSEL, 0, 0));
    if (LOWORD(wParam) == IDC_LIST && HIWORD(wParam) == LBN_SELCHANGE)
        g_selectionChanged = true;
    else if (LOWORD(wParam) == IDC_CONNECT && HIWORD(wParam) == BN_CLICKED)
        EndDialog(dlg, 10 + sel + (g_selectionChanged ? 50 : 0));
    else if (LOWORD(wParam) == IDC_CANCEL && HIWORD(wParam) == BN_CLICKED)
        EndDialog(dlg, 3);
    return TRUE;
}

UINT BoxIcon(const wchar_t* kind) {
    const struct {
        const wchar_t* name;
        UINT flag;
    } kinds[] = {{L"error", MB_ICONERROR},
                 {L"information", MB_ICONINFORMATION},
                 {L"warning", MB_ICONWARNING},
                 {L"question", MB_ICONQUESTION}};
    for (const auto& k : kinds)
        if (std::wcscmp(kind, k.name) == 0)
            return k.flag;
    return 0;
}

std::wstring WithLineBreaks(std::wstring text) {
    for (size_t at = text.find(L"\\n"); at != std::wstring::npos; at = text.find(L"\\n", at + 1))
        text.replace(at, 2, L"\n");
    return text;
}

int ShowArguments(int argc, wchar_t** argv) {
    wchar_t dir[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, dir);
    std::wstring text = dir;
    for (int i = 2; i < argc; ++i)
        text += L"\n<" + std::wstring(argv[i]) + L">";
    return MessageBoxW(nullptr, text.c_str(), L"args", MB_ICONINFORMATION);
}

int Launch(int argc, wchar_t** argv) {
    std::wstring cmd = L"robot-target.exe";
    for (int i = 2; i < argc; ++i)
        cmd += L" " + std::wstring(argv[i]);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                        &pi))
        return 98;
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    MessageBoxW(nullptr, std::to_wstring(pi.dwProcessId).c_str(), L"launched", MB_ICONINFORMATION);
    return 0;
}

int Progress(int steps, bool boxAtEnd, bool ticking) {
    g_steps = steps;
    g_boxAtEnd = boxAtEnd;
    return static_cast<int>(DialogBoxParamW(GetModuleHandleW(nullptr),
                                            MAKEINTRESOURCEW(IDD_PROGRESS), nullptr, ProgressProc,
                                            ticking ? 1 : 0));
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&icc);
    const std::wstring mode = argc > 1 ? argv[1] : L"";
    if (mode == L"progress" && argc > 2)
        return Progress(_wtoi(argv[2]), argc > 3, true);
    if (mode == L"close")
        return Progress(0, false, false);
    if (mode == L"list" && argc > 2)
        return static_cast<int>(DialogBoxParamW(GetModuleHandleW(nullptr),
                                                MAKEINTRESOURCEW(IDD_LIST), nullptr, ListProc,
                                                _wtoi(argv[2])));
    if (mode == L"box" && argc > 3) {
        DWORD written = 0;
        WriteFile(GetStdHandle(STD_ERROR_HANDLE), "showing a box\n", 14, &written, nullptr);
        return MessageBoxW(nullptr, WithLineBreaks(argv[3]).c_str(), L"Robot Target",
                           BoxIcon(argv[2]));
    }
    if (mode == L"args")
        return ShowArguments(argc, argv);
    if (mode == L"launch")
        return Launch(argc, argv);
    if (mode == L"quiet" && argc > 2)
        return _wtoi(argv[2]);
    if (mode == L"hang")
        Sleep(INFINITE);
    return 99;
}

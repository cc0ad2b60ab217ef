#include "robot.h"

#include "platform/common/window_text.h"

#include <chrono>
#include <vector>

namespace robot {

namespace {

template <typename Pred> HWND Poll(int timeoutMs, Pred pred) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (HWND h = pred())
            return h;
        if (std::chrono::steady_clock::now() > end)
            return nullptr;
        Sleep(10);
    }
}

// Visible top-level dialogs (#32770) of this process.
std::vector<HWND> OwnDialogs() {
    std::vector<HWND> found;
    EnumWindows(
        [](HWND h, LPARAM lParam) -> BOOL {
            DWORD pid = 0;
            GetWindowThreadProcessId(h, &pid);
            if (pid == GetCurrentProcessId() && IsWindowVisible(h) && ClassName(h) == "#32770")
                reinterpret_cast<std::vector<HWND>*>(lParam)->push_back(h);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

std::string IconName(HICON icon) {
    const struct {
        LPCWSTR id;
        const char* name;
    } kIcons[] = {{IDI_HAND, "hand"},
                  {IDI_EXCLAMATION, "exclamation"},
                  {IDI_ASTERISK, "asterisk"},
                  {IDI_QUESTION, "question"}};
    for (const auto& k : kIcons)
        if (icon != nullptr && icon == LoadIconW(nullptr, k.id))
            return k.name;
    return "";
}

// The icon of the box's icon static (SS_ICON), whatever its id.
HICON BoxIcon(HWND hBox) {
    HICON icon = nullptr;
    for (HWND c = GetWindow(hBox, GW_CHILD); c && !icon; c = GetWindow(c, GW_HWNDNEXT))
        if (ClassName(c) == "Static" && (GetWindowLongPtrW(c, GWL_STYLE) & SS_TYPEMASK) == SS_ICON)
            icon = reinterpret_cast<HICON>(SendMessageW(c, STM_GETICON, 0, 0));
    return icon;
}

} // namespace

std::string Text(HWND hWnd) {
    wchar_t buf[1024] = {};
    SendMessageTimeoutW(hWnd, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buf), SMTO_ABORTIFHUNG,
                        2000, nullptr);
    return tvplatform::FromWindowText(buf);
}

std::string ClassName(HWND hWnd) {
    wchar_t buf[64] = {};
    GetClassNameW(hWnd, buf, 64);
    return tvplatform::FromWindowText(buf);
}

HWND WaitForDialog(const std::string& caption, int timeoutMs) {
    return Poll(timeoutMs, [&]() -> HWND {
        for (HWND h : OwnDialogs())
            if (Text(h) == caption)
                return h;
        return nullptr;
    });
}

bool WaitGone(HWND hWnd, int timeoutMs) {
    return Poll(timeoutMs, [&]() -> HWND {
               return IsWindow(hWnd) && IsWindowVisible(hWnd) ? nullptr : hWnd;
           }) != nullptr;
}

void PressKey(HWND hDlg, UINT vk) {
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    HWND target = hDlg;
    if (GetGUIThreadInfo(GetWindowThreadProcessId(hDlg, nullptr), &info) && info.hwndFocus)
        target = info.hwndFocus;
    PostMessageW(target, WM_KEYDOWN, vk, 1);
    PostMessageW(target, WM_KEYUP, vk, 0xC0000001);
}

void PressCloseBox(HWND hDlg) {
    PostMessageW(hDlg, WM_SYSCOMMAND, SC_CLOSE, 0);
}

void Click(HWND hButton) {
    PostMessageW(hButton, BM_CLICK, 0, 0);
}

Box AnswerBox(int timeoutMs) {
    Box box;
    // A message box is the dialog whose text sits in the static 0xFFFF.
    box.hWnd = Poll(timeoutMs, []() -> HWND {
        for (HWND h : OwnDialogs())
            if (GetDlgItem(h, 0xFFFF) != nullptr && GetDlgItem(h, IDOK) != nullptr)
                return h;
        return nullptr;
    });
    if (!box.hWnd)
        return box;
    box.caption = Text(box.hWnd);
    box.text = Text(GetDlgItem(box.hWnd, 0xFFFF));
    box.icon = IconName(BoxIcon(box.hWnd));
    if (HWND owner = GetWindow(box.hWnd, GW_OWNER)) {
        box.ownerCaption = Text(owner);
        box.ownerDisabled = !IsWindowEnabled(owner);
    }
    Click(GetDlgItem(box.hWnd, IDOK));
    WaitGone(box.hWnd, timeoutMs);
    return box;
}

bool PumpUntil(const std::function<bool()>& done, int timeoutMs) {
    const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(timeoutMs);
    for (;;) {
        // What is queued already is taken first: the wait below wakes only
        // for messages that arrive after the last look at the queue.
        MSG msg;
        while (!done() && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        if (done())
            return true;
        const ULONGLONG now = GetTickCount64();
        if (now >= end)
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(end - now), QS_ALLINPUT);
    }
}

} // namespace robot

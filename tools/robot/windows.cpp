// Reading and working another process's windows from outside, as
// accessibility tools do: the window manager's own records (classes, styles,
// positions, texts) and window messages to the controls. Every message sent
// to the program has a time limit: a program busy elsewhere must not stop the
// robot.
#include "robot.h"

#include <algorithm>
#include <commctrl.h>
#include <map>

namespace robot {

namespace {

// Long enough for a program under load, short enough that a hung one
// cannot hold the robot past its step.
constexpr UINT kSendTimeoutMs = 2000;

LRESULT Send(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(hwnd, msg, wParam, lParam, SMTO_ABORTIFHUNG, kSendTimeoutMs, &result))
        return -1;
    return static_cast<LRESULT>(result);
}

struct EnumState {
    DWORD pid;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectTop(HWND hwnd, LPARAM lParam) {
    auto* s = reinterpret_cast<EnumState*>(lParam);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid == s->pid && IsWindowVisible(hwnd))
        s->found.push_back(hwnd);
    return TRUE;
}

// Whether a control shows now (its recorded style may be older).
bool ShowsNow(HWND hwnd) {
    return (GetWindowLongW(hwnd, GWL_STYLE) & WS_VISIBLE) != 0;
}

bool IsTextStatic(const Control& c) {
    const LONG type = c.style & SS_TYPEMASK;
    return IsClass(c, L"Static") &&
           (type == SS_LEFT || type == SS_CENTER || type == SS_RIGHT || type == SS_SIMPLE ||
            type == SS_LEFTNOWORDWRAP) &&
           ShowsNow(c.hwnd);
}

// Every look at a window from another process is a round trip through the
// Wine server, which a busy client keeps busy too: reading each control's
// class, id, style and place every step made a step take 25 to 70 ms on a
// loaded machine. A dialog's controls keep those for its life, so they are
// read once per window (again if its first or last control changes); what
// does change, the texts and what is shown, is read every time.
struct Layout {
    HWND first = nullptr, last = nullptr;
    std::vector<Control> controls;
};

std::map<HWND, Layout> g_layouts;

bool IsPushButton(const Control& c) {
    const LONG type = c.style & BS_TYPEMASK;
    return IsClass(c, L"Button") && (type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON);
}

} // namespace

std::vector<Control> Controls(HWND parent) {
    HWND first = GetWindow(parent, GW_CHILD);
    HWND last = first ? GetWindow(first, GW_HWNDLAST) : nullptr;
    Layout& layout = g_layouts[parent];
    if (layout.first != first || layout.last != last || first == nullptr)
        layout = {first, last, Children(parent)};
    return layout.controls;
}

std::vector<HWND> KnownControls(HWND parent) {
    std::vector<HWND> out;
    const auto it = g_layouts.find(parent);
    if (it == g_layouts.end())
        return out;
    for (const Control& c : it->second.controls) {
        out.push_back(c.hwnd);
        const std::vector<HWND> inner = KnownControls(c.hwnd);
        out.insert(out.end(), inner.begin(), inner.end());
    }
    return out;
}

void ForgetClosedWindows() {
    for (auto it = g_layouts.begin(); it != g_layouts.end();)
        it = IsWindow(it->first) ? std::next(it) : g_layouts.erase(it);
}

HWND TextHolder(HWND dlg) {
    for (const Control& c : Controls(dlg))
        if (IsClass(c, L"#32770") && ShowsNow(c.hwnd))
            return c.hwnd;
    return dlg;
}

std::vector<HWND> VisibleTopWindows(DWORD pid) {
    EnumState s{pid, {}};
    EnumWindows(CollectTop, reinterpret_cast<LPARAM>(&s));
    return s.found;
}

// In z-order, which for a dialog is the template's order (tab order).
std::vector<Control> Children(HWND parent) {
    std::vector<Control> out;
    for (HWND h = GetWindow(parent, GW_CHILD); h != nullptr; h = GetWindow(h, GW_HWNDNEXT)) {
        Control c{h, {}, GetDlgCtrlID(h), GetWindowLongW(h, GWL_STYLE), {}};
        wchar_t cls[64] = {};
        GetClassNameW(h, cls, 64);
        c.cls = cls;
        GetWindowRect(h, &c.rect);
        out.push_back(std::move(c));
    }
    return out;
}

bool IsClass(const Control& c, const wchar_t* cls) {
    return lstrcmpiW(c.cls.c_str(), cls) == 0;
}

// A message box is a dialog of static texts and push buttons, one of them a
// standard command (IDOK ... IDCONTINUE), with its text in the static
// control 0xFFFF; the program's own dialogs have a progress bar, a list or
// buttons of their own ids.
WindowKind Classify(HWND hwnd) {
    bool hasText = false, hasStandardButton = false, hasOther = false, hasList = false;
    for (const Control& c : Controls(hwnd)) {
        if (IsClass(c, L"ListBox"))
            hasList = true;
        if (IsClass(c, L"Static")) {
            hasText = hasText || (c.id & 0xFFFF) == 0xFFFF;
        } else if (IsPushButton(c) && c.id >= IDOK && c.id <= IDCONTINUE) {
            hasStandardButton = true;
        } else {
            hasOther = true;
        }
    }
    if (hasList)
        return WindowKind::ListDialog;
    if (hasText && hasStandardButton && !hasOther)
        return WindowKind::MessageBox;
    return WindowKind::Other;
}

// The text a window holds, as it paints it. For another process's window
// GetWindowTextW does not send WM_GETTEXT but reads the text the window
// manager keeps for it, which the window's WM_SETTEXT stored: the same text,
// without waiting for a program busy with its transfer, and quick enough to
// look at every window every step.
std::wstring TextOf(HWND hwnd) {
    std::wstring text(1024, L'\0');
    for (;;) {
        const int got = GetWindowTextW(hwnd, text.data(), static_cast<int>(text.size()));
        if (got < static_cast<int>(text.size()) - 1) {
            text.resize(got > 0 ? static_cast<size_t>(got) : 0);
            return text;
        }
        text.resize(text.size() * 2); // perhaps cut: ask again with more room
    }
}

std::wstring TextsLine(HWND holder) {
    std::vector<Control> texts;
    for (Control& c : Controls(holder))
        if (IsTextStatic(c))
            texts.push_back(std::move(c));
    std::stable_sort(texts.begin(), texts.end(), [](const Control& a, const Control& b) {
        return a.rect.top != b.rect.top ? a.rect.top < b.rect.top : a.rect.left < b.rect.left;
    });
    std::wstring line;
    LONG rowTop = 0;
    for (const Control& c : texts) {
        const std::wstring text = TextOf(c.hwnd);
        if (text.empty())
            continue;
        if (!line.empty())
            line += c.rect.top == rowTop ? L" " : L", ";
        line += text;
        rowTop = c.rect.top;
    }
    return line;
}

std::wstring MessageBoxText(HWND box) {
    HWND text = GetDlgItem(box, 0xFFFF);
    std::wstring raw = text ? TextOf(text) : std::wstring();
    std::wstring out;
    for (size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == L'\r') {
            out += L'\n';
            if (i + 1 < raw.size() && raw[i + 1] == L'\n')
                ++i;
        } else {
            out += raw[i];
        }
    }
    return out;
}

std::vector<std::wstring> ListItems(HWND list) {
    std::vector<std::wstring> items;
    const LRESULT n = Send(list, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < n; ++i) {
        const LRESULT len = Send(list, LB_GETTEXTLEN, static_cast<WPARAM>(i), 0);
        std::wstring text(len > 0 ? static_cast<size_t>(len) + 1 : 1, L'\0');
        const LRESULT got = len > 0 ? Send(list, LB_GETTEXT, static_cast<WPARAM>(i),
                                           reinterpret_cast<LPARAM>(text.data()))
                                    : 0;
        text.resize(got > 0 ? static_cast<size_t>(std::min(got, len)) : 0);
        items.push_back(std::move(text));
    }
    return items;
}

int ListSelection(HWND list) {
    return static_cast<int>(Send(list, LB_GETCURSEL, 0, 0));
}

void SelectListItem(HWND dlg, const Control& list, int index) {
    if (ListSelection(list.hwnd) == index)
        return; // a click on the selected item changes nothing
    Send(list.hwnd, LB_SETCURSEL, static_cast<WPARAM>(index), 0);
    if (list.style & LBS_NOTIFY)
        Send(dlg, WM_COMMAND, MAKEWPARAM(list.id, LBN_SELCHANGE),
             reinterpret_cast<LPARAM>(list.hwnd));
}

HWND DefaultButton(HWND dlg) {
    for (const Control& c : Children(dlg))
        if (IsPushButton(c) && (c.style & BS_TYPEMASK) == BS_DEFPUSHBUTTON)
            return c.hwnd;
    return nullptr;
}

// IDCANCEL when the dialog has it, else its other push button (a dialog's
// "Cancel" may carry an id of its own).
HWND CancelButton(HWND dlg) {
    HWND other = nullptr;
    for (const Control& c : Children(dlg)) {
        if (!IsPushButton(c))
            continue;
        if (c.id == IDCANCEL)
            return c.hwnd;
        if ((c.style & BS_TYPEMASK) != BS_DEFPUSHBUTTON)
            other = c.hwnd;
    }
    return other;
}

HWND OkButton(HWND box) {
    HWND ok = GetDlgItem(box, IDOK);
    return ok ? ok : DefaultButton(box);
}

// Posted, not sent: the program's answer to a click may be a modal loop of
// its own (a message box), which must not hold the robot.
void Click(HWND button) {
    PostMessageW(button, BM_CLICK, 0, 0);
}

void PressCloseBox(HWND hwnd) {
    RECT r{};
    GetWindowRect(hwnd, &r);
    PostMessageW(hwnd, WM_SYSCOMMAND, SC_CLOSE, MAKELPARAM(r.right - 8, r.top + 8));
}

} // namespace robot

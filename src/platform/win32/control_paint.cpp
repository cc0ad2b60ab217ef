// Win32 backend: the controls' own state between two frames. What a control
// is asked (WM_GETTEXT, PBM_GETPOS ...) is answered from that state, with the
// progress bar's arithmetic: a position is raised to the low limit, then
// lowered to the high one (so a reversed range pins it at its high limit), as
// the common control does.
#include "platform/win32/control_paint.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

namespace tvwin32 {

namespace {

// The frame timer's id on a taken-over control; the controls' own timers
// (the progress bar's marquee) use small ids.
const UINT_PTR kFrameTimer = 0x7F46;

enum class Kind {
    Text,     // a label
    Progress, // a progress bar
};

struct Control {
    WNDPROC original = nullptr;
    Kind kind = Kind::Text;
    bool dirty = false;      // changed since the last frame
    bool timerSet = false;   // the next frame is on the frame timer
    ULONGLONG lastFrame = 0; // when the control last showed its state
    // Texts: the latest one, not yet shown while pending.
    std::wstring text;
    bool textKnown = false;
    bool textPending = false;
    // Progress bars: the latest range and position, and what is shown.
    int low = 0, high = 100, pos = 0;
    int shownLow = 0, shownHigh = 100, shownPos = 0;
};

// NOTE: leaked on purpose (see event_loop.cpp).
std::unordered_map<HWND, Control>& Controls() {
    static auto* map = new std::unordered_map<HWND, Control>;
    return *map;
}

// Passes the latest state on to the window; on every frame and every
// WM_PAINT, whoever caused it.
void Show(HWND h, Control& c) {
    c.dirty = false;
    c.lastFrame = GetTickCount64();
    if (c.timerSet) {
        c.timerSet = false;
        KillTimer(h, kFrameTimer);
    }
    // NOTE: the control may paint inside these calls and come back here
    // through WM_PAINT; by then nothing is left to show.
    if (c.textPending) {
        c.textPending = false;
        CallWindowProcW(c.original, h, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(c.text.c_str()));
    }
    if (c.kind == Kind::Progress &&
        (c.low != c.shownLow || c.high != c.shownHigh || c.pos != c.shownPos)) {
        c.shownLow = c.low, c.shownHigh = c.high, c.shownPos = c.pos;
        CallWindowProcW(c.original, h, PBM_SETRANGE32, static_cast<WPARAM>(c.low), c.high);
        CallWindowProcW(c.original, h, PBM_SETPOS, static_cast<WPARAM>(c.pos), 0);
    }
}

// Shows the state now: passes it on to the control (which invalidates what
// changed) and paints it at once, so the system's copy is current also while
// the dialog is hidden.
void Frame(HWND h, Control& c) {
    Show(h, c);
    UpdateWindow(h);
}

// NOTE: an invalidated control is painted as soon as the queue runs empty,
// which under a transfer is after nearly every notification, and under Wine
// each paint costs round trips to the Wine and X servers. So a change is shown at once only when
// the last frame is kFrameMs old (synchronously, as a busy queue would hold WM_PAINT back);
// otherwise the frame timer shows it when that time is up.
void Changed(HWND h, Control& c) {
    const ULONGLONG since = GetTickCount64() - c.lastFrame;
    c.dirty = true;
    if (since >= kFrameMs) {
        Frame(h, c);
        return;
    }
    if (!c.timerSet) {
        c.timerSet = true;
        SetTimer(h, kFrameTimer, static_cast<UINT>(kFrameMs - since), nullptr);
    }
}

void FrameDue(HWND h, Control& c) {
    c.timerSet = false;
    KillTimer(h, kFrameTimer);
    if (c.dirty)
        Frame(h, c);
}

void Coerce(Control& c) {
    c.pos = std::min(std::max(c.pos, c.low), c.high);
}

int Clamp32(long long v) {
    return static_cast<int>(std::clamp<long long>(v, INT32_MIN, INT32_MAX));
}

LRESULT ProgressMessage(HWND h, Control& c, UINT message, WPARAM wParam, LPARAM lParam) {
    const int old = c.pos;
    switch (message) {
    case PBM_SETRANGE:
    case PBM_SETRANGE32: {
        const LRESULT previous = MAKELONG(c.low, c.high);
        c.low = message == PBM_SETRANGE ? LOWORD(lParam) : static_cast<int>(wParam);
        c.high = message == PBM_SETRANGE ? HIWORD(lParam) : static_cast<int>(lParam);
        Coerce(c);
        Changed(h, c);
        return previous;
    }
    case PBM_SETPOS:
        c.pos = static_cast<int>(wParam);
        break;
    case PBM_DELTAPOS:
        c.pos = Clamp32(static_cast<long long>(c.pos) + static_cast<int>(wParam));
        break;
    case PBM_GETPOS:
        return c.pos;
    default: // PBM_GETRANGE
        if (lParam) {
            auto* r = reinterpret_cast<PBRANGE*>(lParam);
            r->iLow = c.low;
            r->iHigh = c.high;
        }
        return wParam ? c.low : c.high;
    }
    Coerce(c);
    if (c.pos != old)
        Changed(h, c);
    return old;
}

LRESULT TextMessage(HWND h, Control& c, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_SETTEXT) {
        const wchar_t* text = lParam ? reinterpret_cast<const wchar_t*>(lParam) : L"";
        if (c.textKnown && c.text == text)
            return TRUE; // the counters push every label every time
        c.text = text;
        c.textKnown = true;
        c.textPending = true;
        Changed(h, c);
        return TRUE;
    }
    if (message == WM_GETTEXTLENGTH)
        return static_cast<LRESULT>(c.text.size());
    // WM_GETTEXT
    if (wParam == 0 || !lParam)
        return 0;
    const size_t n = std::min<size_t>(c.text.size(), wParam - 1);
    auto* out = reinterpret_cast<wchar_t*>(lParam);
    std::memcpy(out, c.text.data(), n * sizeof(wchar_t));
    out[n] = L'\0';
    return static_cast<LRESULT>(n);
}

bool IsProgressMessage(UINT message) {
    switch (message) {
    case PBM_SETRANGE:
    case PBM_SETRANGE32:
    case PBM_SETPOS:
    case PBM_DELTAPOS:
    case PBM_GETPOS:
    case PBM_GETRANGE:
        return true;
    default:
        return false;
    }
}

bool IsTextMessage(const Control& c, UINT message) {
    return message == WM_SETTEXT ||
           (c.textKnown && (message == WM_GETTEXT || message == WM_GETTEXTLENGTH));
}

// The messages the state answers; false for the ones the control handles.
bool Answer(HWND h, Control& c, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    if (c.kind == Kind::Progress ? IsProgressMessage(message) : IsTextMessage(c, message)) {
        result = c.kind == Kind::Progress ? ProgressMessage(h, c, message, wParam, lParam)
                                          : TextMessage(h, c, message, wParam, lParam);
        return true;
    }
    if (message == WM_TIMER && wParam == kFrameTimer) {
        FrameDue(h, c);
        result = 0;
        return true;
    }
    return false;
}

LRESULT CALLBACK ControlProc(HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
    auto it = Controls().find(h);
    if (it == Controls().end())
        return DefWindowProcW(h, message, wParam, lParam);
    Control& c = it->second;
    const WNDPROC original = c.original;
    LRESULT result;
    if (Answer(h, c, message, wParam, lParam, result))
        return result;
    if (message == WM_PAINT)
        Show(h, c);
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(h, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(original));
        Controls().erase(it);
    }
    return CallWindowProcW(original, h, message, wParam, lParam);
}

void TakeOver(HWND h, Kind kind) {
    if (h == nullptr || Controls().count(h))
        return;
    Control c;
    c.kind = kind;
    if (kind == Kind::Progress) {
        PBRANGE r = {0, 100};
        SendMessageW(h, PBM_GETRANGE, TRUE, reinterpret_cast<LPARAM>(&r));
        c.low = c.shownLow = r.iLow;
        c.high = c.shownHigh = r.iHigh;
        c.pos = c.shownPos = static_cast<int>(SendMessageW(h, PBM_GETPOS, 0, 0));
    }
    c.original = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(h, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ControlProc)));
    Controls()[h] = std::move(c);
}

} // namespace

void CoalesceControlPainting(HWND hDlg, const DialogTemplate& tmpl) {
    for (int i = 0; i < tmpl.nControls; ++i) {
        const DialogControl& ctl = tmpl.controls[i];
        if (ctl.nID == -1)
            continue;
        switch (ctl.kind) {
        case ControlKind::StaticLeft:
        case ControlKind::StaticRight:
            TakeOver(GetDlgItem(hDlg, ctl.nID), Kind::Text);
            break;
        case ControlKind::ProgressBar:
            TakeOver(GetDlgItem(hDlg, ctl.nID), Kind::Progress);
            break;
        default:
            break;
        }
    }
}

namespace {

void ShowPending(bool bTextsOnly) {
    std::vector<HWND> pending;
    for (const auto& [h, c] : Controls())
        if (c.dirty && (!bTextsOnly || c.kind == Kind::Text))
            pending.push_back(h);
    // NOTE: found again: showing one window may run code that changes others.
    for (HWND h : pending) {
        auto it = Controls().find(h);
        if (it != Controls().end() && it->second.dirty)
            Frame(h, it->second);
    }
}

} // namespace

void ShowPendingFrames() {
    ShowPending(false);
}

void ShowPendingTexts() {
    ShowPending(true);
}

bool IsLiveControl(HWND h) {
    return Controls().count(h) != 0;
}

bool AnswerOnUiThread(HWND h, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    auto it = Controls().find(h);
    return it != Controls().end() && Answer(h, it->second, message, wParam, lParam, result);
}

} // namespace tvwin32

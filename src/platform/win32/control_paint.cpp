// Win32 backend: the controls' and captions' own state between two frames.
// What a window is asked (WM_GETTEXT, PBM_GETPOS ...) is answered from that
// state, with the progress bar's arithmetic: a position is raised to the low
// limit, then lowered to the high one (so a reversed range pins it at its
// high limit), as the common control does.
#include "platform/win32/control_paint.h"

#include "platform/win32/event_loop.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

namespace tvwin32 {

namespace {

// The frame timer's id on a top-level window; the dialogs' own timers use
// small ids.
const UINT_PTR kFrameTimer = 0x7F46;

enum class Kind {
    Text,     // a label
    Progress, // a progress bar
};

// A text as a window holds it: the latest one, not yet shown while pending.
struct HeldText {
    std::wstring text;
    bool known = false;
    bool pending = false;

    // False when it is the text already held (the counters push every label
    // every time).
    bool Set(const wchar_t* t) {
        if (known && text == t)
            return false;
        text = t;
        known = pending = true;
        return true;
    }
};

struct Control {
    WNDPROC original = nullptr;
    Kind kind = Kind::Text;
    HWND root = nullptr;
    bool dirty = false; // changed since the last frame
    HeldText text;
    // Progress bars: the latest range and position, and what is shown.
    int low = 0, high = 100, pos = 0;
    int shownLow = 0, shownHigh = 100, shownPos = 0;
};

// One top-level window and the controls in it.
struct Frame {
    bool holdsCaption = false; // a dialog of ours: its caption is held here
    HeldText caption;
    bool dirty = false;
    bool timerSet = false;   // the next frame is on the frame timer
    bool posted = false;     // the next frame is in the queue
    bool showing = false;    // passing the state on to the windows
    ULONGLONG lastShown = 0; // when the frame was last shown
};

// NOTE: leaked on purpose (see event_loop.cpp).
std::unordered_map<HWND, Control>& Controls() {
    static auto* map = new std::unordered_map<HWND, Control>;
    return *map;
}

std::unordered_map<HWND, Frame>& Frames() {
    static auto* map = new std::unordered_map<HWND, Frame>;
    return *map;
}

// Passes a control's latest state on to it, which invalidates what changed.
void PassOn(HWND h, Control& c) {
    c.dirty = false;
    if (c.text.pending) {
        c.text.pending = false;
        CallWindowProcW(c.original, h, WM_SETTEXT, 0,
                        reinterpret_cast<LPARAM>(c.text.text.c_str()));
    }
    if (c.kind == Kind::Progress &&
        (c.low != c.shownLow || c.high != c.shownHigh || c.pos != c.shownPos)) {
        c.shownLow = c.low, c.shownHigh = c.high, c.shownPos = c.pos;
        CallWindowProcW(c.original, h, PBM_SETRANGE32, static_cast<WPARAM>(c.low), c.high);
        CallWindowProcW(c.original, h, PBM_SETPOS, static_cast<WPARAM>(c.pos), 0);
    }
}

void CALLBACK FrameDue(HWND root, UINT, UINT_PTR, DWORD);

void Schedule(HWND root, Frame& f, ULONGLONG delay) {
    if (!f.timerSet) {
        f.timerSet = true;
        SetTimer(root, kFrameTimer, static_cast<UINT>(delay), FrameDue);
    }
}

// Shows the frame now: the controls' changes, then the caption's, and paints
// the controls at once, so the system's copies are current also while the
// window is hidden or its run never leaves the queue empty.
void Show(HWND root) {
    auto fit = Frames().find(root);
    if (fit == Frames().end() || fit->second.showing)
        return;
    fit->second.showing = true;
    fit->second.dirty = false;
    fit->second.lastShown = GetTickCount64();
    if (fit->second.timerSet) {
        fit->second.timerSet = false;
        KillTimer(root, kFrameTimer);
    }
    std::vector<HWND> changed;
    for (auto& [h, c] : Controls())
        if (c.root == root && c.dirty)
            changed.push_back(h);
    // NOTE: found again after every call into a window: it may run code that
    // changes or destroys others.
    for (HWND h : changed) {
        auto it = Controls().find(h);
        if (it != Controls().end() && it->second.dirty)
            PassOn(h, it->second);
    }
    fit = Frames().find(root);
    if (fit != Frames().end() && fit->second.caption.pending) {
        fit->second.caption.pending = false;
        const std::wstring caption = fit->second.caption.text; // the send may change it
        SendMessageW(root, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(caption.c_str()));
    }
    for (HWND h : changed)
        if (IsLiveControl(h))
            UpdateWindow(h);
    fit = Frames().find(root);
    if (fit == Frames().end())
        return;
    fit->second.showing = false;
    if (fit->second.dirty) // changed while it was shown: the next frame
        Schedule(root, fit->second, kFrameMs);
}

void CALLBACK FrameDue(HWND root, UINT, UINT_PTR, DWORD) {
    auto it = Frames().find(root);
    if (it == Frames().end()) {
        KillTimer(root, kFrameTimer);
        return;
    }
    it->second.timerSet = false;
    KillTimer(root, kFrameTimer);
    if (it->second.dirty)
        Show(root);
}

// NOTE: an invalidated control is painted as soon as the queue runs empty,
// which under a transfer is after nearly every notification, and under Wine
// each paint and each caption change costs round trips to the Wine and X
// servers. So a frame is due only when the last one is kFrameMs old; before
// that the frame timer shows it when the time is up, which a busy queue holds
// back (timers come only when nothing is posted). A due frame of a dialog of
// ours is posted to it, so it comes after the message that made the change
// has made all of its changes (the counters first, the caption after them:
// shown at once, the first would be on screen a frame before the other);
// any other window's is shown at once, and so is every change inside a
// restricted wait, which takes neither.
void Changed(HWND root) {
    auto it = Frames().find(root);
    if (it == Frames().end())
        return;
    Frame& f = it->second;
    f.dirty = true;
    if (f.showing)
        return; // taken along, or scheduled once the frame is out
    if (InRestrictedWait()) {
        Show(root);
        return;
    }
    if (f.posted)
        return;
    const ULONGLONG since = GetTickCount64() - f.lastShown;
    if (since < kFrameMs) {
        Schedule(root, f, kFrameMs - since);
        return;
    }
    f.posted = f.holdsCaption && PostMessageW(root, kShowFrameMessage, 0, 0);
    if (!f.posted)
        Show(root);
}

void ControlChanged(Control& c) {
    c.dirty = true;
    Changed(c.root);
}

void Coerce(Control& c) {
    c.pos = std::min(std::max(c.pos, c.low), c.high);
}

int Clamp32(long long v) {
    return static_cast<int>(std::clamp<long long>(v, INT32_MIN, INT32_MAX));
}

LRESULT ProgressMessage(Control& c, UINT message, WPARAM wParam, LPARAM lParam) {
    const int old = c.pos;
    switch (message) {
    case PBM_SETRANGE:
    case PBM_SETRANGE32: {
        const LRESULT previous = MAKELONG(c.low, c.high);
        c.low = message == PBM_SETRANGE ? LOWORD(lParam) : static_cast<int>(wParam);
        c.high = message == PBM_SETRANGE ? HIWORD(lParam) : static_cast<int>(lParam);
        Coerce(c);
        ControlChanged(c);
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
        ControlChanged(c);
    return old;
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

// WM_SETTEXT, and the reads once the text is known; false for the messages
// the window handles itself.
bool AnswerText(HeldText& held, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result,
                bool& changed) {
    changed = false;
    result = 0;
    switch (message) {
    case WM_SETTEXT:
        changed = held.Set(lParam ? reinterpret_cast<const wchar_t*>(lParam) : L"");
        result = TRUE;
        return true;
    case WM_GETTEXTLENGTH:
        if (held.known)
            result = static_cast<LRESULT>(held.text.size());
        return held.known;
    case WM_GETTEXT:
        if (!held.known)
            return false;
        if (wParam != 0 && lParam) {
            const size_t n = std::min<size_t>(held.text.size(), wParam - 1);
            auto* out = reinterpret_cast<wchar_t*>(lParam);
            std::memcpy(out, held.text.data(), n * sizeof(wchar_t));
            out[n] = L'\0';
            result = static_cast<LRESULT>(n);
        }
        return true;
    default:
        return false;
    }
}

// The messages the state answers; false for the ones the control handles.
bool Answer(Control& c, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    if (c.kind == Kind::Progress) {
        if (!IsProgressMessage(message))
            return false;
        result = ProgressMessage(c, message, wParam, lParam);
        return true;
    }
    bool changed = false;
    if (!AnswerText(c.text, message, wParam, lParam, result, changed))
        return false;
    if (changed)
        ControlChanged(c);
    return true;
}

bool AnswerCaption(HWND h, Frame& f, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    if (message == kShowFrameMessage) {
        f.posted = false;
        if (f.dirty)
            Show(h);
        result = 0;
        return true;
    }
    // While the frame is shown, its caption goes on to the window.
    if (!f.holdsCaption || f.showing)
        return false;
    bool changed = false;
    if (!AnswerText(f.caption, message, wParam, lParam, result, changed))
        return false;
    if (changed)
        Changed(h);
    return true;
}

void Forget(std::unordered_map<HWND, Control>::iterator it) {
    const HWND root = it->second.root;
    Controls().erase(it);
    auto fit = Frames().find(root);
    if (fit == Frames().end() || fit->second.holdsCaption)
        return;
    for (const auto& [h, c] : Controls())
        if (c.root == root)
            return;
    if (fit->second.timerSet)
        KillTimer(root, kFrameTimer);
    Frames().erase(fit);
}

LRESULT CALLBACK ControlProc(HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
    auto it = Controls().find(h);
    if (it == Controls().end())
        return DefWindowProcW(h, message, wParam, lParam);
    Control& c = it->second;
    const WNDPROC original = c.original;
    LRESULT result;
    if (Answer(c, message, wParam, lParam, result))
        return result;
    // Painted for whatever reason: with the rest of its frame (or alone, when
    // its frame is gone or being shown).
    if (message == WM_PAINT && c.dirty) {
        Show(c.root);
        if (auto again = Controls().find(h); again != Controls().end() && again->second.dirty)
            PassOn(h, again->second);
    }
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(h, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(original));
        Forget(Controls().find(h));
    }
    return CallWindowProcW(original, h, message, wParam, lParam);
}

void TakeOver(HWND h, Kind kind, HWND root) {
    if (h == nullptr || Controls().count(h))
        return;
    Control c;
    c.kind = kind;
    c.root = root;
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
    const bool bTopLevel = !(GetWindowLongPtrW(hDlg, GWL_STYLE) & WS_CHILD);
    HWND root = bTopLevel ? hDlg : GetAncestor(hDlg, GA_ROOT);
    if (root == nullptr)
        root = hDlg;
    Frame& f = Frames()[root];
    f.holdsCaption = f.holdsCaption || bTopLevel;
    for (int i = 0; i < tmpl.nControls; ++i) {
        const DialogControl& ctl = tmpl.controls[i];
        if (ctl.nID == -1)
            continue;
        switch (ctl.kind) {
        case ControlKind::StaticLeft:
        case ControlKind::StaticRight:
            TakeOver(GetDlgItem(hDlg, ctl.nID), Kind::Text, root);
            break;
        case ControlKind::ProgressBar:
            TakeOver(GetDlgItem(hDlg, ctl.nID), Kind::Progress, root);
            break;
        default:
            break;
        }
    }
}

void ShowPendingFrames() {
    std::vector<HWND> pending;
    for (const auto& [root, f] : Frames())
        if (f.dirty)
            pending.push_back(root);
    for (HWND root : pending)
        Show(root);
}

void ShowPendingFrame(HWND h) {
    HWND root = h ? GetAncestor(h, GA_ROOT) : nullptr;
    auto it = Frames().find(root ? root : h);
    if (it != Frames().end() && it->second.dirty)
        Show(it->first);
}

bool IsLiveControl(HWND h) {
    return Controls().count(h) != 0;
}

void ForgetFrame(HWND hDlg) {
    auto it = Frames().find(hDlg);
    if (it == Frames().end())
        return;
    if (it->second.timerSet && IsWindow(hDlg))
        KillTimer(hDlg, kFrameTimer);
    Frames().erase(it);
    // Controls of its panels that outlive it (none should) keep their state
    // and are shown when painted.
    for (auto& [h, c] : Controls())
        if (c.root == hDlg)
            c.root = nullptr;
}

bool AnswerOnUiThread(HWND h, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    if (auto it = Controls().find(h); it != Controls().end())
        return Answer(it->second, message, wParam, lParam, result);
    auto fit = Frames().find(h);
    return fit != Frames().end() && AnswerCaption(h, fit->second, message, wParam, lParam, result);
}

} // namespace tvwin32

// Win32 backend: coalesced painting of the texts, progress bars and captions
// the program changes while it works. The client pushes its labels and
// advances its bars for every piece of a body it receives, and its caption
// carries the percentage; the system's windows would draw each change at once
// (under Wine every draw and every caption change costs round trips to the
// Wine and X servers), which would slow the transfer many times over. Here
// each such window keeps its latest text or range and position itself and
// answers reads from them. A top-level dialog and everything in it (its
// caption, its labels and bars, those of its panels) form one frame: their
// changes are shown together, labels and bars before the caption, at most
// every kFrameMs, or when a control is painted, or on UpdateWindow. What
// another process reads of them (the system's copies) therefore never has the
// caption of one moment beside the counters of another.
#pragma once

#include "platform/resources.h"
#include "platform/wintypes.h"

namespace tvwin32 {

constexpr ULONGLONG kFrameMs = 100;

// Takes over the addressable texts and progress bars of a dialog built from
// tmpl (controls with an id; captions with id -1 never change), and the
// caption of a top-level one. A child dialog's controls join the frame of its
// top-level window.
void CoalesceControlPainting(HWND hDlg, const DialogTemplate& tmpl);

// Shows every change still waiting for its frame. The restricted waits do it
// as they begin: they dispatch no timer, and the window may be gone or hidden
// by the time the wait is over.
void ShowPendingFrames();
// The same for the frame h belongs to (any window: its top-level one's).
void ShowPendingFrame(HWND h);

// A taken-over control that exists: its entry goes with its WM_NCDESTROY.
bool IsLiveControl(HWND h);
// A top-level dialog's frame goes with its WM_NCDESTROY.
void ForgetFrame(HWND hDlg);

// For a message to a taken-over window (a control, or a dialog for its
// caption) on the user-interface thread: answers it from its state as its
// procedure would (a sent message of the same thread is a plain call to the
// procedure), without the system's dispatch; false when the window's own
// procedure must see it.
bool AnswerOnUiThread(HWND h, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);

} // namespace tvwin32

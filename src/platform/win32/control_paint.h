// Win32 backend: coalesced painting of the texts and progress bars the
// program changes while it works. The client pushes its labels and advances
// its bars for every piece of a body it receives; the system's controls would
// draw each change at once (under Wine every draw is a round trip to the X
// server), which would slow the transfer many times over. Here each such
// control keeps its latest text or range and position itself, answers reads
// from them, and shows them at most every kFrameMs, or when the window is
// painted (UpdateWindow included). A dialog's caption, which the client
// changes with every percent received, is held the same way.
#pragma once

#include "platform/resources.h"
#include "platform/wintypes.h"

namespace tvwin32 {

constexpr ULONGLONG kFrameMs = 100;

// Takes over the addressable texts and progress bars of a dialog built from
// tmpl (controls with an id; captions with id -1 never change), and the
// caption of a top-level one.
void CoalesceControlPainting(HWND hDlg, const DialogTemplate& tmpl);

// Shows every change still waiting for its frame. The restricted waits do it
// as they begin: they dispatch no timer, and the window may be gone or hidden
// by the time the wait is over.
void ShowPendingFrames();

// A taken-over window that exists: its entry goes with its WM_NCDESTROY, or
// with ReleaseControl.
bool IsLiveControl(HWND h);
// Gives a window up before its procedure is put back over the one that took
// it over (which then never sees its WM_NCDESTROY).
void ReleaseControl(HWND h);

// For a message sent on the user-interface thread: answers it from the
// state of a taken-over window as its procedure would (a sent message of the
// same thread is a plain call to the procedure), without the system's
// dispatch; false when the window's own procedure must see it.
bool AnswerOnUiThread(HWND h, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);

} // namespace tvwin32

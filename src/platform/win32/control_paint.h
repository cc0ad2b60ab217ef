// Win32 backend: coalesced painting of the texts and progress bars the
// program changes while it works. The client pushes its labels and advances
// its bars for every piece of a body it receives; the system's controls would
// draw each change at once (under Wine every draw is a round trip to the X
// server), which would slow the transfer many times over. Here each such
// control keeps its latest text or range and position itself, answers reads
// from them, and shows them at most every kFrameMs, or when the window is
// painted (UpdateWindow included); labels also when the dialog's caption
// changes (the client's caption carries the percentage).
#pragma once

#include "platform/resources.h"
#include "platform/wintypes.h"

namespace tvwin32 {

constexpr ULONGLONG kFrameMs = 100;

// Takes over the addressable texts and progress bars of a dialog built from
// tmpl (controls with an id; captions with id -1 never change).
void CoalesceControlPainting(HWND hDlg, const DialogTemplate& tmpl);

// Shows every change still waiting for its frame. The restricted waits do it
// as they begin: they dispatch no timer, and the window may be gone or hidden
// by the time the wait is over.
void ShowPendingFrames();
// The same for the labels only: a dialog does it before its caption changes,
// so what another process reads of the two (the system's copies of the
// texts) never disagrees. The bars are read through messages, which their
// state answers.
void ShowPendingTexts();

// A taken-over control that exists: its entry goes with its WM_NCDESTROY.
bool IsLiveControl(HWND h);

// For a message sent on the user-interface thread: answers it from the
// state of a taken-over window as its procedure would (a sent message of the
// same thread is a plain call to the procedure), without the system's
// dispatch; false when the window's own procedure must see it.
bool AnswerOnUiThread(HWND h, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);

} // namespace tvwin32

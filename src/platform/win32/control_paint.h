// Win32 backend: coalesced painting of the texts and progress bars the
// program changes while it works. The client pushes its labels and advances
// its bars for every piece of a body it receives; the system's controls would
// draw each change at once (under Wine every draw is a round trip to the X
// server), which would slow the transfer many times over. Here each such
// control keeps its latest text or range and position itself, answers reads
// from them, and shows them at most every kFrameMs, or when the window is
// painted (UpdateWindow included).
#pragma once

#include "platform/resources.h"
#include "platform/wintypes.h"

namespace tvwin32 {

constexpr ULONGLONG kFrameMs = 100;

// Takes over the addressable texts and progress bars of a dialog built from
// tmpl (controls with an id; captions with id -1 never change).
void CoalesceControlPainting(HWND hDlg, const DialogTemplate& tmpl);

} // namespace tvwin32

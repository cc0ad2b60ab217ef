// Platform layer, shared code: how common/ sends a message to a window. Each
// backend defines it with SendMessage's meaning; a backend may answer the
// windows whose state it keeps itself without the system's dispatch (the
// client changes its labels and bars for every piece it receives).
#pragma once

#include "platform/wintypes.h"

namespace tvplatform {

LRESULT SendToWindow(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);

} // namespace tvplatform
